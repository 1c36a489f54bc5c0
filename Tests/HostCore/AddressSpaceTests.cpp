// The physical address space, the virtual clock, faults, halts and the watchdog.
#include "CoreTestSupport.h"

#include <HostAbi.h>

using namespace coretest;

namespace {

class Scratch : public host::MmioDevice {
public:
  std::string Name() const override { return "scratch"; }
  uint64_t Read(uint64_t Offset, unsigned Width) override {
    Reads.push_back(Offset);
    return Value;
  }
  void Write(uint64_t Offset, unsigned Width, uint64_t Data) override {
    Writes.emplace_back(Offset, Data);
    Value = Data;
  }
  uint64_t AccessCostNs() const override { return 250; }
  uint64_t Value = 0;
  std::vector<uint64_t> Reads;
  std::vector<std::pair<uint64_t, uint64_t>> Writes;
};

class AddressSpace : public CoreTest {};

TEST_F(AddressSpace, AccessesReachTheDeviceAtTheirOffsetAndCostTime) {
  auto Device = std::make_shared<Scratch>();
  Board.Attach(0x10000000, 0x1000, Device);
  HostAbiMmioWrite(0x10000010, 4, 0x1'2345'6789);
  EXPECT_EQ(HostAbiMmioRead(0x10000010, 2), 0x6789u); // the width masks the value
  ASSERT_EQ(Device->Writes.size(), 1u);
  EXPECT_EQ(Device->Writes[0].first, 0x10u);
  EXPECT_EQ(Device->Writes[0].second, 0x23456789u);
  EXPECT_EQ(Device->Reads, std::vector<uint64_t>{0x10});
  EXPECT_EQ(Board.VirtualTimeNs(), 500u);
  HostAbiStall(3);
  EXPECT_EQ(Board.VirtualTimeNs(), 3'500u);
  EXPECT_TRUE(Board.Faults().empty());
  // Overlapping attachments are a harness mistake.
  EXPECT_THROW(Board.Attach(0x10000800, 0x1000, std::make_shared<Scratch>()), std::invalid_argument);
}

TEST_F(AddressSpace, UnmappedAccessesAreFaultsThatReadAllOnes) {
  auto Device = std::make_shared<Scratch>();
  Board.Attach(0x10000000, 0x1000, Device);
  EXPECT_EQ(HostAbiMmioRead(0x20000000, 4), 0xFFFFFFFFu);
  HostAbiMmioWrite(0x10000FFE, 4, 7); // straddles the end of the device
  ASSERT_EQ(Board.Faults().size(), 2u);
  EXPECT_EQ(Board.Faults()[0].Address, 0x20000000u);
  EXPECT_FALSE(Board.Faults()[0].IsWrite);
  EXPECT_TRUE(Board.Faults()[1].IsWrite);
  EXPECT_EQ(Board.Faults()[1].Value, 7u);
  EXPECT_TRUE(Device->Writes.empty());
  EXPECT_TRUE(Board.Log().Contains("error: MMIO: core: read of 4 bytes at 0x20000000"));
  // An access off its natural alignment faults on the real board even where a device is.
  EXPECT_EQ(HostAbiMmioRead(0x10000002, 4), 0xFFFFFFFFu);
  EXPECT_EQ(Device->Reads.size(), 0u);
  std::vector<std::string> Expected = {"MMIO: core: read of 4 bytes at 0x20000000: no device there",
                                       "MMIO: core: write of 4 bytes at 0x10000FFE (value 0x7): unaligned",
                                       "MMIO: core: read of 4 bytes at 0x10000002: unaligned"};
  EXPECT_EQ(Board.TakeErrors(), Expected);
}

TEST_F(AddressSpace, AnEndlessPollBecomesAWatchdogHalt) {
  auto Device = std::make_shared<Scratch>();
  Board.Attach(0x10000000, 0x1000, Device);
  uint64_t Polls = 0;
  auto Halted = Board.Guard([&] {
    while ((HostAbiMmioRead(0x10000000, 4) & 1) == 0) {
      Polls++;
    }
  });
  ASSERT_TRUE(Halted.has_value());
  EXPECT_EQ(Halted->Reason.rfind("watchdog", 0), 0u);
  EXPECT_GT(Board.VirtualTimeNs(), 1'000'000'000u);
  EXPECT_EQ(Polls, 1'000'000'000u / 250 + 1);
  EXPECT_TRUE(Board.Log().Contains("halt: watchdog"));
  // The next call gets a fresh budget.
  EXPECT_FALSE(Board.Guard([&] { HostAbiMmioRead(0x10000000, 4); }).has_value());
}

TEST_F(AddressSpace, HaltsUnwindToTheGuardAndCpuOperationsAreRecorded) {
  auto Halted = Board.Guard([] { HostAbiHalt("CpuBreakpoint"); });
  ASSERT_TRUE(Halted.has_value());
  EXPECT_EQ(Halted->Reason, "CpuBreakpoint");

  HostAbiCpuOperation("ArmDisableInterrupts");
  HostAbiCpuOperation("ArmDisableMmu");
  EXPECT_FALSE(HostAbiInterruptsEnabled());
  HostAbiCpuOperation("ArmEnableInterrupts");
  EXPECT_TRUE(HostAbiInterruptsEnabled());
  std::vector<std::string> Expected = {"ArmDisableInterrupts", "ArmDisableMmu", "ArmEnableInterrupts"};
  EXPECT_EQ(Board.CpuOperations(), Expected);
  // TPL_HIGH_LEVEL masks interrupts too.
  EFI_TPL Old = BS->RaiseTPL(TPL_HIGH_LEVEL);
  EXPECT_FALSE(HostAbiInterruptsEnabled());
  BS->RestoreTPL(Old);
  EXPECT_TRUE(HostAbiInterruptsEnabled());
}

} // namespace

// The physical address space, the virtual clock, faults, halts and the watchdog.
#include "CoreTestSupport.h"

#include <GcdMap.h>
#include <HostAbi.h>

#include <DelayProbe.h>
#include <Library/TimerLib.h>

#include <cstring>
#include <functional>
#include <map>

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

class AddressSpace : public CoreTest {
protected:
  // Declares [Base, Base + Size) as memory-mapped I/O in the memory-space map.
  void Map(uint64_t Base, uint64_t Size, uint64_t Attributes = EFI_MEMORY_UC) {
    ASSERT_EQ(Board.Gcd().AddMemorySpace(EfiGcdMemoryTypeMemoryMappedIo, Base, Size,
                                         EFI_MEMORY_UC | EFI_MEMORY_RUNTIME),
              EFI_SUCCESS);
    ASSERT_EQ(Board.Gcd().SetMemorySpaceAttributes(Base, Size, Attributes), EFI_SUCCESS);
  }
};

// Registers above 0x800, plain memory below (a frame buffer), with a burst cost of its own.
class FrameBuffer : public Scratch {
public:
  uint8_t *Memory(uint64_t Offset, uint64_t Length, unsigned Width) override {
    return Offset < Bytes.size() && Length <= Bytes.size() - Offset ? Bytes.data() + Offset : nullptr;
  }
  uint64_t BurstCostNs(uint64_t Length) const override { return 1000 + Length; }
  uint64_t Read(uint64_t Offset, unsigned Width) override {
    uint64_t Value = 0;
    return Offset < Bytes.size() ? (std::memcpy(&Value, &Bytes[Offset], Width), Value)
                                 : Scratch::Read(Offset, Width);
  }
  void Write(uint64_t Offset, unsigned Width, uint64_t Data) override {
    Offset < Bytes.size() ? (void)std::memcpy(&Bytes[Offset], &Data, Width)
                          : Scratch::Write(Offset, Width, Data);
  }
  std::vector<uint8_t> Bytes = std::vector<uint8_t>(0x800);
};

TEST_F(AddressSpace, AccessesReachTheDeviceAtTheirOffsetAndCostTime) {
  auto Device = std::make_shared<Scratch>();
  Map(0x10000000, 0x1000);
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
  Map(0x10000000, 0x1000);
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
  Map(0x10000000, 0x1000);
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

// The maps decide what an access reaches: the memory-space map must have the range, only
// runtime ranges stay mapped after ExitBootServices, and after SetVirtualAddressMap only
// converted addresses do. A refused access reaches no device.
TEST_F(AddressSpace, TheMapsDecideWhichAccessesReachADevice) {
  constexpr uint64_t Boot = 0x10000000, Runtime = 0x10001000, Claimed = 0x10002000, Offset = 0x40000000;
  auto Device = std::make_shared<Scratch>();
  Board.Attach(Boot, 0x3000, Device);
  Map(Boot, 0x1000);
  Map(Runtime, 0x1000, EFI_MEMORY_UC | EFI_MEMORY_RUNTIME);
  const std::map<std::string, std::function<void()>> Steps = {
      {"claimed", [&] { Map(Claimed, 0x1000); }},
      {"exited", [&] { ASSERT_EQ(Board.ExitBootServices(), EFI_SUCCESS); }},
      {"virtual", [&] { ASSERT_EQ(Board.SetVirtualAddressMap(Offset), EFI_SUCCESS); }}};
  struct Probe {
    std::string When;
    uint64_t Address;
    std::string Fault; // empty: the access reaches the device at Reached
    uint64_t Reached;
  } Probes[] = {
      {"boot", Boot + 8, "", 8},
      {"boot", Claimed, "the memory-space map has nothing there (NonExistent)", 0},
      {"claimed", Claimed, "", 0x2000},
      {"exited", Boot, "not runtime memory-mapped I/O, after ExitBootServices", 0},
      {"exited", Runtime, "", 0x1000},
      {"virtual", Runtime + Offset + 4, "", 0x1004},
      {"virtual", Runtime, "a physical address after SetVirtualAddressMap (not converted)", 0},
      {"virtual", Boot + Offset, "not in the virtual address map", 0},
  };
  std::string When = "boot";
  for (const Probe &P : Probes) {
    if (P.When != When) {
      Steps.at(P.When)();
      When = P.When;
    }
    Device->Reads.clear();
    HostAbiMmioRead(P.Address, 4);
    const std::vector<std::string> Errors = Board.TakeErrors();
    if (P.Fault.empty()) {
      EXPECT_TRUE(Errors.empty()) << P.When << " " << std::hex << P.Address;
      EXPECT_EQ(Device->Reads, std::vector<uint64_t>{P.Reached}) << P.When << " " << std::hex << P.Address;
    } else {
      ASSERT_EQ(Errors.size(), 1u) << P.When << " " << std::hex << P.Address;
      EXPECT_NE(Errors[0].find(P.Fault), std::string::npos) << Errors[0];
      EXPECT_TRUE(Device->Reads.empty()) << P.When << " " << std::hex << P.Address;
    }
  }
}

// A run inside a device's plain memory is one copy at the device's burst cost; a run that
// leaves it goes element by element with every element's checks.
TEST_F(AddressSpace, RunsIntoPlainMemoryAreOneCopy) {
  using Run = host::Platform::BusRun;
  constexpr uint64_t Base = 0x10000000;
  auto Device = std::make_shared<FrameBuffer>();
  Board.Attach(Base, 0x1000, Device);
  Map(Base, 0x1000);
  uint32_t Words[4] = {0x11, 0x22, 0x33, 0x44};
  struct Case {
    const char *Name;
    std::function<bool()> Transfer;
    uint64_t TimeNs;
    size_t RegisterWrites;
    std::vector<uint32_t> Memory; // the words at 0x100 afterwards
  } Cases[] = {
      {"step",
       [&] { return Board.BusWrite(Base + 0x100, 4, 4, Run::Step, Words, nullptr); },
       1016,
       0,
       {0x11, 0x22, 0x33, 0x44}},
      {"fill",
       [&] { return Board.BusWrite(Base + 0x104, 4, 3, Run::Fill, &Words[3], nullptr); },
       1012,
       0,
       {0x11, 0x44, 0x44, 0x44}},
      {"FIFO",
       [&] { return Board.BusWrite(Base + 0x100, 4, 3, Run::Fifo, Words, nullptr); },
       1012,
       0,
       {0x33, 0x44, 0x44, 0x44}},
      {"copy",
       [&] { return Board.BusCopy(Base + 0x104, Base + 0x100, 4, 3, nullptr); },
       2 * 1012,
       0,
       {0x33, 0x33, 0x44, 0x44}},
      {"into the registers",
       [&] { return Board.BusWrite(Base + 0x7F8, 4, 4, Run::Step, Words, nullptr); },
       4 * 250,
       2,
       {0x33, 0x33, 0x44, 0x44}},
      {"past the device",
       [&] { return !Board.BusWrite(Base + 0xFF8, 4, 4, Run::Step, Words, nullptr); },
       2 * 250 + 2 * 100,
       2,
       {0x33, 0x33, 0x44, 0x44}},
  };
  for (const Case &C : Cases) {
    const uint64_t Start = Board.VirtualTimeNs();
    Device->Writes.clear();
    EXPECT_TRUE(C.Transfer()) << C.Name;
    EXPECT_EQ(Board.VirtualTimeNs() - Start, C.TimeNs) << C.Name;
    EXPECT_EQ(Device->Writes.size(), C.RegisterWrites) << C.Name;
    std::vector<uint32_t> Memory(4);
    std::memcpy(Memory.data(), &Device->Bytes[0x100], 16);
    EXPECT_EQ(Memory, C.Memory) << C.Name;
  }
  uint32_t Back[3] = {};
  EXPECT_TRUE(Board.BusRead(Base + 0x100, 4, 3, Run::Fifo, Back, nullptr));
  EXPECT_EQ(std::vector<uint32_t>(Back, Back + 3), std::vector<uint32_t>(3, 0x33));
  const std::vector<std::string> Faults = {
      "MMIO: core: write of 4 bytes at 0x10001000 (value 0x33): no device there",
      "MMIO: core: write of 4 bytes at 0x10001004 (value 0x44): no device there"};
  EXPECT_EQ(Board.TakeErrors(), Faults);
}

// A run or a copy that cannot be made at all (no access width, a length past the end of the
// address space from either end) is one fault at its start and reaches nothing.
TEST_F(AddressSpace, RunsWithoutAWidthOrThatWrapAreOneFault) {
  using Run = host::Platform::BusRun;
  constexpr uint64_t Base = 0x10000000, Top = ~0ull - 7;
  auto Device = std::make_shared<Scratch>();
  Board.Attach(Base, 0x1000, Device);
  Map(Base, 0x1000);
  uint64_t Words[2] = {};
  const std::string Write0 = "write of 8 bytes at 0x10000000 (value 0x0): ";
  const struct {
    std::function<bool()> Transfer;
    std::string Fault;
  } Cases[] = {
      {[&] { return Board.BusRead(Base, 3, 1, Run::Step, Words, nullptr); },
       "read of 3 bytes at 0x10000000: not an access width"},
      {[&] { return Board.BusWrite(Base, 3, 2, Run::Fifo, Words, nullptr); },
       "write of 3 bytes at 0x10000000 (value 0x0): not an access width"},
      {[&] { return Board.BusRead(Top, 8, 2, Run::Step, Words, nullptr); },
       "read of 8 bytes at 0xFFFFFFFFFFFFFFF8: the run wraps around the address space"},
      {[&] { return Board.BusWrite(Base, 8, 1ull << 61, Run::Fill, Words, nullptr); },
       Write0 + "the run wraps around the address space"},
      {[&] { return Board.BusCopy(Base, Base + 8, 0, 1, nullptr); },
       "write of 0 bytes at 0x10000000 (value 0x0): not an access width"},
      {[&] { return Board.BusCopy(Base, Top, 8, 2, nullptr); },
       Write0 + "the copy wraps around the address space"},
      {[&] { return Board.BusCopy(Base, Base + 8, 8, 1ull << 61, nullptr); },
       Write0 + "the copy wraps around the address space"},
  };
  for (const auto &Case : Cases) {
    EXPECT_FALSE(Case.Transfer()) << Case.Fault;
    EXPECT_EQ(Board.TakeErrors(), std::vector<std::string>{"MMIO: core: " + Case.Fault});
  }
  EXPECT_TRUE(Device->Reads.empty());
  EXPECT_TRUE(Device->Writes.empty());
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

namespace {

// What a run of delays did to the clock: the counter ticks it measured, the virtual time it
// took, when the model work due meanwhile ran, and the stalls it was charged.
struct DelayRun {
  uint64_t Ticks = 0;
  uint64_t Ns = 0;
  std::vector<uint64_t> WorkAt;
  uint64_t StallNs = 0;
  std::map<uint64_t, uint64_t> StallsByUs;
  bool operator==(const DelayRun &) const = default;
};

DelayRun Stalls(const host::Platform &Board) {
  DelayRun Total;
  for (const auto &[Name, Account] : Board.TimeAccounts()) {
    Total.StallNs += Account.StallNs;
    for (const auto &[Length, Times] : Account.StallsByUs) {
      Total.StallsByUs[Length] += Times;
    }
  }
  return Total;
}

} // namespace

class AddressSpaceOnProcessor : public CoreTest {
protected:
  AddressSpaceOnProcessor() : CoreTest(true) {}
};

// DelayProbe.efi spins on the counter on the processor; the host build's TimerLib charges the
// same delays at once. Both take the same time, measure the same ticks, count the same stalls,
// and model work due in the middle of a delay runs at its due time in both.
TEST_F(AddressSpaceOnProcessor, DelaysSpendTheSameTimeOnTheProcessorAsInTheHostBuild) {
  if (!HaveImage("DelayProbe")) {
    GTEST_SKIP() << "DelayProbe.efi not built (Tools/scripts/build uefi-aarch64)";
  }
  const auto Measure = [&](const std::function<uint64_t()> &Delays) {
    const DelayRun Before = Stalls(Board);
    const uint64_t Start = Board.VirtualTimeNs();
    DelayRun Run;
    for (const uint64_t Due : {5ull, 10'033ull, 1'010'021ull, 3'000'000ull}) {
      Board.After(Due, [&, Start] { Run.WorkAt.push_back(Board.VirtualTimeNs() - Start); });
    }
    Run.Ticks = Delays();
    Run.Ns = Board.VirtualTimeNs() - Start;
    const DelayRun After = Stalls(Board);
    Run.StallNs = After.StallNs - Before.StallNs;
    for (const auto &[Length, Times] : After.StallsByUs) {
      const auto Old = Before.StallsByUs.find(Length);
      if (const uint64_t New = Times - (Old == Before.StallsByUs.end() ? 0 : Old->second)) {
        Run.StallsByUs[Length] = New;
      }
    }
    return Run;
  };
  const DelayRun Host = Measure([] {
    const UINT64 Start = GetPerformanceCounter();
    for (const UINTN Delay : DelayProbeNanoseconds) {
      NanoSecondDelay(Delay);
    }
    return GetPerformanceCounter() - Start;
  });
  Board.AdvanceTime(3); // the processor's run starts off the tick grid
  const DelayRun Image = Measure([&] {
    const host::ImageResult Result = Board.RunModule("DelayProbe");
    EXPECT_FALSE(Result.Halted) << Result.Halted->what();
    return Result.Status;
  });
  EXPECT_EQ(Image, Host);
  EXPECT_EQ(Host.WorkAt, (std::vector<uint64_t>{5, 10'033, 1'010'021, 3'000'000}));
  EXPECT_GE(Host.Ns, 3'510'022u) << "the delays' sum, each rounded up to whole ticks";
}

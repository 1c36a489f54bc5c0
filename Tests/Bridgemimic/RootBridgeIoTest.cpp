// The root bridge's memory, DMA, buffer and attribute members. Memory accesses are checked
// against a RAM model placed in the root bridge's memory window, which records every access.
#include "BridgemimicTestBoard.h"

#include <CpuArch.h>
#include <GcdMap.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace bridgemimic_test {
namespace {

constexpr uint64_t RAM_BASE = 0x1A000000;
constexpr size_t RAM_SIZE = 0x1000;
constexpr UINT64 MAX_ADDRESS = ~0ull;

class RootBridgeIo : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_NE(Io, nullptr);
    Board.Core().Attach(RAM_BASE, RAM_SIZE, Ram);
    // The board's map has nothing here: declare the RAM's range, or every access to it faults.
    ASSERT_EQ(
        Board.Core().Gcd().AddMemorySpace(EfiGcdMemoryTypeMemoryMappedIo, RAM_BASE, RAM_SIZE, EFI_MEMORY_UC),
        EFI_SUCCESS);
  }

  size_t Operations(const std::string &Name) {
    const auto &All = Board.Core().CpuOperations();
    return std::count(All.begin(), All.end(), Name);
  }

  TestBoard Board;
  EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL *Io = Board.RbIo();
  std::shared_ptr<RamModel> Ram = std::make_shared<RamModel>(RAM_SIZE);
};

TEST_F(RootBridgeIo, MemoryAccessFormsAndRangeChecks) {
  uint8_t Pattern[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  ASSERT_EQ(Io->Mem.Write(Io, EfiPciWidthUint16, RAM_BASE, 4, Pattern), EFI_SUCCESS);
  EXPECT_EQ(std::vector<uint8_t>(Ram->Bytes.begin(), Ram->Bytes.begin() + 8),
            std::vector<uint8_t>(Pattern, Pattern + 8));
  EXPECT_EQ(Ram->Accesses.size(), 4u);
  EXPECT_EQ(Ram->Accesses[3].Offset, 6u);
  EXPECT_EQ(Ram->Accesses[3].Width, 2u);

  uint32_t Fifo[2] = {};
  ASSERT_EQ(Io->Mem.Read(Io, EfiPciWidthFifoUint32, RAM_BASE + 4, 2, Fifo), EFI_SUCCESS);
  EXPECT_EQ(Fifo[0], 0x08070605u);
  EXPECT_EQ(Fifo[1], 0x08070605u);
  uint8_t Fill = 0xAA;
  ASSERT_EQ(Io->Mem.Write(Io, EfiPciWidthFillUint8, RAM_BASE + 0x10, 3, &Fill), EFI_SUCCESS);
  EXPECT_EQ(std::vector<uint8_t>(Ram->Bytes.begin() + 0x10, Ram->Bytes.begin() + 0x14),
            (std::vector<uint8_t>{0xAA, 0xAA, 0xAA, 0}));
  uint64_t Whole = 0;
  ASSERT_EQ(Io->Mem.Read(Io, EfiPciWidthUint64, RAM_BASE, 1, &Whole), EFI_SUCCESS);
  EXPECT_EQ(Whole, 0x0807060504030201ull);

  const size_t Before = Ram->Accesses.size();
  uint32_t Buffer[2] = {};
  struct Case {
    const char *What;
    EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL_WIDTH Width;
    UINT64 Address;
    UINTN Count;
    void *Buffer;
  };
  const Case Rejected[] = {
      {"reaches the top of memory", EfiPciWidthUint32, 0xFFFFFFFFFFFFFFF7ull, 2, Buffer},
      {"count overflows the span", EfiPciWidthUint64, RAM_BASE, ~static_cast<UINTN>(0) / 4, Buffer},
      {"fill past the top", EfiPciWidthFillUint32, MAX_ADDRESS - 2, 1, Buffer},
      {"width 12", static_cast<EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL_WIDTH>(12), RAM_BASE, 1, Buffer},
      {"NULL buffer", EfiPciWidthUint8, RAM_BASE, 1, nullptr},
  };
  for (const Case &C : Rejected) {
    EXPECT_EQ(Io->Mem.Read(Io, C.Width, C.Address, C.Count, C.Buffer), EFI_INVALID_PARAMETER) << C.What;
    EXPECT_EQ(Io->Mem.Write(Io, C.Width, C.Address, C.Count, C.Buffer), EFI_INVALID_PARAMETER) << C.What;
  }
  EXPECT_EQ(Ram->Accesses.size(), Before) << "a rejected access touches no memory";
  EXPECT_TRUE(Board.Core().Faults().empty());
}

TEST_F(RootBridgeIo, IoSpaceIsUnsupported) {
  uint64_t Value = 0;
  EXPECT_EQ(Io->PollIo(Io, EfiPciWidthUint8, 0x80, 0, 0, 0, &Value), EFI_UNSUPPORTED);
  EXPECT_EQ(Io->PollIo(Io, static_cast<EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL_WIDTH>(99), 0, 0, 0, 0, nullptr),
            EFI_INVALID_PARAMETER);
  EXPECT_EQ(Io->PollIo(Io, EfiPciWidthFifoUint8, 0x80, 0, 0, 0, &Value), EFI_INVALID_PARAMETER);
  EXPECT_EQ(Io->Io.Read(Io, EfiPciWidthFifoUint8, 0xCF8, 1, &Value), EFI_UNSUPPORTED);
  EXPECT_EQ(Io->Io.Write(Io, EfiPciWidthMaximum, 0xCF8, 1, &Value), EFI_INVALID_PARAMETER);
  EXPECT_EQ(Io->Io.Read(Io, EfiPciWidthUint32, 0xCF8, 1, &Value), EFI_UNSUPPORTED);
  EXPECT_EQ(Io->Io.Write(Io, EfiPciWidthUint32, 0xCF8, 1, nullptr), EFI_UNSUPPORTED);
  EXPECT_EQ(Io->Flush(Io), EFI_SUCCESS);
  EXPECT_EQ(Io->SegmentNumber, 0xFFu);
}

TEST_F(RootBridgeIo, CopyMemCopiesOverlapsBackwards) {
  for (size_t Index = 0; Index < 8; Index++) {
    Ram->Bytes[Index] = static_cast<uint8_t>(0x10 + Index);
  }
  ASSERT_EQ(Io->CopyMem(Io, EfiPciWidthUint8, RAM_BASE + 1, RAM_BASE, 4), EFI_SUCCESS);
  EXPECT_EQ(std::vector<uint8_t>(Ram->Bytes.begin(), Ram->Bytes.begin() + 6),
            (std::vector<uint8_t>{0x10, 0x10, 0x11, 0x12, 0x13, 0x15}));
  ASSERT_FALSE(Ram->Accesses.empty());
  EXPECT_EQ(Ram->Accesses.front().Offset, 3u) << "the last byte goes first";

  Ram->Accesses.clear();
  ASSERT_EQ(Io->CopyMem(Io, EfiPciWidthUint16, RAM_BASE + 0x20, RAM_BASE, 2), EFI_SUCCESS);
  EXPECT_EQ(Ram->Accesses.front().Offset, 0u) << "no overlap: forwards";
  EXPECT_EQ(Ram->Bytes[0x22], 0x11);

  Ram->Accesses.clear();
  EXPECT_EQ(Io->CopyMem(Io, EfiPciWidthUint8, RAM_BASE, RAM_BASE, 4), EFI_SUCCESS);
  EXPECT_EQ(Io->CopyMem(Io, EfiPciWidthUint32, MAX_ADDRESS - 3, RAM_BASE, 2), EFI_INVALID_PARAMETER);
  EXPECT_EQ(Io->CopyMem(Io, EfiPciWidthUint32, RAM_BASE, RAM_BASE + 4, ~static_cast<UINTN>(0)),
            EFI_INVALID_PARAMETER);
  // FIFO and fill widths, or none at all, are refused before anything moves, even for an
  // empty or in-place copy.
  for (unsigned Width : {4u, 5u, 6u, 7u, 8u, 9u, 10u, 11u, 12u, 64u}) {
    const auto Typed = static_cast<EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL_WIDTH>(Width);
    EXPECT_EQ(Io->CopyMem(Io, Typed, RAM_BASE + 0x100, RAM_BASE, 2), EFI_INVALID_PARAMETER) << Width;
    EXPECT_EQ(Io->CopyMem(Io, Typed, RAM_BASE, RAM_BASE, 2), EFI_INVALID_PARAMETER) << Width;
  }
  EXPECT_TRUE(Ram->Accesses.empty());
}

TEST_F(RootBridgeIo, PollMemOnTheVirtualClock) {
  uint64_t Result = 0;
  Ram->Bytes[0] = 0x01;
  EXPECT_EQ(Io->PollMem(Io, EfiPciWidthUint8, RAM_BASE, 0x1, 0x1, 0, &Result), EFI_SUCCESS);
  EXPECT_EQ(Io->PollMem(Io, EfiPciWidthFifoUint8, RAM_BASE, 0x1, 0x1, 0, &Result), EFI_INVALID_PARAMETER);
  EXPECT_EQ(Io->PollMem(Io, EfiPciWidthUint8, RAM_BASE, 0x1, 0x1, 0, nullptr), EFI_INVALID_PARAMETER);
  EXPECT_EQ(Io->PollMem(Io, EfiPciWidthUint32, MAX_ADDRESS - 2, 0x1, 0x1, 10, &Result),
            EFI_INVALID_PARAMETER);

  Ram->Accesses.clear();
  EXPECT_EQ(Io->PollMem(Io, EfiPciWidthUint8, RAM_BASE, 0x2, 0x2, 0, &Result), EFI_TIMEOUT);
  EXPECT_EQ(Ram->Accesses.size(), 1u) << "delay 0: one read, no waiting";

  // Bytes of Result beyond the element keep what the caller left and take part in the match.
  Result = 0xFF00;
  EXPECT_EQ(Io->PollMem(Io, EfiPciWidthUint8, RAM_BASE, 0xFFFF, 0x0001, 0, &Result), EFI_TIMEOUT);
  EXPECT_EQ(Result, 0xFF01u);

  const uint64_t Start = Board.Core().VirtualTimeNs();
  constexpr UINT64 DELAY_100NS = 1000; // 100 us
  EXPECT_EQ(Io->PollMem(Io, EfiPciWidthUint32, RAM_BASE, 0x2, 0x2, DELAY_100NS, &Result), EFI_TIMEOUT);
  EXPECT_GE(Board.Core().VirtualTimeNs() - Start, DELAY_100NS * 100);

  Ram->Accesses.clear();
  Ram->ChangeAfterReads = {{5, 0x2}};
  Result = 0;
  EXPECT_EQ(Io->PollMem(Io, EfiPciWidthUint32, RAM_BASE, 0x2, 0x2, DELAY_100NS, &Result), EFI_SUCCESS);
  EXPECT_EQ(Ram->Accesses.size(), 5u);
}

TEST_F(RootBridgeIo, AttributesAndCommonBuffers) {
  UINT64 Supports = 0, Attributes = 1;
  UINT64 Base = RAM_BASE, Length = RAM_SIZE;
  EXPECT_EQ(Io->SetAttributes(Io, 0x100, nullptr, nullptr), EFI_UNSUPPORTED);
  // Write combining applies to a range the caller names; the I/O decodes need none.
  EXPECT_EQ(Io->SetAttributes(Io, 0x80, nullptr, nullptr), EFI_INVALID_PARAMETER);
  EXPECT_EQ(Io->SetAttributes(Io, 0x80, &Base, nullptr), EFI_INVALID_PARAMETER);
  EXPECT_EQ(Io->SetAttributes(Io, 0x80, nullptr, &Length), EFI_INVALID_PARAMETER);
  EXPECT_EQ(Io->GetAttributes(Io, nullptr, &Attributes), EFI_SUCCESS);
  EXPECT_EQ(Attributes, 0u) << "a refused call changes nothing";
  EXPECT_EQ(Io->SetAttributes(Io, 0x80, &Base, &Length), EFI_SUCCESS);
  EXPECT_EQ(Io->SetAttributes(Io, 0x60, nullptr, nullptr), EFI_SUCCESS);
  EXPECT_EQ(Io->SetAttributes(Io, 0, nullptr, nullptr), EFI_SUCCESS);
  EXPECT_EQ(Io->GetAttributes(Io, &Supports, &Attributes), EFI_SUCCESS);
  EXPECT_EQ(Supports, 0x80E0u);
  EXPECT_EQ(Attributes, 0u);
  EXPECT_EQ(Io->GetAttributes(Io, nullptr, nullptr), EFI_INVALID_PARAMETER);

  VOID *Host = nullptr;
  struct Case {
    const char *What;
    EFI_MEMORY_TYPE Type;
    VOID **HostAddress;
    UINT64 Attributes;
    EFI_STATUS Expected;
  };
  const Case Cases[] = {
      {"unsupported attribute before NULL", EfiBootServicesData, nullptr, 0x400, EFI_UNSUPPORTED},
      {"NULL address", EfiBootServicesData, nullptr, 0x80, EFI_INVALID_PARAMETER},
      {"loader data", EfiLoaderData, &Host, 0, EFI_INVALID_PARAMETER},
      {"runtime data", EfiRuntimeServicesData, &Host, 0x8880, EFI_SUCCESS},
  };
  for (const Case &C : Cases) {
    EXPECT_EQ(Io->AllocateBuffer(Io, AllocateAnyPages, C.Type, 2, C.HostAddress, C.Attributes), C.Expected)
        << C.What;
  }
  ASSERT_NE(Host, nullptr);
  EXPECT_EQ(Board.Core().OutstandingPages(Board.Image()), 2u);
  EXPECT_EQ(Io->FreeBuffer(Io, 2, Host), EFI_SUCCESS);
  EXPECT_EQ(Board.Core().OutstandingPages(Board.Image()), 0u);
}

TEST_F(RootBridgeIo, MapKeepsAddressesAndMaintainsCaches) {
  std::vector<uint8_t> Aligned(256);
  alignas(64) static uint8_t Lines[256];
  UINTN Bytes = 128;
  EFI_PHYSICAL_ADDRESS Device = 0;
  VOID *Mapping = nullptr;
  EXPECT_EQ(Io->Map(Io, EfiPciOperationBusMasterRead64, Lines, &Bytes, &Device, &Mapping),
            EFI_INVALID_PARAMETER);
  EXPECT_EQ(Io->Map(Io, EfiPciOperationMaximum, Lines, &Bytes, &Device, &Mapping), EFI_INVALID_PARAMETER);

  ASSERT_EQ(Io->Map(Io, EfiPciOperationBusMasterRead, Lines, &Bytes, &Device, &Mapping), EFI_SUCCESS);
  EXPECT_EQ(Device, reinterpret_cast<uintptr_t>(Lines));
  EXPECT_EQ(Operations("ArmCleanDataCacheRange"), 1u) << "cleaned before the device reads";
  EXPECT_GT(Board.Core().OutstandingPoolBytes(Board.Image()), 0u) << "an open mapping is accounted";
  EXPECT_EQ(Io->Unmap(Io, Mapping), EFI_SUCCESS);
  EXPECT_EQ(Board.Core().OutstandingPoolBytes(Board.Image()), 0u);

  ASSERT_EQ(Io->Map(Io, EfiPciOperationBusMasterWrite, Lines, &Bytes, &Device, &Mapping), EFI_SUCCESS);
  EXPECT_EQ(Device, reinterpret_cast<uintptr_t>(Lines)) << "whole lines need no bounce buffer";
  EXPECT_EQ(Io->Unmap(Io, Mapping), EFI_SUCCESS);
  EXPECT_EQ(Operations("ArmInvalidateDataCacheRange"), 1u) << "invalidated after the device wrote";

  // A write into part of a line goes through a bounce buffer and is copied back at Unmap.
  UINTN Odd = 5;
  ASSERT_EQ(Io->Map(Io, EfiPciOperationBusMasterWrite, Aligned.data() + 3, &Odd, &Device, &Mapping),
            EFI_SUCCESS);
  ASSERT_NE(Device, reinterpret_cast<uintptr_t>(Aligned.data() + 3));
  EXPECT_EQ(Board.Core().OutstandingPages(Board.Image()), 1u);
  std::memcpy(reinterpret_cast<void *>(static_cast<uintptr_t>(Device)), "DMA!!", 5);
  EXPECT_EQ(Io->Unmap(Io, Mapping), EFI_SUCCESS);
  EXPECT_EQ(std::string(reinterpret_cast<char *>(Aligned.data() + 3), 5), "DMA!!");
  EXPECT_EQ(Aligned[2], 0);
  EXPECT_EQ(Aligned[8], 0);
  EXPECT_EQ(Board.Core().OutstandingPages(Board.Image()), 0u);

  ASSERT_EQ(Io->Map(Io, EfiPciOperationBusMasterCommonBuffer, Lines, &Bytes, &Device, &Mapping), EFI_SUCCESS);
  EXPECT_EQ(Io->Unmap(Io, Mapping), EFI_SUCCESS);
  EXPECT_EQ(Io->Unmap(Io, Mapping), EFI_INVALID_PARAMETER) << "an ended mapping is not touched again";
  EXPECT_EQ(Io->Unmap(Io, Lines), EFI_INVALID_PARAMETER) << "nor is any other pointer";
  auto *Cpu = Board.Board().Producer<host::CpuArchProducer>("cpu");
  EXPECT_TRUE(Cpu->AttributeCalls().empty()) << "a common buffer in part of a page keeps its attributes";

  // A common buffer of whole pages is uncached for the processor while it is mapped.
  VOID *Pages = nullptr;
  ASSERT_EQ(Io->AllocateBuffer(Io, AllocateAnyPages, EfiBootServicesData, 2, &Pages, 0), EFI_SUCCESS);
  UINTN PageBytes = 2 * EFI_PAGE_SIZE;
  ASSERT_EQ(Io->Map(Io, EfiPciOperationBusMasterCommonBuffer, Pages, &PageBytes, &Device, &Mapping),
            EFI_SUCCESS);
  EXPECT_EQ(Io->Unmap(Io, Mapping), EFI_SUCCESS);
  ASSERT_EQ(Cpu->AttributeCalls().size(), 2u);
  EXPECT_EQ(Cpu->AttributeCalls()[0].BaseAddress, reinterpret_cast<uintptr_t>(Pages));
  EXPECT_EQ(Cpu->AttributeCalls()[0].Length, PageBytes);
  EXPECT_EQ(Cpu->AttributeCalls()[0].Attributes, EFI_MEMORY_WC);
  EXPECT_EQ(Cpu->AttributeCalls()[1].Attributes, EFI_MEMORY_WB);
  EXPECT_EQ(Io->FreeBuffer(Io, 2, Pages), EFI_SUCCESS);
  EXPECT_EQ(Operations("ArmCleanInvalidateDataCacheRange"), 6u) << "both ends of every mapping but a read";
  EXPECT_EQ(Io->Unmap(Io, nullptr), EFI_INVALID_PARAMETER);
}

} // namespace
} // namespace bridgemimic_test

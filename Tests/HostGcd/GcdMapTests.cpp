#include "GcdMap.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

using host::GcdMap;

constexpr UINT64 kCaps = 0x800000000000100DULL; // UC | WT | WB | WP | RUNTIME
EFI_HANDLE const kImage = reinterpret_cast<EFI_HANDLE>(0x1000);
EFI_HANDLE const kOtherImage = reinterpret_cast<EFI_HANDLE>(0x2000);
EFI_HANDLE const kDevice = reinterpret_cast<EFI_HANDLE>(0x3000);

// Every map must cover its space exactly, in order, with no two alike neighbours.
void ExpectWellFormed(const GcdMap &Map, UINT64 MemoryLimit = GcdMap::kDefaultMemoryLimit) {
  UINT64 Next = 0;
  const auto &Memory = Map.MemoryDescriptors();
  for (size_t Index = 0; Index < Memory.size(); Index++) {
    EXPECT_EQ(Memory[Index].BaseAddress, Next);
    EXPECT_NE(Memory[Index].Length, 0u);
    Next += Memory[Index].Length;
    if (Index > 0) {
      const auto &A = Memory[Index - 1];
      const auto &B = Memory[Index];
      EXPECT_FALSE(A.GcdMemoryType == B.GcdMemoryType && A.Capabilities == B.Capabilities &&
                   A.Attributes == B.Attributes && A.ImageHandle == B.ImageHandle &&
                   A.DeviceHandle == B.DeviceHandle)
          << "unmerged neighbours at " << std::hex << B.BaseAddress;
    }
  }
  EXPECT_EQ(Next, MemoryLimit);
}

EFI_GCD_MEMORY_SPACE_DESCRIPTOR At(const GcdMap &Map, UINT64 Address) {
  EFI_GCD_MEMORY_SPACE_DESCRIPTOR Descriptor{};
  EXPECT_EQ(Map.GetMemorySpaceDescriptor(Address, &Descriptor), EFI_SUCCESS);
  return Descriptor;
}

TEST(GcdMemory, AddChecksTypeLengthAndOverlap) {
  GcdMap Map;
  EXPECT_EQ(Map.MemoryDescriptors().size(), 1u);
  EXPECT_EQ(Map.AddMemorySpace(EfiGcdMemoryTypeNonExistent, 0x1000, 0x1000, 0), EFI_INVALID_PARAMETER);
  EXPECT_EQ(Map.AddMemorySpace(EfiGcdMemoryTypeMaximum, 0x1000, 0x1000, 0), EFI_INVALID_PARAMETER);
  EXPECT_EQ(Map.AddMemorySpace(EfiGcdMemoryTypeMemoryMappedIo, 0x1000, 0, 0), EFI_INVALID_PARAMETER);
  EXPECT_EQ(
      Map.AddMemorySpace(EfiGcdMemoryTypeMemoryMappedIo, GcdMap::kDefaultMemoryLimit - 0x1000, 0x2000, 0),
      EFI_UNSUPPORTED);
  EXPECT_EQ(Map.AddMemorySpace(EfiGcdMemoryTypeMemoryMappedIo, ~0ULL - 0xFFF, 0x2000, 0), EFI_UNSUPPORTED);

  ASSERT_EQ(Map.AddMemorySpace(EfiGcdMemoryTypeMemoryMappedIo, 0x1C020000, 0x1000, kCaps), EFI_SUCCESS);
  EXPECT_EQ(Map.AddMemorySpace(EfiGcdMemoryTypeMemoryMappedIo, 0x1C020000, 0x1000, kCaps), EFI_ACCESS_DENIED);
  EXPECT_EQ(Map.AddMemorySpace(EfiGcdMemoryTypeReserved, 0x1C01F000, 0x2000, 0), EFI_ACCESS_DENIED)
      << "partial overlap";
  EXPECT_EQ(Map.MemoryDescriptors().size(), 3u);

  // A touching range with the same properties merges into one descriptor.
  ASSERT_EQ(Map.AddMemorySpace(EfiGcdMemoryTypeMemoryMappedIo, 0x1C021000, 0x1000, kCaps), EFI_SUCCESS);
  const auto Descriptor = At(Map, 0x1C021800);
  EXPECT_EQ(Descriptor.BaseAddress, 0x1C020000u);
  EXPECT_EQ(Descriptor.Length, 0x2000u);
  EXPECT_EQ(Descriptor.Capabilities, kCaps);
  EXPECT_EQ(Descriptor.GcdMemoryType, EfiGcdMemoryTypeMemoryMappedIo);
  ExpectWellFormed(Map);

  EFI_GCD_MEMORY_SPACE_DESCRIPTOR Out{};
  EXPECT_EQ(Map.GetMemorySpaceDescriptor(0x1000, nullptr), EFI_INVALID_PARAMETER);
  EXPECT_EQ(Map.GetMemorySpaceDescriptor(GcdMap::kDefaultMemoryLimit, &Out), EFI_NOT_FOUND);
}

TEST(GcdMemory, AllocateAtAddressRecordsOwnersAndSplits) {
  GcdMap Map;
  ASSERT_EQ(Map.AddMemorySpace(EfiGcdMemoryTypeMemoryMappedIo, 0x10510000, 0x3000, kCaps), EFI_SUCCESS);
  EFI_PHYSICAL_ADDRESS Base = 0x10511000;
  EXPECT_EQ(Map.AllocateMemorySpace(EfiGcdAllocateAddress, EfiGcdMemoryTypeMemoryMappedIo, 0, 0x1000, &Base,
                                    nullptr, nullptr),
            EFI_INVALID_PARAMETER);
  EXPECT_EQ(Map.AllocateMemorySpace(EfiGcdAllocateAddress, EfiGcdMemoryTypeMemoryMappedIo, 0, 0x1000, nullptr,
                                    kImage, nullptr),
            EFI_INVALID_PARAMETER);
  EXPECT_EQ(Map.AllocateMemorySpace(EfiGcdMaxAllocateType, EfiGcdMemoryTypeMemoryMappedIo, 0, 0x1000, &Base,
                                    kImage, nullptr),
            EFI_INVALID_PARAMETER);
  EXPECT_EQ(Map.AllocateMemorySpace(EfiGcdAllocateAddress, EfiGcdMemoryTypeSystemMemory, 0, 0x1000, &Base,
                                    kImage, nullptr),
            EFI_NOT_FOUND)
      << "wrong type";
  ASSERT_EQ(Map.AllocateMemorySpace(EfiGcdAllocateAddress, EfiGcdMemoryTypeMemoryMappedIo, 0, 0x1000, &Base,
                                    kImage, kDevice),
            EFI_SUCCESS);
  EXPECT_EQ(Base, 0x10511000u);
  EXPECT_EQ(Map.MemoryDescriptors().size(), 5u) << "free, owned, free between two nonexistent";
  EXPECT_EQ(At(Map, 0x10511000).ImageHandle, kImage);
  EXPECT_EQ(At(Map, 0x10511000).DeviceHandle, kDevice);
  EXPECT_EQ(At(Map, 0x10510000).ImageHandle, nullptr);

  Base = 0x10510000;
  EXPECT_EQ(Map.AllocateMemorySpace(EfiGcdAllocateAddress, EfiGcdMemoryTypeMemoryMappedIo, 0, 0x2000, &Base,
                                    kOtherImage, nullptr),
            EFI_NOT_FOUND)
      << "overlaps an owned range";
  Base = 0x10512000;
  EXPECT_EQ(Map.AllocateMemorySpace(EfiGcdAllocateAddress, EfiGcdMemoryTypeMemoryMappedIo, 0, 0x2000, &Base,
                                    kOtherImage, nullptr),
            EFI_NOT_FOUND)
      << "runs into nonexistent space";
  Base = 0x10512800;
  EXPECT_EQ(Map.AllocateMemorySpace(EfiGcdAllocateAddress, EfiGcdMemoryTypeMemoryMappedIo, 12, 0x100, &Base,
                                    kOtherImage, nullptr),
            EFI_NOT_FOUND)
      << "misaligned";

  EXPECT_EQ(Map.FreeMemorySpace(0x10510000, 0x2000), EFI_NOT_FOUND) << "part of it is not allocated";
  EXPECT_EQ(Map.RemoveMemorySpace(0x10510000, 0x3000), EFI_ACCESS_DENIED);
  ASSERT_EQ(Map.FreeMemorySpace(0x10511000, 0x1000), EFI_SUCCESS);
  EXPECT_EQ(Map.MemoryDescriptors().size(), 3u) << "freed range merges back";
  EXPECT_EQ(Map.RemoveMemorySpace(0x10500000, 0x13000), EFI_NOT_FOUND) << "not all of it was added";
  ASSERT_EQ(Map.RemoveMemorySpace(0x10510000, 0x3000), EFI_SUCCESS);
  EXPECT_EQ(Map.MemoryDescriptors().size(), 1u);
  ExpectWellFormed(Map);
}

TEST(GcdMemory, SearchAllocationsHonourDirectionAlignmentAndLimit) {
  GcdMap Map;
  ASSERT_EQ(Map.AddMemorySpace(EfiGcdMemoryTypeSystemMemory, 0x100000, 0x100000, EFI_MEMORY_WB), EFI_SUCCESS);
  ASSERT_EQ(Map.AddMemorySpace(EfiGcdMemoryTypeSystemMemory, 0x400000, 0x100000, EFI_MEMORY_WB), EFI_SUCCESS);

  EFI_PHYSICAL_ADDRESS Base = 0;
  ASSERT_EQ(Map.AllocateMemorySpace(EfiGcdAllocateAnySearchBottomUp, EfiGcdMemoryTypeSystemMemory, 16, 0x1000,
                                    &Base, kImage, nullptr),
            EFI_SUCCESS);
  EXPECT_EQ(Base, 0x100000u);
  ASSERT_EQ(Map.AllocateMemorySpace(EfiGcdAllocateAnySearchBottomUp, EfiGcdMemoryTypeSystemMemory, 16, 0x1000,
                                    &Base, kImage, nullptr),
            EFI_SUCCESS);
  EXPECT_EQ(Base, 0x110000u) << "next 64 KiB boundary";

  ASSERT_EQ(Map.AllocateMemorySpace(EfiGcdAllocateAnySearchTopDown, EfiGcdMemoryTypeSystemMemory, 12, 0x3000,
                                    &Base, kImage, nullptr),
            EFI_SUCCESS);
  EXPECT_EQ(Base, 0x4FD000u);

  Base = 0x3FFFFF;
  ASSERT_EQ(Map.AllocateMemorySpace(EfiGcdAllocateMaxAddressSearchTopDown, EfiGcdMemoryTypeSystemMemory, 12,
                                    0x1000, &Base, kImage, nullptr),
            EFI_SUCCESS);
  EXPECT_EQ(Base, 0x1FF000u) << "highest page below the limit";

  Base = 0x100FFF;
  EXPECT_EQ(Map.AllocateMemorySpace(EfiGcdAllocateMaxAddressSearchBottomUp, EfiGcdMemoryTypeSystemMemory, 12,
                                    0x1000, &Base, kImage, nullptr),
            EFI_NOT_FOUND)
      << "the only page under the limit is taken";
  Base = 0;
  EXPECT_EQ(Map.AllocateMemorySpace(EfiGcdAllocateAnySearchBottomUp, EfiGcdMemoryTypeSystemMemory, 0,
                                    0x200000, &Base, kImage, nullptr),
            EFI_NOT_FOUND)
      << "no single free stretch is that long";
  EXPECT_EQ(Map.AllocateMemorySpace(EfiGcdAllocateAnySearchBottomUp, EfiGcdMemoryTypeSystemMemory, 64, 0x1000,
                                    &Base, kImage, nullptr),
            EFI_INVALID_PARAMETER);
  ExpectWellFormed(Map);
}

TEST(GcdMemory, AttributesMustStayWithinCapabilitiesOfEveryDescriptor) {
  GcdMap Map;
  ASSERT_EQ(Map.AddMemorySpace(EfiGcdMemoryTypeMemoryMappedIo, 0x1C020000, 0x1000, kCaps), EFI_SUCCESS);
  ASSERT_EQ(Map.AddMemorySpace(EfiGcdMemoryTypeMemoryMappedIo, 0x1C021000, 0x1000, EFI_MEMORY_UC),
            EFI_SUCCESS);

  EXPECT_EQ(Map.SetMemorySpaceAttributes(0x1C020000, 0x2000, EFI_MEMORY_RUNTIME), EFI_UNSUPPORTED)
      << "the second range cannot be runtime";
  EXPECT_EQ(At(Map, 0x1C020000).Attributes, 0u) << "a refused change changes nothing";
  EXPECT_EQ(Map.SetMemorySpaceAttributes(0x1C020000, 0x2000, EFI_MEMORY_UC), EFI_SUCCESS);
  EXPECT_EQ(Map.SetMemorySpaceAttributes(0x1C020000, 0x1000, EFI_MEMORY_RUNTIME), EFI_SUCCESS);
  EXPECT_EQ(At(Map, 0x1C020000).Attributes, EFI_MEMORY_RUNTIME) << "attributes are replaced, not added";
  EXPECT_EQ(Map.SetMemorySpaceAttributes(0x1C020800, 0x800, EFI_MEMORY_UC), EFI_INVALID_PARAMETER);
  EXPECT_EQ(Map.SetMemorySpaceAttributes(0x1C020000, 0x800, EFI_MEMORY_UC), EFI_INVALID_PARAMETER);
  EXPECT_EQ(Map.SetMemorySpaceAttributes(0x1C020000, 0, EFI_MEMORY_UC), EFI_INVALID_PARAMETER);
  EXPECT_EQ(Map.SetMemorySpaceAttributes(0x1C01F000, 0x2000, EFI_MEMORY_UC), EFI_UNSUPPORTED)
      << "nonexistent space has no capabilities";

  EXPECT_EQ(Map.SetMemorySpaceCapabilities(0x1C020000, 0x1000, EFI_MEMORY_UC), EFI_UNSUPPORTED)
      << "would drop the runtime attribute in force";
  EXPECT_EQ(Map.SetMemorySpaceCapabilities(0x1C021000, 0x1000, kCaps), EFI_SUCCESS);
  EXPECT_EQ(Map.SetMemorySpaceAttributes(0x1C021000, 0x1000, EFI_MEMORY_RUNTIME), EFI_SUCCESS);
  const auto Merged = At(Map, 0x1C021000);
  EXPECT_EQ(Merged.BaseAddress, 0x1C020000u) << "now identical neighbours merge";
  EXPECT_EQ(Merged.Length, 0x2000u);
  ExpectWellFormed(Map);
}

TEST(GcdMemory, MapCopyUsesTheGivenAllocatorAndDumpIsReadable) {
  GcdMap Map;
  ASSERT_EQ(Map.AddMemorySpace(EfiGcdMemoryTypeMemoryMappedIo, 0x17000000, 0x2000, kCaps), EFI_SUCCESS);
  size_t Requested = 0;
  auto Allocate = [&Requested](size_t Size) {
    Requested = Size;
    return std::malloc(Size);
  };
  UINTN Count = 0;
  EFI_GCD_MEMORY_SPACE_DESCRIPTOR *Copy = nullptr;
  ASSERT_EQ(Map.GetMemorySpaceMap(&Count, &Copy, Allocate), EFI_SUCCESS);
  EXPECT_EQ(Count, 3u);
  EXPECT_EQ(Requested, 3 * sizeof(EFI_GCD_MEMORY_SPACE_DESCRIPTOR));
  EXPECT_EQ(Copy[1].BaseAddress, 0x17000000u);
  EXPECT_EQ(Copy[1].GcdMemoryType, EfiGcdMemoryTypeMemoryMappedIo);
  std::free(Copy);
  EXPECT_EQ(Map.GetMemorySpaceMap(&Count, &Copy, [](size_t) -> void * { return nullptr; }),
            EFI_OUT_OF_RESOURCES);
  EXPECT_EQ(Map.GetMemorySpaceMap(nullptr, &Copy), EFI_INVALID_PARAMETER);

  const std::string Dump = Map.Dump();
  EXPECT_NE(Dump.find("0000000017000000 0000000017001FFF MMIO"), std::string::npos) << Dump;
  EXPECT_NE(Dump.find("GCD I/O space map"), std::string::npos);
}

TEST(GcdIo, AddAllocateFreeRemove) {
  GcdMap Map;
  EXPECT_EQ(Map.AddIoSpace(EfiGcdIoTypeNonExistent, 0x1000, 0x100), EFI_INVALID_PARAMETER);
  EXPECT_EQ(Map.AddIoSpace(EfiGcdIoTypeIo, 0xFF00, 0x200), EFI_UNSUPPORTED) << "beyond 64 KiB";
  ASSERT_EQ(Map.AddIoSpace(EfiGcdIoTypeIo, 0x1000, 0x1000), EFI_SUCCESS);
  EXPECT_EQ(Map.AddIoSpace(EfiGcdIoTypeReserved, 0x1800, 0x100), EFI_ACCESS_DENIED);

  EFI_PHYSICAL_ADDRESS Base = 0;
  ASSERT_EQ(
      Map.AllocateIoSpace(EfiGcdAllocateAnySearchTopDown, EfiGcdIoTypeIo, 4, 0x20, &Base, kImage, kDevice),
      EFI_SUCCESS);
  EXPECT_EQ(Base, 0x1FE0u);
  Base = 0x1FF0;
  EXPECT_EQ(Map.AllocateIoSpace(EfiGcdAllocateAddress, EfiGcdIoTypeIo, 0, 0x10, &Base, kOtherImage, nullptr),
            EFI_NOT_FOUND);
  EFI_GCD_IO_SPACE_DESCRIPTOR Descriptor{};
  ASSERT_EQ(Map.GetIoSpaceDescriptor(0x1FF0, &Descriptor), EFI_SUCCESS);
  EXPECT_EQ(Descriptor.BaseAddress, 0x1FE0u);
  EXPECT_EQ(Descriptor.ImageHandle, kImage);
  EXPECT_EQ(Descriptor.DeviceHandle, kDevice);
  EXPECT_EQ(Map.GetIoSpaceDescriptor(0x10000, &Descriptor), EFI_NOT_FOUND);

  EXPECT_EQ(Map.RemoveIoSpace(0x1000, 0x1000), EFI_ACCESS_DENIED);
  ASSERT_EQ(Map.FreeIoSpace(0x1FE0, 0x20), EFI_SUCCESS);
  EXPECT_EQ(Map.FreeIoSpace(0x1FE0, 0x20), EFI_NOT_FOUND);
  ASSERT_EQ(Map.RemoveIoSpace(0x1000, 0x1000), EFI_SUCCESS);
  UINTN Count = 0;
  EFI_GCD_IO_SPACE_DESCRIPTOR *Copy = nullptr;
  ASSERT_EQ(Map.GetIoSpaceMap(&Count, &Copy), EFI_SUCCESS);
  EXPECT_EQ(Count, 1u);
  EXPECT_EQ(Copy[0].Length, GcdMap::kDefaultIoLimit);
  std::free(Copy);
}

} // namespace

// Pool and pages: accounting, misuse reports and the memory map.
#include "CoreTestSupport.h"

#include <GcdMap.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <tuple>

using namespace coretest;

namespace {

class Memory : public CoreTest {};

TEST_F(Memory, PoolIsAccountedToItsOwnerAndMisuseIsReportedNotFatal) {
  Board.ExpectError("memory: firmware");
  EFI_HANDLE Firmware = Board.FirmwareHandle();
  const uint64_t Before = Board.OutstandingPoolBytes(Firmware);
  VOID *Buffer = nullptr;
  ASSERT_EQ(BS->AllocatePool(EfiBootServicesData, 40, &Buffer), EFI_SUCCESS);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(Buffer) % 8, 0u);
  EXPECT_EQ(Board.OutstandingPoolBytes(Firmware), Before + 40);
  EXPECT_EQ(BS->FreePool(Buffer), EFI_SUCCESS);
  EXPECT_EQ(Board.OutstandingPoolBytes(Firmware), Before);
  EXPECT_TRUE(Board.MemoryErrors().empty());

  EXPECT_EQ(BS->FreePool(Buffer), EFI_INVALID_PARAMETER);
  ASSERT_EQ(Board.MemoryErrors().size(), 1u);
  EXPECT_NE(Board.MemoryErrors()[0].find("double free"), std::string::npos);

  int OnStack = 0;
  EXPECT_EQ(BS->FreePool(&OnStack), EFI_INVALID_PARAMETER);
  ASSERT_EQ(Board.MemoryErrors().size(), 2u);
  EXPECT_NE(Board.MemoryErrors()[1].find("not a pool buffer"), std::string::npos);

  // Writing past the end is caught when the buffer is freed.
  ASSERT_EQ(BS->AllocatePool(EfiBootServicesData, 10, &Buffer), EFI_SUCCESS);
  std::memset(Buffer, 0, 11);
  EXPECT_EQ(BS->FreePool(Buffer), EFI_SUCCESS);
  ASSERT_EQ(Board.MemoryErrors().size(), 3u);
  EXPECT_NE(Board.MemoryErrors()[2].find("past its end"), std::string::npos);
  EXPECT_EQ(Board.FreePoolCalls(Firmware), 4u);

  EXPECT_EQ(BS->AllocatePool(EfiConventionalMemory, 8, &Buffer), EFI_INVALID_PARAMETER);
  EXPECT_EQ(BS->AllocatePool(EfiBootServicesData, 8, nullptr), EFI_INVALID_PARAMETER);
}

TEST_F(Memory, PagesAreRealAlignedMemoryWithTheAllocationTypesHonoured) {
  EFI_PHYSICAL_ADDRESS Any = 0;
  ASSERT_EQ(BS->AllocatePages(AllocateAnyPages, EfiBootServicesData, 3, &Any), EFI_SUCCESS);
  EXPECT_EQ(Any % EFI_PAGE_SIZE, 0u);
  std::memset(reinterpret_cast<void *>(Any), 0x5A, 3 * EFI_PAGE_SIZE); // really there
  EXPECT_EQ(Board.OutstandingPages(Board.FirmwareHandle()), 3u);

  EFI_PHYSICAL_ADDRESS Low = 0xFFFFFFFF;
  ASSERT_EQ(BS->AllocatePages(AllocateMaxAddress, EfiACPIReclaimMemory, 2, &Low), EFI_SUCCESS);
  EXPECT_LE(Low + 2 * EFI_PAGE_SIZE - 1, 0xFFFFFFFFu);

  // An address already in use cannot be had again.
  EFI_PHYSICAL_ADDRESS Taken = Any;
  EXPECT_EQ(BS->AllocatePages(AllocateAddress, EfiBootServicesData, 1, &Taken), EFI_NOT_FOUND);
  EFI_PHYSICAL_ADDRESS Unaligned = Any + 1;
  EXPECT_EQ(BS->AllocatePages(AllocateAddress, EfiBootServicesData, 1, &Unaligned), EFI_NOT_FOUND);

  // Freeing the middle page splits the allocation; the same page cannot be freed twice.
  EXPECT_EQ(BS->FreePages(Any + EFI_PAGE_SIZE, 1), EFI_SUCCESS);
  EXPECT_EQ(BS->FreePages(Any + EFI_PAGE_SIZE, 1), EFI_NOT_FOUND);
  EXPECT_EQ(BS->FreePages(Any, 1), EFI_SUCCESS);
  EXPECT_EQ(BS->FreePages(Any + 2 * EFI_PAGE_SIZE, 1), EFI_SUCCESS);
  EXPECT_EQ(BS->FreePages(Low, 2), EFI_SUCCESS);
  EXPECT_EQ(Board.OutstandingPages(Board.FirmwareHandle()), 0u);
  EXPECT_EQ(BS->FreePages(Any + 5, 1), EFI_INVALID_PARAMETER);
}

TEST_F(Memory, MemoryMapReportsSizesAndTheAllocations) {
  ASSERT_EQ(Board.Gcd().AddMemorySpace(EfiGcdMemoryTypeSystemMemory, 0x80000000, 0x10000000, EFI_MEMORY_WB),
            EFI_SUCCESS);
  EFI_PHYSICAL_ADDRESS Pages = 0;
  ASSERT_EQ(BS->AllocatePages(AllocateAnyPages, EfiRuntimeServicesData, 4, &Pages), EFI_SUCCESS);
  UINTN Size = 0;
  UINTN MapKey = 0;
  UINTN DescriptorSize = 0;
  UINT32 Version = 0;
  ASSERT_EQ(BS->GetMemoryMap(&Size, nullptr, &MapKey, &DescriptorSize, &Version), EFI_BUFFER_TOO_SMALL);
  EXPECT_GE(DescriptorSize, sizeof(EFI_MEMORY_DESCRIPTOR));
  EXPECT_EQ(Size % DescriptorSize, 0u);
  std::vector<uint8_t> Map(Size);
  ASSERT_EQ(BS->GetMemoryMap(&Size, reinterpret_cast<EFI_MEMORY_DESCRIPTOR *>(Map.data()), &MapKey,
                             &DescriptorSize, &Version),
            EFI_SUCCESS);
  EXPECT_EQ(Version, 1u);
  bool FoundRuntime = false;
  bool FoundFree = false;
  uint64_t PreviousStart = 0;
  for (UINTN Offset = 0; Offset < Size; Offset += DescriptorSize) {
    const auto *Entry = reinterpret_cast<const EFI_MEMORY_DESCRIPTOR *>(Map.data() + Offset);
    EXPECT_GE(Entry->PhysicalStart, PreviousStart);
    PreviousStart = Entry->PhysicalStart;
    FoundRuntime |=
        Entry->Type == EfiRuntimeServicesData && Entry->PhysicalStart == Pages && Entry->NumberOfPages == 4;
    FoundFree |= Entry->Type == EfiConventionalMemory && Entry->NumberOfPages > 0;
  }
  EXPECT_TRUE(FoundRuntime);
  EXPECT_TRUE(FoundFree);

  // Any change of the map makes the old key stale.
  ASSERT_EQ(BS->FreePages(Pages, 4), EFI_SUCCESS);
  EXPECT_EQ(BS->ExitBootServices(Board.FirmwareHandle(), MapKey), EFI_INVALID_PARAMETER);
}

// Fresh memory is never silently zero, pool is only as aligned as UEFI promises, and every
// change of the map, pool included, gives it a new key.
TEST_F(Memory, FreshMemoryIsPatternedPoolIsEightByteAlignedAndEveryChangeMovesTheMapKey) {
  auto Key = [&] { return CurrentMapKey(BS); };
  std::vector<VOID *> Buffers(4);
  bool Only8 = false;
  for (VOID *&Buffer : Buffers) {
    const UINTN Before = Key();
    ASSERT_EQ(BS->AllocatePool(EfiBootServicesData, 24, &Buffer), EFI_SUCCESS);
    EXPECT_NE(Key(), Before) << "AllocatePool";
    EXPECT_EQ(reinterpret_cast<uintptr_t>(Buffer) % 8, 0u);
    Only8 |= reinterpret_cast<uintptr_t>(Buffer) % 16 != 0;
    const auto *Bytes = static_cast<const uint8_t *>(Buffer);
    EXPECT_TRUE(std::none_of(Bytes, Bytes + 24, [](uint8_t Byte) { return Byte == 0; }));
  }
  EXPECT_TRUE(Only8) << "no pool buffer was 8 but not 16-byte aligned";
  EFI_PHYSICAL_ADDRESS Pages = 0;
  ASSERT_EQ(BS->AllocatePages(AllocateAnyPages, EfiBootServicesData, 1, &Pages), EFI_SUCCESS);
  const auto *PageBytes = reinterpret_cast<const uint8_t *>(Pages);
  EXPECT_TRUE(std::none_of(PageBytes, PageBytes + EFI_PAGE_SIZE, [](uint8_t Byte) { return Byte == 0; }));
  for (VOID *Buffer : Buffers) {
    const UINTN Before = Key();
    ASSERT_EQ(BS->FreePool(Buffer), EFI_SUCCESS);
    EXPECT_NE(Key(), Before) << "FreePool";
  }
  ASSERT_EQ(BS->FreePages(Pages, 1), EFI_SUCCESS);
}

// The memory map comes from the GCD map: MMIO only where the platform declared it runtime,
// whatever models are attached.
TEST_F(Memory, MemoryMapFollowsTheGcdMap) {
  host::GcdMap &Gcd = Board.Gcd();
  ASSERT_EQ(Gcd.AddMemorySpace(EfiGcdMemoryTypeSystemMemory, 0x80000000, 0x100000, EFI_MEMORY_WB),
            EFI_SUCCESS);
  ASSERT_EQ(Gcd.AddMemorySpace(EfiGcdMemoryTypeReserved, 0x90000000, 0x2000, EFI_MEMORY_WB), EFI_SUCCESS);
  for (uint64_t Base : {0x10511000ull, 0x10540000ull}) {
    ASSERT_EQ(
        Gcd.AddMemorySpace(EfiGcdMemoryTypeMemoryMappedIo, Base, 0x1000, EFI_MEMORY_UC | EFI_MEMORY_RUNTIME),
        EFI_SUCCESS);
  }
  ASSERT_EQ(Gcd.SetMemorySpaceAttributes(0x10511000, 0x1000, EFI_MEMORY_UC | EFI_MEMORY_RUNTIME),
            EFI_SUCCESS);
  struct Silent : host::MmioDevice {
    std::string Name() const override { return "silent"; }
    uint64_t Read(uint64_t, unsigned) override { return 0; }
    void Write(uint64_t, unsigned, uint64_t) override {}
  };
  Board.Attach(0x1C020000, 0x1000, std::make_shared<Silent>());

  UINTN Size = 0, MapKey = 0, DescriptorSize = 0;
  UINT32 Version = 0;
  BS->GetMemoryMap(&Size, nullptr, &MapKey, &DescriptorSize, &Version);
  std::vector<uint8_t> Map(Size);
  ASSERT_EQ(BS->GetMemoryMap(&Size, reinterpret_cast<EFI_MEMORY_DESCRIPTOR *>(Map.data()), &MapKey,
                             &DescriptorSize, &Version),
            EFI_SUCCESS);
  std::vector<std::tuple<UINT32, uint64_t, uint64_t, bool>> Entries;
  for (UINTN Offset = 0; Offset < Size; Offset += DescriptorSize) {
    const auto *Entry = reinterpret_cast<const EFI_MEMORY_DESCRIPTOR *>(Map.data() + Offset);
    Entries.emplace_back(Entry->Type, Entry->PhysicalStart, Entry->NumberOfPages,
                         (Entry->Attribute & EFI_MEMORY_RUNTIME) != 0);
  }
  std::vector<std::tuple<UINT32, uint64_t, uint64_t, bool>> Expected = {
      {EfiMemoryMappedIO, 0x10511000, 1, true},
      {EfiConventionalMemory, 0x80000000, 0x100, false},
      {EfiReservedMemoryType, 0x90000000, 2, false}};
  EXPECT_EQ(Entries, Expected);
}

} // namespace

// The chosen firmware allocation fails, counted over every image's pool and page calls; the
// host's own allocations never count, and an image filter counts only that image's.
TEST_F(Memory, InjectedAllocationFailureHitsTheChosenFirmwareAllocation) {
  struct Case {
    uint64_t Nth; // within the run; 0: none fails
    const char *Image;
    EFI_STATUS Status;
    const char *Failed; // the failed call, as the log names it
  };
  const Case Cases[] = {
      {0, "", EFI_SUCCESS, nullptr},
      {1, "", EFI_OUT_OF_RESOURCES, "AllocatePool of 32 bytes by CoreTestAllocator"},
      {2, "", EFI_OUT_OF_RESOURCES, "AllocatePages of 4096 bytes by CoreTestAllocator"},
      {3, "CoreTestAllocator", EFI_OUT_OF_RESOURCES, "AllocatePool of 16 bytes by CoreTestAllocator"},
      {1, "CoreTestHello", EFI_SUCCESS, nullptr},
      {4, "", EFI_SUCCESS, nullptr},
  };
  uint64_t Counted = 0;
  for (const Case &Each : Cases) {
    const uint64_t Before = Board.FirmwareAllocations();
    Board.FailAllocation(Each.Nth == 0 ? 0 : Before + Each.Nth, Each.Image);
    VOID *HostBuffer = nullptr;
    ASSERT_EQ(BS->AllocatePool(EfiBootServicesData, 8, &HostBuffer), EFI_SUCCESS);
    ASSERT_EQ(BS->FreePool(HostBuffer), EFI_SUCCESS);
    EXPECT_EQ(Board.FirmwareAllocations(), Before) << "the host's allocation does not count";
    EXPECT_EQ(Board.RunModule("CoreTestAllocator").Status, Each.Status) << Each.Nth << " " << Each.Image;
    if (Each.Failed != nullptr) {
      const std::string Line = "fail-alloc: allocation " + std::to_string(Before + Each.Nth) + " (" +
                               Each.Failed + ") fails with EFI_OUT_OF_RESOURCES";
      EXPECT_TRUE(Board.Log().Contains(Line)) << Line;
    }
    Counted += std::string(Each.Image) == "CoreTestHello" ? 0 : 3;
    EXPECT_EQ(Board.FirmwareAllocations(), Counted);
  }
}

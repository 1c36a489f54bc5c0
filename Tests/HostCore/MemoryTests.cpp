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
  const host::MemoryRange Dram = Board.Dram(); // the board's DRAM has a table of its own
  for (UINTN Offset = 0; Offset < Size; Offset += DescriptorSize) {
    const auto *Entry = reinterpret_cast<const EFI_MEMORY_DESCRIPTOR *>(Map.data() + Offset);
    if (Entry->PhysicalStart - Dram.Base < Dram.Size) {
      continue;
    }
    Entries.emplace_back(Entry->Type, Entry->PhysicalStart, Entry->NumberOfPages,
                         (Entry->Attribute & EFI_MEMORY_RUNTIME) != 0);
  }
  std::vector<std::tuple<UINT32, uint64_t, uint64_t, bool>> Expected = {
      {EfiMemoryMappedIO, 0x10511000, 1, true},
      {EfiConventionalMemory, 0x80000000, 0x100, false},
      {EfiReservedMemoryType, 0x90000000, 2, false}};
  EXPECT_EQ(Entries, Expected);
}

// Pages and pool come from the board's DRAM, where the memory space map has free system memory,
// and nowhere else; the memory map lists each with its type.
TEST_F(Memory, AllocationsComeFromFreeSystemMemoryAndTheMapListsThemWithTheirTypes) {
  const host::MemoryRange Dram = Board.Dram();
  constexpr uint64_t kMmio = 0x10511000, kNothing = 0x200000000, kWindow = 0x100000;
  ASSERT_EQ(Board.Gcd().AddMemorySpace(EfiGcdMemoryTypeMemoryMappedIo, kMmio, 0x1000, EFI_MEMORY_UC),
            EFI_SUCCESS);
  EFI_PHYSICAL_ADDRESS Taken = 0;
  ASSERT_EQ(BS->AllocatePages(AllocateAnyPages, EfiBootServicesData, 1, &Taken), EFI_SUCCESS);
  const uint64_t DramEnd = Dram.Base + Dram.Size;
  struct Case {
    const char *What;
    int Type; // an EFI_ALLOCATE_TYPE, or -1 for pool
    EFI_MEMORY_TYPE MemoryType;
    uint64_t Address;
    EFI_STATUS Status;
    uint64_t Low, High; // where a success must land
  };
  const Case Cases[] = {
      {"address in MMIO", AllocateAddress, EfiBootServicesData, kMmio, EFI_NOT_FOUND, 0, 0},
      {"address where nothing exists", AllocateAddress, EfiBootServicesData, kNothing, EFI_NOT_FOUND, 0, 0},
      {"address across DRAM's end", AllocateAddress, EfiBootServicesData, DramEnd - EFI_PAGE_SIZE,
       EFI_NOT_FOUND, 0, 0},
      {"address already allocated", AllocateAddress, EfiBootServicesData, Taken, EFI_NOT_FOUND, 0, 0},
      {"address in free DRAM", AllocateAddress, EfiLoaderData, Dram.Base, EFI_SUCCESS, Dram.Base, Dram.Base},
      {"maximum below DRAM", AllocateMaxAddress, EfiBootServicesData, Dram.Base - 1, EFI_NOT_FOUND, 0, 0},
      {"maximum inside DRAM", AllocateMaxAddress, EfiACPIReclaimMemory, Dram.Base + kWindow - 1, EFI_SUCCESS,
       Dram.Base, Dram.Base + kWindow - 2 * EFI_PAGE_SIZE},
      {"any pages", AllocateAnyPages, EfiRuntimeServicesCode, 0, EFI_SUCCESS, Dram.Base, DramEnd},
      {"runtime pool", -1, EfiRuntimeServicesData, 0, EFI_SUCCESS, Dram.Base, DramEnd},
      {"boot services pool", -1, EfiBootServicesData, 0, EFI_SUCCESS, Dram.Base, DramEnd},
  };
  constexpr UINTN kPages = 2;
  for (const Case &Each : Cases) {
    SCOPED_TRACE(Each.What);
    EFI_PHYSICAL_ADDRESS Address = Each.Address;
    VOID *Buffer = nullptr;
    const EFI_STATUS Status = Each.Type < 0 ? BS->AllocatePool(Each.MemoryType, EFI_PAGE_SIZE, &Buffer)
                                            : BS->AllocatePages(static_cast<EFI_ALLOCATE_TYPE>(Each.Type),
                                                                Each.MemoryType, kPages, &Address);
    ASSERT_EQ(Status, Each.Status);
    if (EFI_ERROR(Status)) {
      continue;
    }
    Address = Each.Type < 0 ? reinterpret_cast<uint64_t>(Buffer) : Address;
    EXPECT_TRUE(Address >= Each.Low && Address <= Each.High) << std::hex << Address;
    EFI_GCD_MEMORY_SPACE_DESCRIPTOR Gcd{};
    ASSERT_EQ(Board.Gcd().GetMemorySpaceDescriptor(Address, &Gcd), EFI_SUCCESS);
    EXPECT_EQ(Gcd.GcdMemoryType, EfiGcdMemoryTypeSystemMemory);
    const bool Runtime =
        Each.MemoryType == EfiRuntimeServicesData || Each.MemoryType == EfiRuntimeServicesCode;
    bool Listed = false;
    for (const EFI_MEMORY_DESCRIPTOR &Entry : CurrentMemoryMap(BS)) {
      Listed |= Entry.Type == Each.MemoryType && Address >= Entry.PhysicalStart &&
                Address + EFI_PAGE_SIZE <= Entry.PhysicalStart + EFI_PAGES_TO_SIZE(Entry.NumberOfPages) &&
                ((Entry.Attribute & EFI_MEMORY_RUNTIME) != 0) == Runtime;
    }
    EXPECT_TRUE(Listed);
    EXPECT_EQ(Each.Type < 0 ? BS->FreePool(Buffer) : BS->FreePages(Address, kPages), EFI_SUCCESS);
  }
  EXPECT_EQ(BS->FreePages(Taken, 1), EFI_SUCCESS);
}

#if defined(__SANITIZE_ADDRESS__)
// Under the address sanitizer, pool carved from DRAM keeps its redzones and freed pool its
// poison: an overflow past the canary and a use after free are reported where they happen.
TEST_F(Memory, SanitizerReportsPoolOverflowsAndUseAfterFree) {
  VOID *Buffer = nullptr;
  ASSERT_EQ(BS->AllocatePool(EfiBootServicesData, 24, &Buffer), EFI_SUCCESS);
  auto *Bytes = static_cast<volatile uint8_t *>(Buffer);
  EXPECT_DEATH(Bytes[24 + sizeof(uint64_t)] = 0, "use-after-poison");
  EXPECT_DEATH((void)Bytes[-1], "use-after-poison");
  ASSERT_EQ(BS->FreePool(Buffer), EFI_SUCCESS);
  EXPECT_DEATH((void)Bytes[0], "use-after-poison");
}
#endif

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

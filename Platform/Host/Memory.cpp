// Pool and page allocation from the board's DRAM, accounted per image, and the memory map.
// Pages are placed top-down in the DRAM the core holds; pool buffers are carved front to back
// from chunks of pages of their pool type, each behind a poisoned redzone and followed by a
// canary, and a freed buffer stays poisoned until its whole chunk is given back.
#include "CoreInternal.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace host {

namespace {

constexpr size_t kHostAlignment = 16;
constexpr size_t kPoolAlignment = 8; // what UEFI promises; every other buffer is not 16-byte aligned
constexpr uint64_t kPoolCanary = 0x4C4F4F5052455645ull; // "EVERPOOL" right after each block
constexpr uint8_t kFreshFill = 0xAF;                    // new pool and pages are never silently zero
constexpr uint64_t kMaxPagesPerAllocation = (1ull << 30) / EFI_PAGE_SIZE;
constexpr uint64_t kPoolRedzone = 32; // poisoned bytes in front of every pool buffer
constexpr uint64_t kPoolChunkPages = 16;
constexpr uint64_t kOwnChunkAbove = EFI_PAGES_TO_SIZE(kPoolChunkPages) / 4; // larger blocks: a chunk each

constexpr UINTN kDescriptorSize = sizeof(EFI_MEMORY_DESCRIPTOR) + 8; // callers must honour DescriptorSize
constexpr UINT32 kDescriptorVersion = 1;

bool ValidPoolType(EFI_MEMORY_TYPE Type) {
  const UINT32 Value = Type;
  if (Value >= 0x70000000u) {
    return true; // OEM and OS-vendor ranges
  }
  return Value < EfiMaxMemoryType && Type != EfiConventionalMemory && Type != EfiPersistentMemory &&
         Type != EfiUnacceptedMemoryType;
}

uint64_t EndOf(const PageRange &Range) {
  return Range.Base + EFI_PAGES_TO_SIZE(Range.Pages);
}

std::string HexAddress(uint64_t Address) {
  char Text[24];
  std::snprintf(Text, sizeof(Text), "0x%llX", static_cast<unsigned long long>(Address));
  return Text;
}

} // namespace

void Platform::Impl::MemoryError(const std::string &Text) {
  MemoryErrors.push_back(Text);
  Errors.push_back("memory: " + Text);
  LogLine("memory error: " + Text);
}

void Platform::Impl::CheckMapChangeAllowed(const char *Service) {
  if (InExitBootServicesNotify) {
    Error("exit-boot-services notification",
          std::string(Service) + " inside the notification changes the memory map the OS loader holds");
  }
}

// Counts a valid allocation by firmware and tells whether it is the one chosen to fail.
bool Platform::Impl::InjectedAllocationFailure(EFI_HANDLE Owner, const char *Service, uint64_t Bytes) {
  const std::string Image = ImageNameOf(Owner);
  if (!FailAllocationImage.empty() && Image != FailAllocationImage) {
    return false;
  }
  if (++FirmwareAllocationCount != FailAllocationAt) {
    return false;
  }
  LogLine("fail-alloc: allocation " + std::to_string(FirmwareAllocationCount) + " (" + Service + " of " +
          std::to_string(Bytes) + " bytes by " + Image + ") fails with EFI_OUT_OF_RESOURCES");
  return true;
}

bool Platform::Impl::FindFreePages(uint64_t Pages, uint64_t MaxAddress, uint64_t &Address) const {
  const uint64_t Bytes = EFI_PAGES_TO_SIZE(Pages);
  const uint64_t Limit = MaxAddress >= Ram.End() - 1 ? Ram.End() : (MaxAddress + 1) & ~EFI_PAGE_MASK;
  uint64_t Top = Ram.End(); // the free gap below the ranges seen so far ends here
  for (auto Range = PageRanges.rbegin();; ++Range) {
    const bool Last = Range == PageRanges.rend();
    const uint64_t Bottom = Last ? Ram.Base() : std::max(Ram.Base(), EndOf(Range->second));
    const uint64_t High = std::min(Top, Limit);
    if (High > Bottom && High - Bottom >= Bytes) {
      Address = High - Bytes;
      return true;
    }
    if (Last || Range->first <= Ram.Base()) {
      return false;
    }
    Top = Range->first;
  }
}

bool Platform::Impl::PagesFree(uint64_t Address, uint64_t Pages) const {
  const uint64_t Bytes = EFI_PAGES_TO_SIZE(Pages);
  if (!Ram.Contains(Address, Bytes)) {
    return false;
  }
  auto Next = PageRanges.lower_bound(Address);
  if (Next != PageRanges.end() && Next->first < Address + Bytes) {
    return false;
  }
  return Next == PageRanges.begin() || EndOf(std::prev(Next)->second) <= Address;
}

void Platform::Impl::TakePages(const PageRange &Range) {
  PageRanges[Range.Base] = Range;
  MapKey++;
}

void Platform::Impl::ReturnPages(uint64_t Base, uint64_t Pages) {
  Ram.Release(Base, EFI_PAGES_TO_SIZE(Pages));
  MapKey++;
}

namespace {

// The chunk a block of Bytes is carved from: the type's open chunk when it has room, else a
// new one (the block's own when it is large). Null when DRAM is full.
PoolChunk *ChunkFor(Platform::Impl &Core, EFI_MEMORY_TYPE Type, uint64_t Bytes) {
  const uint64_t Needed = Bytes + kPoolRedzone; // the last block too has poison behind it
  const bool Own = Needed > kOwnChunkAbove;
  auto Open = Core.OpenPoolChunks.find(Type);
  if (!Own && Open != Core.OpenPoolChunks.end()) {
    PoolChunk &Chunk = Core.PoolChunks.at(Open->second);
    if (Chunk.Used + Needed <= Chunk.Bytes) {
      return &Chunk;
    }
    Core.OpenPoolChunks.erase(Open);
    if (Chunk.LiveBlocks == 0) {
      Core.PoolChunks.erase(Chunk.Base);
      Core.PageRanges.erase(Chunk.Base);
      Core.ReturnPages(Chunk.Base, EFI_SIZE_TO_PAGES(Chunk.Bytes));
    }
  }
  const uint64_t Pages = Own ? EFI_SIZE_TO_PAGES(Needed) : kPoolChunkPages;
  uint64_t Base = 0;
  if (!Core.FindFreePages(Pages, UINT64_MAX, Base)) {
    return nullptr;
  }
  Core.TakePages({Base, Pages, Type, nullptr, PageUse::Pool});
  Core.Ram.Poison(Base, EFI_PAGES_TO_SIZE(Pages));
  PoolChunk &Chunk = Core.PoolChunks[Base] = {Base, EFI_PAGES_TO_SIZE(Pages), 0, 0, Type};
  if (!Own) {
    Core.OpenPoolChunks[Type] = Base;
  }
  return &Chunk;
}

} // namespace

VOID *Platform::Impl::CarvePool(EFI_MEMORY_TYPE Type, size_t Size, EFI_HANDLE Owner) {
  const uint64_t Offset = (PoolCount++ % 2) * kPoolAlignment;
  const uint64_t Bytes = ALIGN_VALUE(kPoolRedzone + Offset + Size + sizeof(kPoolCanary), kHostAlignment);
  PoolChunk *Chunk = ChunkFor(*this, Type, Bytes);
  if (Chunk == nullptr) {
    return nullptr;
  }
  const uint64_t Start = Chunk->Base + Chunk->Used;
  Chunk->Used += Bytes;
  Chunk->LiveBlocks++;
  auto *Memory = static_cast<uint8_t *>(Ram.At(Start + kPoolRedzone + Offset));
  Ram.Unpoison(reinterpret_cast<uint64_t>(Memory), Size + sizeof(kPoolCanary));
  std::memset(Memory, kFreshFill, Size);
  std::memcpy(Memory + Size, &kPoolCanary, sizeof(kPoolCanary));
  Pool[Memory] = {Start, Bytes, Size, Type, Owner, Chunk->Base};
  FreedPool.erase(Memory);
  return Memory;
}

// The block is poisoned (a later access is a use after free) and its chunk given back once
// nothing in it is live and new buffers come from another.
void Platform::Impl::FreePoolBlock(const PoolBlock &Block) {
  Ram.Poison(Block.Base, Block.Bytes);
  PoolChunk &Chunk = PoolChunks.at(Block.Chunk);
  auto Open = OpenPoolChunks.find(Chunk.Type);
  if (--Chunk.LiveBlocks != 0 || (Open != OpenPoolChunks.end() && Open->second == Chunk.Base)) {
    return;
  }
  PageRanges.erase(Chunk.Base);
  ReturnPages(Chunk.Base, EFI_SIZE_TO_PAGES(Chunk.Bytes));
  PoolChunks.erase(Chunk.Base);
}

EFI_STATUS Platform::Impl::AllocatePool(EFI_HANDLE Owner, EFI_MEMORY_TYPE Type, UINTN Size, VOID **Buffer,
                                        bool FromFirmware) {
  if (Buffer == nullptr || !ValidPoolType(Type)) {
    return EFI_INVALID_PARAMETER;
  }
  if (Size > kMaxPagesPerAllocation * EFI_PAGE_SIZE ||
      (FromFirmware && InjectedAllocationFailure(Owner, "AllocatePool", Size))) {
    return EFI_OUT_OF_RESOURCES;
  }
  CheckMapChangeAllowed("AllocatePool");
  VOID *Memory = CarvePool(Type, Size, Owner);
  if (Memory == nullptr) {
    return EFI_OUT_OF_RESOURCES;
  }
  Stats[Owner].PoolBytes += Size;
  MapKey++;
  *Buffer = Memory;
  return EFI_SUCCESS;
}

EFI_STATUS Platform::Impl::FreePool(EFI_HANDLE Caller, VOID *Buffer) {
  Stats[Caller].FreePoolCalls++;
  const std::string Who = Stats[Caller].Name.empty() ? "core" : Stats[Caller].Name;
  char Address[32];
  std::snprintf(Address, sizeof(Address), "%p", Buffer);
  if (Buffer == nullptr) {
    MemoryError(Who + ": FreePool(NULL)");
    return EFI_INVALID_PARAMETER;
  }
  auto Found = Pool.find(Buffer);
  if (Found == Pool.end()) {
    if (FreedPool.count(Buffer) != 0) {
      MemoryError(Who + ": double free of pool buffer " + Address);
    } else {
      MemoryError(Who + ": FreePool of " + std::string(Address) + ", which is not a pool buffer");
    }
    return EFI_INVALID_PARAMETER;
  }
  CheckMapChangeAllowed("FreePool");
  const PoolBlock Block = Found->second;
  auto *Bytes = static_cast<uint8_t *>(Buffer);
  if (std::memcmp(Bytes + Block.Size, &kPoolCanary, sizeof(kPoolCanary)) != 0) {
    MemoryError(Who + ": pool buffer " + Address + " of " + std::to_string(Block.Size) +
                " bytes was written past its end");
  }
  Stats[Block.Owner].PoolBytes -= Block.Size;
  Pool.erase(Found);
  FreedPool.insert(Buffer);
  FreePoolBlock(Block);
  MapKey++;
  return EFI_SUCCESS;
}

bool Platform::Impl::IsPoolBuffer(const VOID *Buffer) const {
  return Pool.count(const_cast<VOID *>(Buffer)) != 0;
}

void Platform::Impl::TransferPool(VOID *Buffer, EFI_HANDLE NewOwner) {
  auto Found = Pool.find(Buffer);
  if (Found == Pool.end()) {
    return;
  }
  Stats[Found->second.Owner].PoolBytes -= Found->second.Size;
  Stats[NewOwner].PoolBytes += Found->second.Size;
  Found->second.Owner = NewOwner;
}

// Free system memory: AllocateAddress needs the whole range free in DRAM, the searches take
// the highest free range (below MaxAddress for AllocateMaxAddress).
EFI_STATUS Platform::Impl::AllocatePages(EFI_HANDLE Owner, EFI_ALLOCATE_TYPE Type, EFI_MEMORY_TYPE MemoryType,
                                         UINTN Pages, EFI_PHYSICAL_ADDRESS *Memory, bool FromFirmware) {
  if (Memory == nullptr || Type >= MaxAllocateType || !ValidPoolType(MemoryType) || Pages == 0) {
    return EFI_INVALID_PARAMETER;
  }
  if (Pages > kMaxPagesPerAllocation ||
      (FromFirmware && InjectedAllocationFailure(Owner, "AllocatePages", EFI_PAGES_TO_SIZE(Pages)))) {
    return EFI_OUT_OF_RESOURCES;
  }
  CheckMapChangeAllowed("AllocatePages");
  uint64_t Base = *Memory;
  bool Found = false;
  switch (Type) {
  case AllocateAnyPages:
    Found = FindFreePages(Pages, UINT64_MAX, Base);
    break;
  case AllocateMaxAddress:
    Found = FindFreePages(Pages, *Memory, Base);
    break;
  case AllocateAddress:
    Found = (Base & EFI_PAGE_MASK) == 0 && PagesFree(Base, Pages);
    break;
  default:
    return EFI_INVALID_PARAMETER;
  }
  if (!Found) {
    return Type == AllocateAnyPages ? EFI_OUT_OF_RESOURCES : EFI_NOT_FOUND;
  }
  const uint64_t Bytes = EFI_PAGES_TO_SIZE(Pages);
  TakePages({Base, Pages, MemoryType, Owner, PageUse::Pages});
  Ram.Unpoison(Base, Bytes);
  std::memset(Ram.At(Base), kFreshFill, Bytes);
  Stats[Owner].Pages += Pages;
  *Memory = Base;
  return EFI_SUCCESS;
}

EFI_STATUS Platform::Impl::FreePages(EFI_PHYSICAL_ADDRESS Memory, UINTN Pages) {
  if ((Memory & EFI_PAGE_MASK) != 0 || Pages == 0) {
    return EFI_INVALID_PARAMETER;
  }
  const uint64_t End = Memory + EFI_PAGES_TO_SIZE(Pages);
  auto Found = PageRanges.upper_bound(Memory);
  if (Found == PageRanges.begin()) {
    return EFI_NOT_FOUND;
  }
  --Found;
  PageRange Range = Found->second;
  const uint64_t RangeEnd = EndOf(Range);
  if (Memory < Range.Base || End > RangeEnd || End < Memory) {
    return EFI_NOT_FOUND;
  }
  if (Range.Use != PageUse::Pages) {
    MemoryError(CurrentImageName() + ": FreePages of " + HexAddress(Memory) + ", which holds " +
                (Range.Use == PageUse::Pool ? "pool buffers" : "the core's tables"));
    return EFI_NOT_FOUND;
  }
  CheckMapChangeAllowed("FreePages");
  PageRanges.erase(Found);
  if (Memory > Range.Base) {
    PageRanges[Range.Base] = {Range.Base, (Memory - Range.Base) / EFI_PAGE_SIZE, Range.Type, Range.Owner};
  }
  if (End < RangeEnd) {
    PageRanges[End] = {End, (RangeEnd - End) / EFI_PAGE_SIZE, Range.Type, Range.Owner};
  }
  ReturnPages(Memory, Pages);
  Stats[Range.Owner].Pages -= Pages;
  return EFI_SUCCESS;
}

void Platform::FailAllocation(uint64_t Nth, const std::string &Image) {
  Impl_->FailAllocationAt = Nth;
  Impl_->FailAllocationImage = Image;
}

uint64_t Platform::FirmwareAllocations() const {
  return Impl_->FirmwareAllocationCount;
}

void Platform::Impl::ReportLeaks(EFI_HANDLE Image, const std::string &When) {
  const ImageStats &Entry = Stats[Image];
  size_t Blocks =
      std::count_if(Pool.begin(), Pool.end(), [&](const auto &Item) { return Item.second.Owner == Image; });
  if (Entry.PoolBytes != 0 || Blocks != 0) {
    MemoryError(Entry.Name + " leaked " + std::to_string(Entry.PoolBytes) + " bytes of pool in " +
                std::to_string(Blocks) + " buffers " + When);
  }
  if (Entry.Pages != 0) {
    MemoryError(Entry.Name + " leaked " + std::to_string(Entry.Pages) + " pages " + When);
  }
}

// The end of the boot: DRAM goes with the platform, so only the records are dropped.
void Platform::Impl::ReleaseAllMemory() {
  Pool.clear();
  FreedPool.clear();
  PoolChunks.clear();
  OpenPoolChunks.clear();
  PageRanges.clear();
}

namespace {

bool IsRuntimeType(EFI_MEMORY_TYPE Type) {
  return Type == EfiRuntimeServicesCode || Type == EfiRuntimeServicesData;
}

// The memory map's attributes of a GCD range: what it can be mapped as, and whether the OS
// must keep it mapped for runtime services.
UINT64 MapAttributes(const EFI_GCD_MEMORY_SPACE_DESCRIPTOR &Gcd) {
  const UINT64 Capabilities = Gcd.Capabilities & ~EFI_MEMORY_RUNTIME;
  return (Capabilities != 0 ? Capabilities : EFI_MEMORY_WB) | (Gcd.Attributes & EFI_MEMORY_RUNTIME);
}

const EFI_GCD_MEMORY_SPACE_DESCRIPTOR *GcdRangeAt(const Platform::Impl &Core, uint64_t Address) {
  for (const EFI_GCD_MEMORY_SPACE_DESCRIPTOR &Entry : Core.Gcd->MemoryDescriptors()) {
    if (Address >= Entry.BaseAddress && Address - Entry.BaseAddress < Entry.Length) {
      return &Entry;
    }
  }
  return nullptr;
}

// Free system memory of one GCD range: the range less the page allocations inside it.
void AddFreeMemory(const Platform::Impl &Core, const EFI_GCD_MEMORY_SPACE_DESCRIPTOR &Range,
                   std::vector<EFI_MEMORY_DESCRIPTOR> &Map) {
  const uint64_t End = Range.BaseAddress + Range.Length;
  uint64_t Cursor = Range.BaseAddress;
  auto AddFree = [&](uint64_t From, uint64_t To) {
    if (To > From) {
      Map.push_back({EfiConventionalMemory, From, 0, (To - From) / EFI_PAGE_SIZE, MapAttributes(Range)});
    }
  };
  for (const auto &[Base, Allocation] : Core.PageRanges) {
    const uint64_t AllocationEnd = Base + EFI_PAGES_TO_SIZE(Allocation.Pages);
    if (AllocationEnd <= Cursor || Base >= End) {
      continue;
    }
    AddFree(Cursor, Base);
    Cursor = std::max(Cursor, AllocationEnd);
  }
  AddFree(Cursor, End);
}

// The UEFI memory map, derived from the GCD memory space map and the page allocations: system
// memory (free or allocated), reserved and persistent memory, and memory-mapped I/O only where
// the platform declared it runtime.
std::vector<EFI_MEMORY_DESCRIPTOR> BuildMemoryMap(const Platform::Impl &Core) {
  std::vector<EFI_MEMORY_DESCRIPTOR> Map;
  for (const auto &[Base, Range] : Core.PageRanges) {
    const EFI_GCD_MEMORY_SPACE_DESCRIPTOR *Gcd = GcdRangeAt(Core, Base);
    UINT64 Attributes = Gcd != nullptr ? MapAttributes(*Gcd) & ~EFI_MEMORY_RUNTIME : EFI_MEMORY_WB;
    Attributes |= IsRuntimeType(Range.Type) ? EFI_MEMORY_RUNTIME : 0;
    Map.push_back({Range.Type, Base, 0, Range.Pages, Attributes});
  }
  for (const EFI_GCD_MEMORY_SPACE_DESCRIPTOR &Range : Core.Gcd->MemoryDescriptors()) {
    const uint64_t Pages = Range.Length / EFI_PAGE_SIZE;
    switch (Range.GcdMemoryType) {
    case EfiGcdMemoryTypeSystemMemory:
      AddFreeMemory(Core, Range, Map);
      break;
    case EfiGcdMemoryTypeMemoryMappedIo:
      if ((Range.Attributes & EFI_MEMORY_RUNTIME) != 0) {
        Map.push_back({EfiMemoryMappedIO, Range.BaseAddress, 0, Pages, MapAttributes(Range)});
      }
      break;
    case EfiGcdMemoryTypeReserved:
      Map.push_back({EfiReservedMemoryType, Range.BaseAddress, 0, Pages, MapAttributes(Range)});
      break;
    case EfiGcdMemoryTypePersistent:
      Map.push_back({EfiPersistentMemory, Range.BaseAddress, 0, Pages, MapAttributes(Range)});
      break;
    default:
      break;
    }
  }
  std::sort(Map.begin(), Map.end(),
            [](const auto &A, const auto &B) { return A.PhysicalStart < B.PhysicalStart; });
  return Map;
}

} // namespace

std::vector<EFI_MEMORY_DESCRIPTOR> Platform::Impl::MemoryMap() const {
  return BuildMemoryMap(*this);
}

namespace {

// Whether the call came from firmware code (an image), not from a host producer or a test.
bool FromFirmware(const void *ReturnAddress) {
  return host::CoreAlive() && host::Core().ImageFromAddress(ReturnAddress) != nullptr;
}

EFI_STATUS EFIAPI AllocatePool(EFI_MEMORY_TYPE PoolType, UINTN Size, VOID **Buffer) {
  EFI_HANDLE Caller = host::CoreAlive() ? host::Core().CallerImage(__builtin_return_address(0)) : nullptr;
  const bool Firmware = FromFirmware(__builtin_return_address(0));
  CORE_BOOT_SERVICE("AllocatePool");
  return Core.AllocatePool(Caller, PoolType, Size, Buffer, Firmware);
}

EFI_STATUS EFIAPI FreePool(VOID *Buffer) {
  EFI_HANDLE Caller = host::CoreAlive() ? host::Core().CallerImage(__builtin_return_address(0)) : nullptr;
  CORE_BOOT_SERVICE("FreePool");
  return Core.FreePool(Caller, Buffer);
}

EFI_STATUS EFIAPI AllocatePages(EFI_ALLOCATE_TYPE Type, EFI_MEMORY_TYPE MemoryType, UINTN Pages,
                                EFI_PHYSICAL_ADDRESS *Memory) {
  EFI_HANDLE Caller = host::CoreAlive() ? host::Core().CallerImage(__builtin_return_address(0)) : nullptr;
  const bool Firmware = FromFirmware(__builtin_return_address(0));
  CORE_BOOT_SERVICE("AllocatePages");
  return Core.AllocatePages(Caller, Type, MemoryType, Pages, Memory, Firmware);
}

EFI_STATUS EFIAPI FreePages(EFI_PHYSICAL_ADDRESS Memory, UINTN Pages) {
  CORE_BOOT_SERVICE("FreePages");
  return Core.FreePages(Memory, Pages);
}

EFI_STATUS EFIAPI GetMemoryMap(UINTN *MemoryMapSize, EFI_MEMORY_DESCRIPTOR *MemoryMap, UINTN *MapKey,
                               UINTN *DescriptorSize, UINT32 *DescriptorVersion) {
  CORE_BOOT_SERVICE("GetMemoryMap");
  if (MemoryMapSize == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  std::vector<EFI_MEMORY_DESCRIPTOR> Map = BuildMemoryMap(Core);
  const UINTN Needed = Map.size() * kDescriptorSize;
  if (DescriptorSize != nullptr) {
    *DescriptorSize = kDescriptorSize;
  }
  if (DescriptorVersion != nullptr) {
    *DescriptorVersion = kDescriptorVersion;
  }
  if (*MemoryMapSize < Needed) {
    *MemoryMapSize = Needed;
    return EFI_BUFFER_TOO_SMALL;
  }
  if (MemoryMap == nullptr || MapKey == nullptr || DescriptorSize == nullptr ||
      DescriptorVersion == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  auto *Out = reinterpret_cast<uint8_t *>(MemoryMap);
  std::memset(Out, 0, Needed);
  for (size_t Index = 0; Index < Map.size(); Index++) {
    std::memcpy(Out + Index * kDescriptorSize, &Map[Index], sizeof(EFI_MEMORY_DESCRIPTOR));
  }
  *MemoryMapSize = Needed;
  *MapKey = Core.MapKey;
  return EFI_SUCCESS;
}

} // namespace

void Platform::Impl::FillMemoryServices() {
  BootServices.AllocatePool = host::AllocatePool;
  BootServices.FreePool = host::FreePool;
  BootServices.AllocatePages = host::AllocatePages;
  BootServices.FreePages = host::FreePages;
  BootServices.GetMemoryMap = host::GetMemoryMap;
}

} // namespace host

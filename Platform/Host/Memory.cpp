// Pool and page allocation from the board's DRAM, accounted per image, and the memory map.
// Pages are placed top-down in the DRAM the core holds; pool buffers are carved front to back
// from chunks of pages of their pool type, each behind a poisoned redzone and followed by a
// canary, and a freed buffer stays poisoned until its whole chunk is given back.
#include "CoreMemory.h"

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

void CoreMemory::MemoryError(const std::string &Text) {
  MemoryErrors_.push_back(Text);
  Report_.AddError("memory: " + Text);
  Report_.LogLine("memory error: " + Text);
}

void CoreMemory::CheckMapChangeAllowed(const char *Service) {
  if (MapFrozen_) {
    Report_.Error("exit-boot-services notification",
                  std::string(Service) +
                      " inside the notification changes the memory map the OS loader holds");
  }
}

// Counts a valid allocation by firmware and tells whether it is the one chosen to fail.
bool CoreMemory::InjectedAllocationFailure(EFI_HANDLE Owner, const char *Service, uint64_t Bytes) {
  const std::string Image = NameOf(Owner);
  if (!FailAllocationImage_.empty() && Image != FailAllocationImage_) {
    return false;
  }
  if (++FirmwareAllocationCount_ != FailAllocationAt_) {
    return false;
  }
  Report_.LogLine("fail-alloc: allocation " + std::to_string(FirmwareAllocationCount_) + " (" + Service +
                  " of " + std::to_string(Bytes) + " bytes by " + Image +
                  ") fails with EFI_OUT_OF_RESOURCES");
  return true;
}

bool CoreMemory::FindFreePages(uint64_t Pages, uint64_t MaxAddress, uint64_t &Address) const {
  const uint64_t Bytes = EFI_PAGES_TO_SIZE(Pages);
  const uint64_t Limit = MaxAddress >= Ram_.End() - 1 ? Ram_.End() : (MaxAddress + 1) & ~EFI_PAGE_MASK;
  uint64_t Top = Ram_.End(); // the free gap below the ranges seen so far ends here
  for (auto Range = PageRanges_.rbegin();; ++Range) {
    const bool Last = Range == PageRanges_.rend();
    const uint64_t Bottom = Last ? Ram_.Base() : std::max(Ram_.Base(), EndOf(Range->second));
    const uint64_t High = std::min(Top, Limit);
    if (High > Bottom && High - Bottom >= Bytes) {
      Address = High - Bytes;
      return true;
    }
    if (Last || Range->first <= Ram_.Base()) {
      return false;
    }
    Top = Range->first;
  }
}

bool CoreMemory::PagesFree(uint64_t Address, uint64_t Pages) const {
  const uint64_t Bytes = EFI_PAGES_TO_SIZE(Pages);
  if (!Ram_.Contains(Address, Bytes)) {
    return false;
  }
  auto Next = PageRanges_.lower_bound(Address);
  if (Next != PageRanges_.end() && Next->first < Address + Bytes) {
    return false;
  }
  return Next == PageRanges_.begin() || EndOf(std::prev(Next)->second) <= Address;
}

void CoreMemory::TakePages(const PageRange &Range) {
  PageRanges_[Range.Base] = Range;
  MapKey_++;
}

void CoreMemory::ReturnPages(uint64_t Base, uint64_t Pages) {
  Ram_.Release(Base, EFI_PAGES_TO_SIZE(Pages));
  MapKey_++;
}

// The chunk a block of Bytes is carved from: the type's open chunk when it has room, else a
// new one (the block's own when it is large). Null when DRAM is full.
PoolChunk *CoreMemory::ChunkFor(EFI_MEMORY_TYPE Type, uint64_t Bytes) {
  const uint64_t Needed = Bytes + kPoolRedzone; // the last block too has poison behind it
  const bool Own = Needed > kOwnChunkAbove;
  auto Open = OpenPoolChunks_.find(Type);
  if (!Own && Open != OpenPoolChunks_.end()) {
    PoolChunk &Chunk = PoolChunks_.at(Open->second);
    if (Chunk.Used + Needed <= Chunk.Bytes) {
      return &Chunk;
    }
    OpenPoolChunks_.erase(Open);
    if (Chunk.LiveBlocks == 0) {
      PoolChunks_.erase(Chunk.Base);
      PageRanges_.erase(Chunk.Base);
      ReturnPages(Chunk.Base, EFI_SIZE_TO_PAGES(Chunk.Bytes));
    }
  }
  const uint64_t Pages = Own ? EFI_SIZE_TO_PAGES(Needed) : kPoolChunkPages;
  uint64_t Base = 0;
  if (!FindFreePages(Pages, UINT64_MAX, Base)) {
    return nullptr;
  }
  TakePages({Base, Pages, Type, nullptr, PageUse::Pool});
  Ram_.Poison(Base, EFI_PAGES_TO_SIZE(Pages));
  PoolChunk &Chunk = PoolChunks_[Base] = {Base, EFI_PAGES_TO_SIZE(Pages), 0, 0, Type};
  if (!Own) {
    OpenPoolChunks_[Type] = Base;
  }
  return &Chunk;
}

VOID *CoreMemory::CarvePool(EFI_MEMORY_TYPE Type, size_t Size, EFI_HANDLE Owner) {
  const uint64_t Offset = (PoolCount_++ % 2) * kPoolAlignment;
  const uint64_t Bytes = ALIGN_VALUE(kPoolRedzone + Offset + Size + sizeof(kPoolCanary), kHostAlignment);
  PoolChunk *Chunk = ChunkFor(Type, Bytes);
  if (Chunk == nullptr) {
    return nullptr;
  }
  const uint64_t Start = Chunk->Base + Chunk->Used;
  Chunk->Used += Bytes;
  Chunk->LiveBlocks++;
  auto *Memory = static_cast<uint8_t *>(Ram_.At(Start + kPoolRedzone + Offset));
  Ram_.Unpoison(reinterpret_cast<uint64_t>(Memory), Size + sizeof(kPoolCanary));
  std::memset(Memory, kFreshFill, Size);
  std::memcpy(Memory + Size, &kPoolCanary, sizeof(kPoolCanary));
  Pool_[Memory] = {Start, Bytes, Size, Type, Owner, Chunk->Base};
  FreedPool_.erase(Memory);
  return Memory;
}

// The block is poisoned (a later access is a use after free) and its chunk given back once
// nothing in it is live and new buffers come from another.
void CoreMemory::FreePoolBlock(const PoolBlock &Block) {
  Ram_.Poison(Block.Base, Block.Bytes);
  PoolChunk &Chunk = PoolChunks_.at(Block.Chunk);
  auto Open = OpenPoolChunks_.find(Chunk.Type);
  if (--Chunk.LiveBlocks != 0 || (Open != OpenPoolChunks_.end() && Open->second == Chunk.Base)) {
    return;
  }
  PageRanges_.erase(Chunk.Base);
  ReturnPages(Chunk.Base, EFI_SIZE_TO_PAGES(Chunk.Bytes));
  PoolChunks_.erase(Chunk.Base);
}

EFI_STATUS CoreMemory::AllocatePool(EFI_HANDLE Owner, EFI_MEMORY_TYPE Type, UINTN Size, VOID **Buffer,
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
  Stats_[Owner].PoolBytes += Size;
  MapKey_++;
  *Buffer = Memory;
  return EFI_SUCCESS;
}

EFI_STATUS CoreMemory::FreePool(EFI_HANDLE Caller, VOID *Buffer) {
  Stats_[Caller].FreePoolCalls++;
  const std::string Who = Stats_[Caller].Name.empty() ? "core" : Stats_[Caller].Name;
  char Address[32];
  std::snprintf(Address, sizeof(Address), "%p", Buffer);
  if (Buffer == nullptr) {
    MemoryError(Who + ": FreePool(NULL)");
    return EFI_INVALID_PARAMETER;
  }
  auto Found = Pool_.find(Buffer);
  if (Found == Pool_.end()) {
    if (FreedPool_.count(Buffer) != 0) {
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
  Stats_[Block.Owner].PoolBytes -= Block.Size;
  Pool_.erase(Found);
  FreedPool_.insert(Buffer);
  FreePoolBlock(Block);
  MapKey_++;
  return EFI_SUCCESS;
}

bool CoreMemory::IsPoolBuffer(const VOID *Buffer) const {
  return Pool_.count(const_cast<VOID *>(Buffer)) != 0;
}

void CoreMemory::TransferPool(VOID *Buffer, EFI_HANDLE NewOwner) {
  auto Found = Pool_.find(Buffer);
  if (Found == Pool_.end()) {
    return;
  }
  Stats_[Found->second.Owner].PoolBytes -= Found->second.Size;
  Stats_[NewOwner].PoolBytes += Found->second.Size;
  Found->second.Owner = NewOwner;
}

// Free system memory: AllocateAddress needs the whole range free in DRAM, the searches take
// the highest free range (below MaxAddress for AllocateMaxAddress).
EFI_STATUS CoreMemory::AllocatePages(EFI_HANDLE Owner, EFI_ALLOCATE_TYPE Type, EFI_MEMORY_TYPE MemoryType,
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
  Ram_.Unpoison(Base, Bytes);
  std::memset(Ram_.At(Base), kFreshFill, Bytes);
  Stats_[Owner].Pages += Pages;
  *Memory = Base;
  return EFI_SUCCESS;
}

EFI_STATUS CoreMemory::FreePages(EFI_PHYSICAL_ADDRESS Memory, UINTN Pages) {
  if ((Memory & EFI_PAGE_MASK) != 0 || Pages == 0) {
    return EFI_INVALID_PARAMETER;
  }
  const uint64_t End = Memory + EFI_PAGES_TO_SIZE(Pages);
  auto Found = PageRanges_.upper_bound(Memory);
  if (Found == PageRanges_.begin()) {
    return EFI_NOT_FOUND;
  }
  --Found;
  PageRange Range = Found->second;
  const uint64_t RangeEnd = EndOf(Range);
  if (Memory < Range.Base || End > RangeEnd || End < Memory) {
    return EFI_NOT_FOUND;
  }
  if (Range.Use != PageUse::Pages) {
    MemoryError(Report_.CurrentImageName() + ": FreePages of " + HexAddress(Memory) + ", which holds " +
                (Range.Use == PageUse::Pool ? "pool buffers" : "the core's tables"));
    return EFI_NOT_FOUND;
  }
  CheckMapChangeAllowed("FreePages");
  PageRanges_.erase(Found);
  if (Memory > Range.Base) {
    PageRanges_[Range.Base] = {Range.Base, (Memory - Range.Base) / EFI_PAGE_SIZE, Range.Type, Range.Owner};
  }
  if (End < RangeEnd) {
    PageRanges_[End] = {End, (RangeEnd - End) / EFI_PAGE_SIZE, Range.Type, Range.Owner};
  }
  ReturnPages(Memory, Pages);
  Stats_[Range.Owner].Pages -= Pages;
  return EFI_SUCCESS;
}

void CoreMemory::FailAllocation(uint64_t Nth, const std::string &Image) {
  FailAllocationAt_ = Nth;
  FailAllocationImage_ = Image;
}

const ImageStats *CoreMemory::FindStats(EFI_HANDLE Image) const {
  auto Found = Stats_.find(Image);
  return Found != Stats_.end() ? &Found->second : nullptr;
}

std::string CoreMemory::NameOf(EFI_HANDLE Image) const {
  const ImageStats *Entry = FindStats(Image);
  return (Entry != nullptr && !Entry->Name.empty()) ? Entry->Name : "core";
}

size_t CoreMemory::AllocatedSpan(const void *Address, size_t Limit) const {
  const auto At = reinterpret_cast<uintptr_t>(Address);
  for (const auto &[Buffer, Block] : Pool_) {
    const auto Start = reinterpret_cast<uintptr_t>(Buffer);
    if (At >= Start && At < Start + Block.Size) {
      return std::min<size_t>(Start + Block.Size - At, Limit);
    }
  }
  auto Range = PageRanges_.upper_bound(At);
  if (Range == PageRanges_.begin()) {
    return 0;
  }
  --Range;
  const uint64_t End = Range->second.Base + EFI_PAGES_TO_SIZE(Range->second.Pages);
  return At < End ? std::min<size_t>(End - At, Limit) : 0;
}

void CoreMemory::ReportLeaks(EFI_HANDLE Image, const std::string &When) {
  const ImageStats &Entry = Stats_[Image];
  size_t Blocks =
      std::count_if(Pool_.begin(), Pool_.end(), [&](const auto &Item) { return Item.second.Owner == Image; });
  if (Entry.PoolBytes != 0 || Blocks != 0) {
    MemoryError(Entry.Name + " leaked " + std::to_string(Entry.PoolBytes) + " bytes of pool in " +
                std::to_string(Blocks) + " buffers " + When);
  }
  if (Entry.Pages != 0) {
    MemoryError(Entry.Name + " leaked " + std::to_string(Entry.Pages) + " pages " + When);
  }
}

void CoreMemory::ReleaseAll() {
  Pool_.clear();
  FreedPool_.clear();
  PoolChunks_.clear();
  OpenPoolChunks_.clear();
  PageRanges_.clear();
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

const EFI_GCD_MEMORY_SPACE_DESCRIPTOR *GcdRangeAt(const GcdMap &Gcd, uint64_t Address) {
  for (const EFI_GCD_MEMORY_SPACE_DESCRIPTOR &Entry : Gcd.MemoryDescriptors()) {
    if (Address >= Entry.BaseAddress && Address - Entry.BaseAddress < Entry.Length) {
      return &Entry;
    }
  }
  return nullptr;
}

} // namespace

// Free system memory of one GCD range: the range less the page allocations inside it.
void CoreMemory::AddFreeMemory(const EFI_GCD_MEMORY_SPACE_DESCRIPTOR &Range,
                               std::vector<EFI_MEMORY_DESCRIPTOR> &Map) const {
  const uint64_t End = Range.BaseAddress + Range.Length;
  uint64_t Cursor = Range.BaseAddress;
  auto AddFree = [&](uint64_t From, uint64_t To) {
    if (To > From) {
      Map.push_back({EfiConventionalMemory, From, 0, (To - From) / EFI_PAGE_SIZE, MapAttributes(Range)});
    }
  };
  for (const auto &[Base, Allocation] : PageRanges_) {
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
std::vector<EFI_MEMORY_DESCRIPTOR> CoreMemory::MemoryMap() const {
  std::vector<EFI_MEMORY_DESCRIPTOR> Map;
  for (const auto &[Base, Range] : PageRanges_) {
    const EFI_GCD_MEMORY_SPACE_DESCRIPTOR *Gcd = GcdRangeAt(Gcd_, Base);
    UINT64 Attributes = Gcd != nullptr ? MapAttributes(*Gcd) & ~EFI_MEMORY_RUNTIME : EFI_MEMORY_WB;
    Attributes |= IsRuntimeType(Range.Type) ? EFI_MEMORY_RUNTIME : 0;
    Map.push_back({Range.Type, Base, 0, Range.Pages, Attributes});
  }
  for (const EFI_GCD_MEMORY_SPACE_DESCRIPTOR &Range : Gcd_.MemoryDescriptors()) {
    const uint64_t Pages = Range.Length / EFI_PAGE_SIZE;
    switch (Range.GcdMemoryType) {
    case EfiGcdMemoryTypeSystemMemory:
      AddFreeMemory(Range, Map);
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

namespace {

// Whether the call came from firmware code (an image), not from a host producer or a test.
bool FromFirmware(const void *ReturnAddress) {
  return host::CoreAlive() && host::Core().Images.FirmwareCaller(ReturnAddress) != nullptr;
}

EFI_STATUS EFIAPI AllocatePool(EFI_MEMORY_TYPE PoolType, UINTN Size, VOID **Buffer) {
  EFI_HANDLE Caller =
      host::CoreAlive() ? host::Core().Images.CallerImage(__builtin_return_address(0)) : nullptr;
  const bool Firmware = FromFirmware(__builtin_return_address(0));
  CORE_BOOT_SERVICE("AllocatePool");
  return Core.Memory.AllocatePool(Caller, PoolType, Size, Buffer, Firmware);
}

EFI_STATUS EFIAPI FreePool(VOID *Buffer) {
  EFI_HANDLE Caller =
      host::CoreAlive() ? host::Core().Images.CallerImage(__builtin_return_address(0)) : nullptr;
  CORE_BOOT_SERVICE("FreePool");
  return Core.Memory.FreePool(Caller, Buffer);
}

EFI_STATUS EFIAPI AllocatePages(EFI_ALLOCATE_TYPE Type, EFI_MEMORY_TYPE MemoryType, UINTN Pages,
                                EFI_PHYSICAL_ADDRESS *Memory) {
  EFI_HANDLE Caller =
      host::CoreAlive() ? host::Core().Images.CallerImage(__builtin_return_address(0)) : nullptr;
  const bool Firmware = FromFirmware(__builtin_return_address(0));
  CORE_BOOT_SERVICE("AllocatePages");
  return Core.Memory.AllocatePages(Caller, Type, MemoryType, Pages, Memory, Firmware);
}

EFI_STATUS EFIAPI FreePages(EFI_PHYSICAL_ADDRESS Memory, UINTN Pages) {
  CORE_BOOT_SERVICE("FreePages");
  return Core.Memory.FreePages(Memory, Pages);
}

EFI_STATUS EFIAPI GetMemoryMap(UINTN *MemoryMapSize, EFI_MEMORY_DESCRIPTOR *MemoryMap, UINTN *MapKey,
                               UINTN *DescriptorSize, UINT32 *DescriptorVersion) {
  CORE_BOOT_SERVICE("GetMemoryMap");
  if (MemoryMapSize == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  std::vector<EFI_MEMORY_DESCRIPTOR> Map = Core.Memory.MemoryMap();
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
  *MapKey = Core.Memory.MapKey();
  return EFI_SUCCESS;
}

} // namespace

void CoreMemory::FillServices(EFI_BOOT_SERVICES &BootServices) {
  BootServices.AllocatePool = host::AllocatePool;
  BootServices.FreePool = host::FreePool;
  BootServices.AllocatePages = host::AllocatePages;
  BootServices.FreePages = host::FreePages;
  BootServices.GetMemoryMap = host::GetMemoryMap;
}

} // namespace host

// Pool and page allocation from real host memory, accounted per image, and the memory map.
#include "CoreInternal.h"

#include <sys/mman.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace host {

namespace {

constexpr size_t kPoolAlignment = 16;
constexpr uint64_t kPoolCanary = 0x4C4F4F5052455645ull; // "EVERPOOL" right after each block
constexpr uint8_t kFreshPoolFill = 0xAF;                // new pool is never silently zero
constexpr uint64_t kMaxPagesPerAllocation = (1ull << 30) / EFI_PAGE_SIZE;
constexpr uint64_t kMaxAddressSearchStep = 64ull << 20;
constexpr int kMaxAddressSearchTries = 256;
constexpr uint64_t kLowestSearchAddress = 0x10000000;

// The RAM the memory map reports as free, around what the firmware allocated.
constexpr uint64_t kRamBase = 0x80000000ull;
constexpr uint64_t kRamSize = 0x80000000ull;
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

void *MapAt(uint64_t Address, uint64_t Bytes, bool Fixed) {
  int Flags = MAP_PRIVATE | MAP_ANONYMOUS | (Fixed ? MAP_FIXED_NOREPLACE : 0);
  void *Memory = mmap(reinterpret_cast<void *>(Address), Bytes, PROT_READ | PROT_WRITE, Flags, -1, 0);
  if (Memory == MAP_FAILED) {
    return nullptr;
  }
  if (Fixed && reinterpret_cast<uint64_t>(Memory) != Address) {
    munmap(Memory, Bytes);
    return nullptr;
  }
  return Memory;
}

// Host memory below MaxAddress: the kernel's choice when it fits, otherwise a search downwards.
void *MapBelow(uint64_t MaxAddress, uint64_t Bytes) {
  if (void *Memory = MapAt(0, Bytes, false)) {
    if (reinterpret_cast<uint64_t>(Memory) + Bytes - 1 <= MaxAddress) {
      return Memory;
    }
    munmap(Memory, Bytes);
  }
  if (MaxAddress < Bytes) {
    return nullptr;
  }
  uint64_t Candidate = (MaxAddress - Bytes + 1) & ~(uint64_t)(EFI_PAGE_SIZE - 1);
  for (int Try = 0; Try < kMaxAddressSearchTries && Candidate >= kLowestSearchAddress; Try++) {
    if (void *Memory = MapAt(Candidate, Bytes, true)) {
      return Memory;
    }
    Candidate -= kMaxAddressSearchStep;
  }
  return nullptr;
}

} // namespace

void Platform::Impl::MemoryError(const std::string &Text) {
  MemoryErrors.push_back(Text);
  LogLine("memory error: " + Text);
}

EFI_STATUS Platform::Impl::AllocatePool(EFI_HANDLE Owner, EFI_MEMORY_TYPE Type, UINTN Size, VOID **Buffer) {
  if (Buffer == nullptr || !ValidPoolType(Type)) {
    return EFI_INVALID_PARAMETER;
  }
  if (Size > kMaxPagesPerAllocation * EFI_PAGE_SIZE) {
    return EFI_OUT_OF_RESOURCES;
  }
  size_t Total = ALIGN_VALUE(Size + sizeof(kPoolCanary), kPoolAlignment);
  auto *Memory = static_cast<uint8_t *>(std::aligned_alloc(kPoolAlignment, Total));
  if (Memory == nullptr) {
    return EFI_OUT_OF_RESOURCES;
  }
  std::memset(Memory, kFreshPoolFill, Size);
  std::memcpy(Memory + Size, &kPoolCanary, sizeof(kPoolCanary));
  Pool[Memory] = {Size, Type, Owner};
  FreedPool.erase(Memory);
  Stats[Owner].PoolBytes += Size;
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
  const PoolBlock Block = Found->second;
  auto *Bytes = static_cast<uint8_t *>(Buffer);
  if (std::memcmp(Bytes + Block.Size, &kPoolCanary, sizeof(kPoolCanary)) != 0) {
    MemoryError(Who + ": pool buffer " + Address + " of " + std::to_string(Block.Size) +
                " bytes was written past its end");
  }
  Stats[Block.Owner].PoolBytes -= Block.Size;
  Pool.erase(Found);
  FreedPool.insert(Buffer);
  std::free(Buffer);
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

EFI_STATUS Platform::Impl::AllocatePages(EFI_HANDLE Owner, EFI_ALLOCATE_TYPE Type, EFI_MEMORY_TYPE MemoryType,
                                         UINTN Pages, EFI_PHYSICAL_ADDRESS *Memory) {
  if (Memory == nullptr || Type >= MaxAllocateType || !ValidPoolType(MemoryType) || Pages == 0) {
    return EFI_INVALID_PARAMETER;
  }
  if (Pages > kMaxPagesPerAllocation) {
    return EFI_OUT_OF_RESOURCES;
  }
  const uint64_t Bytes = EFI_PAGES_TO_SIZE(Pages);
  void *Mapped = nullptr;
  switch (Type) {
  case AllocateAnyPages:
    Mapped = MapAt(0, Bytes, false);
    break;
  case AllocateMaxAddress:
    Mapped = MapBelow(*Memory, Bytes);
    break;
  case AllocateAddress:
    if ((*Memory & (EFI_PAGE_SIZE - 1)) != 0) {
      return EFI_NOT_FOUND;
    }
    Mapped = MapAt(*Memory, Bytes, true);
    break;
  default:
    return EFI_INVALID_PARAMETER;
  }
  if (Mapped == nullptr) {
    return Type == AllocateAnyPages ? EFI_OUT_OF_RESOURCES : EFI_NOT_FOUND;
  }
  const uint64_t Base = reinterpret_cast<uint64_t>(Mapped);
  PageRanges[Base] = {Base, Pages, MemoryType, Owner};
  Stats[Owner].Pages += Pages;
  MapKey++;
  *Memory = Base;
  return EFI_SUCCESS;
}

EFI_STATUS Platform::Impl::FreePages(EFI_PHYSICAL_ADDRESS Memory, UINTN Pages) {
  if ((Memory & (EFI_PAGE_SIZE - 1)) != 0 || Pages == 0) {
    return EFI_INVALID_PARAMETER;
  }
  const uint64_t End = Memory + EFI_PAGES_TO_SIZE(Pages);
  auto Found = PageRanges.upper_bound(Memory);
  if (Found == PageRanges.begin()) {
    return EFI_NOT_FOUND;
  }
  --Found;
  PageRange Range = Found->second;
  const uint64_t RangeEnd = Range.Base + EFI_PAGES_TO_SIZE(Range.Pages);
  if (Memory < Range.Base || End > RangeEnd || End < Memory) {
    return EFI_NOT_FOUND;
  }
  PageRanges.erase(Found);
  if (Memory > Range.Base) {
    PageRanges[Range.Base] = {Range.Base, (Memory - Range.Base) / EFI_PAGE_SIZE, Range.Type, Range.Owner};
  }
  if (End < RangeEnd) {
    PageRanges[End] = {End, (RangeEnd - End) / EFI_PAGE_SIZE, Range.Type, Range.Owner};
  }
  munmap(reinterpret_cast<void *>(Memory), End - Memory);
  Stats[Range.Owner].Pages -= Pages;
  MapKey++;
  return EFI_SUCCESS;
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

void Platform::Impl::ReleaseAllMemory() {
  for (auto &[Address, Block] : Pool) {
    std::free(Address);
  }
  Pool.clear();
  for (auto &[Base, Range] : PageRanges) {
    munmap(reinterpret_cast<void *>(Base), EFI_PAGES_TO_SIZE(Range.Pages));
  }
  PageRanges.clear();
}

namespace {

std::vector<EFI_MEMORY_DESCRIPTOR> BuildMemoryMap(const Platform::Impl &Core) {
  std::vector<EFI_MEMORY_DESCRIPTOR> Map;
  for (const auto &[Base, Range] : Core.PageRanges) {
    Map.push_back({Range.Type, Base, 0, Range.Pages, EFI_MEMORY_WB});
  }
  for (const Attachment &Device : Core.Attachments) {
    uint64_t Base = Device.Base & ~(uint64_t)(EFI_PAGE_SIZE - 1);
    uint64_t Pages = EFI_SIZE_TO_PAGES(Device.Base + Device.Size - Base);
    Map.push_back({EfiMemoryMappedIO, Base, 0, Pages, EFI_MEMORY_UC | EFI_MEMORY_RUNTIME});
  }
  // Free RAM, less whatever already lies inside it.
  std::vector<EFI_MEMORY_DESCRIPTOR> Used = Map;
  std::sort(Used.begin(), Used.end(),
            [](const auto &A, const auto &B) { return A.PhysicalStart < B.PhysicalStart; });
  uint64_t Cursor = kRamBase;
  const uint64_t RamEnd = kRamBase + kRamSize;
  for (const EFI_MEMORY_DESCRIPTOR &Entry : Used) {
    uint64_t Start = Entry.PhysicalStart;
    uint64_t End = Start + EFI_PAGES_TO_SIZE(Entry.NumberOfPages);
    if (End <= Cursor || Start >= RamEnd) {
      continue;
    }
    if (Start > Cursor) {
      Map.push_back({EfiConventionalMemory, Cursor, 0, (Start - Cursor) / EFI_PAGE_SIZE, EFI_MEMORY_WB});
    }
    Cursor = std::max(Cursor, End);
  }
  if (Cursor < RamEnd) {
    Map.push_back({EfiConventionalMemory, Cursor, 0, (RamEnd - Cursor) / EFI_PAGE_SIZE, EFI_MEMORY_WB});
  }
  std::sort(Map.begin(), Map.end(),
            [](const auto &A, const auto &B) { return A.PhysicalStart < B.PhysicalStart; });
  return Map;
}

EFI_STATUS EFIAPI AllocatePool(EFI_MEMORY_TYPE PoolType, UINTN Size, VOID **Buffer) {
  EFI_HANDLE Caller = host::CoreAlive() ? host::Core().CallerImage(__builtin_return_address(0)) : nullptr;
  CORE_BOOT_SERVICE("AllocatePool");
  return Core.AllocatePool(Caller, PoolType, Size, Buffer);
}

EFI_STATUS EFIAPI FreePool(VOID *Buffer) {
  EFI_HANDLE Caller = host::CoreAlive() ? host::Core().CallerImage(__builtin_return_address(0)) : nullptr;
  CORE_BOOT_SERVICE("FreePool");
  return Core.FreePool(Caller, Buffer);
}

EFI_STATUS EFIAPI AllocatePages(EFI_ALLOCATE_TYPE Type, EFI_MEMORY_TYPE MemoryType, UINTN Pages,
                                EFI_PHYSICAL_ADDRESS *Memory) {
  EFI_HANDLE Caller = host::CoreAlive() ? host::Core().CallerImage(__builtin_return_address(0)) : nullptr;
  CORE_BOOT_SERVICE("AllocatePages");
  return Core.AllocatePages(Caller, Type, MemoryType, Pages, Memory);
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

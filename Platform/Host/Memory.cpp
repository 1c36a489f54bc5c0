// Pool and page allocation from real host memory, accounted per image, and the memory map.
#include "CoreInternal.h"

#include <sys/mman.h>

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
constexpr uint64_t kMaxAddressSearchStep = 64ull << 20;
constexpr int kMaxAddressSearchTries = 256;
constexpr uint64_t kLowestSearchAddress = 0x10000000;

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
  const size_t Offset = (PoolCount++ % 2) * kPoolAlignment;
  size_t Total = ALIGN_VALUE(Offset + Size + sizeof(kPoolCanary), kHostAlignment);
  auto *Base = static_cast<uint8_t *>(std::aligned_alloc(kHostAlignment, Total));
  if (Base == nullptr) {
    return EFI_OUT_OF_RESOURCES;
  }
  uint8_t *Memory = Base + Offset;
  std::memset(Memory, kFreshFill, Size);
  std::memcpy(Memory + Size, &kPoolCanary, sizeof(kPoolCanary));
  Pool[Memory] = {Base, Size, Type, Owner};
  FreedPool.erase(Memory);
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
  std::free(Block.Base);
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
  std::memset(Mapped, kFreshFill, Bytes);
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
  CheckMapChangeAllowed("FreePages");
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

void Platform::Impl::ReleaseAllMemory() {
  for (auto &[Address, Block] : Pool) {
    std::free(Block.Base);
  }
  Pool.clear();
  for (auto &[Base, Range] : PageRanges) {
    munmap(reinterpret_cast<void *>(Base), EFI_PAGES_TO_SIZE(Range.Pages));
  }
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

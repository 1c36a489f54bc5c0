// GCD memory and I/O space maps. Each map is a vector of descriptors sorted by base address
// that covers [0, limit) without gaps; an operation splits the descriptors at the edges of
// its range, changes the ones inside, and merges neighbours that became identical again.
#include "GcdMap.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace host {

namespace {

using MemoryDescriptor = EFI_GCD_MEMORY_SPACE_DESCRIPTOR;
using IoDescriptor = EFI_GCD_IO_SPACE_DESCRIPTOR;

constexpr UINTN kAlignmentBits = 64;

bool SameRegion(const MemoryDescriptor &A, const MemoryDescriptor &B) {
  return A.GcdMemoryType == B.GcdMemoryType && A.Capabilities == B.Capabilities &&
         A.Attributes == B.Attributes && A.ImageHandle == B.ImageHandle && A.DeviceHandle == B.DeviceHandle;
}

bool SameRegion(const IoDescriptor &A, const IoDescriptor &B) {
  return A.GcdIoType == B.GcdIoType && A.ImageHandle == B.ImageHandle && A.DeviceHandle == B.DeviceHandle;
}

UINT32 TypeOf(const MemoryDescriptor &Descriptor) {
  return Descriptor.GcdMemoryType;
}
UINT32 TypeOf(const IoDescriptor &Descriptor) {
  return Descriptor.GcdIoType;
}

uint64_t EndOf(const auto &Descriptor) {
  return Descriptor.BaseAddress + Descriptor.Length;
}

// True when [Base, Base + Length) is a non-empty range inside [0, Limit).
bool InSpace(uint64_t Base, uint64_t Length, uint64_t Limit) {
  return Length != 0 && Base < Limit && Length <= Limit - Base;
}

// Index of the descriptor that contains Address (which must be below the limit).
template <typename D> size_t IndexOf(const std::vector<D> &Map, uint64_t Address) {
  auto After = std::upper_bound(Map.begin(), Map.end(), Address, [](uint64_t Value, const D &Descriptor) {
    return Value < Descriptor.BaseAddress;
  });
  return static_cast<size_t>(std::distance(Map.begin(), After)) - 1;
}

// Makes Address the start of a descriptor.
template <typename D> void SplitAt(std::vector<D> &Map, uint64_t Address) {
  if (Address >= EndOf(Map.back())) {
    return;
  }
  const size_t Index = IndexOf(Map, Address);
  if (Map[Index].BaseAddress == Address) {
    return;
  }
  D Tail = Map[Index];
  Tail.BaseAddress = Address;
  Tail.Length = EndOf(Map[Index]) - Address;
  Map[Index].Length = Address - Map[Index].BaseAddress;
  Map.insert(Map.begin() + static_cast<std::ptrdiff_t>(Index) + 1, Tail);
}

// Applies Change to every descriptor of [Base, Base + Length), splitting at the edges and
// merging neighbours that end up alike.
template <typename D, typename F> void Update(std::vector<D> &Map, uint64_t Base, uint64_t Length, F Change) {
  SplitAt(Map, Base);
  SplitAt(Map, Base + Length);
  for (size_t Index = IndexOf(Map, Base); Index < Map.size() && Map[Index].BaseAddress < Base + Length;
       Index++) {
    Change(Map[Index]);
  }
  std::vector<D> Merged;
  Merged.reserve(Map.size());
  for (const D &Descriptor : Map) {
    if (!Merged.empty() && SameRegion(Merged.back(), Descriptor)) {
      Merged.back().Length += Descriptor.Length;
    } else {
      Merged.push_back(Descriptor);
    }
  }
  Map = std::move(Merged);
}

// True when every descriptor overlapping [Base, Base + Length) satisfies Test.
template <typename D, typename F>
bool AllOf(const std::vector<D> &Map, uint64_t Base, uint64_t Length, F Test) {
  for (size_t Index = IndexOf(Map, Base); Index < Map.size() && Map[Index].BaseAddress < Base + Length;
       Index++) {
    if (!Test(Map[Index])) {
      return false;
    }
  }
  return true;
}

struct Run {
  uint64_t Begin;
  uint64_t End;
};

// Maximal stretches of unowned descriptors of one type.
template <typename D> std::vector<Run> FreeRuns(const std::vector<D> &Map, UINT32 Type) {
  std::vector<Run> Runs;
  for (const D &Descriptor : Map) {
    if (TypeOf(Descriptor) != Type || Descriptor.ImageHandle != nullptr) {
      continue;
    }
    if (!Runs.empty() && Runs.back().End == Descriptor.BaseAddress) {
      Runs.back().End = EndOf(Descriptor);
    } else {
      Runs.push_back({Descriptor.BaseAddress, EndOf(Descriptor)});
    }
  }
  return Runs;
}

// Finds where a search allocation of Length bytes aligned to Align goes, below Max inclusive.
bool Search(const std::vector<Run> &Runs, bool TopDown, uint64_t Align, uint64_t Length, uint64_t Max,
            uint64_t &Found) {
  if (TopDown) {
    for (auto Current = Runs.rbegin(); Current != Runs.rend(); ++Current) {
      const uint64_t High = std::min(Current->End - 1, Max);
      if (High < Current->Begin || High - Current->Begin + 1 < Length) {
        continue;
      }
      const uint64_t Start = (High - Length + 1) & ~(Align - 1);
      if (Start >= Current->Begin) {
        Found = Start;
        return true;
      }
    }
    return false;
  }
  for (const Run &Current : Runs) {
    const uint64_t Start = (Current.Begin + Align - 1) & ~(Align - 1);
    if (Start < Current.Begin || Start >= Current.End || Current.End - Start < Length ||
        Start + (Length - 1) > Max) {
      continue;
    }
    Found = Start;
    return true;
  }
  return false;
}

template <typename D>
EFI_STATUS Allocate(std::vector<D> &Map, uint64_t Limit, EFI_GCD_ALLOCATE_TYPE AllocateType, UINT32 Type,
                    UINTN Alignment, UINT64 Length, EFI_PHYSICAL_ADDRESS *BaseAddress, EFI_HANDLE ImageHandle,
                    EFI_HANDLE DeviceHandle) {
  if (AllocateType >= EfiGcdMaxAllocateType || Length == 0 || BaseAddress == nullptr ||
      ImageHandle == nullptr || Alignment >= kAlignmentBits) {
    return EFI_INVALID_PARAMETER;
  }
  const uint64_t Align = 1ull << Alignment;
  const auto IsFree = [Type](const D &Descriptor) {
    return TypeOf(Descriptor) == Type && Descriptor.ImageHandle == nullptr;
  };
  uint64_t Start = *BaseAddress;
  if (AllocateType == EfiGcdAllocateAddress) {
    if ((Start & (Align - 1)) != 0 || !InSpace(Start, Length, Limit) || !AllOf(Map, Start, Length, IsFree)) {
      return EFI_NOT_FOUND;
    }
  } else {
    const bool Bounded = AllocateType == EfiGcdAllocateMaxAddressSearchBottomUp ||
                         AllocateType == EfiGcdAllocateMaxAddressSearchTopDown;
    const uint64_t Max = Bounded ? std::min(*BaseAddress, Limit - 1) : Limit - 1;
    const bool TopDown = AllocateType == EfiGcdAllocateAnySearchTopDown ||
                         AllocateType == EfiGcdAllocateMaxAddressSearchTopDown;
    if (!Search(FreeRuns(Map, Type), TopDown, Align, Length, Max, Start)) {
      return EFI_NOT_FOUND;
    }
  }
  Update(Map, Start, Length, [&](D &Descriptor) {
    Descriptor.ImageHandle = ImageHandle;
    Descriptor.DeviceHandle = DeviceHandle;
  });
  *BaseAddress = Start;
  return EFI_SUCCESS;
}

template <typename D> EFI_STATUS Free(std::vector<D> &Map, uint64_t Limit, uint64_t Base, uint64_t Length) {
  if (Length == 0) {
    return EFI_INVALID_PARAMETER;
  }
  if (!InSpace(Base, Length, Limit)) {
    return EFI_UNSUPPORTED;
  }
  if (!AllOf(Map, Base, Length, [](const D &Descriptor) { return Descriptor.ImageHandle != nullptr; })) {
    return EFI_NOT_FOUND;
  }
  Update(Map, Base, Length, [](D &Descriptor) {
    Descriptor.ImageHandle = nullptr;
    Descriptor.DeviceHandle = nullptr;
  });
  return EFI_SUCCESS;
}

// Checks shared by Add and Remove: a valid non-empty range; Remove also needs it present
// and unowned, Add needs it absent.
template <typename D>
EFI_STATUS CheckRemove(const std::vector<D> &Map, uint64_t Limit, uint64_t Base, uint64_t Length) {
  if (Length == 0) {
    return EFI_INVALID_PARAMETER;
  }
  if (!InSpace(Base, Length, Limit)) {
    return EFI_UNSUPPORTED;
  }
  if (!AllOf(Map, Base, Length, [](const D &Descriptor) { return TypeOf(Descriptor) != 0; })) {
    return EFI_NOT_FOUND;
  }
  if (!AllOf(Map, Base, Length, [](const D &Descriptor) { return Descriptor.ImageHandle == nullptr; })) {
    return EFI_ACCESS_DENIED;
  }
  return EFI_SUCCESS;
}

template <typename D>
EFI_STATUS CheckAdd(const std::vector<D> &Map, uint64_t Limit, uint64_t Base, uint64_t Length) {
  if (Length == 0) {
    return EFI_INVALID_PARAMETER;
  }
  if (!InSpace(Base, Length, Limit)) {
    return EFI_UNSUPPORTED;
  }
  if (!AllOf(Map, Base, Length, [](const D &Descriptor) {
        return TypeOf(Descriptor) == 0 && Descriptor.ImageHandle == nullptr;
      })) {
    return EFI_ACCESS_DENIED;
  }
  return EFI_SUCCESS;
}

template <typename D>
EFI_STATUS CopyMap(const std::vector<D> &Map, UINTN *Count, D **Out, const GcdMap::Allocator &Allocate) {
  if (Count == nullptr || Out == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  const size_t Bytes = Map.size() * sizeof(D);
  void *Buffer = Allocate ? Allocate(Bytes) : std::malloc(Bytes);
  if (Buffer == nullptr) {
    return EFI_OUT_OF_RESOURCES;
  }
  std::memcpy(Buffer, Map.data(), Bytes);
  *Out = static_cast<D *>(Buffer);
  *Count = Map.size();
  return EFI_SUCCESS;
}

// Checks shared by the attribute and capability setters: page-granular range in the map.
EFI_STATUS CheckPageRange(uint64_t Base, uint64_t Length, uint64_t Limit) {
  if (Length == 0 || (Base & EFI_PAGE_MASK) != 0 || (Length & EFI_PAGE_MASK) != 0) {
    return EFI_INVALID_PARAMETER;
  }
  return InSpace(Base, Length, Limit) ? EFI_SUCCESS : EFI_UNSUPPORTED;
}

} // namespace

GcdMap::GcdMap(uint64_t MemoryLimit, uint64_t IoLimit) : MemoryLimit_(MemoryLimit), IoLimit_(IoLimit) {
  MemoryDescriptor Memory{};
  Memory.Length = MemoryLimit_;
  Memory.GcdMemoryType = EfiGcdMemoryTypeNonExistent;
  Memory_.push_back(Memory);
  IoDescriptor Io{};
  Io.Length = IoLimit_;
  Io.GcdIoType = EfiGcdIoTypeNonExistent;
  Io_.push_back(Io);
}

EFI_STATUS GcdMap::AddMemorySpace(EFI_GCD_MEMORY_TYPE GcdMemoryType, EFI_PHYSICAL_ADDRESS BaseAddress,
                                  UINT64 Length, UINT64 Capabilities) {
  MemoryGeneration_++;
  if (GcdMemoryType == EfiGcdMemoryTypeNonExistent || GcdMemoryType >= EfiGcdMemoryTypeMaximum) {
    return EFI_INVALID_PARAMETER;
  }
  EFI_STATUS Status = CheckAdd(Memory_, MemoryLimit_, BaseAddress, Length);
  if (EFI_ERROR(Status)) {
    return Status;
  }
  Update(Memory_, BaseAddress, Length, [&](MemoryDescriptor &Descriptor) {
    Descriptor.GcdMemoryType = GcdMemoryType;
    Descriptor.Capabilities = Capabilities;
    Descriptor.Attributes = 0;
  });
  return EFI_SUCCESS;
}

EFI_STATUS GcdMap::AllocateMemorySpace(EFI_GCD_ALLOCATE_TYPE GcdAllocateType,
                                       EFI_GCD_MEMORY_TYPE GcdMemoryType, UINTN Alignment, UINT64 Length,
                                       EFI_PHYSICAL_ADDRESS *BaseAddress, EFI_HANDLE ImageHandle,
                                       EFI_HANDLE DeviceHandle) {
  MemoryGeneration_++;
  if (GcdMemoryType >= EfiGcdMemoryTypeMaximum) {
    return EFI_INVALID_PARAMETER;
  }
  return Allocate(Memory_, MemoryLimit_, GcdAllocateType, GcdMemoryType, Alignment, Length, BaseAddress,
                  ImageHandle, DeviceHandle);
}

EFI_STATUS GcdMap::FreeMemorySpace(EFI_PHYSICAL_ADDRESS BaseAddress, UINT64 Length) {
  MemoryGeneration_++;
  return Free(Memory_, MemoryLimit_, BaseAddress, Length);
}

EFI_STATUS GcdMap::RemoveMemorySpace(EFI_PHYSICAL_ADDRESS BaseAddress, UINT64 Length) {
  MemoryGeneration_++;
  EFI_STATUS Status = CheckRemove(Memory_, MemoryLimit_, BaseAddress, Length);
  if (EFI_ERROR(Status)) {
    return Status;
  }
  Update(Memory_, BaseAddress, Length, [](MemoryDescriptor &Descriptor) {
    Descriptor.GcdMemoryType = EfiGcdMemoryTypeNonExistent;
    Descriptor.Capabilities = 0;
    Descriptor.Attributes = 0;
  });
  return EFI_SUCCESS;
}

EFI_STATUS GcdMap::GetMemorySpaceDescriptor(EFI_PHYSICAL_ADDRESS BaseAddress,
                                            EFI_GCD_MEMORY_SPACE_DESCRIPTOR *Descriptor) const {
  if (Descriptor == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  if (BaseAddress >= MemoryLimit_) {
    return EFI_NOT_FOUND;
  }
  *Descriptor = Memory_[IndexOf(Memory_, BaseAddress)];
  return EFI_SUCCESS;
}

EFI_STATUS GcdMap::SetMemorySpaceAttributes(EFI_PHYSICAL_ADDRESS BaseAddress, UINT64 Length,
                                            UINT64 Attributes) {
  MemoryGeneration_++;
  EFI_STATUS Status = CheckPageRange(BaseAddress, Length, MemoryLimit_);
  if (EFI_ERROR(Status)) {
    return Status;
  }
  const auto Supports = [Attributes](const MemoryDescriptor &Descriptor) {
    return Descriptor.GcdMemoryType != EfiGcdMemoryTypeNonExistent &&
           (Attributes & ~Descriptor.Capabilities) == 0;
  };
  if (!AllOf(Memory_, BaseAddress, Length, Supports)) {
    return EFI_UNSUPPORTED;
  }
  Update(Memory_, BaseAddress, Length,
         [Attributes](MemoryDescriptor &Descriptor) { Descriptor.Attributes = Attributes; });
  return EFI_SUCCESS;
}

EFI_STATUS GcdMap::SetMemorySpaceCapabilities(EFI_PHYSICAL_ADDRESS BaseAddress, UINT64 Length,
                                              UINT64 Capabilities) {
  MemoryGeneration_++;
  EFI_STATUS Status = CheckPageRange(BaseAddress, Length, MemoryLimit_);
  if (EFI_ERROR(Status)) {
    return Status;
  }
  // The attributes in force must stay within the new capabilities.
  const auto Keeps = [Capabilities](const MemoryDescriptor &Descriptor) {
    return Descriptor.GcdMemoryType != EfiGcdMemoryTypeNonExistent &&
           (Descriptor.Attributes & ~Capabilities) == 0;
  };
  if (!AllOf(Memory_, BaseAddress, Length, Keeps)) {
    return EFI_UNSUPPORTED;
  }
  Update(Memory_, BaseAddress, Length,
         [Capabilities](MemoryDescriptor &Descriptor) { Descriptor.Capabilities = Capabilities; });
  return EFI_SUCCESS;
}

EFI_STATUS GcdMap::GetMemorySpaceMap(UINTN *NumberOfDescriptors,
                                     EFI_GCD_MEMORY_SPACE_DESCRIPTOR **MemorySpaceMap,
                                     const Allocator &Allocate) const {
  return CopyMap(Memory_, NumberOfDescriptors, MemorySpaceMap, Allocate);
}

EFI_STATUS GcdMap::AddIoSpace(EFI_GCD_IO_TYPE GcdIoType, EFI_PHYSICAL_ADDRESS BaseAddress, UINT64 Length) {
  if (GcdIoType == EfiGcdIoTypeNonExistent || GcdIoType >= EfiGcdIoTypeMaximum) {
    return EFI_INVALID_PARAMETER;
  }
  EFI_STATUS Status = CheckAdd(Io_, IoLimit_, BaseAddress, Length);
  if (EFI_ERROR(Status)) {
    return Status;
  }
  Update(Io_, BaseAddress, Length,
         [GcdIoType](IoDescriptor &Descriptor) { Descriptor.GcdIoType = GcdIoType; });
  return EFI_SUCCESS;
}

EFI_STATUS GcdMap::AllocateIoSpace(EFI_GCD_ALLOCATE_TYPE GcdAllocateType, EFI_GCD_IO_TYPE GcdIoType,
                                   UINTN Alignment, UINT64 Length, EFI_PHYSICAL_ADDRESS *BaseAddress,
                                   EFI_HANDLE ImageHandle, EFI_HANDLE DeviceHandle) {
  if (GcdIoType >= EfiGcdIoTypeMaximum) {
    return EFI_INVALID_PARAMETER;
  }
  return Allocate(Io_, IoLimit_, GcdAllocateType, GcdIoType, Alignment, Length, BaseAddress, ImageHandle,
                  DeviceHandle);
}

EFI_STATUS GcdMap::FreeIoSpace(EFI_PHYSICAL_ADDRESS BaseAddress, UINT64 Length) {
  return Free(Io_, IoLimit_, BaseAddress, Length);
}

EFI_STATUS GcdMap::RemoveIoSpace(EFI_PHYSICAL_ADDRESS BaseAddress, UINT64 Length) {
  EFI_STATUS Status = CheckRemove(Io_, IoLimit_, BaseAddress, Length);
  if (EFI_ERROR(Status)) {
    return Status;
  }
  Update(Io_, BaseAddress, Length,
         [](IoDescriptor &Descriptor) { Descriptor.GcdIoType = EfiGcdIoTypeNonExistent; });
  return EFI_SUCCESS;
}

EFI_STATUS GcdMap::GetIoSpaceDescriptor(EFI_PHYSICAL_ADDRESS BaseAddress,
                                        EFI_GCD_IO_SPACE_DESCRIPTOR *Descriptor) const {
  if (Descriptor == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  if (BaseAddress >= IoLimit_) {
    return EFI_NOT_FOUND;
  }
  *Descriptor = Io_[IndexOf(Io_, BaseAddress)];
  return EFI_SUCCESS;
}

EFI_STATUS GcdMap::GetIoSpaceMap(UINTN *NumberOfDescriptors, EFI_GCD_IO_SPACE_DESCRIPTOR **IoSpaceMap,
                                 const Allocator &Allocate) const {
  return CopyMap(Io_, NumberOfDescriptors, IoSpaceMap, Allocate);
}

const char *GcdMap::MemoryTypeName(EFI_GCD_MEMORY_TYPE Type) {
  constexpr const char *kNames[] = {"NonExistent", "Reserved",     "SystemMemory", "MMIO",
                                    "Persistent",  "MoreReliable", "Unaccepted"};
  static_assert(sizeof(kNames) / sizeof(kNames[0]) == EfiGcdMemoryTypeMaximum);
  return Type < EfiGcdMemoryTypeMaximum ? kNames[Type] : "?";
}

const char *GcdMap::IoTypeName(EFI_GCD_IO_TYPE Type) {
  constexpr const char *kNames[] = {"NonExistent", "Reserved", "I/O"};
  static_assert(sizeof(kNames) / sizeof(kNames[0]) == EfiGcdIoTypeMaximum);
  return Type < EfiGcdIoTypeMaximum ? kNames[Type] : "?";
}

std::string GcdMap::Dump(const OwnerNamer &OwnerName) const {
  const auto Handle = [](EFI_HANDLE Value) {
    char Text[24];
    std::snprintf(Text, sizeof(Text), "%016" PRIXPTR, reinterpret_cast<uintptr_t>(Value));
    return std::string(Text);
  };
  const auto Owner = [&](EFI_HANDLE Image) {
    return Image != nullptr && OwnerName ? OwnerName(Image) : Handle(Image);
  };
  std::string Out = "GCD memory space map:\n"
                    "  Start            End              Type         Capabilities     Attributes       "
                    "Image            Device\n";
  char Line[200];
  for (const MemoryDescriptor &D : Memory_) {
    std::snprintf(Line, sizeof(Line),
                  "  %016" PRIX64 " %016" PRIX64 " %-12s %016" PRIX64 " %016" PRIX64 " %-16s %s\n",
                  D.BaseAddress, EndOf(D) - 1, MemoryTypeName(D.GcdMemoryType), D.Capabilities, D.Attributes,
                  Owner(D.ImageHandle).c_str(), Handle(D.DeviceHandle).c_str());
    Out += Line;
  }
  Out += "GCD I/O space map:\n"
         "  Start            End              Type         Image            Device\n";
  for (const IoDescriptor &D : Io_) {
    std::snprintf(Line, sizeof(Line), "  %016" PRIX64 " %016" PRIX64 " %-12s %-16s %s\n", D.BaseAddress,
                  EndOf(D) - 1, IoTypeName(D.GcdIoType), Owner(D.ImageHandle).c_str(),
                  Handle(D.DeviceHandle).c_str());
    Out += Line;
  }
  return Out;
}

} // namespace host

// The Global Coherency Domain maps of the emulated core: the memory space map and the I/O
// space map, each a sorted list of descriptors that covers its whole address space. The
// members have the PI DXE services parameter lists, so the DXE services table delegates
// to them directly.
#pragma once

#include <Pi/PiDxeCis.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace host {

class GcdMap {
public:
  // Where GetMemorySpaceMap / GetIoSpaceMap take their array from (the caller's pool in the
  // core). An empty allocator means std::malloc.
  using Allocator = std::function<void *(size_t Size)>;

  static constexpr uint64_t kDefaultMemoryLimit = 1ull << 48;
  static constexpr uint64_t kDefaultIoLimit = 1ull << 16;
  // What resource descriptors declare system memory with: any cache type, and it may become
  // runtime memory; write-back in use.
  static constexpr uint64_t kSystemMemoryCapabilities =
      EFI_MEMORY_UC | EFI_MEMORY_WC | EFI_MEMORY_WT | EFI_MEMORY_WB | EFI_MEMORY_XP | EFI_MEMORY_RUNTIME;
  static constexpr uint64_t kSystemMemoryAttributes = EFI_MEMORY_WB;

  explicit GcdMap(uint64_t MemoryLimit = kDefaultMemoryLimit, uint64_t IoLimit = kDefaultIoLimit);

  EFI_STATUS AddMemorySpace(EFI_GCD_MEMORY_TYPE GcdMemoryType, EFI_PHYSICAL_ADDRESS BaseAddress,
                            UINT64 Length, UINT64 Capabilities);
  EFI_STATUS AllocateMemorySpace(EFI_GCD_ALLOCATE_TYPE GcdAllocateType, EFI_GCD_MEMORY_TYPE GcdMemoryType,
                                 UINTN Alignment, UINT64 Length, EFI_PHYSICAL_ADDRESS *BaseAddress,
                                 EFI_HANDLE ImageHandle, EFI_HANDLE DeviceHandle);
  EFI_STATUS FreeMemorySpace(EFI_PHYSICAL_ADDRESS BaseAddress, UINT64 Length);
  EFI_STATUS RemoveMemorySpace(EFI_PHYSICAL_ADDRESS BaseAddress, UINT64 Length);
  EFI_STATUS GetMemorySpaceDescriptor(EFI_PHYSICAL_ADDRESS BaseAddress,
                                      EFI_GCD_MEMORY_SPACE_DESCRIPTOR *Descriptor) const;
  EFI_STATUS SetMemorySpaceAttributes(EFI_PHYSICAL_ADDRESS BaseAddress, UINT64 Length, UINT64 Attributes);
  EFI_STATUS SetMemorySpaceCapabilities(EFI_PHYSICAL_ADDRESS BaseAddress, UINT64 Length, UINT64 Capabilities);
  EFI_STATUS GetMemorySpaceMap(UINTN *NumberOfDescriptors, EFI_GCD_MEMORY_SPACE_DESCRIPTOR **MemorySpaceMap,
                               const Allocator &Allocate = {}) const;

  EFI_STATUS AddIoSpace(EFI_GCD_IO_TYPE GcdIoType, EFI_PHYSICAL_ADDRESS BaseAddress, UINT64 Length);
  EFI_STATUS AllocateIoSpace(EFI_GCD_ALLOCATE_TYPE GcdAllocateType, EFI_GCD_IO_TYPE GcdIoType,
                             UINTN Alignment, UINT64 Length, EFI_PHYSICAL_ADDRESS *BaseAddress,
                             EFI_HANDLE ImageHandle, EFI_HANDLE DeviceHandle);
  EFI_STATUS FreeIoSpace(EFI_PHYSICAL_ADDRESS BaseAddress, UINT64 Length);
  EFI_STATUS RemoveIoSpace(EFI_PHYSICAL_ADDRESS BaseAddress, UINT64 Length);
  EFI_STATUS GetIoSpaceDescriptor(EFI_PHYSICAL_ADDRESS BaseAddress,
                                  EFI_GCD_IO_SPACE_DESCRIPTOR *Descriptor) const;
  EFI_STATUS GetIoSpaceMap(UINTN *NumberOfDescriptors, EFI_GCD_IO_SPACE_DESCRIPTOR **IoSpaceMap,
                           const Allocator &Allocate = {}) const;

  // Changes with every call that may change the memory space map: whoever caches what it
  // derived from the map (the address space's checks) compares it.
  uint64_t MemoryGeneration() const { return MemoryGeneration_; }

  // Host-side views for tests and boardsim.
  const std::vector<EFI_GCD_MEMORY_SPACE_DESCRIPTOR> &MemoryDescriptors() const { return Memory_; }
  const std::vector<EFI_GCD_IO_SPACE_DESCRIPTOR> &IoDescriptors() const { return Io_; }
  // Both maps as readable tables; owners are shown by OwnerName when given, else as handles.
  using OwnerNamer = std::function<std::string(EFI_HANDLE Owner)>;
  std::string Dump(const OwnerNamer &OwnerName = {}) const;
  static const char *MemoryTypeName(EFI_GCD_MEMORY_TYPE Type);
  static const char *IoTypeName(EFI_GCD_IO_TYPE Type);

private:
  uint64_t MemoryLimit_;
  uint64_t IoLimit_;
  std::vector<EFI_GCD_MEMORY_SPACE_DESCRIPTOR> Memory_;
  uint64_t MemoryGeneration_ = 0;
  std::vector<EFI_GCD_IO_SPACE_DESCRIPTOR> Io_;
};

} // namespace host

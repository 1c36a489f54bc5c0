// PI 1.x DXE services: the Global Coherency Domain (GCD) types and the DXE services table.
#pragma once

#include <Uefi.h>

// Memory space types of the GCD memory space map.
enum EFI_GCD_MEMORY_TYPE : UINT32 {
  EfiGcdMemoryTypeNonExistent,
  EfiGcdMemoryTypeReserved,
  EfiGcdMemoryTypeSystemMemory,
  EfiGcdMemoryTypeMemoryMappedIo,
  EfiGcdMemoryTypePersistent,
  EfiGcdMemoryTypeMoreReliable,
  EfiGcdMemoryTypeUnaccepted,
  EfiGcdMemoryTypeMaximum
};
static_assert(EfiGcdMemoryTypeMemoryMappedIo == 3);

// I/O space types of the GCD I/O space map.
enum EFI_GCD_IO_TYPE : UINT32 {
  EfiGcdIoTypeNonExistent,
  EfiGcdIoTypeReserved,
  EfiGcdIoTypeIo,
  EfiGcdIoTypeMaximum
};

// How AllocateMemorySpace / AllocateIoSpace search for a range.
enum EFI_GCD_ALLOCATE_TYPE : UINT32 {
  EfiGcdAllocateAnySearchBottomUp,
  EfiGcdAllocateMaxAddressSearchBottomUp,
  EfiGcdAllocateAddress,
  EfiGcdAllocateAnySearchTopDown,
  EfiGcdAllocateMaxAddressSearchTopDown,
  EfiGcdMaxAllocateType
};

struct EFI_GCD_MEMORY_SPACE_DESCRIPTOR {
  EFI_PHYSICAL_ADDRESS BaseAddress;
  UINT64 Length;
  UINT64 Capabilities;
  UINT64 Attributes;
  EFI_GCD_MEMORY_TYPE GcdMemoryType;
  EFI_HANDLE ImageHandle;  // owner image; NULL when the range is free
  EFI_HANDLE DeviceHandle; // owner device; may be NULL
};
static_assert(sizeof(EFI_GCD_MEMORY_SPACE_DESCRIPTOR) == 56);
static_assert(offsetof(EFI_GCD_MEMORY_SPACE_DESCRIPTOR, Capabilities) == 16);
static_assert(offsetof(EFI_GCD_MEMORY_SPACE_DESCRIPTOR, Attributes) == 24);
static_assert(offsetof(EFI_GCD_MEMORY_SPACE_DESCRIPTOR, GcdMemoryType) == 32);
static_assert(offsetof(EFI_GCD_MEMORY_SPACE_DESCRIPTOR, ImageHandle) == 40);
static_assert(offsetof(EFI_GCD_MEMORY_SPACE_DESCRIPTOR, DeviceHandle) == 48);

struct EFI_GCD_IO_SPACE_DESCRIPTOR {
  EFI_PHYSICAL_ADDRESS BaseAddress;
  UINT64 Length;
  EFI_GCD_IO_TYPE GcdIoType;
  EFI_HANDLE ImageHandle;
  EFI_HANDLE DeviceHandle;
};
static_assert(sizeof(EFI_GCD_IO_SPACE_DESCRIPTOR) == 40);
static_assert(offsetof(EFI_GCD_IO_SPACE_DESCRIPTOR, GcdIoType) == 16);
static_assert(offsetof(EFI_GCD_IO_SPACE_DESCRIPTOR, ImageHandle) == 24);
static_assert(offsetof(EFI_GCD_IO_SPACE_DESCRIPTOR, DeviceHandle) == 32);

// Memory space services.
typedef EFI_STATUS(EFIAPI *EFI_ADD_MEMORY_SPACE)(EFI_GCD_MEMORY_TYPE GcdMemoryType,
                                                 EFI_PHYSICAL_ADDRESS BaseAddress, UINT64 Length,
                                                 UINT64 Capabilities);
typedef EFI_STATUS(EFIAPI *EFI_ALLOCATE_MEMORY_SPACE)(EFI_GCD_ALLOCATE_TYPE GcdAllocateType,
                                                      EFI_GCD_MEMORY_TYPE GcdMemoryType, UINTN Alignment,
                                                      UINT64 Length, EFI_PHYSICAL_ADDRESS *BaseAddress,
                                                      EFI_HANDLE ImageHandle, EFI_HANDLE DeviceHandle);
typedef EFI_STATUS(EFIAPI *EFI_FREE_MEMORY_SPACE)(EFI_PHYSICAL_ADDRESS BaseAddress, UINT64 Length);
typedef EFI_STATUS(EFIAPI *EFI_REMOVE_MEMORY_SPACE)(EFI_PHYSICAL_ADDRESS BaseAddress, UINT64 Length);
typedef EFI_STATUS(EFIAPI *EFI_GET_MEMORY_SPACE_DESCRIPTOR)(EFI_PHYSICAL_ADDRESS BaseAddress,
                                                            EFI_GCD_MEMORY_SPACE_DESCRIPTOR *Descriptor);
typedef EFI_STATUS(EFIAPI *EFI_SET_MEMORY_SPACE_ATTRIBUTES)(EFI_PHYSICAL_ADDRESS BaseAddress, UINT64 Length,
                                                            UINT64 Attributes);
typedef EFI_STATUS(EFIAPI *EFI_GET_MEMORY_SPACE_MAP)(UINTN *NumberOfDescriptors,
                                                     EFI_GCD_MEMORY_SPACE_DESCRIPTOR **MemorySpaceMap);
typedef EFI_STATUS(EFIAPI *EFI_SET_MEMORY_SPACE_CAPABILITIES)(EFI_PHYSICAL_ADDRESS BaseAddress, UINT64 Length,
                                                              UINT64 Capabilities);

// I/O space services.
typedef EFI_STATUS(EFIAPI *EFI_ADD_IO_SPACE)(EFI_GCD_IO_TYPE GcdIoType, EFI_PHYSICAL_ADDRESS BaseAddress,
                                             UINT64 Length);
typedef EFI_STATUS(EFIAPI *EFI_ALLOCATE_IO_SPACE)(EFI_GCD_ALLOCATE_TYPE GcdAllocateType,
                                                  EFI_GCD_IO_TYPE GcdIoType, UINTN Alignment, UINT64 Length,
                                                  EFI_PHYSICAL_ADDRESS *BaseAddress, EFI_HANDLE ImageHandle,
                                                  EFI_HANDLE DeviceHandle);
typedef EFI_STATUS(EFIAPI *EFI_FREE_IO_SPACE)(EFI_PHYSICAL_ADDRESS BaseAddress, UINT64 Length);
typedef EFI_STATUS(EFIAPI *EFI_REMOVE_IO_SPACE)(EFI_PHYSICAL_ADDRESS BaseAddress, UINT64 Length);
typedef EFI_STATUS(EFIAPI *EFI_GET_IO_SPACE_DESCRIPTOR)(EFI_PHYSICAL_ADDRESS BaseAddress,
                                                        EFI_GCD_IO_SPACE_DESCRIPTOR *Descriptor);
typedef EFI_STATUS(EFIAPI *EFI_GET_IO_SPACE_MAP)(UINTN *NumberOfDescriptors,
                                                 EFI_GCD_IO_SPACE_DESCRIPTOR **IoSpaceMap);

// Dispatcher services.
typedef EFI_STATUS(EFIAPI *EFI_DISPATCH)(VOID);
typedef EFI_STATUS(EFIAPI *EFI_SCHEDULE)(EFI_HANDLE FirmwareVolumeHandle, const EFI_GUID *FileName);
typedef EFI_STATUS(EFIAPI *EFI_TRUST)(EFI_HANDLE FirmwareVolumeHandle, const EFI_GUID *FileName);
typedef EFI_STATUS(EFIAPI *EFI_PROCESS_FIRMWARE_VOLUME)(const VOID *FirmwareVolumeHeader, UINTN Size,
                                                        EFI_HANDLE *FirmwareVolumeHandle);

constexpr UINT64 DXE_SERVICES_SIGNATURE = SIGNATURE_64('D', 'X', 'E', '_', 'S', 'E', 'R', 'V');
static_assert(DXE_SERVICES_SIGNATURE == 0x565245535F455844ULL);
constexpr UINT32 PI_SPECIFICATION_MAJOR_REVISION = 1;
constexpr UINT32 PI_SPECIFICATION_MINOR_REVISION = 70;
constexpr UINT32 PI_SPECIFICATION_VERSION =
    (PI_SPECIFICATION_MAJOR_REVISION << 16) | PI_SPECIFICATION_MINOR_REVISION;
constexpr UINT32 DXE_SERVICES_REVISION = PI_SPECIFICATION_VERSION;

struct EFI_DXE_SERVICES {
  EFI_TABLE_HEADER Hdr;

  // Global Coherency Domain services.
  EFI_ADD_MEMORY_SPACE AddMemorySpace;
  EFI_ALLOCATE_MEMORY_SPACE AllocateMemorySpace;
  EFI_FREE_MEMORY_SPACE FreeMemorySpace;
  EFI_REMOVE_MEMORY_SPACE RemoveMemorySpace;
  EFI_GET_MEMORY_SPACE_DESCRIPTOR GetMemorySpaceDescriptor;
  EFI_SET_MEMORY_SPACE_ATTRIBUTES SetMemorySpaceAttributes;
  EFI_GET_MEMORY_SPACE_MAP GetMemorySpaceMap;
  EFI_ADD_IO_SPACE AddIoSpace;
  EFI_ALLOCATE_IO_SPACE AllocateIoSpace;
  EFI_FREE_IO_SPACE FreeIoSpace;
  EFI_REMOVE_IO_SPACE RemoveIoSpace;
  EFI_GET_IO_SPACE_DESCRIPTOR GetIoSpaceDescriptor;
  EFI_GET_IO_SPACE_MAP GetIoSpaceMap;

  // Dispatcher services.
  EFI_DISPATCH Dispatch;
  EFI_SCHEDULE Schedule;
  EFI_TRUST Trust;

  // Service to process a single firmware volume found in a capsule.
  EFI_PROCESS_FIRMWARE_VOLUME ProcessFirmwareVolume;

  // Extension of the memory space services.
  EFI_SET_MEMORY_SPACE_CAPABILITIES SetMemorySpaceCapabilities;
};
static_assert(offsetof(EFI_DXE_SERVICES, AddMemorySpace) == 24);
static_assert(offsetof(EFI_DXE_SERVICES, GetIoSpaceMap) == 24 + 12 * sizeof(VOID *));
static_assert(offsetof(EFI_DXE_SERVICES, SetMemorySpaceCapabilities) == 24 + 17 * sizeof(VOID *));
static_assert(sizeof(EFI_DXE_SERVICES) == 24 + 18 * sizeof(VOID *));

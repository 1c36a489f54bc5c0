// Loaded Image protocol (UEFI 2.x, section 9.1): installed by the core on every image handle.
#pragma once

#include <Uefi.h>

#define EFI_LOADED_IMAGE_PROTOCOL_GUID                                                                       \
  {                                                                                                          \
    0x5B1B31A1, 0x9562, 0x11D2, {                                                                            \
      0x8E, 0x3F, 0x00, 0xA0, 0xC9, 0x69, 0x72, 0x3B                                                         \
    }                                                                                                        \
  }
extern EFI_GUID gEfiLoadedImageProtocolGuid;

constexpr UINT32 EFI_LOADED_IMAGE_PROTOCOL_REVISION = 0x1000;

struct EFI_LOADED_IMAGE_PROTOCOL {
  UINT32 Revision;
  EFI_HANDLE ParentHandle;
  EFI_SYSTEM_TABLE *SystemTable;
  EFI_HANDLE DeviceHandle;
  EFI_DEVICE_PATH_PROTOCOL *FilePath;
  VOID *Reserved;
  UINT32 LoadOptionsSize;
  VOID *LoadOptions;
  VOID *ImageBase;
  UINT64 ImageSize;
  EFI_MEMORY_TYPE ImageCodeType;
  EFI_MEMORY_TYPE ImageDataType;
  EFI_IMAGE_UNLOAD Unload;
};
static_assert(sizeof(EFI_LOADED_IMAGE_PROTOCOL) == 96);
static_assert(OFFSET_OF(EFI_LOADED_IMAGE_PROTOCOL, SystemTable) == 16);
static_assert(OFFSET_OF(EFI_LOADED_IMAGE_PROTOCOL, ImageBase) == 64);
static_assert(OFFSET_OF(EFI_LOADED_IMAGE_PROTOCOL, Unload) == 88);

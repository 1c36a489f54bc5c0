// Driver Supported EFI Version protocol: the UEFI revision a driver was written for
// (UEFI 2.x, section 11.6).
#pragma once

#include <Uefi.h>

#define EFI_DRIVER_SUPPORTED_EFI_VERSION_PROTOCOL_GUID                                                       \
  {                                                                                                          \
    0x5C198761, 0x16A8, 0x4E69, {                                                                            \
      0x97, 0x2C, 0x89, 0xD6, 0x79, 0x54, 0xF8, 0x1D                                                         \
    }                                                                                                        \
  }
extern EFI_GUID gEfiDriverSupportedEfiVersionProtocolGuid;

struct EFI_DRIVER_SUPPORTED_EFI_VERSION_PROTOCOL {
  UINT32 Length;          // size of this record in bytes
  UINT32 FirmwareVersion; // (major << 16) | minor, as in EFI_TABLE_HEADER.Revision
};
static_assert(OFFSET_OF(EFI_DRIVER_SUPPORTED_EFI_VERSION_PROTOCOL, FirmwareVersion) == 4);
static_assert(sizeof(EFI_DRIVER_SUPPORTED_EFI_VERSION_PROTOCOL) == 8);

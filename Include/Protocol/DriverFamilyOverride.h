// Driver Family Override protocol: on a driver's binding handle, a version that ranks the
// driver above drivers without one (UEFI driver model).
#pragma once

#include <Uefi.h>

#define EFI_DRIVER_FAMILY_OVERRIDE_PROTOCOL_GUID                                                             \
  {                                                                                                          \
    0xB1EE129E, 0xDA36, 0x4181, {                                                                            \
      0x91, 0xF8, 0x04, 0xA4, 0x92, 0x37, 0x66, 0xA7                                                         \
    }                                                                                                        \
  }
extern EFI_GUID gEfiDriverFamilyOverrideProtocolGuid;

struct EFI_DRIVER_FAMILY_OVERRIDE_PROTOCOL;

typedef UINT32(EFIAPI *EFI_DRIVER_FAMILY_OVERRIDE_GET_VERSION)(EFI_DRIVER_FAMILY_OVERRIDE_PROTOCOL *This);

struct EFI_DRIVER_FAMILY_OVERRIDE_PROTOCOL {
  EFI_DRIVER_FAMILY_OVERRIDE_GET_VERSION GetVersion;
};
static_assert(sizeof(EFI_DRIVER_FAMILY_OVERRIDE_PROTOCOL) == 8);

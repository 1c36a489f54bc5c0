// Bus Specific Driver Override protocol: a bus driver names, on a child controller, the drivers
// that suit it best (UEFI driver model).
#pragma once

#include <Uefi.h>

#define EFI_BUS_SPECIFIC_DRIVER_OVERRIDE_PROTOCOL_GUID                                                       \
  {                                                                                                          \
    0x3BC1B285, 0x8A15, 0x4A82, {                                                                            \
      0xAA, 0xBF, 0x4D, 0x7D, 0x13, 0xFB, 0x32, 0x65                                                         \
    }                                                                                                        \
  }
extern EFI_GUID gEfiBusSpecificDriverOverrideProtocolGuid;

struct EFI_BUS_SPECIFIC_DRIVER_OVERRIDE_PROTOCOL;

// Starting with *DriverImageHandle NULL, each call returns the next driver image handle;
// EFI_NOT_FOUND ends the list.
typedef EFI_STATUS(EFIAPI *EFI_BUS_SPECIFIC_DRIVER_OVERRIDE_GET_DRIVER)(
    EFI_BUS_SPECIFIC_DRIVER_OVERRIDE_PROTOCOL *This, EFI_HANDLE *DriverImageHandle);

struct EFI_BUS_SPECIFIC_DRIVER_OVERRIDE_PROTOCOL {
  EFI_BUS_SPECIFIC_DRIVER_OVERRIDE_GET_DRIVER GetDriver;
};
static_assert(sizeof(EFI_BUS_SPECIFIC_DRIVER_OVERRIDE_PROTOCOL) == 8);

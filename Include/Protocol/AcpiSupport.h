// ACPI Support protocol: only its presence is checked, as a sign that the platform's ACPI
// tables are being built. No member is called, so the interface is left opaque.
#pragma once

#include <Uefi.h>

#define EFI_ACPI_SUPPORT_PROTOCOL_GUID                                                                       \
  {                                                                                                          \
    0xDBFF9D55, 0x89B7, 0x46DA, {                                                                            \
      0xBD, 0xDF, 0x67, 0x7D, 0x3D, 0xC0, 0x24, 0x1D                                                         \
    }                                                                                                        \
  }
extern EFI_GUID gEfiAcpiSupportProtocolGuid;

struct EFI_ACPI_SUPPORT_PROTOCOL;

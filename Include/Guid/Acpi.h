// Configuration-table GUIDs under which the RSDP is published (UEFI 2.x, section 4.6).
#pragma once

#include <Uefi/UefiBaseType.h>

#define ACPI_TABLE_GUID                                                                                      \
  {                                                                                                          \
    0xEB9D2D30, 0x2D88, 0x11D3, {                                                                            \
      0x9A, 0x16, 0x00, 0x90, 0x27, 0x3F, 0xC1, 0x4D                                                         \
    }                                                                                                        \
  }
#define EFI_ACPI_TABLE_GUID                                                                                  \
  {                                                                                                          \
    0x8868E871, 0xE4F1, 0x11D3, {                                                                            \
      0xBC, 0x22, 0x00, 0x80, 0xC7, 0x3C, 0x88, 0x81                                                         \
    }                                                                                                        \
  }

extern EFI_GUID gEfiAcpiTableGuid;   // ACPI 1.0 RSDP
extern EFI_GUID gEfiAcpi20TableGuid; // ACPI 2.0-and-later RSDP

// The test module AcpiProbe: a driver image whose entry hands the test its own copies of the
// DSDT locator and the AML search, so that each load starts with empty DSDT caches.
#pragma once

#include <Library/EfiLib.h>

#define ACPI_PROBE_PROTOCOL_GUID                                                                             \
  {                                                                                                          \
    0x7A3C51E2, 0x4B8D, 0x4E19, {                                                                            \
      0x9C, 0x2F, 0x61, 0x0D, 0x8B, 0x47, 0xA5, 0x3E                                                         \
    }                                                                                                        \
  }

struct ACPI_PROBE_FUNCTIONS {
  EFI_HANDLE ImageHandle;
  EFI_STATUS (*LibGetDsdt)(UINT64 *Dsdt, UINT32 Version);
  EFI_STATUS(*FindAmlObject)
  (UINT8 *Start, UINTN Length, const CHAR8 *Name, UINT32 Kind, AML_OBJECT_INFO *Info);
};

// Installed by the test; the probe's entry calls Run and returns its result.
struct ACPI_PROBE_PROTOCOL {
  EFI_STATUS (*Run)(const ACPI_PROBE_FUNCTIONS *Functions);
};

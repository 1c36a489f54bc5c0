// The ACPI table protocol (UEFI 2.x, section "ACPI Table Protocol"): what the stub uses to
// put the board's DSDT in place of the firmware's.
#pragma once

#include <Uefi.h>

#define NICPATCH_STUB_ACPI_TABLE_PROTOCOL_GUID                                                               \
  {                                                                                                          \
    0xFFE06BDD, 0x6107, 0x46A6, {                                                                            \
      0x7B, 0xB2, 0x5A, 0x9C, 0x7E, 0xC5, 0x27, 0x5C                                                         \
    }                                                                                                        \
  }

struct EFI_ACPI_TABLE_PROTOCOL;

typedef EFI_STATUS(EFIAPI *EFI_ACPI_TABLE_INSTALL_ACPI_TABLE)(EFI_ACPI_TABLE_PROTOCOL *This,
                                                              VOID *AcpiTableBuffer,
                                                              UINTN AcpiTableBufferSize, UINTN *TableKey);
typedef EFI_STATUS(EFIAPI *EFI_ACPI_TABLE_UNINSTALL_ACPI_TABLE)(EFI_ACPI_TABLE_PROTOCOL *This,
                                                                UINTN TableKey);

struct EFI_ACPI_TABLE_PROTOCOL {
  EFI_ACPI_TABLE_INSTALL_ACPI_TABLE InstallAcpiTable;
  EFI_ACPI_TABLE_UNINSTALL_ACPI_TABLE UninstallAcpiTable;
};
static_assert(sizeof(EFI_ACPI_TABLE_PROTOCOL) == 16);

// NicpatchStub entry: the board DSDT, the EEPROM MAC service and the ACPI Support GUID.
#include "NicpatchStub.h"

#include "AcpiTableProtocol.h"

#include <IndustryStandard/Acpi.h>
#include <Library/BaseMemoryLib.h>
#include <Library/UefiBootServicesTableLib.h>
#include <Library/UefiLib.h>
#include <Protocol/AcpiSupport.h>
#include <Protocol/AcpiSystemDescriptionTable.h>
#include <Protocol/EepromMac.h>

namespace {

EFI_GUID mAcpiTableProtocolGuid = NICPATCH_STUB_ACPI_TABLE_PROTOCOL_GUID;

struct STUB_SLOT {
  UINTN Slot;
  const CHAR8 *Text;
};
constexpr STUB_SLOT STUB_SLOTS[] = {{1, NICPATCH_STUB_MAC_SLOT1},
                                    {2, NICPATCH_STUB_MAC_SLOT2},
                                    {5, NICPATCH_STUB_MAC_SLOT5},
                                    {6, NICPATCH_STUB_MAC_SLOT6}};

EFI_STATUS EFIAPI StubGetMacAddresses(CHAR16 *Table) {
  for (const STUB_SLOT &Entry : STUB_SLOTS) {
    CHAR16 *Slot = Table + Entry.Slot * MAC_STRING_SLOT_CHARS;
    ZeroMem(Slot, MAC_STRING_SLOT_BYTES);
    for (UINTN Index = 0; Entry.Text[Index] != '\0' && Index < MAC_STRING_SLOT_CHARS - 1; Index++) {
      Slot[Index] = (CHAR16)Entry.Text[Index];
    }
  }
  return EFI_SUCCESS;
}

// The driver stays resident, so both interfaces can live in the image.
EEPROM_MAC_PROTOCOL mEepromMac = {StubGetMacAddresses};
UINT8 mAcpiSupport = 0;

UINT8 TableChecksum(const UINT8 *Table, UINTN Length) {
  UINT8 Sum = 0;
  for (UINTN Index = 0; Index < Length; Index++) {
    Sum = (UINT8)(Sum + Table[Index]);
  }
  return Sum;
}

// Finds the firmware's FADT and DSDT in the table list of the SDT protocol.
struct FIRMWARE_TABLES {
  EFI_ACPI_6_FIXED_ACPI_DESCRIPTION_TABLE *Fadt;
  BOOLEAN HasDsdt;
  UINTN DsdtKey;
};

FIRMWARE_TABLES FindFirmwareTables() {
  FIRMWARE_TABLES Found = {};
  EFI_ACPI_SDT_PROTOCOL *Sdt = NULL;
  if (EFI_ERROR(gBS->LocateProtocol(&gEfiAcpiSdtProtocolGuid, NULL, reinterpret_cast<VOID **>(&Sdt)))) {
    Print(u"NicpatchStub: no ACPI SDT protocol\n");
    return Found;
  }
  for (UINTN Index = 0;; Index++) {
    EFI_ACPI_SDT_HEADER *Table = NULL;
    EFI_ACPI_TABLE_VERSION Version = 0;
    UINTN Key = 0;
    if (EFI_ERROR(Sdt->GetAcpiTable(Index, &Table, &Version, &Key))) {
      break;
    }
    if (Table->Signature == EFI_ACPI_FIXED_ACPI_DESCRIPTION_TABLE_SIGNATURE) {
      Found.Fadt = reinterpret_cast<EFI_ACPI_6_FIXED_ACPI_DESCRIPTION_TABLE *>(Table);
    } else if (Table->Signature == EFI_ACPI_DIFFERENTIATED_SYSTEM_DESCRIPTION_TABLE_SIGNATURE) {
      Found.HasDsdt = TRUE;
      Found.DsdtKey = Key;
    }
  }
  return Found;
}

// Preferred: the firmware's own table protocol swaps the DSDT and updates the FADT.
EFI_STATUS InstallThroughProtocol(const FIRMWARE_TABLES &Firmware) {
  EFI_ACPI_TABLE_PROTOCOL *AcpiTable = NULL;
  EFI_STATUS Status =
      gBS->LocateProtocol(&mAcpiTableProtocolGuid, NULL, reinterpret_cast<VOID **>(&AcpiTable));
  if (EFI_ERROR(Status)) {
    return Status;
  }
  if (Firmware.HasDsdt) {
    Status = AcpiTable->UninstallAcpiTable(AcpiTable, Firmware.DsdtKey);
    Print(u"NicpatchStub: firmware DSDT uninstalled: %r\n", Status);
  }
  UINTN Key = 0;
  Status = AcpiTable->InstallAcpiTable(AcpiTable, const_cast<UINT8 *>(gNicpatchStubBoardDsdt),
                                       gNicpatchStubBoardDsdtSize, &Key);
  Print(NICPATCH_STUB_INSTALLED_LINE u"%r\n", Status);
  return Status;
}

// Fallback: a copy in ACPI reclaim memory that the FADT points at.
EFI_STATUS LinkThroughFadt(const FIRMWARE_TABLES &Firmware) {
  if (Firmware.Fadt == NULL) {
    Print(NICPATCH_STUB_FADT_LINE u"%r\n", EFI_NOT_FOUND);
    return EFI_NOT_FOUND;
  }
  VOID *Copy = NULL;
  EFI_STATUS Status = gBS->AllocatePool(EfiACPIReclaimMemory, gNicpatchStubBoardDsdtSize, &Copy);
  if (EFI_ERROR(Status)) {
    Print(NICPATCH_STUB_FADT_LINE u"%r\n", Status);
    return Status;
  }
  CopyMem(Copy, gNicpatchStubBoardDsdt, gNicpatchStubBoardDsdtSize);
  EFI_ACPI_6_FIXED_ACPI_DESCRIPTION_TABLE *Fadt = Firmware.Fadt;
  const UINT64 Address = (UINT64)(UINTN)Copy;
  if (Fadt->Header.Length >= OFFSET_OF(EFI_ACPI_6_FIXED_ACPI_DESCRIPTION_TABLE, XDsdt) + sizeof(UINT64)) {
    Fadt->XDsdt = Address;
  }
  Fadt->Dsdt = Address < 0x100000000ull ? (UINT32)Address : 0;
  Fadt->Header.Checksum = 0;
  Fadt->Header.Checksum = (UINT8)(0 - TableChecksum(reinterpret_cast<UINT8 *>(Fadt), Fadt->Header.Length));
  Print(NICPATCH_STUB_FADT_LINE u"%r\n", EFI_SUCCESS);
  return EFI_SUCCESS;
}

} // namespace

EFI_STATUS EFIAPI NicpatchStubEntry(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable) {
  const FIRMWARE_TABLES Firmware = FindFirmwareTables();
  if (EFI_ERROR(InstallThroughProtocol(Firmware))) {
    // The firmware's DSDT may be gone by now; find the tables again before linking ours.
    EFI_STATUS Status = LinkThroughFadt(FindFirmwareTables());
    if (EFI_ERROR(Status)) {
      return Status;
    }
  }
  EFI_HANDLE Handle = NULL;
  return gBS->InstallMultipleProtocolInterfaces(&Handle, &gEepromMacProtocolGuid, &mEepromMac,
                                                &gEfiAcpiSupportProtocolGuid, &mAcpiSupport, NULL);
}

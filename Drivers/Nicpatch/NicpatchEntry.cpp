// Entry of the MAC publication driver: all of its work happens here, once per boot.
#include <Library/EfiLib.h>
#include <Library/UefiBootServicesTableLib.h>

#include "Nicpatch.h"

EFI_STATUS EFIAPI NicpatchEntry(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable) {
  LibInitialize(ImageHandle, SystemTable);
  TraceMessage(TRACE_ALWAYS, "Nicpatch : MAC address publication driver entry\n");

  if (EvaluateSwitch() != 1) {
    return EFI_SUCCESS;
  }

  MAC_STRING_TABLE Table = {};
  CHAR16 *Slots = &Table[0][0];
  EFI_STATUS Status = PrepareMacTable(Slots);
  if (EFI_ERROR(Status)) {
    return Status;
  }

  EEPROM_MAC_PROTOCOL *EepromMac = NULL;
  Status = gBS->LocateProtocol(&gEepromMacProtocolGuid, NULL, reinterpret_cast<VOID **>(&EepromMac));
  if (EFI_ERROR(Status)) {
    return Status;
  }
  // An instance installed without an interface or member serves nothing: as good as absent.
  if (EepromMac == NULL || EepromMac->GetMacAddresses == NULL) {
    return EFI_NOT_FOUND;
  }
  Status = EepromMac->GetMacAddresses(Slots);
  if (EFI_ERROR(Status)) {
    return Status;
  }

  Status = PatchDsdtMacs(Slots);
  if (EFI_ERROR(Status)) {
    return Status;
  }
  return StoreMacTable(Slots);
}

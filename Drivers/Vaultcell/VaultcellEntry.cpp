// Entry of the EEPROM MAC address driver: it only installs EEPROM_MAC_PROTOCOL; the EEPROM is
// read when a consumer calls GetMacAddresses.
#include <Library/EfiLib.h>
#include <Library/UefiBootServicesTableLib.h>

#include "Vaultcell.h"

namespace {

const EEPROM_MAC_PROTOCOL mEepromMac = {GetMacAddresses};

} // namespace

EFI_STATUS EFIAPI VaultcellEntry(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable) {
  LibInitialize(ImageHandle, SystemTable);
  EFI_HANDLE Handle = NULL;
  return gBS->InstallProtocolInterface(&Handle, &gEepromMacProtocolGuid, EFI_NATIVE_INTERFACE,
                                       const_cast<EEPROM_MAC_PROTOCOL *>(&mEepromMac));
}

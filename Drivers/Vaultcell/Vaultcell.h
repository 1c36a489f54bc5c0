// Private declarations of the EEPROM MAC address driver: it serves the board's MAC
// addresses, kept in the I2C EEPROM, as texts through EEPROM_MAC_PROTOCOL, and repairs
// records that hold no usable unicast address with placeholder addresses.
#pragma once

#include <Protocol/EepromMac.h>
#include <Uefi.h>

// The EEPROM: device 0x53 on the I2C library's current bus, two-byte offsets; record n is
// six bytes at offset 6 x n.
constexpr UINT8 VAULTCELL_EEPROM_ADDRESS = 0x53;
constexpr UINTN VAULTCELL_OFFSET_WIDTH = 2;
constexpr UINTN VAULTCELL_RECORD_BYTES = 6;
constexpr UINTN VAULTCELL_MAX_RECORD_NUMBER = 8;

// Which ports 0 to 8 have an EEPROM record.
constexpr UINT8 VAULTCELL_PORT_HAS_RECORD[MAC_STRING_SLOT_COUNT] = {1, 1, 0, 0, 1, 1, 0, 0, 0};
constexpr UINTN VAULTCELL_RECORD_COUNT = 4;

// Offset of record n (n = 0 to 8; other n give offset 0).
constexpr UINT32 VaultcellRecordOffset(UINTN RecordNumber) {
  return RecordNumber <= VAULTCELL_MAX_RECORD_NUMBER ? (UINT32)(RecordNumber * VAULTCELL_RECORD_BYTES) : 0;
}
static_assert(VaultcellRecordOffset(3) == 18 && VaultcellRecordOffset(9) == 0);

// The table slot of a port: port + 1, and slot 0 for port 8.
constexpr UINTN VaultcellSlotOfPort(UINTN Port) {
  return Port == MAC_STRING_SLOT_COUNT - 1 ? 0 : Port + 1;
}
static_assert(VaultcellSlotOfPort(0) == 1 && VaultcellSlotOfPort(5) == 6 && VaultcellSlotOfPort(8) == 0);

EFI_STATUS EFIAPI VaultcellEntry(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable);
EFI_STATUS EFIAPI GetMacAddresses(CHAR16 *Table);

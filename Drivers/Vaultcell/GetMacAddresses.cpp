// GetMacAddresses: reads the MAC records from the EEPROM into the caller's table and repairs
// records that hold no usable unicast address with the slot's placeholder.
#include <Library/BaseLib.h>
#include <Library/BaseMemoryLib.h>
#include <Library/EfiLib.h>
#include <Library/I2CLib.h>
#include <Library/PelmoLib.h>
#include <Library/PrintLib.h>

#include "Vaultcell.h"

namespace {

constexpr UINT8 PLACEHOLDER_PREFIX[] = {0x00, 0x11, 0x22, 0x33, 0x44};
constexpr UINT8 PLACEHOLDER_LAST_BASE = 0x55;
constexpr const CHAR16 *MAC_FORMAT = u"%02x:%02x:%02x:%02x:%02x:%02x";
constexpr UINTN HEX_PAIR_STRIDE = 3;
constexpr UINT8 MAC_GROUP_BIT = 0x01;       // set in the first byte: no unicast address
constexpr UINT8 UNUSABLE_FIRST_BYTE = 0xFF; // what an erased record holds

struct MAC_RECORD {
  UINTN Slot;
  UINTN RecordNumber;
  BOOLEAN ReadOk;
  UINT8 Bytes[VAULTCELL_RECORD_BYTES];
};

CHAR16 *SlotOf(CHAR16 *Table, UINTN Slot) {
  return Table + Slot * MAC_STRING_SLOT_CHARS;
}

VOID FormatMac(CHAR16 *Slot, const UINT8 *Bytes) {
  ZeroMem(Slot, MAC_STRING_SLOT_BYTES);
  UnicodeSPrint(Slot, MAC_STRING_SLOT_BYTES, MAC_FORMAT, Bytes[0], Bytes[1], Bytes[2], Bytes[3], Bytes[4],
                Bytes[5]);
}

// Records of the ports that have one, in port order.
UINTN BuildRecordList(MAC_RECORD *Records) {
  UINTN Count = 0;
  for (UINTN Port = 0; Port < MAC_STRING_SLOT_COUNT; Port++) {
    if (VAULTCELL_PORT_HAS_RECORD[Port] == 1) {
      Records[Count] = {VaultcellSlotOfPort(Port), Count, FALSE, {}};
      Count++;
    }
  }
  return Count;
}

VOID FillPlaceholders(MAC_STRING_TABLE &Placeholders) {
  for (UINTN Slot = 0; Slot < MAC_STRING_SLOT_COUNT; Slot++) {
    const UINT8 Bytes[VAULTCELL_RECORD_BYTES] = {
        PLACEHOLDER_PREFIX[0], PLACEHOLDER_PREFIX[1], PLACEHOLDER_PREFIX[2],
        PLACEHOLDER_PREFIX[3], PLACEHOLDER_PREFIX[4], (UINT8)(PLACEHOLDER_LAST_BASE + Slot)};
    FormatMac(Placeholders[Slot], Bytes);
  }
}

UINT8 HexValue(CHAR16 Digit) {
  if (Digit >= u'0' && Digit <= u'9') {
    return (UINT8)(Digit - u'0');
  }
  return (UINT8)((Digit | 0x20) - u'a' + 10);
}

// The six bytes a valid MAC text spells, high digit first.
VOID MacTextToBytes(const CHAR16 *Text, UINT8 *Bytes) {
  for (UINTN Index = 0; Index < VAULTCELL_RECORD_BYTES; Index++) {
    const CHAR16 *Pair = Text + Index * HEX_PAIR_STRIDE;
    Bytes[Index] = (UINT8)((HexValue(Pair[0]) << 4) | HexValue(Pair[1]));
  }
}

// One EEPROM read, bracketed by the hand-over to and from the management processor. The bus
// is touched only after an acknowledged acquire; the release goes out whatever the acquire
// gave: a processor whose acknowledge came too late has handed the bus over all the same and
// must never be left without it.
VOID ReadRecord(MAC_RECORD &Record) {
  ZeroMem(Record.Bytes, sizeof(Record.Bytes));
  Record.ReadOk = FALSE;
  if (!EFI_ERROR(PelmoI2cHandover(FALSE))) {
    const EFI_STATUS Status = I2cRead(VAULTCELL_EEPROM_ADDRESS, VaultcellRecordOffset(Record.RecordNumber),
                                      VAULTCELL_OFFSET_WIDTH, Record.Bytes, VAULTCELL_RECORD_BYTES);
    Record.ReadOk = !EFI_ERROR(Status);
  }
  PelmoI2cHandover(TRUE);
  // Bytes of a read that failed part way are no address: show the placeholder instead.
  if (!Record.ReadOk) {
    ZeroMem(Record.Bytes, sizeof(Record.Bytes));
  }
}

EFI_STATUS WriteBytes(const MAC_RECORD &Record, UINTN First, const UINT8 *Bytes, UINTN Count) {
  return I2cWrite(VAULTCELL_EEPROM_ADDRESS, VaultcellRecordOffset(Record.RecordNumber) + (UINT32)First,
                  VAULTCELL_OFFSET_WIDTH, Bytes, Count);
}

// The EEPROM programs a record byte by byte, so a write that stops part way leaves a mix of
// old and new bytes. The record stays unusable until it is complete (the next call then
// repairs it again) and never becomes an address nobody wrote: the first byte holds the group
// bit while the others are written, and gets its own value last.
VOID WriteRecordBytes(const MAC_RECORD &Record, const UINT8 *Bytes) {
  EFI_STATUS Status = EFI_SUCCESS;
  if ((Record.Bytes[0] & MAC_GROUP_BIT) == 0) {
    Status = WriteBytes(Record, 0, &UNUSABLE_FIRST_BYTE, 1);
  }
  if (!EFI_ERROR(Status)) {
    Status = WriteBytes(Record, 1, Bytes + 1, VAULTCELL_RECORD_BYTES - 1);
  }
  if (!EFI_ERROR(Status)) {
    WriteBytes(Record, 0, Bytes, 1);
  }
}

// One record's write, bracketed by the hand-over as a read is.
VOID WriteRecord(const MAC_RECORD &Record, const UINT8 *Bytes) {
  if (!EFI_ERROR(PelmoI2cHandover(FALSE))) {
    WriteRecordBytes(Record, Bytes);
  }
  PelmoI2cHandover(TRUE);
}

BOOLEAN SlotHoldsUsableMac(const CHAR16 *Slot) {
  CHAR8 Text[MAC_STRING_SLOT_CHARS] = {};
  if (EFI_ERROR(UnicodeStrToAsciiStrS(Slot, Text, MAC_STRING_SLOT_CHARS))) {
    return FALSE;
  }
  return !EFI_ERROR(ValidateMacText(Text));
}

// Replaces an unusable slot by its placeholder. Only a record that was read is written
// back: a bus error must never overwrite the board's real address.
VOID RepairRecord(CHAR16 *Table, const MAC_RECORD &Record, MAC_STRING_TABLE &Placeholders) {
  CHAR16 *Slot = SlotOf(Table, Record.Slot);
  if (SlotHoldsUsableMac(Slot)) {
    return;
  }
  CopyMem(Slot, Placeholders[Record.Slot], MAC_TEXT_LENGTH * sizeof(CHAR16));
  if (!Record.ReadOk) {
    return;
  }
  UINT8 Bytes[VAULTCELL_RECORD_BYTES];
  MacTextToBytes(Placeholders[Record.Slot], Bytes);
  WriteRecord(Record, Bytes);
}

} // namespace

EFI_STATUS EFIAPI GetMacAddresses(CHAR16 *Table) {
  if (Table == NULL) {
    return EFI_INVALID_PARAMETER;
  }
  MAC_RECORD Records[VAULTCELL_RECORD_COUNT];
  const UINTN Count = BuildRecordList(Records);
  MAC_STRING_TABLE Placeholders;
  FillPlaceholders(Placeholders);

  for (UINTN Index = 0; Index < Count; Index++) {
    ReadRecord(Records[Index]);
    FormatMac(SlotOf(Table, Records[Index].Slot), Records[Index].Bytes);
  }
  for (UINTN Index = 0; Index < Count; Index++) {
    RepairRecord(Table, Records[Index], Placeholders);
  }
  return EFI_SUCCESS;
}

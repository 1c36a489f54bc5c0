// Private declarations of the MAC publication driver: it reconciles its switch variables,
// fills a MAC_STRING_TABLE from the MAC variables and the board's EEPROM service, writes the
// texts into the "local-mac-address" entries of the SoC Ethernet devices in the DSDT and
// stores the table back.
#pragma once

#include <Guid/NicpatchVariables.h>
#include <Protocol/EepromMac.h>
#include <Uefi.h>

// Variable attributes.
constexpr UINT32 NICPATCH_NV_BS = EFI_VARIABLE_NON_VOLATILE | EFI_VARIABLE_BOOTSERVICE_ACCESS;
constexpr UINT32 NICPATCH_NV_BS_RT = NICPATCH_NV_BS | EFI_VARIABLE_RUNTIME_ACCESS;
static_assert(NICPATCH_NV_BS == 3 && NICPATCH_NV_BS_RT == 7);

// Text variables (the switch text and MAC0..MAC8) are 40-byte CHAR16 buffers; converted to
// 8-bit text they hold at most 19 characters and a NUL.
constexpr UINTN NICPATCH_TEXT_CHARS = MAC_STRING_SLOT_CHARS;
constexpr UINTN NICPATCH_TEXT_BYTES = NICPATCH_TEXT_CHARS * sizeof(CHAR16);
static_assert(NICPATCH_TEXT_BYTES == 40);

// ACPI table versions the DSDT lookup accepts: 1.0b, 2.0, 3.0 and 4.0.
constexpr UINT32 NICPATCH_DSDT_VERSIONS = 0x02 | 0x04 | 0x08 | 0x10;
static_assert(NICPATCH_DSDT_VERSIONS == 30);

EFI_STATUS EFIAPI NicpatchEntry(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable);

// Reconciles "NicpatchSwitchBaseComparand", "NicpatchSetupSwitchVar" and "NicpatchSwitch";
// returns the switch state, 0 or 1. With the switch off, MAC0..MAC8 are deleted.
UINT8 EvaluateSwitch();

// Fills every slot of Table from MACs, replacing a missing or unusable variable by the slot's
// placeholder text (which is then stored).
EFI_STATUS PrepareMacTable(CHAR16 *Table);

// Writes the slot texts into the SoC Ethernet devices' "local-mac-address" values in the DSDT.
EFI_STATUS PatchDsdtMacs(const CHAR16 *Table);

// Rewrites MAC0..MAC8 from Table.
EFI_STATUS StoreMacTable(const CHAR16 *Table);

// First occurrence of Pattern in Data, or NULL (also when Pattern is empty or longer than Data).
const UINT8 *FindBytes(const UINT8 *Data, UINTN DataLength, const UINT8 *Pattern, UINTN PatternLength);

// Helpers shared by the units.
// Forms "MAC<Slot>" into Name (NICPATCH_TEXT_CHARS characters).
VOID NicpatchMacVariableName(UINTN Slot, CHAR16 *Name);
// Prints the placeholder MAC text of Slot (00:11:22:33:44:55 + Slot) into Text.
VOID NicpatchDefaultMacText(UINTN Slot, CHAR16 *Text);
// The table slot that the Ethernet device with unit digit Unit (0..8) uses.
constexpr UINTN NicpatchSlotOfUnit(UINTN Unit) {
  return Unit == 8 ? 0 : Unit + 1;
}
static_assert(NicpatchSlotOfUnit(0) == 1 && NicpatchSlotOfUnit(7) == 8 && NicpatchSlotOfUnit(8) == 0);

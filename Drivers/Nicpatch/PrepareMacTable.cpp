// Fills the MAC table from MAC0..MAC8, seeding missing or unusable variables with the
// slot's placeholder text.
#include <Library/BaseLib.h>
#include <Library/BaseMemoryLib.h>
#include <Library/EfiLib.h>
#include <Library/UefiRuntimeServicesTableLib.h>

#include "Nicpatch.h"

namespace {

// A stored value is usable when its text ends inside the 40-byte buffer, every character
// fits in 8 bits, and it is a valid unicast MAC text.
BOOLEAN IsUsableMacValue(const CHAR16 *Value) {
  if (StrnLenS(Value, NICPATCH_TEXT_CHARS) >= NICPATCH_TEXT_CHARS) {
    return FALSE;
  }
  CHAR8 Text[NICPATCH_TEXT_CHARS] = {};
  if (EFI_ERROR(UnicodeStrToAsciiStrS(Value, Text, NICPATCH_TEXT_CHARS))) {
    return FALSE;
  }
  return !EFI_ERROR(ValidateMacText(Text));
}

// Reads MACs into Value; replaces it (in Value and in the variable) with the placeholder
// when it is missing, too large or unusable.
EFI_STATUS LoadSlotValue(UINTN Slot, CHAR16 *Name, CHAR16 *Value) {
  ZeroMem(Value, NICPATCH_TEXT_BYTES);
  UINTN Size = NICPATCH_TEXT_BYTES;
  const EFI_STATUS Status = gRT->GetVariable(Name, &gNicpatchMacVariableGuid, NULL, &Size, Value);
  if (!EFI_ERROR(Status) && IsUsableMacValue(Value)) {
    return EFI_SUCCESS;
  }
  if (!EFI_ERROR(Status) || Status == EFI_BUFFER_TOO_SMALL) {
    // An unusable value, or one of the wrong size, goes first: left in place with other
    // attributes it would make the rewrite below fail on every boot.
    gRT->SetVariable(Name, &gNicpatchMacVariableGuid, 0, 0, NULL);
  }

  ZeroMem(Value, NICPATCH_TEXT_BYTES);
  NicpatchDefaultMacText(Slot, Value);
  return gRT->SetVariable(Name, &gNicpatchMacVariableGuid, NICPATCH_NV_BS, NICPATCH_TEXT_BYTES, Value);
}

} // namespace

EFI_STATUS PrepareMacTable(CHAR16 *Table) {
  for (UINTN Slot = 0; Slot < MAC_STRING_SLOT_COUNT; Slot++) {
    CHAR16 Name[NICPATCH_TEXT_CHARS] = {};
    CHAR16 Value[NICPATCH_TEXT_CHARS];
    NicpatchMacVariableName(Slot, Name);
    const EFI_STATUS Status = LoadSlotValue(Slot, Name, Value);
    if (EFI_ERROR(Status)) {
      return Status;
    }
    CHAR16 *Entry = Table + Slot * MAC_STRING_SLOT_CHARS;
    ZeroMem(Entry, MAC_STRING_SLOT_BYTES);
    StrnCpyS(Entry, MAC_STRING_SLOT_CHARS, Value, MAC_STRING_SLOT_CHARS - 1);
  }
  return EFI_SUCCESS;
}

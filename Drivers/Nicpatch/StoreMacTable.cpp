// Writes the final MAC table back into MAC0..MAC8.
#include <Library/BaseLib.h>
#include <Library/BaseMemoryLib.h>
#include <Library/UefiRuntimeServicesTableLib.h>

#include "Nicpatch.h"

EFI_STATUS StoreMacTable(const CHAR16 *Table) {
  for (UINTN Slot = 0; Slot < MAC_STRING_SLOT_COUNT; Slot++) {
    CHAR16 Name[NICPATCH_TEXT_CHARS] = {};
    NicpatchMacVariableName(Slot, Name);
    // Deleting first lets the rewrite succeed whatever attributes the old variable had.
    gRT->SetVariable(Name, &gNicpatchMacVariableGuid, 0, 0, NULL);

    CHAR16 Value[NICPATCH_TEXT_CHARS] = {};
    const CHAR16 *Entry = Table + Slot * MAC_STRING_SLOT_CHARS;
    UINTN Length = 0;
    while (Length < MAC_STRING_SLOT_CHARS - 1 && Entry[Length] != u'\0') {
      Value[Length] = Entry[Length];
      Length++;
    }
    const EFI_STATUS Status =
        gRT->SetVariable(Name, &gNicpatchMacVariableGuid, NICPATCH_NV_BS, NICPATCH_TEXT_BYTES, Value);
    if (EFI_ERROR(Status)) {
      return Status;
    }
  }
  return EFI_SUCCESS;
}

// The publication switch: three copies of one bit that must agree after every boot.
//
// "NicpatchSwitchBaseComparand" (C) remembers the state of the previous boot;
// "NicpatchSetupSwitchVar" (P, 1 byte) and "NicpatchSwitch" (T, CHAR16 text) are the copies a
// user may edit. An edit of either copy that makes it differ from C flips the switch.
#include <Library/BaseLib.h>
#include <Library/BaseMemoryLib.h>
#include <Library/PrintLib.h>
#include <Library/UefiRuntimeServicesTableLib.h>

#include "Nicpatch.h"

namespace {

CHAR16 mSwitchTextName[] = NICPATCH_SWITCH_VARIABLE_NAME;
CHAR16 mSetupSwitchName[] = NICPATCH_SETUP_SWITCH_VARIABLE_NAME;
CHAR16 mComparandName[] = NICPATCH_SWITCH_COMPARAND_VARIABLE_NAME;

constexpr UINT8 SWITCH_OFF = 0;
constexpr UINT8 SWITCH_ON = 1;

BOOLEAN ReadSwitchByte(CHAR16 *Name, UINT8 *Value) {
  UINT8 Data = 0;
  UINTN Size = sizeof(Data);
  const EFI_STATUS Status = gRT->GetVariable(Name, &gNicpatchSwitchGuid, NULL, &Size, &Data);
  if (EFI_ERROR(Status) || Size != sizeof(Data)) {
    return FALSE;
  }
  *Value = Data;
  return TRUE;
}

EFI_STATUS WriteSwitchByte(CHAR16 *Name, UINT32 Attributes, UINT8 Value) {
  return gRT->SetVariable(Name, &gNicpatchSwitchGuid, Attributes, sizeof(Value), &Value);
}

// The text copy is acceptable when it is NUL-terminated inside its 40 bytes and reads "0" or
// "1" over its own length (so an empty text is accepted too and counts as 0).
BOOLEAN ReadSwitchText(CHAR16 *Text) {
  ZeroMem(Text, NICPATCH_TEXT_BYTES);
  UINTN Size = NICPATCH_TEXT_BYTES;
  const EFI_STATUS Status = gRT->GetVariable(mSwitchTextName, &gNicpatchMacVariableGuid, NULL, &Size, Text);
  if (EFI_ERROR(Status)) {
    return FALSE;
  }
  const UINTN Length = StrnLenS(Text, NICPATCH_TEXT_CHARS);
  if (Length >= NICPATCH_TEXT_CHARS) {
    return FALSE;
  }
  return StrnCmp(Text, u"0", Length) == 0 || StrnCmp(Text, u"1", Length) == 0;
}

VOID PrintSwitchText(CHAR16 *Text, UINT8 State) {
  ZeroMem(Text, NICPATCH_TEXT_BYTES);
  UnicodeSPrint(Text, NICPATCH_TEXT_BYTES, u"%d", (INT32)State);
}

EFI_STATUS WriteSwitchText(CHAR16 *Text) {
  return gRT->SetVariable(mSwitchTextName, &gNicpatchMacVariableGuid, NICPATCH_NV_BS, NICPATCH_TEXT_BYTES,
                          Text);
}

UINT8 SwitchTextValue(const CHAR16 *Text) {
  CHAR8 Ascii[NICPATCH_TEXT_CHARS] = {};
  if (EFI_ERROR(UnicodeStrToAsciiStrS(Text, Ascii, NICPATCH_TEXT_CHARS))) {
    return SWITCH_OFF;
  }
  return (UINT8)AsciiStrDecimalToUintn(Ascii);
}

// With publication off no MAC variable survives the boot, whatever its size.
VOID DeleteMacVariables() {
  for (UINTN Slot = 0; Slot < MAC_STRING_SLOT_COUNT; Slot++) {
    CHAR16 Name[NICPATCH_TEXT_CHARS] = {};
    CHAR16 Value[NICPATCH_TEXT_CHARS] = {};
    UINTN Size = sizeof(Value);
    NicpatchMacVariableName(Slot, Name);
    const EFI_STATUS Status = gRT->GetVariable(Name, &gNicpatchMacVariableGuid, NULL, &Size, Value);
    if (Status == EFI_SUCCESS || Status == EFI_BUFFER_TOO_SMALL) {
      gRT->SetVariable(Name, &gNicpatchMacVariableGuid, 0, 0, NULL);
    }
  }
}

} // namespace

UINT8 EvaluateSwitch() {
  UINT8 Comparand = SWITCH_OFF;
  if (!ReadSwitchByte(mComparandName, &Comparand)) {
    Comparand = SWITCH_OFF;
    WriteSwitchByte(mComparandName, NICPATCH_NV_BS, Comparand);
  }

  UINT8 Setup = SWITCH_OFF;
  if (!ReadSwitchByte(mSetupSwitchName, &Setup)) {
    Setup = Comparand;
    WriteSwitchByte(mSetupSwitchName, NICPATCH_NV_BS_RT, Setup);
  }

  CHAR16 Text[NICPATCH_TEXT_CHARS];
  if (!ReadSwitchText(Text)) {
    PrintSwitchText(Text, Comparand);
    WriteSwitchText(Text);
  }
  const UINT8 TextValue = SwitchTextValue(Text);

  // A remembered state other than 0 or 1 is never kept: it turns the switch off.
  const BOOLEAN ComparandValid = Comparand == SWITCH_OFF || Comparand == SWITCH_ON;
  if (Setup != Comparand || TextValue != Comparand || !ComparandValid) {
    Comparand = Comparand == SWITCH_OFF ? SWITCH_ON : SWITCH_OFF;
    Setup = Comparand;
    PrintSwitchText(Text, Comparand);
    WriteSwitchByte(mSetupSwitchName, NICPATCH_NV_BS_RT, Setup);
    WriteSwitchText(Text);
    WriteSwitchByte(mComparandName, NICPATCH_NV_BS, Comparand);
  }

  if (Comparand != SWITCH_OFF) {
    return Comparand;
  }
  DeleteMacVariables();
  return SWITCH_OFF;
}

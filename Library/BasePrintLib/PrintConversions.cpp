// Text of the conversions that do not print a caller's string: numbers, GUIDs, status
// values and times.
#include "PrintEngine.h"

namespace PrintInternal {

namespace {

constexpr CHAR8 LowerDigits[] = "0123456789abcdef";
constexpr CHAR8 UpperDigits[] = "0123456789ABCDEF";
constexpr UINTN StatusDigits = 16;
constexpr UINTN ThousandsGroup = 3;

} // namespace

void AppendHex(ScratchText &Scratch, UINT64 Value, UINTN Digits, bool UpperCase) {
  const CHAR8 *Table = UpperCase ? UpperDigits : LowerDigits;
  for (UINTN Index = Digits; Index > 0; Index--) {
    UINTN Shift = (Index - 1) * 4;
    Scratch.Append(Shift < 64 ? Table[(Value >> Shift) & 0xF] : '0');
  }
}

void AppendDecimal(ScratchText &Scratch, UINT64 Value, UINTN Digits) {
  Directive Spec{FlagPrecision, 0, Digits};
  FormatMagnitude(Scratch, Value, 10, false, Spec);
}

void FormatMagnitude(ScratchText &Scratch, UINT64 Magnitude, UINT32 Radix, bool UpperCase,
                     const Directive &Spec) {
  const CHAR8 *Table = UpperCase ? UpperDigits : LowerDigits;
  CHAR8 Reversed[ScratchText::Capacity];
  UINTN Count = 0;
  UINTN Digits = 0;
  bool Commas = (Spec.Flags & FlagComma) != 0 && Radix == 10;
  UINTN MinimumDigits = (Spec.Flags & FlagPrecision) != 0 ? Spec.Precision : 1;
  while ((Magnitude != 0 || Digits < MinimumDigits) && Count + 2 < sizeof(Reversed)) {
    if (Commas && Digits != 0 && Digits % ThousandsGroup == 0) {
      Reversed[Count++] = ',';
    }
    Reversed[Count++] = Table[Magnitude % Radix];
    Magnitude /= Radix;
    Digits++;
  }
  while (Count > 0) {
    Scratch.Append(Reversed[--Count]);
  }
}

void FormatGuid(ScratchText &Scratch, const EFI_GUID *Guid) {
  if (Guid == NULL) {
    for (const CHAR8 *Text = "<null guid>"; *Text != 0; Text++) {
      Scratch.Append(*Text);
    }
    return;
  }
  AppendHex(Scratch, Guid->Data1, 8, false);
  Scratch.Append('-');
  AppendHex(Scratch, Guid->Data2, 4, false);
  Scratch.Append('-');
  AppendHex(Scratch, Guid->Data3, 4, false);
  Scratch.Append('-');
  for (UINTN Index = 0; Index < sizeof(Guid->Data4); Index++) {
    if (Index == 2) {
      Scratch.Append('-');
    }
    AppendHex(Scratch, Guid->Data4[Index], 2, false);
  }
}

// The status name, or the full 64-bit value in hexadecimal when the status has no name.
void FormatStatus(ScratchText &Scratch, EFI_STATUS Status) {
  const CHAR8 *Name = StatusCodeName(Status);
  if (Name == NULL) {
    AppendHex(Scratch, Status, StatusDigits, true);
    return;
  }
  for (; *Name != 0; Name++) {
    Scratch.Append(*Name);
  }
}

// "mm/dd/yyyy  hh:mm".
void FormatTime(ScratchText &Scratch, const EFI_TIME *Time) {
  if (Time == NULL) {
    for (const CHAR8 *Text = "<null time>"; *Text != 0; Text++) {
      Scratch.Append(*Text);
    }
    return;
  }
  AppendDecimal(Scratch, Time->Month, 2);
  Scratch.Append('/');
  AppendDecimal(Scratch, Time->Day, 2);
  Scratch.Append('/');
  AppendDecimal(Scratch, Time->Year, 4);
  Scratch.Append(' ');
  Scratch.Append(' ');
  AppendDecimal(Scratch, Time->Hour, 2);
  Scratch.Append(':');
  AppendDecimal(Scratch, Time->Minute, 2);
}

} // namespace PrintInternal

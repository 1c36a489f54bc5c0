// The MAC text check shared by the MAC publication and EEPROM drivers.
//
// A MAC text is "xx:xx:xx:xx:xx:xx": 17 characters, two hexadecimal digits per byte (either
// case), first byte first. It is usable when the address it spells is neither all zero nor
// a group address (bit 0 of the first byte set).
#include <Library/EfiLib.h>

namespace {

constexpr UINTN MAC_BYTE_COUNT = 6;
constexpr UINTN MAC_BYTE_STRIDE = 3; // two digits and a separator
constexpr CHAR8 MAC_SEPARATOR = ':';
constexpr UINT8 MAC_GROUP_BIT = 0x01;
constexpr UINT8 NOT_A_DIGIT = 0xFF;

static_assert(MAC_TEXT_LENGTH == MAC_BYTE_COUNT * MAC_BYTE_STRIDE - 1);

constexpr UINT8 HexDigitValue(CHAR8 Character) {
  if (Character >= '0' && Character <= '9') {
    return (UINT8)(Character - '0');
  }
  if (Character >= 'a' && Character <= 'f') {
    return (UINT8)(Character - 'a' + 10);
  }
  if (Character >= 'A' && Character <= 'F') {
    return (UINT8)(Character - 'A' + 10);
  }
  return NOT_A_DIGIT;
}

static_assert(HexDigitValue('0') == 0 && HexDigitValue('9') == 9);
static_assert(HexDigitValue('a') == 10 && HexDigitValue('F') == 15);
static_assert(HexDigitValue('g') == NOT_A_DIGIT && HexDigitValue(':') == NOT_A_DIGIT);

constexpr bool IsSeparatorPosition(UINTN Index) {
  return Index % MAC_BYTE_STRIDE == MAC_BYTE_STRIDE - 1;
}

static_assert(IsSeparatorPosition(2) && IsSeparatorPosition(14) && !IsSeparatorPosition(16));

} // namespace

EFI_STATUS ValidateMacText(const CHAR8 *Text) {
  if (Text == NULL) {
    return EFI_INVALID_PARAMETER;
  }

  UINT8 Address[MAC_BYTE_COUNT] = {};
  // Stops at the first character out of place, so a short text is never read past its NUL.
  for (UINTN Index = 0; Index < MAC_TEXT_LENGTH; Index++) {
    const CHAR8 Character = Text[Index];
    if (IsSeparatorPosition(Index)) {
      if (Character != MAC_SEPARATOR) {
        return EFI_INVALID_PARAMETER;
      }
      continue;
    }
    const UINT8 Digit = HexDigitValue(Character);
    if (Digit == NOT_A_DIGIT) {
      return EFI_INVALID_PARAMETER;
    }
    UINT8 &Byte = Address[Index / MAC_BYTE_STRIDE];
    Byte = (UINT8)((Byte << 4) | Digit);
  }
  if (Text[MAC_TEXT_LENGTH] != '\0') {
    return EFI_INVALID_PARAMETER;
  }

  if ((Address[0] & MAC_GROUP_BIT) != 0) {
    return EFI_INVALID_PARAMETER;
  }
  for (UINTN Index = 0; Index < MAC_BYTE_COUNT; Index++) {
    if (Address[Index] != 0) {
      return EFI_SUCCESS;
    }
  }
  return EFI_INVALID_PARAMETER;
}

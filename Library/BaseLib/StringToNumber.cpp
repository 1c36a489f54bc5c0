// Decimal and hexadecimal text to UINTN. Leading blanks and zeros are skipped and the
// conversion stops at the first character that is not a digit; an overflowing value
// saturates at MAX_UINTN instead of wrapping.
#include "StringCore.h"

using namespace BaseLibInternal;

namespace {

constexpr UINTN DecimalRadix = 10;
constexpr UINTN HexRadix = 16;

template <typename Char> const Char *SkipBlanksAndZeros(const Char *String) {
  while (IsBlank(*String)) {
    String++;
  }
  while (*String == '0') {
    String++;
  }
  return String;
}

// Value of C in Radix, or -1 when it is not a digit of that radix.
template <typename Char> INTN DigitValue(Char C, UINTN Radix) {
  if (Radix == DecimalRadix) {
    return IsDecimalDigit(C) ? C - '0' : -1;
  }
  return HexDigitValue(C);
}

template <typename Char> UINTN Accumulate(const Char *String, UINTN Radix) {
  UINTN Result = 0;
  for (INTN Digit = DigitValue(*String, Radix); Digit >= 0; Digit = DigitValue(*++String, Radix)) {
    if (Result > (MAX_UINTN - static_cast<UINTN>(Digit)) / Radix) {
      return MAX_UINTN;
    }
    Result = Result * Radix + static_cast<UINTN>(Digit);
  }
  return Result;
}

template <typename Char> UINTN DecimalToUintn(const Char *String) {
  if (String == NULL) {
    return 0;
  }
  return Accumulate(SkipBlanksAndZeros(String), DecimalRadix);
}

template <typename Char> UINTN HexToUintn(const Char *String) {
  if (String == NULL) {
    return 0;
  }
  const Char *Start = String;
  while (IsBlank(*Start)) {
    Start++;
  }
  String = SkipBlanksAndZeros(Start);
  // "0x" prefix: only after at least one zero.
  if (String != Start && (*String == 'x' || *String == 'X')) {
    String++;
    while (*String == '0') {
      String++;
    }
  }
  return Accumulate(String, HexRadix);
}

} // namespace

UINTN StrDecimalToUintn(const CHAR16 *String) {
  return DecimalToUintn(String);
}

UINTN StrHexToUintn(const CHAR16 *String) {
  return HexToUintn(String);
}

UINTN AsciiStrDecimalToUintn(const CHAR8 *String) {
  return DecimalToUintn(String);
}

UINTN AsciiStrHexToUintn(const CHAR8 *String) {
  return HexToUintn(String);
}

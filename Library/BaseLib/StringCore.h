// Character-width-independent string primitives shared by the 8- and 16-bit routines.
#pragma once

#include <Library/BaseLib.h>

namespace BaseLibInternal {

template <typename Char> constexpr UINTN Length(const Char *String) {
  UINTN Count = 0;
  if (String == NULL) {
    return 0;
  }
  while (String[Count] != 0) {
    Count++;
  }
  return Count;
}

template <typename Char> constexpr UINTN BoundedLength(const Char *String, UINTN MaxSize) {
  UINTN Count = 0;
  if (String == NULL) {
    return 0;
  }
  while (Count < MaxSize && String[Count] != 0) {
    Count++;
  }
  return Count;
}

// A character's code as an unsigned value (CHAR8 is signed on some targets).
constexpr UINT32 CharValue(CHAR8 C) {
  return static_cast<UINT8>(C);
}
constexpr UINT32 CharValue(CHAR16 C) {
  return C;
}

// Compares at most Length characters; characters compare as unsigned values.
template <typename Char> constexpr INTN Compare(const Char *First, const Char *Second, UINTN Length) {
  for (UINTN Index = 0; Index < Length; Index++) {
    UINT32 A = CharValue(First[Index]);
    UINT32 B = CharValue(Second[Index]);
    if (A != B || A == 0) {
      return static_cast<INTN>(A) - static_cast<INTN>(B);
    }
  }
  return 0;
}

// True when the byte ranges [A, A + SizeA) and [B, B + SizeB) share a byte.
inline bool Overlaps(const VOID *A, UINTN SizeA, const VOID *B, UINTN SizeB) {
  UINTN StartA = reinterpret_cast<UINTN>(A);
  UINTN StartB = reinterpret_cast<UINTN>(B);
  return StartA < StartB + SizeB && StartB < StartA + SizeA;
}

template <typename Char> constexpr bool IsBlank(Char C) {
  return C == ' ' || C == '\t';
}

template <typename Char> constexpr bool IsDecimalDigit(Char C) {
  return C >= '0' && C <= '9';
}

// The digit's value, or -1 for a character that is not a hexadecimal digit.
template <typename Char> constexpr INTN HexDigitValue(Char C) {
  if (C >= '0' && C <= '9') {
    return C - '0';
  }
  if (C >= 'a' && C <= 'f') {
    return C - 'a' + 10;
  }
  if (C >= 'A' && C <= 'F') {
    return C - 'A' + 10;
  }
  return -1;
}

static_assert(HexDigitValue('f') == 15 && HexDigitValue('G') == -1 && HexDigitValue(u'9') == 9);

} // namespace BaseLibInternal

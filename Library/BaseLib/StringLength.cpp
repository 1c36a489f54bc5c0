// String lengths and sizes.
#include "StringCore.h"

using namespace BaseLibInternal;

UINTN StrLen(const CHAR16 *String) {
  return Length(String);
}

UINTN StrSize(const CHAR16 *String) {
  return (Length(String) + 1) * sizeof(CHAR16);
}

UINTN StrnLenS(const CHAR16 *String, UINTN MaxSize) {
  return BoundedLength(String, MaxSize);
}

UINTN AsciiStrLen(const CHAR8 *String) {
  return Length(String);
}

UINTN AsciiStrSize(const CHAR8 *String) {
  return Length(String) + 1;
}

UINTN AsciiStrnLenS(const CHAR8 *String, UINTN MaxSize) {
  return BoundedLength(String, MaxSize);
}

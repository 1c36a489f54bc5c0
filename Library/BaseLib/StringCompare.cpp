// String comparison: the difference of the first differing characters, 0 when equal.
#include "StringCore.h"

using namespace BaseLibInternal;

INTN StrCmp(const CHAR16 *FirstString, const CHAR16 *SecondString) {
  return Compare(FirstString, SecondString, MAX_UINTN);
}

INTN StrnCmp(const CHAR16 *FirstString, const CHAR16 *SecondString, UINTN Length) {
  return Compare(FirstString, SecondString, Length);
}

INTN AsciiStrCmp(const CHAR8 *FirstString, const CHAR8 *SecondString) {
  return Compare(FirstString, SecondString, MAX_UINTN);
}

INTN AsciiStrnCmp(const CHAR8 *FirstString, const CHAR8 *SecondString, UINTN Length) {
  return Compare(FirstString, SecondString, Length);
}

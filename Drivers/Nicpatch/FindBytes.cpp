// Byte-pattern search used to find the "local-mac-address" key inside a _DSM method.
#include "Nicpatch.h"

const UINT8 *FindBytes(const UINT8 *Data, UINTN DataLength, const UINT8 *Pattern, UINTN PatternLength) {
  if (Data == NULL || Pattern == NULL || PatternLength == 0 || DataLength < PatternLength) {
    return NULL;
  }
  const UINTN LastStart = DataLength - PatternLength;
  for (UINTN Start = 0; Start <= LastStart; Start++) {
    UINTN Matched = 0;
    while (Matched < PatternLength && Data[Start + Matched] == Pattern[Matched]) {
      Matched++;
    }
    if (Matched == PatternLength) {
      return Data + Start;
    }
  }
  return NULL;
}

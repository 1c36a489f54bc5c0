// The public print functions: four combinations of output and format character width.
#include "PrintEngine.h"

using PrintInternal::FormatText;

UINTN UnicodeVSPrint(CHAR16 *StartOfBuffer, UINTN BufferSize, const CHAR16 *FormatString, VA_LIST Marker) {
  return FormatText(StartOfBuffer, BufferSize, FormatString, Marker);
}

UINTN UnicodeSPrint(CHAR16 *StartOfBuffer, UINTN BufferSize, const CHAR16 *FormatString, ...) {
  VA_LIST Marker;
  VA_START(Marker, FormatString);
  UINTN Count = FormatText(StartOfBuffer, BufferSize, FormatString, Marker);
  VA_END(Marker);
  return Count;
}

UINTN UnicodeVSPrintAsciiFormat(CHAR16 *StartOfBuffer, UINTN BufferSize, const CHAR8 *FormatString,
                                VA_LIST Marker) {
  return FormatText(StartOfBuffer, BufferSize, FormatString, Marker);
}

UINTN UnicodeSPrintAsciiFormat(CHAR16 *StartOfBuffer, UINTN BufferSize, const CHAR8 *FormatString, ...) {
  VA_LIST Marker;
  VA_START(Marker, FormatString);
  UINTN Count = FormatText(StartOfBuffer, BufferSize, FormatString, Marker);
  VA_END(Marker);
  return Count;
}

UINTN AsciiVSPrint(CHAR8 *StartOfBuffer, UINTN BufferSize, const CHAR8 *FormatString, VA_LIST Marker) {
  return FormatText(StartOfBuffer, BufferSize, FormatString, Marker);
}

UINTN AsciiSPrint(CHAR8 *StartOfBuffer, UINTN BufferSize, const CHAR8 *FormatString, ...) {
  VA_LIST Marker;
  VA_START(Marker, FormatString);
  UINTN Count = FormatText(StartOfBuffer, BufferSize, FormatString, Marker);
  VA_END(Marker);
  return Count;
}

UINTN AsciiVSPrintUnicodeFormat(CHAR8 *StartOfBuffer, UINTN BufferSize, const CHAR16 *FormatString,
                                VA_LIST Marker) {
  return FormatText(StartOfBuffer, BufferSize, FormatString, Marker);
}

UINTN AsciiSPrintUnicodeFormat(CHAR8 *StartOfBuffer, UINTN BufferSize, const CHAR16 *FormatString, ...) {
  VA_LIST Marker;
  VA_START(Marker, FormatString);
  UINTN Count = FormatText(StartOfBuffer, BufferSize, FormatString, Marker);
  VA_END(Marker);
  return Count;
}

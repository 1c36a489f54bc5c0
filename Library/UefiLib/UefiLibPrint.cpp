// Console print: format into a bounded stack buffer, then hand it to the console's
// OutputString. Text beyond the buffer is cut.
#include <Library/PrintLib.h>
#include <Library/UefiBootServicesTableLib.h>
#include <Library/UefiLib.h>

namespace {

constexpr UINTN MaxPrintCharacters = 320;

UINTN Output(EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL *Console, CHAR16 *Text, UINTN Count) {
  if (Console == NULL) {
    return 0; // nothing was printed
  }
  if (Count == 0) {
    return 0;
  }
  Console->OutputString(Console, Text);
  return Count;
}

EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL *ConsoleOut() {
  return gST != NULL ? gST->ConOut : NULL;
}
EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL *StandardError() {
  return gST != NULL ? gST->StdErr : NULL;
}

UINTN PrintUnicode(EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL *Console, const CHAR16 *Format, VA_LIST Marker) {
  CHAR16 Buffer[MaxPrintCharacters];
  UINTN Count = UnicodeVSPrint(Buffer, sizeof(Buffer), Format, Marker);
  return Output(Console, Buffer, Count);
}

UINTN PrintAscii(EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL *Console, const CHAR8 *Format, VA_LIST Marker) {
  CHAR16 Buffer[MaxPrintCharacters];
  UINTN Count = UnicodeVSPrintAsciiFormat(Buffer, sizeof(Buffer), Format, Marker);
  return Output(Console, Buffer, Count);
}

} // namespace

UINTN Print(const CHAR16 *Format, ...) {
  VA_LIST Marker;
  VA_START(Marker, Format);
  UINTN Count = PrintUnicode(ConsoleOut(), Format, Marker);
  VA_END(Marker);
  return Count;
}

UINTN ErrorPrint(const CHAR16 *Format, ...) {
  VA_LIST Marker;
  VA_START(Marker, Format);
  UINTN Count = PrintUnicode(StandardError(), Format, Marker);
  VA_END(Marker);
  return Count;
}

UINTN AsciiPrint(const CHAR8 *Format, ...) {
  VA_LIST Marker;
  VA_START(Marker, Format);
  UINTN Count = PrintAscii(ConsoleOut(), Format, Marker);
  VA_END(Marker);
  return Count;
}

UINTN AsciiErrorPrint(const CHAR8 *Format, ...) {
  VA_LIST Marker;
  VA_START(Marker, Format);
  UINTN Count = PrintAscii(StandardError(), Format, Marker);
  VA_END(Marker);
  return Count;
}

// Formatted print into 8- and 16-bit buffers with the EDK2 print conventions:
// %a %s %S %c %d %i %u %x %X %p %g %r %% with l/L 64-bit prefixes, widths, '*' widths,
// zero fill, '-' left justify and ',' ... as EDK2 PrintLib. %s and %S print CHAR16 text
// in the Unicode functions and %a CHAR8 text in all of them. BufferSize counts bytes.
// Results count characters written, terminating NUL not counted.
#pragma once

#include <Uefi/UefiBaseType.h>

UINTN UnicodeSPrint(CHAR16 *StartOfBuffer, UINTN BufferSize, const CHAR16 *FormatString, ...);
UINTN UnicodeVSPrint(CHAR16 *StartOfBuffer, UINTN BufferSize, const CHAR16 *FormatString, VA_LIST Marker);
UINTN UnicodeSPrintAsciiFormat(CHAR16 *StartOfBuffer, UINTN BufferSize, const CHAR8 *FormatString, ...);
UINTN UnicodeVSPrintAsciiFormat(CHAR16 *StartOfBuffer, UINTN BufferSize, const CHAR8 *FormatString,
                                VA_LIST Marker);
UINTN AsciiSPrint(CHAR8 *StartOfBuffer, UINTN BufferSize, const CHAR8 *FormatString, ...);
UINTN AsciiVSPrint(CHAR8 *StartOfBuffer, UINTN BufferSize, const CHAR8 *FormatString, VA_LIST Marker);
UINTN AsciiSPrintUnicodeFormat(CHAR8 *StartOfBuffer, UINTN BufferSize, const CHAR16 *FormatString, ...);
UINTN AsciiVSPrintUnicodeFormat(CHAR8 *StartOfBuffer, UINTN BufferSize, const CHAR16 *FormatString,
                                VA_LIST Marker);

// Formatted print into 8- and 16-bit buffers with the EDK2 print conventions.
//
// Directive: %[flags][width][.precision][l|L]conversion
//   flags: '-' left-justify, '+' sign on non-negative signed values, ' ' blank instead of
//          that sign, '0' zero fill (between sign and digits), ',' thousands separators
//          (decimal only). Width and precision may be '*' (taken from the next argument, an
//          int; a negative width left-justifies).
//   l / L: the integer argument is 64-bit; without it, 32-bit (a negative 32-bit value in
//          %x prints as 8 hex digits).
//   %d %i signed decimal, %u unsigned decimal, %x lower-case hex, %X upper-case hex that
//   zero-fills to the width even without '0', %p pointer (16 upper-case hex digits),
//   %a CHAR8 string, %s %S CHAR16 string (in every variant, the Ascii-format ones included),
//   %c CHAR16 character, %g EFI_GUID * as 8-4-4-4-12 lower-case hex, %r EFI_STATUS name from
//   StatusCodeName (a status without a name prints its 64-bit value as 16 upper-case hex
//   digits), %t EFI_TIME * as "mm/dd/yyyy  hh:mm", %% a percent sign. A NULL string, GUID or
//   time prints "<null string>", "<null guid>", "<null time>". An unknown conversion character
//   is printed as itself. Precision cuts strings and sets the minimum digits of integers.
//
// BufferSize counts bytes of the output buffer, terminating NUL included. Output stops at the
// limit and is always NUL-terminated (nothing is written when not even the NUL fits). Results
// count characters written, terminating NUL not counted. A CHAR16 character that does not fit
// an 8-bit output prints as '?'.
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

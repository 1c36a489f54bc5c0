// String routines (8- and 16-bit) and processor helpers, as the EDK2 BaseLib class offers them.
//
// The safe routines (...S) check their arguments before touching the destination and leave it
// unchanged on failure: RETURN_INVALID_PARAMETER for NULL pointers, a zero or oversized DestMax
// or a character that does not fit the destination width, RETURN_BUFFER_TOO_SMALL when the
// result and its NUL do not fit, RETURN_BAD_BUFFER_SIZE when StrCatS finds no NUL in
// Destination within DestMax, RETURN_ACCESS_DENIED when source and destination overlap.
#pragma once

#include <Uefi/UefiBaseType.h>

typedef EFI_STATUS RETURN_STATUS;
constexpr RETURN_STATUS RETURN_SUCCESS = EFI_SUCCESS;
constexpr RETURN_STATUS RETURN_INVALID_PARAMETER = EFI_INVALID_PARAMETER;
constexpr RETURN_STATUS RETURN_UNSUPPORTED = EFI_UNSUPPORTED;
constexpr RETURN_STATUS RETURN_BAD_BUFFER_SIZE = EFI_BAD_BUFFER_SIZE;
constexpr RETURN_STATUS RETURN_BUFFER_TOO_SMALL = EFI_BUFFER_TOO_SMALL;
constexpr RETURN_STATUS RETURN_ACCESS_DENIED = EFI_ACCESS_DENIED;

constexpr UINTN MAX_UINTN = ~(UINTN)0;
// Longest strings (in characters, NUL excluded) the safe routines accept.
constexpr UINTN MAX_UNICODE_STRING_LENGTH = 1000000;
constexpr UINTN MAX_ASCII_STRING_LENGTH = 1000000;

UINTN StrLen(const CHAR16 *String);  // 0 for NULL
UINTN StrSize(const CHAR16 *String); // bytes, terminating NUL included
UINTN StrnLenS(const CHAR16 *String, UINTN MaxSize);
INTN StrCmp(const CHAR16 *FirstString, const CHAR16 *SecondString);
INTN StrnCmp(const CHAR16 *FirstString, const CHAR16 *SecondString, UINTN Length);
RETURN_STATUS StrCpyS(CHAR16 *Destination, UINTN DestMax, const CHAR16 *Source);
RETURN_STATUS StrnCpyS(CHAR16 *Destination, UINTN DestMax, const CHAR16 *Source, UINTN Length);
RETURN_STATUS StrCatS(CHAR16 *Destination, UINTN DestMax, const CHAR16 *Source);
// Leading blanks and zeros are skipped; conversion stops at the first non-digit. A value that
// does not fit returns MAX_UINTN. StrHexToUintn accepts an "0x"/"0X" prefix.
UINTN StrDecimalToUintn(const CHAR16 *String);
UINTN StrHexToUintn(const CHAR16 *String);

UINTN AsciiStrLen(const CHAR8 *String);  // 0 for NULL
UINTN AsciiStrSize(const CHAR8 *String); // bytes, terminating NUL included
UINTN AsciiStrnLenS(const CHAR8 *String, UINTN MaxSize);
INTN AsciiStrCmp(const CHAR8 *FirstString, const CHAR8 *SecondString);
INTN AsciiStrnCmp(const CHAR8 *FirstString, const CHAR8 *SecondString, UINTN Length);
RETURN_STATUS AsciiStrCpyS(CHAR8 *Destination, UINTN DestMax, const CHAR8 *Source);
RETURN_STATUS AsciiStrnCpyS(CHAR8 *Destination, UINTN DestMax, const CHAR8 *Source, UINTN Length);
RETURN_STATUS AsciiStrCatS(CHAR8 *Destination, UINTN DestMax, const CHAR8 *Source);
UINTN AsciiStrDecimalToUintn(const CHAR8 *String);
UINTN AsciiStrHexToUintn(const CHAR8 *String);

// CHAR16 -> CHAR8 (each character must fit in 8 bits) and back; DestMax counts characters.
RETURN_STATUS UnicodeStrToAsciiStrS(const CHAR16 *Source, CHAR8 *Destination, UINTN DestMax);
RETURN_STATUS AsciiStrToUnicodeStrS(const CHAR8 *Source, CHAR16 *Destination, UINTN DestMax);

// Processor helpers (library CpuLib). On AArch64 CpuDeadLoop spins until a debugger changes
// its loop index and then returns, CpuBreakpoint executes "brk #0xf000"; on the host both are
// halts that unwind to whoever started the image.
VOID CpuDeadLoop(VOID);
VOID CpuBreakpoint(VOID);

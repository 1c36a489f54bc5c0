// String routines (8- and 16-bit) and processor helpers, as the EDK2 BaseLib class offers them.
#pragma once

#include <Uefi/UefiBaseType.h>

constexpr EFI_STATUS RETURN_SUCCESS = EFI_SUCCESS;

UINTN StrLen(const CHAR16 *String);
UINTN StrSize(const CHAR16 *String);  // bytes, terminating NUL included
UINTN StrnLenS(const CHAR16 *String, UINTN MaxSize);
INTN StrCmp(const CHAR16 *FirstString, const CHAR16 *SecondString);
INTN StrnCmp(const CHAR16 *FirstString, const CHAR16 *SecondString, UINTN Length);
EFI_STATUS StrCpyS(CHAR16 *Destination, UINTN DestMax, const CHAR16 *Source);
EFI_STATUS StrnCpyS(CHAR16 *Destination, UINTN DestMax, const CHAR16 *Source, UINTN Length);
EFI_STATUS StrCatS(CHAR16 *Destination, UINTN DestMax, const CHAR16 *Source);
UINTN StrDecimalToUintn(const CHAR16 *String);
UINTN StrHexToUintn(const CHAR16 *String);

UINTN AsciiStrLen(const CHAR8 *String);
UINTN AsciiStrSize(const CHAR8 *String);
UINTN AsciiStrnLenS(const CHAR8 *String, UINTN MaxSize);
INTN AsciiStrCmp(const CHAR8 *FirstString, const CHAR8 *SecondString);
INTN AsciiStrnCmp(const CHAR8 *FirstString, const CHAR8 *SecondString, UINTN Length);
EFI_STATUS AsciiStrCpyS(CHAR8 *Destination, UINTN DestMax, const CHAR8 *Source);
EFI_STATUS AsciiStrnCpyS(CHAR8 *Destination, UINTN DestMax, const CHAR8 *Source, UINTN Length);
UINTN AsciiStrDecimalToUintn(const CHAR8 *String);
UINTN AsciiStrHexToUintn(const CHAR8 *String);

// CHAR16 -> CHAR8 (each character must fit in 8 bits) and back; DestMax counts characters.
EFI_STATUS UnicodeStrToAsciiStrS(const CHAR16 *Source, CHAR8 *Destination, UINTN DestMax);
EFI_STATUS AsciiStrToUnicodeStrS(const CHAR8 *Source, CHAR16 *Destination, UINTN DestMax);

// Processor helpers; these are seams (see CpuLib.h): on the host a dead loop or breakpoint is a halt.
VOID CpuDeadLoop(VOID);
VOID CpuBreakpoint(VOID);

// GnuDebugOutput: a producer of the debug-output protocol whose argument-list handling is built
// by the GNU AArch64 tool chain like the board's firmware (GnuArgumentList.c), for the QEMU
// tests of the images' DebugPrint. Print takes each message both ways across the boundary:
// - GnuPrintArguments reads the record the image handed over with the GNU va_arg, one 64-bit
//   slot per argument;
// - GnuFormat gets those arguments in a variadic call and hands the print library the record
//   its own va_start makes (a register save area and stacked slots), which the image's VA_ARG
//   walks into the text written to the console.
// Any argument lost or misread on either way shows in the text.
#include <Library/PrintLib.h>
#include <Library/UefiBootServicesTableLib.h>
#include <Protocol/DebugOutput.h>

extern "C" {
UINT64 GnuPrintArguments(const CHAR8 *Format, VA_LIST Marker, UINT64 *Slots, UINT64 Capacity);
typedef UINTN (*FORMAT_WITH_LIST)(CHAR8 *Buffer, UINTN Size, const CHAR8 *Format, VA_LIST Marker);
UINT64 GnuFormat(FORMAT_WITH_LIST Formatter, CHAR8 *Buffer, UINT64 Size, const CHAR8 *Format, ...);
}

namespace {

// The variadic call below passes this many slots; a format may take fewer.
constexpr UINTN MaxArguments = 16;
constexpr UINTN MaxMessage = 512;
// Console text goes out in pieces of this many characters (CR LF pairs included).
constexpr UINTN ConsoleChunk = 64;

// Writes 8-bit text to the console, each line feed as CR LF.
VOID Show(const CHAR8 *Text) {
  CHAR16 Chunk[ConsoleChunk + 1];
  UINTN Length = 0;
  for (; *Text != '\0'; Text++) {
    if (*Text == '\n') {
      Chunk[Length++] = u'\r';
    }
    Chunk[Length++] = static_cast<UINT8>(*Text);
    if (Length >= ConsoleChunk - 1) {
      Chunk[Length] = 0;
      gST->ConOut->OutputString(gST->ConOut, Chunk);
      Length = 0;
    }
  }
  Chunk[Length] = 0;
  gST->ConOut->OutputString(gST->ConOut, Chunk);
}

EFI_STATUS EFIAPI GnuDebugOutputPrint(UINTN ErrorLevel, const CHAR8 *Format, VA_LIST Marker) {
  UINT64 Slots[MaxArguments] = {};
  UINT64 Count = GnuPrintArguments(Format, Marker, Slots, MaxArguments);
  if (Count > MaxArguments) {
    Show("GnuDebugOutput: too many arguments\n");
    return EFI_BUFFER_TOO_SMALL;
  }
  CHAR8 Message[MaxMessage];
  GnuFormat(AsciiVSPrint, Message, sizeof(Message), Format, Slots[0], Slots[1], Slots[2], Slots[3], Slots[4],
            Slots[5], Slots[6], Slots[7], Slots[8], Slots[9], Slots[10], Slots[11], Slots[12], Slots[13],
            Slots[14], Slots[15]);
  Show(Message);
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI GnuDebugOutputAssert(const CHAR8 *FileName, UINTN LineNumber, const CHAR8 *Description) {
  CHAR8 Message[MaxMessage];
  AsciiSPrint(Message, sizeof(Message), "ASSERT %a(%lu): %a\n", FileName, (UINT64)LineNumber, Description);
  Show(Message);
  return EFI_SUCCESS;
}

// The driver stays resident, so the record can live in the image.
DEBUG_OUTPUT_PROTOCOL mDebugOutput = {GnuDebugOutputPrint, GnuDebugOutputAssert};

} // namespace

EFI_STATUS EFIAPI GnuDebugOutputEntry(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable) {
  EFI_HANDLE Handle = NULL;
  return gBS->InstallProtocolInterface(&Handle, &gDebugOutputProtocolGuid, EFI_NATIVE_INTERFACE,
                                       &mDebugOutput);
}

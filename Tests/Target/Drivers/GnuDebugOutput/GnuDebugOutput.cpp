// GnuDebugOutput: a producer of the debug-output protocol that reads each message's argument
// list as firmware built by the GNU AArch64 tool chain does (GnuPrintArguments.c, compiled by
// that tool chain), formats the message and writes it to the console. For the QEMU tests of
// the images' DebugPrint.
//
// Print hands the record it received on to GnuPrintArguments unchanged; the arguments that
// come back, one 64-bit slot each, are formatted by the print library from an argument list
// over those slots.
#include <Library/ModuleEntryPoint.h>
#include <Library/PrintLib.h>
#include <Library/UefiBootServicesTableLib.h>
#include <Protocol/DebugOutput.h>

extern "C" UINT64 GnuPrintArguments(const CHAR8 *Format, VA_LIST Marker, UINT64 *Slots, UINT64 Capacity);

namespace {

constexpr UINTN MaxArguments = 32;
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
  AsciiVSPrint(Message, sizeof(Message), Format, Aapcs64VaListFromSlots(Slots));
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

const UINT32 _gUefiDriverRevision = 0;

EFI_STATUS EFIAPI GnuDebugOutputEntry(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable) {
  EFI_HANDLE Handle = NULL;
  return gBS->InstallProtocolInterface(&Handle, &gDebugOutputProtocolGuid, EFI_NATIVE_INTERFACE,
                                       &mDebugOutput);
}

VOID ProcessLibraryConstructorList(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable) {
  UefiBootServicesTableLibConstructor(ImageHandle, SystemTable);
}

EFI_STATUS ProcessModuleEntryPointList(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable) {
  return GnuDebugOutputEntry(ImageHandle, SystemTable);
}

VOID ProcessLibraryDestructorList(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable) {}

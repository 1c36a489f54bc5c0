// Test image: an application that greets on the console and leaves nothing behind.
#include <Uefi.h>

extern "C" EFI_STATUS EFIAPI _ModuleEntryPoint(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable) {
  CHAR16 Text[] = u"hello from the shell\r\n";
  SystemTable->ConOut->OutputString(SystemTable->ConOut, Text);
  CHAR16 Error[] = u"to stderr\r\n";
  SystemTable->StdErr->OutputString(SystemTable->StdErr, Error);
  return EFI_SUCCESS;
}

// Test image: leaves through Exit() from a nested call, with a status of its own.
#include <Uefi.h>

namespace {
EFI_SYSTEM_TABLE *gSystemTable = nullptr;
volatile UINT32 AfterExit = 0;

[[gnu::noinline]] VOID Leave(EFI_HANDLE ImageHandle) {
  gSystemTable->BootServices->Exit(ImageHandle, EFI_ABORTED, 0, nullptr);
  AfterExit = AfterExit + 1;
}
} // namespace

extern "C" EFI_STATUS EFIAPI _ModuleEntryPoint(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable) {
  gSystemTable = SystemTable;
  Leave(ImageHandle);
  return EFI_SUCCESS;
}

// The support library's module globals and their one-time initialisation.
#include <Library/EfiLib.h>

EFI_HANDLE gLibImageHandle = nullptr;
EFI_SYSTEM_TABLE *gLibSystemTable = nullptr;
EFI_BOOT_SERVICES *gLibBootServices = nullptr;
EFI_RUNTIME_SERVICES *gLibRuntimeServices = nullptr;
BOOLEAN BootServicesEnded = FALSE;

VOID LibInitialize(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable) {
  // The first call with a system table fills the globals; later calls change nothing.
  if (gLibSystemTable != nullptr || SystemTable == nullptr) {
    return;
  }
  gLibImageHandle = ImageHandle;
  gLibSystemTable = SystemTable;
  gLibBootServices = SystemTable->BootServices;
  gLibRuntimeServices = SystemTable->RuntimeServices;
}

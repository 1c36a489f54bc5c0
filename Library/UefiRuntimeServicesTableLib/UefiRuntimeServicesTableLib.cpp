// The runtime-services table of this image.
#include <Library/UefiRuntimeServicesTableLib.h>

EFI_RUNTIME_SERVICES *gRT = NULL;

EFI_STATUS UefiRuntimeServicesTableLibConstructor(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable) {
  if (SystemTable == NULL || SystemTable->RuntimeServices == NULL) {
    return EFI_INVALID_PARAMETER;
  }
  gRT = SystemTable->RuntimeServices;
  return EFI_SUCCESS;
}

// The image handle, system table and boot-services table of this image.
#include <Library/UefiBootServicesTableLib.h>

EFI_HANDLE gImageHandle = NULL;
EFI_SYSTEM_TABLE *gST = NULL;
EFI_BOOT_SERVICES *gBS = NULL;

EFI_STATUS UefiBootServicesTableLibConstructor(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable) {
  if (ImageHandle == NULL || SystemTable == NULL || SystemTable->BootServices == NULL) {
    return EFI_INVALID_PARAMETER;
  }
  gImageHandle = ImageHandle;
  gST = SystemTable;
  gBS = SystemTable->BootServices;
  return EFI_SUCCESS;
}

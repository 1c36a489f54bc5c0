// The DXE services table, found in the system configuration table.
#include <Library/BaseMemoryLib.h>
#include <Library/DxeServicesTableLib.h>

EFI_DXE_SERVICES *gDS = NULL;

EFI_STATUS DxeServicesTableLibConstructor(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable) {
  if (SystemTable == NULL ||
      (SystemTable->NumberOfTableEntries != 0 && SystemTable->ConfigurationTable == NULL)) {
    return EFI_INVALID_PARAMETER;
  }
  for (UINTN Index = 0; Index < SystemTable->NumberOfTableEntries; Index++) {
    EFI_CONFIGURATION_TABLE *Entry = &SystemTable->ConfigurationTable[Index];
    if (CompareGuid(&Entry->VendorGuid, &gEfiDxeServicesTableGuid)) {
      gDS = static_cast<EFI_DXE_SERVICES *>(Entry->VendorTable);
      return EFI_SUCCESS;
    }
  }
  return EFI_NOT_FOUND;
}

// Driver-model installation and protocol collection.
#include <Library/MemoryAllocationLib.h>
#include <Library/UefiBootServicesTableLib.h>
#include <Library/UefiLib.h>

EFI_STATUS EfiLibInstallDriverBindingComponentName2(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable,
                                                    EFI_DRIVER_BINDING_PROTOCOL *DriverBinding,
                                                    EFI_HANDLE DriverBindingHandle,
                                                    EFI_COMPONENT_NAME_PROTOCOL *ComponentName,
                                                    EFI_COMPONENT_NAME2_PROTOCOL *ComponentName2) {
  if (DriverBinding == NULL || SystemTable == NULL || SystemTable->BootServices == NULL) {
    return EFI_INVALID_PARAMETER;
  }
  DriverBinding->ImageHandle = ImageHandle;
  DriverBinding->DriverBindingHandle = DriverBindingHandle;
  EFI_BOOT_SERVICES *BootServices = SystemTable->BootServices;
  EFI_HANDLE *Handle = &DriverBinding->DriverBindingHandle;
  // The name protocols given as NULL are left out of the installation.
  if (ComponentName != NULL && ComponentName2 != NULL) {
    return BootServices->InstallMultipleProtocolInterfaces(
        Handle, &gEfiDriverBindingProtocolGuid, DriverBinding, &gEfiComponentNameProtocolGuid, ComponentName,
        &gEfiComponentName2ProtocolGuid, ComponentName2, NULL);
  }
  if (ComponentName != NULL) {
    return BootServices->InstallMultipleProtocolInterfaces(Handle, &gEfiDriverBindingProtocolGuid,
                                                           DriverBinding, &gEfiComponentNameProtocolGuid,
                                                           ComponentName, NULL);
  }
  if (ComponentName2 != NULL) {
    return BootServices->InstallMultipleProtocolInterfaces(Handle, &gEfiDriverBindingProtocolGuid,
                                                           DriverBinding, &gEfiComponentName2ProtocolGuid,
                                                           ComponentName2, NULL);
  }
  return BootServices->InstallMultipleProtocolInterfaces(Handle, &gEfiDriverBindingProtocolGuid,
                                                         DriverBinding, NULL);
}

EFI_STATUS EfiLocateProtocolBuffer(EFI_GUID *Protocol, UINTN *NoProtocols, VOID ***Buffer) {
  if (Protocol == NULL || NoProtocols == NULL || Buffer == NULL) {
    return EFI_INVALID_PARAMETER;
  }
  *NoProtocols = 0;
  *Buffer = NULL;
  UINTN HandleCount = 0;
  EFI_HANDLE *Handles = NULL;
  EFI_STATUS Status = gBS->LocateHandleBuffer(ByProtocol, Protocol, NULL, &HandleCount, &Handles);
  if (EFI_ERROR(Status)) {
    return EFI_NOT_FOUND;
  }
  VOID **Interfaces = static_cast<VOID **>(AllocatePool(HandleCount * sizeof(VOID *)));
  if (Interfaces == NULL) {
    FreePool(Handles);
    return EFI_OUT_OF_RESOURCES;
  }
  UINTN Found = 0;
  for (UINTN Index = 0; Index < HandleCount; Index++) {
    if (!EFI_ERROR(gBS->HandleProtocol(Handles[Index], Protocol, &Interfaces[Found]))) {
      Found++;
    }
  }
  FreePool(Handles);
  if (Found == 0) {
    FreePool(Interfaces);
    return EFI_NOT_FOUND;
  }
  *NoProtocols = Found;
  *Buffer = Interfaces;
  return EFI_SUCCESS;
}

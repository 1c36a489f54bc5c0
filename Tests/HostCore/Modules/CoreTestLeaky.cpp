// Test image: a driver that gets its pool wrong in every way, then fails its entry.
#include <Uefi.h>

extern "C" EFI_STATUS EFIAPI _ModuleEntryPoint(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable) {
  EFI_BOOT_SERVICES *BootServices = SystemTable->BootServices;
  VOID *Kept = nullptr;
  VOID *Twice = nullptr;
  BootServices->AllocatePool(EfiBootServicesData, 100, &Kept); // never freed
  BootServices->AllocatePool(EfiBootServicesData, 24, &Twice);
  BootServices->FreePool(Twice);
  EFI_STATUS Second = BootServices->FreePool(Twice);
  UINT64 OnStack = 0;
  EFI_STATUS Foreign = BootServices->FreePool(&OnStack);
  if (Second != EFI_INVALID_PARAMETER || Foreign != EFI_INVALID_PARAMETER) {
    return EFI_SUCCESS; // the test sees the driver stay loaded
  }
  return EFI_DEVICE_ERROR;
}

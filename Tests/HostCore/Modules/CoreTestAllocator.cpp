// Test image: an application that takes pool, pages and pool again, gives everything back, and
// returns EFI_OUT_OF_RESOURCES when an allocation failed.
#include <Uefi.h>

extern "C" EFI_STATUS EFIAPI _ModuleEntryPoint(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable) {
  EFI_BOOT_SERVICES *BootServices = SystemTable->BootServices;
  VOID *First = nullptr;
  VOID *Second = nullptr;
  EFI_PHYSICAL_ADDRESS Pages = 0;
  EFI_STATUS Status = BootServices->AllocatePool(EfiBootServicesData, 32, &First);
  EFI_STATUS PageStatus = BootServices->AllocatePages(AllocateAnyPages, EfiBootServicesData, 1, &Pages);
  EFI_STATUS Last = BootServices->AllocatePool(EfiBootServicesData, 16, &Second);
  if (!EFI_ERROR(Status)) {
    BootServices->FreePool(First);
  }
  if (!EFI_ERROR(PageStatus)) {
    BootServices->FreePages(Pages, 1);
  }
  if (!EFI_ERROR(Last)) {
    BootServices->FreePool(Second);
  }
  return EFI_ERROR(Status) ? Status : EFI_ERROR(PageStatus) ? PageStatus : Last;
}

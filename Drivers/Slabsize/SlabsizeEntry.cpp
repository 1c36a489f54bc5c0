// Entry of the L3 cache sizing driver and its exit-boot-services notification.
#include <Library/ArmLib.h>
#include <Library/DebugLib.h>
#include <Library/UefiBootServicesTableLib.h>

#include "TessilL3c.h"

EFI_STATUS EFIAPI SlabsizeEntry(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable) {
  EFI_EVENT Event = NULL;
  EFI_STATUS Status = gBS->CreateEventEx(EVT_NOTIFY_SIGNAL, TPL_NOTIFY, L3cExitBootServicesNotify, NULL,
                                         &gEfiEventExitBootServicesGuid, &Event);
  ASSERT_EFI_ERROR(Status);
  // Without the event the L3 stays as the hardware set it; the driver stays loaded either way.
  return EFI_SUCCESS;
}

VOID EFIAPI L3cExitBootServicesNotify(EFI_EVENT Event, VOID *Context) {
  // The OS takes over with interrupts masked and caches and MMU off; nothing is re-enabled.
  ArmDisableInterrupts();
  ArmDisableFiq();
  ArmCleanDataCache();
  ArmDisableDataCache();
  ArmInvalidateDataCache();
  ArmDisableInstructionCache();
  ArmInvalidateInstructionCache();
  ArmDisableMmu();
  L3cConfigure();
}

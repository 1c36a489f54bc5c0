// Constructor of the DMA mapping library: the CPU architectural protocol must already exist.
#include "DmaLibInternal.h"

#include <Library/DebugLib.h>
#include <Library/UefiBootServicesTableLib.h>

EFI_CPU_ARCH_PROTOCOL *mDmaCpu = NULL;

EFI_STATUS DmaLibConstructor(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable) {
  const EFI_STATUS Status =
      gBS->LocateProtocol(&gEfiCpuArchProtocolGuid, NULL, reinterpret_cast<VOID **>(&mDmaCpu));
  ASSERT_EFI_ERROR(Status);
  if (EFI_ERROR(Status)) {
    mDmaCpu = NULL;
  }
  return Status;
}

// Probe of the exit-boot-services and notification-TPL rules: its exit-boot-services
// notification changes the maps through services other than the pool and page ones, and a
// notification of its own restores the TPL below the one it was called at.
#include "CoreRulesProbe.h"

#include <Library/DxeServicesTableLib.h>
#include <Library/UefiBootServicesTableLib.h>

namespace {

constexpr EFI_GUID kExitBootServicesGroup = EFI_EVENT_GROUP_EXIT_BOOT_SERVICES;
constexpr EFI_PHYSICAL_ADDRESS kSpareBase = 0x7F00000000ull; // nothing of the board is there
constexpr UINT64 kSpareSize = EFI_PAGE_SIZE;
CORE_RULES_PROBE_PROTOCOL mLate = {NULL};

VOID EFIAPI ChangeMapsAtExit(EFI_EVENT Event, VOID *Context) {
  gDS->AddMemorySpace(EfiGcdMemoryTypeReserved, kSpareBase, kSpareSize, EFI_MEMORY_UC);
  EFI_PHYSICAL_ADDRESS Base = kSpareBase;
  gDS->AllocateMemorySpace(EfiGcdAllocateAddress, EfiGcdMemoryTypeReserved, 0, kSpareSize, &Base, NULL, NULL);
  EFI_EVENT Late = NULL;
  gBS->CreateEvent(0, 0, NULL, NULL, &Late);
  EFI_HANDLE Handle = NULL;
  EFI_GUID Guid = kCoreRulesProbeGuid;
  gBS->InstallProtocolInterface(&Handle, &Guid, EFI_NATIVE_INTERFACE, &mLate);
}

VOID EFIAPI LowerTheTpl(EFI_EVENT Event, VOID *Context) {
  gBS->RestoreTPL(TPL_APPLICATION);
}

} // namespace

EFI_STATUS EFIAPI CoreRulesExitBootEntry(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable) {
  EFI_EVENT AtExit = NULL;
  EFI_STATUS Status = gBS->CreateEventEx(EVT_NOTIFY_SIGNAL, TPL_NOTIFY, ChangeMapsAtExit, NULL,
                                         &kExitBootServicesGroup, &AtExit);
  EFI_EVENT Lowering = NULL;
  if (!EFI_ERROR(Status)) {
    Status = gBS->CreateEvent(EVT_NOTIFY_SIGNAL, TPL_CALLBACK, LowerTheTpl, NULL, &Lowering);
  }
  if (!EFI_ERROR(Status)) {
    gBS->SignalEvent(Lowering);
    gBS->CloseEvent(Lowering);
  }
  return Status;
}

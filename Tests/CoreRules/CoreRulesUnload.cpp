// Probe of the unload rules: a driver that publishes allocated records pointing into itself (a
// pool interface, a page interface, a configuration table), opens the test's controller
// BY_DRIVER, then fails its entry and is unloaded with all of it left behind.
#include "CoreRulesProbe.h"

#include <Library/UefiBootServicesTableLib.h>

namespace {

EFI_STATUS EFIAPI ProbeCall() {
  return EFI_SUCCESS;
}

VOID Publish(VOID *Record) {
  static_cast<CORE_RULES_PROBE_PROTOCOL *>(Record)->Call = ProbeCall;
  EFI_HANDLE Handle = NULL;
  EFI_GUID Guid = kCoreRulesProbeGuid;
  gBS->InstallProtocolInterface(&Handle, &Guid, EFI_NATIVE_INTERFACE, Record);
}

} // namespace

EFI_STATUS EFIAPI CoreRulesUnloadEntry(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable) {
  VOID *Pool = NULL;
  if (!EFI_ERROR(gBS->AllocatePool(EfiBootServicesData, sizeof(CORE_RULES_PROBE_PROTOCOL), &Pool))) {
    Publish(Pool);
  }
  EFI_PHYSICAL_ADDRESS Page = 0;
  if (!EFI_ERROR(gBS->AllocatePages(AllocateAnyPages, EfiBootServicesData, 1, &Page))) {
    Publish(reinterpret_cast<VOID *>(static_cast<UINTN>(Page)));
  }
  CORE_RULES_PROBE_PROTOCOL *Table = NULL;
  if (!EFI_ERROR(gBS->AllocatePool(EfiBootServicesData, sizeof(*Table), reinterpret_cast<VOID **>(&Table)))) {
    Table->Call = ProbeCall;
    EFI_GUID Guid = kCoreRulesTableGuid;
    gBS->InstallConfigurationTable(&Guid, Table);
  }
  EFI_GUID Controller = kCoreRulesControllerGuid;
  EFI_HANDLE Handle = NULL;
  UINTN Size = sizeof(Handle);
  VOID *Interface = NULL;
  if (!EFI_ERROR(gBS->LocateHandle(ByProtocol, &Controller, NULL, &Size, &Handle))) {
    gBS->OpenProtocol(Handle, &Controller, &Interface, ImageHandle, Handle, EFI_OPEN_PROTOCOL_BY_DRIVER);
  }
  return EFI_DEVICE_ERROR;
}

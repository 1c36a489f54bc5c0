// Entry of the AcpiProbe test module.
#include "AcpiProbe.h"

#include <Library/UefiBootServicesTableLib.h>

namespace {

EFI_GUID mProbeGuid = ACPI_PROBE_PROTOCOL_GUID;

} // namespace

EFI_STATUS EFIAPI AcpiProbeEntry(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable) {
  LibInitialize(ImageHandle, SystemTable);
  VOID *Interface = nullptr;
  EFI_STATUS Status = gBS->LocateProtocol(&mProbeGuid, nullptr, &Interface);
  if (EFI_ERROR(Status)) {
    return Status;
  }
  const ACPI_PROBE_FUNCTIONS Functions = {ImageHandle, LibGetDsdt, FindAmlObject};
  return static_cast<ACPI_PROBE_PROTOCOL *>(Interface)->Run(&Functions);
}

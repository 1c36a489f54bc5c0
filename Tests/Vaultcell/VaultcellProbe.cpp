// Entry of the VaultcellProbe test module.
#include "VaultcellProbe.h"

#include <Library/UefiBootServicesTableLib.h>

namespace {

EFI_GUID mProbeGuid = VAULTCELL_PROBE_PROTOCOL_GUID;

} // namespace

EFI_STATUS EFIAPI VaultcellProbeEntry(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable) {
  VOID *Interface = nullptr;
  EFI_STATUS Status = gBS->LocateProtocol(&mProbeGuid, nullptr, &Interface);
  if (EFI_ERROR(Status)) {
    return Status;
  }
  const VAULTCELL_PROBE_FUNCTIONS Functions = {I2cWrite,          I2cRead,           I2cProbe,
                                               I2cSetBus,         I2cSetSpeed,       I2cGetSpeed,
                                               PelmoSendMsg,      TessilReadIppMsg,  PelmoI2cHandover,
                                               TessilIppLoadFile, PelmoQueryBuildId, PelmoFormatFirmwareInfo,
                                               PelmoGetLoadState};
  return static_cast<VAULTCELL_PROBE_PROTOCOL *>(Interface)->Run(&Functions);
}

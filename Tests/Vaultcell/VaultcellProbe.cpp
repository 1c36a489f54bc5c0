// Entry of the VaultcellProbe test module.
#include "VaultcellProbe.h"

#include <Library/ModuleEntryPoint.h>
#include <Library/UefiBootServicesTableLib.h>
#include <Library/UefiRuntimeServicesTableLib.h>

namespace {

EFI_GUID mProbeGuid = VAULTCELL_PROBE_PROTOCOL_GUID;

} // namespace

const UINT32 _gUefiDriverRevision = 0;

VOID ProcessLibraryConstructorList(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable) {
  UefiBootServicesTableLibConstructor(ImageHandle, SystemTable);
  UefiRuntimeServicesTableLibConstructor(ImageHandle, SystemTable);
  I2CLibConstructor(ImageHandle, SystemTable);
  PelmoLibConstructor(ImageHandle, SystemTable);
}

EFI_STATUS ProcessModuleEntryPointList(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable) {
  VOID *Interface = nullptr;
  EFI_STATUS Status = gBS->LocateProtocol(&mProbeGuid, nullptr, &Interface);
  if (EFI_ERROR(Status)) {
    return Status;
  }
  const VAULTCELL_PROBE_FUNCTIONS Functions = {I2cWrite,          I2cRead,           I2cProbe,
                                               I2cSetBus,         I2cSetSpeed,       I2cGetSpeed,
                                               PelmoSendMsg,      TessilReadIppMsg,  PelmoI2cHandover,
                                               TessilIppLoadFile, PelmoQueryBuildId, PelmoFormatFirmwareInfo};
  return static_cast<VAULTCELL_PROBE_PROTOCOL *>(Interface)->Run(&Functions);
}

VOID ProcessLibraryDestructorList(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable) {}

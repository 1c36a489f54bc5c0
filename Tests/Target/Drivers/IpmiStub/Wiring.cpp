// Library constructors and entry routine of IpmiStub, run by the driver entry point.
#include "IpmiStub.h"

#include <Library/ModuleEntryPoint.h>
#include <Library/UefiBootServicesTableLib.h>

const UINT32 _gUefiDriverRevision = 0;

VOID ProcessLibraryConstructorList(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable) {
  UefiBootServicesTableLibConstructor(ImageHandle, SystemTable);
}

EFI_STATUS ProcessModuleEntryPointList(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable) {
  return IpmiStubEntry(ImageHandle, SystemTable);
}

VOID ProcessLibraryDestructorList(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable) {}

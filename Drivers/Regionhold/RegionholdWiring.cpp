// Standard driver entry wiring: the library constructors in link order and the entry routine.
#include <Library/ModuleEntryPoint.h>
#include <Library/UefiBootServicesTableLib.h>
#include <Library/UefiRuntimeServicesTableLib.h>

#include "Regionhold.h"

// Any system table revision is accepted.
extern const UINT32 _gUefiDriverRevision = 0;

VOID ProcessLibraryConstructorList(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable) {
  UefiBootServicesTableLibConstructor(ImageHandle, SystemTable);
  UefiRuntimeServicesTableLibConstructor(ImageHandle, SystemTable);
}

EFI_STATUS ProcessModuleEntryPointList(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable) {
  return RegionholdEntry(ImageHandle, SystemTable);
}

VOID ProcessLibraryDestructorList(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable) {}

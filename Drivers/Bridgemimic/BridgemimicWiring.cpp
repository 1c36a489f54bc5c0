// Standard driver entry wiring: the library constructors in link order and the entry routine.
#include <Library/DmaLib.h>
#include <Library/DxeServicesTableLib.h>
#include <Library/ModuleEntryPoint.h>
#include <Library/UefiBootServicesTableLib.h>
#include <Library/UefiRuntimeServicesTableLib.h>

#include "Bridgemimic.h"

// Any system table revision is accepted.
extern const UINT32 _gUefiDriverRevision = 0;

VOID ProcessLibraryConstructorList(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable) {
  UefiBootServicesTableLibConstructor(ImageHandle, SystemTable);
  UefiRuntimeServicesTableLibConstructor(ImageHandle, SystemTable);
  DxeServicesTableLibConstructor(ImageHandle, SystemTable);
  DmaLibConstructor(ImageHandle, SystemTable);
}

EFI_STATUS ProcessModuleEntryPointList(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable) {
  return BridgemimicEntry(ImageHandle, SystemTable);
}

VOID ProcessLibraryDestructorList(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable) {}

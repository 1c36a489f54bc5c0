// An example module wiring file, as each module writes one: the revision it needs, its
// libraries' constructors in link order, its entry routine and its destructors. The test
// controls the entry routine's status and reads back the order of the calls.
#include "ExampleModuleWiring.h"

#include <Library/ModuleEntryPoint.h>
#include <Library/UefiBootServicesTableLib.h>
#include <Library/UefiRuntimeServicesTableLib.h>

const UINT32 _gUefiDriverRevision = EFI_2_70_SYSTEM_TABLE_REVISION;

std::vector<std::string> WiringCalls;
EFI_STATUS WiringEntryStatus = EFI_SUCCESS;

EFI_STATUS ProcessLibraryConstructorList(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable) {
  UefiBootServicesTableLibConstructor(ImageHandle, SystemTable);
  UefiRuntimeServicesTableLibConstructor(ImageHandle, SystemTable);
  WiringCalls.push_back("constructors");
  return EFI_SUCCESS;
}

EFI_STATUS ProcessModuleEntryPointList(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable) {
  WiringCalls.push_back(gST == SystemTable && gRT == SystemTable->RuntimeServices ? "entry"
                                                                                  : "entry without tables");
  return WiringEntryStatus;
}

VOID ProcessLibraryDestructorList(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable) {
  WiringCalls.push_back("destructors");
}

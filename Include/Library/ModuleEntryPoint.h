// Standard module entry for drivers and applications.
//
// _ModuleEntryPoint (in the driver or application entry library) checks the system table's
// revision, runs ProcessLibraryConstructorList, calls ProcessModuleEntryPointList and, for a
// driver whose entry routine failed, runs ProcessLibraryDestructorList. Each module defines
// the three lists in its own wiring file, naming its libraries' constructors in link order
// and its entry routine.
#pragma once

#include <Uefi.h>

extern "C" EFI_STATUS EFIAPI _ModuleEntryPoint(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable);

VOID ProcessLibraryConstructorList(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable);
EFI_STATUS ProcessModuleEntryPointList(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable);
VOID ProcessLibraryDestructorList(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable);

// The lowest system-table revision the module accepts (EFI_INCOMPATIBLE_VERSION below it).
extern const UINT32 _gUefiDriverRevision;

// Standard module entry for drivers and applications.
//
// _ModuleEntryPoint (in the driver or application entry library) returns
// EFI_INCOMPATIBLE_VERSION when the system table's revision is below _gUefiDriverRevision,
// otherwise runs ProcessLibraryConstructorList and calls ProcessModuleEntryPointList.
//   - Driver (UefiDriverEntryPoint): when the entry routine fails, ProcessLibraryDestructorList
//     runs before the status is returned (the dispatcher then unloads the image).
//   - Application (UefiApplicationEntryPoint): ProcessLibraryDestructorList always runs after
//     the entry routine, since an application is unloaded when it returns.
//
// Each module supplies, in its own wiring file, the three Process* lists (naming its
// libraries' constructors in link order, its entry routine and its destructors) AND the
// definition of _gUefiDriverRevision, for instance:
//
//   const UINT32 _gUefiDriverRevision = 0;  // 0: any system table revision is accepted
//
// There is no default in the entry libraries: a module that forgets it fails to link
// instead of silently accepting any revision.
#pragma once

#include <Uefi.h>

extern "C" EFI_STATUS EFIAPI _ModuleEntryPoint(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable);

VOID ProcessLibraryConstructorList(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable);
EFI_STATUS ProcessModuleEntryPointList(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable);
VOID ProcessLibraryDestructorList(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable);

// The lowest system-table revision the module accepts (EFI_INCOMPATIBLE_VERSION below it).
extern const UINT32 _gUefiDriverRevision;

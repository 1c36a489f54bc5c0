// Standard module entry for drivers and applications.
//
// _ModuleEntryPoint (in the driver or application entry library) returns
// EFI_INCOMPATIBLE_VERSION when the system table's revision is below _gUefiDriverRevision,
// otherwise runs ProcessLibraryConstructorList and, when every constructor succeeded, calls
// ProcessModuleEntryPointList. A failed constructor's status is the image's: the entry does
// not run, and ProcessLibraryDestructorList undoes what the other libraries set up.
//   - Driver (UefiDriverEntryPoint): when the entry routine fails, ProcessLibraryDestructorList
//     runs before the status is returned (the dispatcher then unloads the image).
//   - Application (UefiApplicationEntryPoint): ProcessLibraryDestructorList always runs after
//     the entry routine, since an application is unloaded when it returns.
//
// The three Process* lists and _gUefiDriverRevision are the module's wiring: generated from
// its build declaration (firmware_module(... ENTRY ... UEFI_REVISION ... CONSTRUCTORS ...
// DESTRUCTORS ...), see cmake/Firmware.cmake), naming its libraries' constructors in the
// order given, its entry routine, its destructors and the lowest system-table revision it
// accepts (0: any). There is no default revision: a module that states none fails to
// configure (or, with hand-written wiring, to link) instead of silently accepting any.
#pragma once

#include <Uefi.h>

extern "C" EFI_STATUS EFIAPI _ModuleEntryPoint(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable);

// The status of the first constructor that fails (the rest do not run), or EFI_SUCCESS.
EFI_STATUS ProcessLibraryConstructorList(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable);
EFI_STATUS ProcessModuleEntryPointList(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable);
VOID ProcessLibraryDestructorList(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable);

// The lowest system-table revision the module accepts (EFI_INCOMPATIBLE_VERSION below it).
extern const UINT32 _gUefiDriverRevision;

// Entry point of an application image.
#include <Library/ModuleEntryPoint.h>

extern "C" EFI_STATUS EFIAPI _ModuleEntryPoint(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable) {
  if (SystemTable == NULL) {
    return EFI_INVALID_PARAMETER;
  }
  if (SystemTable->Hdr.Revision < _gUefiDriverRevision) {
    return EFI_INCOMPATIBLE_VERSION;
  }
  EFI_STATUS Status = ProcessLibraryConstructorList(ImageHandle, SystemTable);
  if (EFI_ERROR(Status)) {
    // A library that could not be set up: the entry does not run, the others are undone.
    ProcessLibraryDestructorList(ImageHandle, SystemTable);
    return Status;
  }
  Status = ProcessModuleEntryPointList(ImageHandle, SystemTable);
  // An application is unloaded as soon as it returns, whatever its status.
  ProcessLibraryDestructorList(ImageHandle, SystemTable);
  return Status;
}

// Entry point of a boot-service driver image.
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
  // A failed driver is unloaded: give its libraries the chance to undo what they set up.
  if (EFI_ERROR(Status)) {
    ProcessLibraryDestructorList(ImageHandle, SystemTable);
  }
  return Status;
}

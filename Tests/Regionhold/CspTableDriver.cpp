// Test driver: runs the GCD reservation routine on the table the test published, as a driver
// image of its own (its own library globals, its own image handle as the owner).
#include <Library/BaseMemoryLib.h>
#include <Library/ModuleEntryPoint.h>
#include <Library/UefiBootServicesTableLib.h>
#include <Library/UefiRuntimeServicesTableLib.h>

#include "CspTableRequest.h"

namespace {

EFI_GUID mRequestGuid = CSP_TABLE_REQUEST_GUID;

CSP_TABLE_REQUEST *FindRequest(EFI_SYSTEM_TABLE *SystemTable) {
  for (UINTN Index = 0; Index < SystemTable->NumberOfTableEntries; Index++) {
    if (CompareGuid(&SystemTable->ConfigurationTable[Index].VendorGuid, &mRequestGuid)) {
      return static_cast<CSP_TABLE_REQUEST *>(SystemTable->ConfigurationTable[Index].VendorTable);
    }
  }
  return nullptr;
}

} // namespace

extern const UINT32 _gUefiDriverRevision = 0;

VOID ProcessLibraryConstructorList(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable) {
  UefiBootServicesTableLibConstructor(ImageHandle, SystemTable);
  UefiRuntimeServicesTableLibConstructor(ImageHandle, SystemTable);
}

EFI_STATUS ProcessModuleEntryPointList(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable) {
  CSP_TABLE_REQUEST *Request = FindRequest(SystemTable);
  if (Request == nullptr) {
    return EFI_NOT_FOUND;
  }
  LibInitialize(ImageHandle, SystemTable);
  Request->Result = LibAllocCspResource(Request->Table, Request->Count, ImageHandle, Request->DeviceHandle);
  return EFI_SUCCESS;
}

VOID ProcessLibraryDestructorList(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable) {}

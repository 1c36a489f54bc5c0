// Test driver: runs the GCD reservation routine on the table the test published, as a driver
// image of its own (its own library globals, its own image handle as the owner).
#include <Library/BaseMemoryLib.h>

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

EFI_STATUS EFIAPI CspTableDriverEntry(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable) {
  CSP_TABLE_REQUEST *Request = FindRequest(SystemTable);
  if (Request == nullptr) {
    return EFI_NOT_FOUND;
  }
  LibInitialize(ImageHandle, SystemTable);
  Request->Result = LibAllocCspResource(Request->Table, Request->Count, ImageHandle, Request->DeviceHandle);
  return EFI_SUCCESS;
}

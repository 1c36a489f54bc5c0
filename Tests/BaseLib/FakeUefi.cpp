#include "FakeUefi.h"

#include <Library/BaseMemoryLib.h>
#include <Library/UefiBootServicesTableLib.h>

#include <cstdlib>

FakeUefi *FakeUefi::Current = nullptr;

namespace {

EFI_STATUS EFIAPI FakeAllocatePool(EFI_MEMORY_TYPE, UINTN Size, VOID **Buffer) {
  if (FakeUefi::Current->FailAllocations) {
    return EFI_OUT_OF_RESOURCES;
  }
  *Buffer = std::malloc(Size == 0 ? 1 : Size);
  FakeUefi::Current->Pool[*Buffer] = Size;
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI FakeFreePool(VOID *Buffer) {
  if (FakeUefi::Current->Pool.erase(Buffer) == 0) {
    return EFI_INVALID_PARAMETER;
  }
  std::free(Buffer);
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI FakeInstallMultiple(EFI_HANDLE *Handle, ...) {
  FakeUefi &Uefi = *FakeUefi::Current;
  Uefi.InstallCalls++;
  if (*Handle == nullptr) {
    *Handle = reinterpret_cast<EFI_HANDLE>(0x1000 + Uefi.Protocols.size());
  }
  va_list Args;
  va_start(Args, Handle);
  for (EFI_GUID *Guid = va_arg(Args, EFI_GUID *); Guid != nullptr; Guid = va_arg(Args, EFI_GUID *)) {
    Uefi.Protocols.push_back({*Handle, *Guid, va_arg(Args, VOID *)});
  }
  va_end(Args);
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI FakeLocateHandleBuffer(EFI_LOCATE_SEARCH_TYPE, EFI_GUID *Protocol, VOID *, UINTN *Count,
                                         EFI_HANDLE **Buffer) {
  std::vector<EFI_HANDLE> Found;
  for (auto &Row : FakeUefi::Current->Protocols) {
    if (CompareGuidValues(Row.Guid, *Protocol)) {
      Found.push_back(Row.Handle);
    }
  }
  if (Found.empty()) {
    return EFI_NOT_FOUND;
  }
  FakeAllocatePool(EfiBootServicesData, Found.size() * sizeof(EFI_HANDLE), reinterpret_cast<VOID **>(Buffer));
  std::copy(Found.begin(), Found.end(), *Buffer);
  *Count = Found.size();
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI FakeHandleProtocol(EFI_HANDLE Handle, EFI_GUID *Protocol, VOID **Interface) {
  for (auto &Row : FakeUefi::Current->Protocols) {
    if (Row.Handle == Handle && CompareGuidValues(Row.Guid, *Protocol)) {
      *Interface = Row.Interface;
      return EFI_SUCCESS;
    }
  }
  return EFI_UNSUPPORTED;
}

EFI_STATUS EFIAPI ConOutString(EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL *, CHAR16 *Text) {
  FakeUefi::Current->ConOutText += Text;
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI StdErrString(EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL *, CHAR16 *Text) {
  FakeUefi::Current->StdErrText += Text;
  return EFI_SUCCESS;
}

} // namespace

FakeUefi::FakeUefi() {
  Current = this;
  BootServices.Hdr.Signature = EFI_BOOT_SERVICES_SIGNATURE;
  BootServices.AllocatePool = FakeAllocatePool;
  BootServices.FreePool = FakeFreePool;
  BootServices.InstallMultipleProtocolInterfaces = FakeInstallMultiple;
  BootServices.LocateHandleBuffer = FakeLocateHandleBuffer;
  BootServices.HandleProtocol = FakeHandleProtocol;
  ConOut.OutputString = ConOutString;
  StdErr.OutputString = StdErrString;
  SystemTable.Hdr.Signature = EFI_SYSTEM_TABLE_SIGNATURE;
  SystemTable.Hdr.Revision = EFI_SYSTEM_TABLE_REVISION;
  SystemTable.BootServices = &BootServices;
  SystemTable.RuntimeServices = &RuntimeServices;
  SystemTable.ConOut = &ConOut;
  SystemTable.StdErr = &StdErr;
  UefiBootServicesTableLibConstructor(reinterpret_cast<EFI_HANDLE>(0x10), &SystemTable);
}

FakeUefi::~FakeUefi() {
  for (auto &Entry : Pool) {
    std::free(Entry.first);
  }
  Current = nullptr;
}

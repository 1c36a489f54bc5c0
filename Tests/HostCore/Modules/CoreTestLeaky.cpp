// Test image: a driver that gets its pool wrong in every way, leaves an event and a protocol
// interface behind, then fails its entry.
#include <Uefi.h>

namespace {
UINT32 Published = 0;
constexpr EFI_GUID kLeftGuid = {0x5E2A9C41, 0x7B3D, 0x4F10, {0x8C, 0x22, 0x61, 0x0F, 0x4A, 0x93, 0x17, 0x0B}};
VOID EFIAPI Ignore(EFI_EVENT Event, VOID *Context) {}
} // namespace

extern "C" EFI_STATUS EFIAPI _ModuleEntryPoint(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable) {
  EFI_BOOT_SERVICES *BootServices = SystemTable->BootServices;
  VOID *Kept = nullptr;
  VOID *Twice = nullptr;
  BootServices->AllocatePool(EfiBootServicesData, 100, &Kept); // never freed
  BootServices->AllocatePool(EfiBootServicesData, 24, &Twice);
  BootServices->FreePool(Twice);
  EFI_STATUS Second = BootServices->FreePool(Twice);
  UINT64 OnStack = 0;
  EFI_STATUS Foreign = BootServices->FreePool(&OnStack);
  EFI_EVENT Event = nullptr;
  BootServices->CreateEvent(EVT_NOTIFY_SIGNAL, TPL_CALLBACK, Ignore, nullptr, &Event);
  EFI_HANDLE Handle = nullptr;
  EFI_GUID Guid = kLeftGuid;
  BootServices->InstallProtocolInterface(&Handle, &Guid, EFI_NATIVE_INTERFACE, &Published);
  if (Second != EFI_INVALID_PARAMETER || Foreign != EFI_INVALID_PARAMETER) {
    return EFI_SUCCESS; // the test sees the driver stay loaded
  }
  return EFI_DEVICE_ERROR;
}

// The host-side test driver used by the driver-model and open-protocol tests.
#include "CoreTestSupport.h"

#include <algorithm>

namespace coretest {

namespace {
std::map<EFI_DRIVER_BINDING_PROTOCOL *, HostDriver *> &Drivers() {
  static std::map<EFI_DRIVER_BINDING_PROTOCOL *, HostDriver *> Map;
  return Map;
}
} // namespace

UINTN CurrentMapKey(EFI_BOOT_SERVICES *BS) {
  UINTN Size = 0, Key = 0, DescriptorSize = 0;
  UINT32 Version = 0;
  BS->GetMemoryMap(&Size, nullptr, &Key, &DescriptorSize, &Version);
  std::vector<uint8_t> Map(Size + 4 * DescriptorSize);
  Size = Map.size();
  EXPECT_EQ(BS->GetMemoryMap(&Size, reinterpret_cast<EFI_MEMORY_DESCRIPTOR *>(Map.data()), &Key,
                             &DescriptorSize, &Version),
            EFI_SUCCESS);
  return Key;
}

std::vector<EFI_MEMORY_DESCRIPTOR> CurrentMemoryMap(EFI_BOOT_SERVICES *BS) {
  UINTN Size = 0, Key = 0, DescriptorSize = 0;
  UINT32 Version = 0;
  BS->GetMemoryMap(&Size, nullptr, &Key, &DescriptorSize, &Version);
  std::vector<uint8_t> Bytes(Size);
  EXPECT_EQ(BS->GetMemoryMap(&Size, reinterpret_cast<EFI_MEMORY_DESCRIPTOR *>(Bytes.data()), &Key,
                             &DescriptorSize, &Version),
            EFI_SUCCESS);
  std::vector<EFI_MEMORY_DESCRIPTOR> Map;
  for (UINTN Offset = 0; Offset + DescriptorSize <= Size; Offset += DescriptorSize) {
    Map.push_back(*reinterpret_cast<const EFI_MEMORY_DESCRIPTOR *>(Bytes.data() + Offset));
  }
  return Map;
}

HostDriver *HostDriver::From(EFI_DRIVER_BINDING_PROTOCOL *This) {
  return Drivers().at(This);
}

EFI_STATUS EFIAPI HostDriver::Supported(EFI_DRIVER_BINDING_PROTOCOL *This, EFI_HANDLE Controller,
                                        EFI_DEVICE_PATH_PROTOCOL *Remaining) {
  HostDriver *Self = From(This);
  EFI_BOOT_SERVICES *BS = host::Platform::Current().BootServices();
  EFI_GUID Guid = kGuidA;
  EFI_STATUS Status = BS->OpenProtocol(Controller, &Guid, nullptr, This->DriverBindingHandle, Controller,
                                       EFI_OPEN_PROTOCOL_TEST_PROTOCOL);
  Self->Record("Supported");
  return Status == EFI_SUCCESS ? EFI_SUCCESS : EFI_UNSUPPORTED;
}

EFI_STATUS EFIAPI HostDriver::Start(EFI_DRIVER_BINDING_PROTOCOL *This, EFI_HANDLE Controller,
                                    EFI_DEVICE_PATH_PROTOCOL *Remaining) {
  HostDriver *Self = From(This);
  EFI_BOOT_SERVICES *BS = host::Platform::Current().BootServices();
  EFI_GUID Guid = kGuidA;
  VOID *Interface = nullptr;
  EFI_STATUS Status = BS->OpenProtocol(Controller, &Guid, &Interface, This->DriverBindingHandle, Controller,
                                       EFI_OPEN_PROTOCOL_BY_DRIVER);
  Self->Record("Start");
  if (EFI_ERROR(Status)) {
    return Status;
  }
  if (Self->CreateChild) {
    EFI_HANDLE Child = nullptr;
    EFI_GUID ChildGuid = kGuidB;
    BS->InstallProtocolInterface(&Child, &ChildGuid, EFI_NATIVE_INTERFACE, &Self->ChildInterface);
    BS->OpenProtocol(Controller, &Guid, &Interface, This->DriverBindingHandle, Child,
                     EFI_OPEN_PROTOCOL_BY_CHILD_CONTROLLER);
    Self->Children.push_back(Child);
  }
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI HostDriver::Stop(EFI_DRIVER_BINDING_PROTOCOL *This, EFI_HANDLE Controller,
                                   UINTN NumberOfChildren, EFI_HANDLE *ChildHandleBuffer) {
  HostDriver *Self = From(This);
  EFI_BOOT_SERVICES *BS = host::Platform::Current().BootServices();
  Self->Record("Stop(" + std::to_string(NumberOfChildren) + ")");
  if (Self->RefuseStop) {
    return EFI_DEVICE_ERROR;
  }
  EFI_GUID Guid = kGuidA;
  EFI_GUID ChildGuid = kGuidB;
  for (UINTN Index = 0; Index < NumberOfChildren; Index++) {
    EFI_HANDLE Child = ChildHandleBuffer[Index];
    BS->CloseProtocol(Controller, &Guid, This->DriverBindingHandle, Child);
    BS->UninstallProtocolInterface(Child, &ChildGuid, &Self->ChildInterface);
    Self->Children.erase(std::remove(Self->Children.begin(), Self->Children.end(), Child),
                         Self->Children.end());
  }
  if (NumberOfChildren == 0) {
    BS->CloseProtocol(Controller, &Guid, This->DriverBindingHandle, Controller);
  }
  return EFI_SUCCESS;
}

void HostDriver::Install(EFI_BOOT_SERVICES *BS, UINT32 Version) {
  Binding.Supported = Supported;
  Binding.Start = Start;
  Binding.Stop = Stop;
  Binding.Version = Version;
  Drivers()[&Binding] = this;
  EFI_HANDLE Handle = nullptr;
  EFI_GUID Guid = kDriverBindingGuid;
  ASSERT_EQ(BS->InstallProtocolInterface(&Handle, &Guid, EFI_NATIVE_INTERFACE, &Binding), EFI_SUCCESS);
  Binding.ImageHandle = Handle;
  Binding.DriverBindingHandle = Handle;
}

} // namespace coretest

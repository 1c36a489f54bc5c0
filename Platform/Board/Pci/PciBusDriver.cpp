// The host board's PCI bus driver.
#include "PciBusDriver.h"

#include <ProducerRecord.h>

#include <Protocol/PciHostBridgeResourceAllocation.h>
#include <Protocol/PciRootBridgeIo.h>

namespace host {
namespace {

constexpr UINT32 PCI_BUS_DRIVER_VERSION = 0x10;

PciBusDriver &Owner(EFI_DRIVER_BINDING_PROTOCOL *This) {
  return *reinterpret_cast<PciBusDriver::Binding *>(This)->Owner;
}

EFI_STATUS EFIAPI Supported(EFI_DRIVER_BINDING_PROTOCOL *This, EFI_HANDLE Controller,
                            EFI_DEVICE_PATH_PROTOCOL *RemainingDevicePath) {
  return Owner(This).OnSupported(Controller);
}

EFI_STATUS EFIAPI Start(EFI_DRIVER_BINDING_PROTOCOL *This, EFI_HANDLE Controller,
                        EFI_DEVICE_PATH_PROTOCOL *RemainingDevicePath) {
  return Owner(This).OnStart(Controller);
}

EFI_STATUS EFIAPI Stop(EFI_DRIVER_BINDING_PROTOCOL *This, EFI_HANDLE Controller, UINTN NumberOfChildren,
                       EFI_HANDLE *ChildHandleBuffer) {
  return Owner(This).OnStop(Controller);
}

} // namespace

PciBusDriver::PciBusDriver(Platform &P, PciBarPlacements Placements)
    : P_(P), Placements_(std::move(Placements)) {
  Binding_ =
      NewRecord(P, Binding{{Exported(P, "PciBus.Supported", Supported), Exported(P, "PciBus.Start", Start),
                            Exported(P, "PciBus.Stop", Stop), PCI_BUS_DRIVER_VERSION, nullptr, nullptr},
                           this});
  EFI_HANDLE Handle = nullptr;
  InstallStatus_ = InstallInterface(P, gEfiDriverBindingProtocolGuid, Binding_, &Handle);
  if (!EFI_ERROR(InstallStatus_)) {
    Binding_->Protocol.ImageHandle = Handle;
    Binding_->Protocol.DriverBindingHandle = Handle;
  }
}

// A root bridge whose host bridge (its parent) publishes the resource allocation protocol.
EFI_STATUS PciBusDriver::OnSupported(EFI_HANDLE Controller) {
  EFI_BOOT_SERVICES *Bs = P_.BootServices();
  VOID *Interface = nullptr;
  EFI_STATUS Status =
      Bs->OpenProtocol(Controller, &gEfiPciRootBridgeIoProtocolGuid, &Interface,
                       Binding_->Protocol.DriverBindingHandle, Controller, EFI_OPEN_PROTOCOL_BY_DRIVER);
  if (EFI_ERROR(Status)) {
    return Status;
  }
  const EFI_HANDLE HostBridge = static_cast<EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL *>(Interface)->ParentHandle;
  Bs->CloseProtocol(Controller, &gEfiPciRootBridgeIoProtocolGuid, Binding_->Protocol.DriverBindingHandle,
                    Controller);
  VOID *Alloc = nullptr;
  if (HostBridge == nullptr ||
      EFI_ERROR(Bs->HandleProtocol(HostBridge, &gEfiPciHostBridgeResourceAllocationProtocolGuid, &Alloc))) {
    return EFI_UNSUPPORTED;
  }
  return EFI_SUCCESS;
}

EFI_STATUS PciBusDriver::OnStart(EFI_HANDLE Controller) {
  VOID *Interface = nullptr;
  EFI_STATUS Status = P_.BootServices()->OpenProtocol(Controller, &gEfiPciRootBridgeIoProtocolGuid,
                                                      &Interface, Binding_->Protocol.DriverBindingHandle,
                                                      Controller, EFI_OPEN_PROTOCOL_BY_DRIVER);
  if (EFI_ERROR(Status)) {
    return Status;
  }
  const EFI_HANDLE HostBridge = static_cast<EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL *>(Interface)->ParentHandle;
  if (Enumerated_.insert(HostBridge).second) {
    Enumerations_.push_back(EnumeratePci(P_, Placements_, HostBridge));
  }
  return EFI_SUCCESS;
}

EFI_STATUS PciBusDriver::OnStop(EFI_HANDLE Controller) {
  return P_.BootServices()->CloseProtocol(Controller, &gEfiPciRootBridgeIoProtocolGuid,
                                          Binding_->Protocol.DriverBindingHandle, Controller);
}

} // namespace host

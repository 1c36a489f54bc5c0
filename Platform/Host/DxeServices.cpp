// The DXE services table: GCD members delegate to the GCD map; there is nothing to dispatch
// from firmware volumes on the emulated board.
#include "CoreInternal.h"
#include "FirmwareCall.h"

namespace host {

namespace {

// A change of the memory space map changes the memory map derived from it, and so its key.
EFI_STATUS MapChange(Platform::Impl &Core, EFI_STATUS Status) {
  if (!EFI_ERROR(Status)) {
    Core.Memory.MapChanged();
  }
  return Status;
}

// Map arrays come from the caller's pool, as the caller frees them with FreePool.
GcdMap::Allocator CallerPool(Platform::Impl &Core, EFI_HANDLE Caller) {
  return [&Core, Caller](size_t Size) -> void * {
    VOID *Buffer = nullptr;
    return EFI_ERROR(Core.Memory.AllocatePool(Caller, EfiBootServicesData, Size, &Buffer)) ? nullptr : Buffer;
  };
}

EFI_STATUS EFIAPI AddMemorySpace(EFI_GCD_MEMORY_TYPE Type, EFI_PHYSICAL_ADDRESS Base, UINT64 Length,
                                 UINT64 Capabilities) {
  CORE_BOOT_SERVICE("AddMemorySpace");
  return MapChange(Core, Core.Gcd->AddMemorySpace(Type, Base, Length, Capabilities));
}

EFI_STATUS EFIAPI AllocateMemorySpace(EFI_GCD_ALLOCATE_TYPE AllocateType, EFI_GCD_MEMORY_TYPE Type,
                                      UINTN Alignment, UINT64 Length, EFI_PHYSICAL_ADDRESS *Base,
                                      EFI_HANDLE ImageHandle, EFI_HANDLE DeviceHandle) {
  CORE_BOOT_SERVICE("AllocateMemorySpace");
  return MapChange(Core, Core.Gcd->AllocateMemorySpace(AllocateType, Type, Alignment, Length, Base,
                                                       ImageHandle, DeviceHandle));
}

EFI_STATUS EFIAPI FreeMemorySpace(EFI_PHYSICAL_ADDRESS Base, UINT64 Length) {
  CORE_BOOT_SERVICE("FreeMemorySpace");
  return MapChange(Core, Core.Gcd->FreeMemorySpace(Base, Length));
}

EFI_STATUS EFIAPI RemoveMemorySpace(EFI_PHYSICAL_ADDRESS Base, UINT64 Length) {
  CORE_BOOT_SERVICE("RemoveMemorySpace");
  return MapChange(Core, Core.Gcd->RemoveMemorySpace(Base, Length));
}

EFI_STATUS EFIAPI GetMemorySpaceDescriptor(EFI_PHYSICAL_ADDRESS Base,
                                           EFI_GCD_MEMORY_SPACE_DESCRIPTOR *Descriptor) {
  CORE_BOOT_SERVICE("GetMemorySpaceDescriptor");
  return Core.Gcd->GetMemorySpaceDescriptor(Base, Descriptor);
}

// The attributes change in the GCD map only once the CPU architectural protocol has applied
// them to the page tables; before it is installed they cannot be applied at all.
EFI_STATUS EFIAPI SetMemorySpaceAttributes(EFI_PHYSICAL_ADDRESS Base, UINT64 Length, UINT64 Attributes) {
  CORE_BOOT_SERVICE("SetMemorySpaceAttributes");
  GcdMap Changed = *Core.Gcd;
  EFI_STATUS Status = Changed.SetMemorySpaceAttributes(Base, Length, Attributes);
  if (EFI_ERROR(Status)) {
    return Status;
  }
  std::vector<ProtocolInterface *> Cpus = Core.Handles.InterfacesOf(CoreGuid::CpuArch);
  auto *Cpu = Cpus.empty() ? nullptr : static_cast<EFI_CPU_ARCH_PROTOCOL *>(Cpus.front()->Interface);
  if (Cpu == nullptr || Cpu->SetMemoryAttributes == nullptr) {
    return EFI_NOT_AVAILABLE_YET;
  }
  Status =
      cpu::CallFirmware(Core.Images.Processor(), Cpu->SetMemoryAttributes, Cpu, Base, Length, Attributes);
  if (EFI_ERROR(Status)) {
    return Status;
  }
  *Core.Gcd = std::move(Changed);
  return MapChange(Core, EFI_SUCCESS);
}

EFI_STATUS EFIAPI SetMemorySpaceCapabilities(EFI_PHYSICAL_ADDRESS Base, UINT64 Length, UINT64 Capabilities) {
  CORE_BOOT_SERVICE("SetMemorySpaceCapabilities");
  return MapChange(Core, Core.Gcd->SetMemorySpaceCapabilities(Base, Length, Capabilities));
}

EFI_STATUS EFIAPI GetMemorySpaceMap(UINTN *NumberOfDescriptors, EFI_GCD_MEMORY_SPACE_DESCRIPTOR **Map) {
  EFI_HANDLE Caller =
      host::CoreAlive() ? host::Core().Images.CallerImage(__builtin_return_address(0)) : nullptr;
  CORE_BOOT_SERVICE("GetMemorySpaceMap");
  return Core.Gcd->GetMemorySpaceMap(NumberOfDescriptors, Map, CallerPool(Core, Caller));
}

EFI_STATUS EFIAPI AddIoSpace(EFI_GCD_IO_TYPE Type, EFI_PHYSICAL_ADDRESS Base, UINT64 Length) {
  CORE_BOOT_SERVICE("AddIoSpace");
  return Core.Gcd->AddIoSpace(Type, Base, Length);
}

EFI_STATUS EFIAPI AllocateIoSpace(EFI_GCD_ALLOCATE_TYPE AllocateType, EFI_GCD_IO_TYPE Type, UINTN Alignment,
                                  UINT64 Length, EFI_PHYSICAL_ADDRESS *Base, EFI_HANDLE ImageHandle,
                                  EFI_HANDLE DeviceHandle) {
  CORE_BOOT_SERVICE("AllocateIoSpace");
  return Core.Gcd->AllocateIoSpace(AllocateType, Type, Alignment, Length, Base, ImageHandle, DeviceHandle);
}

EFI_STATUS EFIAPI FreeIoSpace(EFI_PHYSICAL_ADDRESS Base, UINT64 Length) {
  CORE_BOOT_SERVICE("FreeIoSpace");
  return Core.Gcd->FreeIoSpace(Base, Length);
}

EFI_STATUS EFIAPI RemoveIoSpace(EFI_PHYSICAL_ADDRESS Base, UINT64 Length) {
  CORE_BOOT_SERVICE("RemoveIoSpace");
  return Core.Gcd->RemoveIoSpace(Base, Length);
}

EFI_STATUS EFIAPI GetIoSpaceDescriptor(EFI_PHYSICAL_ADDRESS Base, EFI_GCD_IO_SPACE_DESCRIPTOR *Descriptor) {
  CORE_BOOT_SERVICE("GetIoSpaceDescriptor");
  return Core.Gcd->GetIoSpaceDescriptor(Base, Descriptor);
}

EFI_STATUS EFIAPI GetIoSpaceMap(UINTN *NumberOfDescriptors, EFI_GCD_IO_SPACE_DESCRIPTOR **Map) {
  EFI_HANDLE Caller =
      host::CoreAlive() ? host::Core().Images.CallerImage(__builtin_return_address(0)) : nullptr;
  CORE_BOOT_SERVICE("GetIoSpaceMap");
  return Core.Gcd->GetIoSpaceMap(NumberOfDescriptors, Map, CallerPool(Core, Caller));
}

EFI_STATUS EFIAPI Dispatch(VOID) {
  return EFI_NOT_FOUND;
}

EFI_STATUS EFIAPI Schedule(EFI_HANDLE FirmwareVolumeHandle, const EFI_GUID *FileName) {
  return EFI_NOT_FOUND;
}

EFI_STATUS EFIAPI Trust(EFI_HANDLE FirmwareVolumeHandle, const EFI_GUID *FileName) {
  return EFI_NOT_FOUND;
}

EFI_STATUS EFIAPI ProcessFirmwareVolume(const VOID *Header, UINTN Size, EFI_HANDLE *FirmwareVolumeHandle) {
  return EFI_UNSUPPORTED;
}

} // namespace

void Platform::Impl::InitDxeServices() {
  DxeServices.Hdr.Signature = DXE_SERVICES_SIGNATURE;
  DxeServices.Hdr.Revision = DXE_SERVICES_REVISION;
  DxeServices.Hdr.HeaderSize = sizeof(EFI_DXE_SERVICES);
  DxeServices.AddMemorySpace = host::AddMemorySpace;
  DxeServices.AllocateMemorySpace = host::AllocateMemorySpace;
  DxeServices.FreeMemorySpace = host::FreeMemorySpace;
  DxeServices.RemoveMemorySpace = host::RemoveMemorySpace;
  DxeServices.GetMemorySpaceDescriptor = host::GetMemorySpaceDescriptor;
  DxeServices.SetMemorySpaceAttributes = host::SetMemorySpaceAttributes;
  DxeServices.GetMemorySpaceMap = host::GetMemorySpaceMap;
  DxeServices.AddIoSpace = host::AddIoSpace;
  DxeServices.AllocateIoSpace = host::AllocateIoSpace;
  DxeServices.FreeIoSpace = host::FreeIoSpace;
  DxeServices.RemoveIoSpace = host::RemoveIoSpace;
  DxeServices.GetIoSpaceDescriptor = host::GetIoSpaceDescriptor;
  DxeServices.GetIoSpaceMap = host::GetIoSpaceMap;
  DxeServices.Dispatch = host::Dispatch;
  DxeServices.Schedule = host::Schedule;
  DxeServices.Trust = host::Trust;
  DxeServices.ProcessFirmwareVolume = host::ProcessFirmwareVolume;
  DxeServices.SetMemorySpaceCapabilities = host::SetMemorySpaceCapabilities;
}

} // namespace host

// The Root Bridge I/O protocol instance: configuration access to the emulated devices, DMA
// through the platform's mapping library, common-buffer pages, attributes and the current
// resources. There is no I/O space.
#include <Library/DmaLib.h>
#include <Library/MemoryAllocationLib.h>
#include <Library/UefiBootServicesTableLib.h>

#include "Bridgemimic.h"

namespace {

// Attributes the root bridge supports: IDE I/O decode, write combining, dual address cycles.
constexpr UINT64 PCIEM_SUPPORTED_ATTRIBUTES =
    EFI_PCI_ATTRIBUTE_IDE_PRIMARY_IO | EFI_PCI_ATTRIBUTE_IDE_SECONDARY_IO |
    EFI_PCI_ATTRIBUTE_MEMORY_WRITE_COMBINE | EFI_PCI_ATTRIBUTE_DUAL_ADDRESS_CYCLE;
static_assert(PCIEM_SUPPORTED_ATTRIBUTES == 0x80E0);
static_assert(EFI_PCI_ATTRIBUTE_VALID_FOR_ALLOCATE_BUFFER == 0x8880);

// Attributes that apply to a range of memory, which the caller must name.
constexpr UINT64 PCIEM_MEMORY_RANGE_ATTRIBUTES = EFI_PCI_ATTRIBUTE_MEMORY_WRITE_COMBINE |
                                                 EFI_PCI_ATTRIBUTE_MEMORY_CACHED |
                                                 EFI_PCI_ATTRIBUTE_MEMORY_DISABLE;

// Common buffers may lie anywhere in memory.
constexpr EFI_PHYSICAL_ADDRESS PCIEM_ANY_ADDRESS = ~0ull;

// There is no I/O space; a width the member does not know is still a bad parameter.
EFI_STATUS EFIAPI PollIo(EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL *This, EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL_WIDTH Width,
                         UINT64 Address, UINT64 Mask, UINT64 Value, UINT64 Delay, UINT64 *Result) {
  return Width > EfiPciWidthUint64 ? EFI_INVALID_PARAMETER : EFI_UNSUPPORTED;
}

EFI_STATUS EFIAPI IoAccess(EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL *This, EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL_WIDTH Width,
                           UINT64 Address, UINTN Count, VOID *Buffer) {
  return Width >= EfiPciWidthMaximum ? EFI_INVALID_PARAMETER : EFI_UNSUPPORTED;
}

EFI_STATUS EFIAPI PciRead(EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL *This, EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL_WIDTH Width,
                          UINT64 Address, UINTN Count, VOID *Buffer) {
  return PciEmConfigAccess(This, Width, Address, Count, Buffer, FALSE);
}

EFI_STATUS EFIAPI PciWrite(EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL *This, EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL_WIDTH Width,
                           UINT64 Address, UINTN Count, VOID *Buffer) {
  return PciEmConfigAccess(This, Width, Address, Count, Buffer, TRUE);
}

EFI_STATUS EFIAPI Map(EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL *This,
                      EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL_OPERATION Operation, VOID *HostAddress,
                      UINTN *NumberOfBytes, EFI_PHYSICAL_ADDRESS *DeviceAddress, VOID **Mapping) {
  switch (Operation) {
  case EfiPciOperationBusMasterRead:
    return DmaMap(MapOperationBusMasterRead, HostAddress, NumberOfBytes, DeviceAddress, Mapping);
  case EfiPciOperationBusMasterWrite:
    return DmaMap(MapOperationBusMasterWrite, HostAddress, NumberOfBytes, DeviceAddress, Mapping);
  case EfiPciOperationBusMasterCommonBuffer:
    return DmaMap(MapOperationBusMasterCommonBuffer, HostAddress, NumberOfBytes, DeviceAddress, Mapping);
  default:
    return EFI_INVALID_PARAMETER;
  }
}

EFI_STATUS EFIAPI Unmap(EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL *This, VOID *Mapping) {
  return DmaUnmap(Mapping);
}

EFI_STATUS EFIAPI AllocateBuffer(EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL *This, EFI_ALLOCATE_TYPE Type,
                                 EFI_MEMORY_TYPE MemoryType, UINTN Pages, VOID **HostAddress,
                                 UINT64 Attributes) {
  if ((Attributes & EFI_PCI_ATTRIBUTE_INVALID_FOR_ALLOCATE_BUFFER) != 0) {
    return EFI_UNSUPPORTED;
  }
  if (HostAddress == NULL) {
    return EFI_INVALID_PARAMETER;
  }
  if (MemoryType != EfiBootServicesData && MemoryType != EfiRuntimeServicesData) {
    return EFI_INVALID_PARAMETER;
  }
  EFI_PHYSICAL_ADDRESS Address = PCIEM_ANY_ADDRESS;
  const EFI_STATUS Status = gBS->AllocatePages(AllocateMaxAddress, MemoryType, Pages, &Address);
  if (EFI_ERROR(Status)) {
    return Status;
  }
  *HostAddress = reinterpret_cast<VOID *>(static_cast<UINTN>(Address));
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI FreeBuffer(EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL *This, UINTN Pages, VOID *HostAddress) {
  return gBS->FreePages(reinterpret_cast<UINTN>(HostAddress), Pages);
}

EFI_STATUS EFIAPI Flush(EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL *This) {
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI GetAttributes(EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL *This, UINT64 *Supports, UINT64 *Attributes) {
  if (Supports == NULL && Attributes == NULL) {
    return EFI_INVALID_PARAMETER;
  }
  if (Supports != NULL) {
    *Supports = PCIEM_SUPPORTED_ATTRIBUTES;
  }
  if (Attributes != NULL) {
    *Attributes = PciEmPrivate.Attributes;
  }
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI SetAttributes(EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL *This, UINT64 Attributes,
                                UINT64 *ResourceBase, UINT64 *ResourceLength) {
  if ((Attributes & ~PCIEM_SUPPORTED_ATTRIBUTES) != 0) {
    return EFI_UNSUPPORTED;
  }
  if ((Attributes & PCIEM_MEMORY_RANGE_ATTRIBUTES) != 0 && (ResourceBase == NULL || ResourceLength == NULL)) {
    return EFI_INVALID_PARAMETER;
  }
  PciEmPrivate.Attributes = Attributes;
  return EFI_SUCCESS;
}

// The bus range and the memory window, in a new pool buffer the caller owns. The resources are
// fixed, so they are reported at any time: the PCI bus driver asks for them before it submits
// its requests, and the shell's `pci` asks for them whenever it lists the functions.
EFI_STATUS EFIAPI Configuration(EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL *This, VOID **Resources) {
  if (This != PciEmPrivate.RbIo || Resources == NULL) {
    return EFI_INVALID_PARAMETER;
  }
  PCIEM_RESOURCES *List = static_cast<PCIEM_RESOURCES *>(AllocateZeroPool(sizeof(PCIEM_RESOURCES)));
  if (List == NULL) {
    return EFI_OUT_OF_RESOURCES;
  }
  PciEmFillBusDescriptor(&List->Bus, PCIEM_BUS_GRANULARITY_CONFIGURATION);
  PciEmFillMemDescriptor(&List->Mem);
  PciEmFillEndTag(&List->End);
  *Resources = List;
  return EFI_SUCCESS;
}

} // namespace

EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL PciEmRootBridgeIo = {
    NULL,
    PciEmPollMem,
    PollIo,
    {PciEmMemRead, PciEmMemWrite},
    {IoAccess, IoAccess},
    {PciRead, PciWrite},
    PciEmCopyMem,
    Map,
    Unmap,
    AllocateBuffer,
    FreeBuffer,
    Flush,
    GetAttributes,
    SetAttributes,
    Configuration,
    PCIEM_SEGMENT,
};

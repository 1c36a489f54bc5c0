// The host bridge's resource allocation protocol. Resources are fixed: the phases change
// nothing, the bus range is the root bridge's one bus, and submitted resources are only
// recorded as submitted, which makes the root bridge's Configuration available.
#include <Library/BaseMemoryLib.h>
#include <Library/MemoryAllocationLib.h>

#include "Bridgemimic.h"

namespace {

constexpr UINT64 PCIEM_ALLOC_ATTRIBUTES =
    EFI_PCI_HOST_BRIDGE_COMBINE_MEM_PMEM | EFI_PCI_HOST_BRIDGE_MEM64_DECODE;
static_assert(PCIEM_ALLOC_ATTRIBUTES == 3);

BOOLEAN IsOurs(EFI_PCI_HOST_BRIDGE_RESOURCE_ALLOCATION_PROTOCOL *This) {
  return This == PciEmPrivate.ResAlloc ? TRUE : FALSE;
}

BOOLEAN IsOurs(EFI_PCI_HOST_BRIDGE_RESOURCE_ALLOCATION_PROTOCOL *This, EFI_HANDLE RootBridgeHandle) {
  return IsOurs(This) && RootBridgeHandle == PciEmPrivate.RbHandle ? TRUE : FALSE;
}

// Our instance, our root bridge and a pointer to read or write through.
BOOLEAN IsOurs(EFI_PCI_HOST_BRIDGE_RESOURCE_ALLOCATION_PROTOCOL *This, EFI_HANDLE RootBridgeHandle,
               const VOID *Argument) {
  return IsOurs(This, RootBridgeHandle) && Argument != NULL ? TRUE : FALSE;
}

EFI_STATUS EFIAPI NotifyPhase(EFI_PCI_HOST_BRIDGE_RESOURCE_ALLOCATION_PROTOCOL *This,
                              EFI_PCI_HOST_BRIDGE_RESOURCE_ALLOCATION_PHASE Phase) {
  return IsOurs(This) ? EFI_SUCCESS : EFI_INVALID_PARAMETER;
}

// One root bridge: a NULL handle asks for the first, any other handle has no successor.
EFI_STATUS EFIAPI GetNextRootBridge(EFI_PCI_HOST_BRIDGE_RESOURCE_ALLOCATION_PROTOCOL *This,
                                    EFI_HANDLE *RootBridgeHandle) {
  if (!IsOurs(This) || RootBridgeHandle == NULL) {
    return EFI_INVALID_PARAMETER;
  }
  if (*RootBridgeHandle != NULL) {
    return EFI_NOT_FOUND;
  }
  *RootBridgeHandle = PciEmPrivate.RbHandle;
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI GetAllocAttributes(EFI_PCI_HOST_BRIDGE_RESOURCE_ALLOCATION_PROTOCOL *This,
                                     EFI_HANDLE RootBridgeHandle, UINT64 *Attributes) {
  if (!IsOurs(This, RootBridgeHandle, Attributes)) {
    return EFI_INVALID_PARAMETER;
  }
  *Attributes = PCIEM_ALLOC_ATTRIBUTES;
  return EFI_SUCCESS;
}

// The bus range in a new pool buffer the caller owns.
EFI_STATUS EFIAPI StartBusEnumeration(EFI_PCI_HOST_BRIDGE_RESOURCE_ALLOCATION_PROTOCOL *This,
                                      EFI_HANDLE RootBridgeHandle, VOID **Configuration) {
  if (!IsOurs(This, RootBridgeHandle, Configuration)) {
    return EFI_INVALID_PARAMETER;
  }
  PCIEM_BUS_RESOURCES *List = static_cast<PCIEM_BUS_RESOURCES *>(AllocatePool(sizeof(PCIEM_BUS_RESOURCES)));
  if (List == NULL) {
    return EFI_OUT_OF_RESOURCES;
  }
  PciEmFillBusDescriptor(&List->Bus, PCIEM_BUS_GRANULARITY_ENUMERATION);
  PciEmFillEndTag(&List->End);
  *Configuration = List;
  return EFI_SUCCESS;
}

// Accepts only the bus range the root bridge has, followed by the end tag.
EFI_STATUS EFIAPI SetBusNumbers(EFI_PCI_HOST_BRIDGE_RESOURCE_ALLOCATION_PROTOCOL *This,
                                EFI_HANDLE RootBridgeHandle, VOID *Configuration) {
  if (!IsOurs(This, RootBridgeHandle, Configuration)) {
    return EFI_INVALID_PARAMETER;
  }
  PCIEM_BUS_RESOURCES Given;
  CopyMem(&Given, Configuration, sizeof(Given));
  if (Given.Bus.Desc != ACPI_ADDRESS_SPACE_DESCRIPTOR || Given.Bus.ResType != ACPI_ADDRESS_SPACE_TYPE_BUS ||
      Given.Bus.AddrRangeMin != PciEmPrivate.BusBase || Given.Bus.AddrLen != PciEmPrivate.BusCount ||
      Given.End.Desc != ACPI_END_TAG_DESCRIPTOR) {
    return EFI_INVALID_PARAMETER;
  }
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI SubmitResources(EFI_PCI_HOST_BRIDGE_RESOURCE_ALLOCATION_PROTOCOL *This,
                                  EFI_HANDLE RootBridgeHandle, VOID *Configuration) {
  if (!IsOurs(This, RootBridgeHandle, Configuration)) {
    return EFI_INVALID_PARAMETER;
  }
  PciEmPrivate.ResourcesSubmitted = TRUE;
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI GetProposedResources(EFI_PCI_HOST_BRIDGE_RESOURCE_ALLOCATION_PROTOCOL *This,
                                       EFI_HANDLE RootBridgeHandle, VOID **Configuration) {
  if (!IsOurs(This, RootBridgeHandle, Configuration)) {
    return EFI_INVALID_PARAMETER;
  }
  return EFI_UNSUPPORTED;
}

EFI_STATUS EFIAPI PreprocessController(EFI_PCI_HOST_BRIDGE_RESOURCE_ALLOCATION_PROTOCOL *This,
                                       EFI_HANDLE RootBridgeHandle,
                                       EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL_PCI_ADDRESS PciAddress,
                                       EFI_PCI_CONTROLLER_RESOURCE_ALLOCATION_PHASE Phase) {
  return IsOurs(This, RootBridgeHandle) ? EFI_SUCCESS : EFI_INVALID_PARAMETER;
}

} // namespace

EFI_PCI_HOST_BRIDGE_RESOURCE_ALLOCATION_PROTOCOL PciEmResourceAllocation = {
    NotifyPhase,   GetNextRootBridge, GetAllocAttributes,   StartBusEnumeration,
    SetBusNumbers, SubmitResources,   GetProposedResources, PreprocessController,
};

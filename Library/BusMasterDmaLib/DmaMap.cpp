// Identity DMA mapping with the cache maintenance of a bus master that does not snoop.
#include "DmaLibInternal.h"

#include <Library/ArmLib.h>
#include <Library/BaseMemoryLib.h>
#include <Library/UefiBootServicesTableLib.h>

namespace {

// One open mapping; the token handed to the caller points at it.
struct DMA_MAP_INFO {
  DMA_MAP_INFO *Next; // the other open mappings
  DMA_MAP_OPERATION Operation;
  EFI_PHYSICAL_ADDRESS HostAddress;
  EFI_PHYSICAL_ADDRESS DeviceAddress; // the bounce buffer when it differs from HostAddress
  UINTN NumberOfBytes;
  BOOLEAN Uncached; // a common buffer the processor sees uncached while it is mapped
};

// The highest address a bounce buffer may have: anywhere.
constexpr EFI_PHYSICAL_ADDRESS DMA_ANY_ADDRESS = ~0ull;

// The open mappings: a token is only trusted once it is found here.
DMA_MAP_INFO *mOpenMappings = NULL;

// Takes Mapping out of the open list; FALSE when it is not an open mapping.
BOOLEAN TakeOpenMapping(const VOID *Mapping) {
  for (DMA_MAP_INFO **Link = &mOpenMappings; *Link != NULL; Link = &(*Link)->Next) {
    if (*Link == Mapping) {
      *Link = (*Link)->Next;
      return TRUE;
    }
  }
  return FALSE;
}

UINT32 DmaAlignment() {
  if (mDmaCpu == NULL || mDmaCpu->DmaBufferAlignment == 0) {
    return DMA_DEFAULT_ALIGNMENT;
  }
  return mDmaCpu->DmaBufferAlignment;
}

BOOLEAN LinesAreWhole(EFI_PHYSICAL_ADDRESS Address, UINTN Length) {
  const UINT64 Mask = DmaAlignment() - 1;
  return (Address & Mask) == 0 && (Length & Mask) == 0 ? TRUE : FALSE;
}

// The device is about to write the buffer: a bounce buffer unless the lines are whole, and no
// dirty line may be written back over the device's data later.
EFI_STATUS PrepareDeviceWrite(DMA_MAP_INFO *Info) {
  if (!LinesAreWhole(Info->HostAddress, Info->NumberOfBytes)) {
    EFI_PHYSICAL_ADDRESS Bounce = DMA_ANY_ADDRESS;
    const EFI_STATUS Status = gBS->AllocatePages(AllocateMaxAddress, EfiBootServicesData,
                                                 EFI_SIZE_TO_PAGES(Info->NumberOfBytes), &Bounce);
    if (EFI_ERROR(Status)) {
      return Status;
    }
    Info->DeviceAddress = Bounce;
  }
  ArmCleanInvalidateDataCacheRange(static_cast<UINTN>(Info->DeviceAddress), Info->NumberOfBytes);
  return EFI_SUCCESS;
}

// The device has written the buffer: drop stale lines, then hand bounced data back.
VOID FinishDeviceWrite(const DMA_MAP_INFO *Info) {
  ArmInvalidateDataCacheRange(static_cast<UINTN>(Info->DeviceAddress), Info->NumberOfBytes);
  if (Info->DeviceAddress != Info->HostAddress) {
    CopyMem(reinterpret_cast<VOID *>(static_cast<UINTN>(Info->HostAddress)),
            reinterpret_cast<const VOID *>(static_cast<UINTN>(Info->DeviceAddress)), Info->NumberOfBytes);
    gBS->FreePages(Info->DeviceAddress, EFI_SIZE_TO_PAGES(Info->NumberOfBytes));
  }
}

// A common buffer in whole pages is seen by the processor through an uncached (write-combining)
// mapping while the device shares it, so neither side needs maintenance during the transfer.
// Other common buffers get maintenance at map and unmap only.
VOID ShareCommonBuffer(DMA_MAP_INFO *Info) {
  ArmCleanInvalidateDataCacheRange(static_cast<UINTN>(Info->HostAddress), Info->NumberOfBytes);
  const BOOLEAN WholePages = (Info->HostAddress % EFI_PAGE_SIZE) == 0 &&
                                     (Info->NumberOfBytes % EFI_PAGE_SIZE) == 0 && Info->NumberOfBytes != 0
                                 ? TRUE
                                 : FALSE;
  if (WholePages && mDmaCpu != NULL) {
    Info->Uncached = !EFI_ERROR(mDmaCpu->SetMemoryAttributes(mDmaCpu, Info->HostAddress, Info->NumberOfBytes,
                                                             EFI_MEMORY_WC))
                         ? TRUE
                         : FALSE;
  }
}

VOID EndCommonBuffer(const DMA_MAP_INFO *Info) {
  if (Info->Uncached) {
    mDmaCpu->SetMemoryAttributes(mDmaCpu, Info->HostAddress, Info->NumberOfBytes, EFI_MEMORY_WB);
  }
  ArmCleanInvalidateDataCacheRange(static_cast<UINTN>(Info->HostAddress), Info->NumberOfBytes);
}

} // namespace

EFI_STATUS DmaMap(DMA_MAP_OPERATION Operation, VOID *HostAddress, UINTN *NumberOfBytes,
                  EFI_PHYSICAL_ADDRESS *DeviceAddress, VOID **Mapping) {
  if (HostAddress == NULL || NumberOfBytes == NULL || DeviceAddress == NULL || Mapping == NULL ||
      Operation >= MapOperationMaximum) {
    return EFI_INVALID_PARAMETER;
  }
  DMA_MAP_INFO *Info = NULL;
  EFI_STATUS Status = gBS->AllocatePool(EfiBootServicesData, sizeof(*Info), reinterpret_cast<VOID **>(&Info));
  if (EFI_ERROR(Status)) {
    return Status;
  }
  Info->Operation = Operation;
  Info->HostAddress = reinterpret_cast<UINTN>(HostAddress);
  Info->DeviceAddress = Info->HostAddress;
  Info->NumberOfBytes = *NumberOfBytes;
  Info->Uncached = FALSE;

  switch (Operation) {
  case MapOperationBusMasterRead:
    ArmCleanDataCacheRange(static_cast<UINTN>(Info->HostAddress), Info->NumberOfBytes);
    break;
  case MapOperationBusMasterWrite:
    Status = PrepareDeviceWrite(Info);
    break;
  default:
    ShareCommonBuffer(Info);
    break;
  }
  if (EFI_ERROR(Status)) {
    gBS->FreePool(Info);
    return Status;
  }
  *DeviceAddress = Info->DeviceAddress;
  *Mapping = Info;
  Info->Next = mOpenMappings;
  mOpenMappings = Info;
  return EFI_SUCCESS;
}

EFI_STATUS DmaUnmap(VOID *Mapping) {
  if (Mapping == NULL || !TakeOpenMapping(Mapping)) {
    return EFI_INVALID_PARAMETER;
  }
  DMA_MAP_INFO *Info = static_cast<DMA_MAP_INFO *>(Mapping);
  if (Info->Operation == MapOperationBusMasterWrite) {
    FinishDeviceWrite(Info);
  } else if (Info->Operation == MapOperationBusMasterCommonBuffer) {
    EndCommonBuffer(Info);
  }
  gBS->FreePool(Info);
  return EFI_SUCCESS;
}

// Pool and page allocations from boot services, typed EfiBootServicesData. Failures return NULL.
#include <Library/BaseMemoryLib.h>
#include <Library/MemoryAllocationLib.h>
#include <Library/UefiBootServicesTableLib.h>

VOID *AllocatePool(UINTN AllocationSize) {
  VOID *Buffer = NULL;
  if (gBS->AllocatePool(EfiBootServicesData, AllocationSize, &Buffer) != EFI_SUCCESS) {
    return NULL;
  }
  return Buffer;
}

VOID *AllocateZeroPool(UINTN AllocationSize) {
  VOID *Buffer = AllocatePool(AllocationSize);
  if (Buffer != NULL) {
    ZeroMem(Buffer, AllocationSize);
  }
  return Buffer;
}

VOID *AllocateCopyPool(UINTN AllocationSize, const VOID *Buffer) {
  if (Buffer == NULL) {
    return NULL;
  }
  VOID *Copy = AllocatePool(AllocationSize);
  if (Copy != NULL) {
    CopyMem(Copy, Buffer, AllocationSize);
  }
  return Copy;
}

// NULL is ignored, so cleanup paths may free unconditionally.
VOID FreePool(VOID *Buffer) {
  if (Buffer != NULL) {
    gBS->FreePool(Buffer);
  }
}

VOID *AllocatePages(UINTN Pages) {
  EFI_PHYSICAL_ADDRESS Memory = 0;
  if (Pages == 0 ||
      gBS->AllocatePages(AllocateAnyPages, EfiBootServicesData, Pages, &Memory) != EFI_SUCCESS) {
    return NULL;
  }
  return reinterpret_cast<VOID *>(static_cast<UINTN>(Memory));
}

VOID FreePages(VOID *Buffer, UINTN Pages) {
  if (Buffer != NULL && Pages != 0) {
    gBS->FreePages(reinterpret_cast<UINTN>(Buffer), Pages);
  }
}

// Pool and page allocation helpers over boot services (EDK2 MemoryAllocationLib class).
#pragma once

#include <Uefi.h>

VOID *AllocatePool(UINTN AllocationSize);
VOID *AllocateZeroPool(UINTN AllocationSize);
VOID *AllocateCopyPool(UINTN AllocationSize, const VOID *Buffer);
VOID FreePool(VOID *Buffer);
VOID *AllocatePages(UINTN Pages);
VOID FreePages(VOID *Buffer, UINTN Pages);

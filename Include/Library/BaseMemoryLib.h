// Memory fill, copy and compare (EDK2 BaseMemoryLib class).
#pragma once

#include <Uefi/UefiBaseType.h>

VOID *CopyMem(VOID *DestinationBuffer, const VOID *SourceBuffer, UINTN Length);
VOID *SetMem(VOID *Buffer, UINTN Length, UINT8 Value);
VOID *SetMem16(VOID *Buffer, UINTN Length, UINT16 Value);
VOID *SetMem32(VOID *Buffer, UINTN Length, UINT32 Value);
VOID *ZeroMem(VOID *Buffer, UINTN Length);
INTN CompareMem(const VOID *DestinationBuffer, const VOID *SourceBuffer, UINTN Length);
BOOLEAN CompareGuid(const EFI_GUID *Guid1, const EFI_GUID *Guid2);
EFI_GUID *CopyGuid(EFI_GUID *DestinationGuid, const EFI_GUID *SourceGuid);

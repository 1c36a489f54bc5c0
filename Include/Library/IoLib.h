// MMIO access seam: volatile accesses with barriers on AArch64, the emulated physical
// address space on the host.
#pragma once

#include <Uefi/UefiBaseType.h>

UINT8 MmioRead8(UINTN Address);
UINT16 MmioRead16(UINTN Address);
UINT32 MmioRead32(UINTN Address);
UINT64 MmioRead64(UINTN Address);
UINT8 MmioWrite8(UINTN Address, UINT8 Value);
UINT16 MmioWrite16(UINTN Address, UINT16 Value);
UINT32 MmioWrite32(UINTN Address, UINT32 Value);
UINT64 MmioWrite64(UINTN Address, UINT64 Value);
UINT32 MmioOr32(UINTN Address, UINT32 OrData);
UINT32 MmioAnd32(UINTN Address, UINT32 AndData);
UINT32 MmioAndThenOr32(UINTN Address, UINT32 AndData, UINT32 OrData);
VOID MemoryFence(VOID);

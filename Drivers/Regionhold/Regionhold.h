// Private declarations of the chipset MMIO reservation driver: it claims six chipset MMIO
// ranges in the GCD memory space map as runtime memory-mapped I/O owned by its image.
#pragma once

#include <Library/EfiLib.h>
#include <Uefi.h>

constexpr UINTN REGIONHOLD_ROW_COUNT = 6;
// Every row: MMIO, runtime only (no cache type).
constexpr UINTN REGIONHOLD_ROW_TYPE = EfiGcdMemoryTypeMemoryMappedIo;
constexpr UINT64 REGIONHOLD_ROW_ATTRIBUTES = EFI_MEMORY_RUNTIME;
static_assert(REGIONHOLD_ROW_TYPE == 3 && REGIONHOLD_ROW_ATTRIBUTES == 0x8000000000000000ULL);

// The ranges, in the order they are processed (not sorted). The reservation routine may
// overwrite a row's Type with the type the GCD map already has for it.
extern CspResourceEntry CspResourceTable[REGIONHOLD_ROW_COUNT];

EFI_STATUS EFIAPI RegionholdEntry(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable);

// DMA mapping for bus-master buffers. Device addresses equal host addresses on this board; a
// bus master does not snoop the processor's caches, so mapping and unmapping do the cache
// maintenance the transfer needs: clean before a device reads memory, invalidate after it
// writes memory. A bus-master write into a buffer that does not start and end on the DMA
// alignment the CPU architectural protocol reports goes through an aligned bounce buffer, so
// that invalidating whole lines never discards the processor's data next to the buffer. A
// common buffer of whole pages is mapped uncached for the processor (through the CPU
// architectural protocol) for as long as the device shares it.
#pragma once

#include <Uefi.h>

enum DMA_MAP_OPERATION : UINT32 {
  MapOperationBusMasterRead,         // the device reads the buffer
  MapOperationBusMasterWrite,        // the device writes the buffer
  MapOperationBusMasterCommonBuffer, // both sides access it while it is mapped
  MapOperationMaximum
};

// Maps NumberOfBytes at HostAddress for Operation; DeviceAddress receives the address the
// device uses and Mapping the token DmaUnmap takes. NumberOfBytes is kept whole.
EFI_STATUS DmaMap(DMA_MAP_OPERATION Operation, VOID *HostAddress, UINTN *NumberOfBytes,
                  EFI_PHYSICAL_ADDRESS *DeviceAddress, VOID **Mapping);
// Ends a mapping: the maintenance after the transfer, the bounce copy back, the token freed.
// A token that is not an open mapping (never made, or already ended) is refused untouched.
EFI_STATUS DmaUnmap(VOID *Mapping);

// Locates the CPU architectural protocol; a missing protocol is a failed assertion.
EFI_STATUS DmaLibConstructor(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable);

// Entry of the chipset MMIO reservation driver: one pass over the range table at load time.
#include <Library/DebugLib.h>

#include "Regionhold.h"

CspResourceEntry CspResourceTable[REGIONHOLD_ROW_COUNT] = {
    {0x1C025000, 0x1000, REGIONHOLD_ROW_TYPE, REGIONHOLD_ROW_ATTRIBUTES},
    {0x10510000, 0x3000, REGIONHOLD_ROW_TYPE, REGIONHOLD_ROW_ATTRIBUTES}, // I2C controllers
    {0x17000000, 0x2000, REGIONHOLD_ROW_TYPE, REGIONHOLD_ROW_ATTRIBUTES}, // status region
    {0x1C020000, 0x1000, REGIONHOLD_ROW_TYPE, REGIONHOLD_ROW_ATTRIBUTES}, // console UART
    {0x1C021000, 0x1000, REGIONHOLD_ROW_TYPE, REGIONHOLD_ROW_ATTRIBUTES},
    {0x10540000, 0xA000, REGIONHOLD_ROW_TYPE, REGIONHOLD_ROW_ATTRIBUTES}, // mailbox
};

EFI_STATUS EFIAPI RegionholdEntry(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable) {
  LibInitialize(ImageHandle, SystemTable);
  EFI_STATUS Status = LibAllocCspResource(CspResourceTable, REGIONHOLD_ROW_COUNT, ImageHandle, NULL);
  DEBUG((DEBUG_INFO, "LibAllocCspResource Status:%r", Status));
  // On an error the dispatcher unloads the driver; the GCD changes made so far stay.
  return Status;
}

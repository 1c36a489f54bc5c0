// The test module VaultcellProbe: a driver image linked with the I2C and management-processor
// libraries whose entry hands the test its own copies of their functions, so that every load
// starts with the libraries' power-on state and the virtual time they spend is charged to it.
#pragma once

#include <Library/I2CLib.h>
#include <Library/PelmoLib.h>

#define VAULTCELL_PROBE_PROTOCOL_GUID                                                                        \
  {                                                                                                          \
    0x5E0C2B71, 0x93A4, 0x4F62, {                                                                            \
      0xB1, 0x7D, 0x2C, 0x44, 0x0E, 0x9A, 0x61, 0xD3                                                         \
    }                                                                                                        \
  }

struct VAULTCELL_PROBE_FUNCTIONS {
  EFI_STATUS(*I2cWrite)
  (UINT8 DeviceAddress, UINT32 Offset, UINTN OffsetWidth, const UINT8 *Data, UINTN Length);
  EFI_STATUS (*I2cRead)(UINT8 DeviceAddress, UINT32 Offset, UINTN OffsetWidth, UINT8 *Buffer, UINTN Length);
  EFI_STATUS (*I2cProbe)(UINT8 DeviceAddress);
  EFI_STATUS (*I2cSetBus)(UINTN Bus);
  EFI_STATUS (*I2cSetSpeed)(UINTN SpeedHz);
  UINT32 (*I2cGetSpeed)(VOID);
  EFI_STATUS (*PelmoSendMsg)(UINT32 Message, UINT32 Data);
  EFI_STATUS (*TessilReadIppMsg)(UINT32 *Message);
  EFI_STATUS (*PelmoI2cHandover)(BOOLEAN Release);
  EFI_STATUS(*TessilIppLoadFile)
  (const CHAR8 *FileName, UINT64 Destination, UINT64 RangeStart, UINT64 RangeSize);
  UINT32 (*PelmoQueryBuildId)(VOID);
  EFI_STATUS (*PelmoFormatFirmwareInfo)(CHAR16 *Buffer, UINT32 BufferSize);
  UINT32 (*PelmoGetLoadState)(VOID);
};

// Installed by the test; the probe's entry calls Run and returns its result.
struct VAULTCELL_PROBE_PROTOCOL {
  EFI_STATUS (*Run)(const VAULTCELL_PROBE_FUNCTIONS *Functions);
};

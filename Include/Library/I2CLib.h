// Byte-oriented register access to devices on the SoC's two I2C master controllers. Every
// operation acts on the current bus (bus 1 until I2cSetBus says otherwise); a transfer sets
// the controller up itself on first use of a device and recovers it after a bus error.
#pragma once

#include <Uefi.h>

constexpr UINTN I2C_BUS_COUNT = 2;
constexpr UINT32 I2C_MAX_SPEED_HZ = 3400000;

// Offset widths: 2 sends the offset as two bytes, high byte first; any other width sends its
// low byte only.
constexpr UINTN I2C_OFFSET_WIDTH_WORD = 2;

EFI_STATUS I2cWrite(UINT8 DeviceAddress, UINT32 Offset, UINTN OffsetWidth, const UINT8 *Data, UINTN Length);
EFI_STATUS I2cRead(UINT8 DeviceAddress, UINT32 Offset, UINTN OffsetWidth, UINT8 *Buffer, UINTN Length);
// Sets the bus up for DeviceAddress unconditionally, then reads one byte at offset 0.
EFI_STATUS I2cProbe(UINT8 DeviceAddress);

UINTN I2cGetBus(VOID);
EFI_STATUS I2cSetBus(UINTN Bus);
UINT32 I2cGetSpeed(VOID);
// EFI_INVALID_PARAMETER for 0, for speeds above I2C_MAX_SPEED_HZ and for speeds too slow
// for the 32-bit SCL count arithmetic (below I2C_MIN_SPEED_HZ).
EFI_STATUS I2cSetSpeed(UINTN SpeedHz);

// Library constructor: registers the virtual-address-change notification that converts the
// controller bases.
EFI_STATUS I2CLibConstructor(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable);
// Library destructor, run when the module's entry fails: closes that notification, whose
// function goes with the image.
EFI_STATUS I2CLibDestructor(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable);

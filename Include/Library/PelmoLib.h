// Messages to the SoC's management processor (its firmware is called Pelmo) through the
// mailbox, and the facts its firmware publishes in the shared status region.
#pragma once

#include <Uefi.h>

// Posts one message and waits for its acknowledge: EFI_SUCCESS or EFI_TIMEOUT.
EFI_STATUS PelmoSendMsg(UINT32 Message, UINT32 Data);
// Waits for one incoming message: EFI_SUCCESS or EFI_TIMEOUT.
EFI_STATUS TessilReadIppMsg(UINT32 *Message);
// FALSE before the application processor uses the shared I2C bus, TRUE after: EFI_SUCCESS, or
// EFI_TIMEOUT when the management processor did not acknowledge (it keeps the bus).
EFI_STATUS PelmoI2cHandover(BOOLEAN Release);
// Asks the management processor to load FileName into memory at Destination (the whole file
// when RangeStart is 0 and RangeSize 0xFFFFFFFF). EFI_SUCCESS or EFI_TIMEOUT.
EFI_STATUS TessilIppLoadFile(const CHAR8 *FileName, UINT64 Destination, UINT64 RangeStart, UINT64 RangeSize);
// The firmware build identifier; 0xFF when the query fails.
UINT32 PelmoQueryBuildId(VOID);
// The firmware-status word's load-state field (mask 0x0C000000).
UINT32 PelmoGetLoadState(VOID);
// The firmware report; EFI_UNSUPPORTED (buffer untouched) when no usable firmware is present.
EFI_STATUS PelmoFormatFirmwareInfo(CHAR16 *Buffer, UINT32 BufferSize);
// The bases of the blocks the library reads: the mailbox and the status region.
UINTN PelmoMailboxBlockBase(VOID);
UINTN PelmoStatusBlockBase(VOID);

// Library constructor: registers the virtual-address-change notification that converts the
// mailbox and status-region bases.
EFI_STATUS PelmoLibConstructor(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable);
// Library destructor, run when the module's entry fails: closes that notification, whose
// function goes with the image.
EFI_STATUS PelmoLibDestructor(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable);

// The I2C library's records, bus and speed selection, and its virtual-address-change
// notification.
#include <Library/DebugLib.h>
#include <Library/IoLib.h>
#include <Library/UefiBootServicesTableLib.h>
#include <Library/UefiRuntimeServicesTableLib.h>

#include "I2CLibInternal.h"

namespace {

constexpr UINT32 RECORD_MARKER = 0x1234;
constexpr UINT32 DEFAULT_SPEED_HZ = 100000;
constexpr UINT32 DEFAULT_FIFO_DEPTH = 16;
constexpr UINT32 DEFAULT_POLL_INTERVAL_US = 100;

VOID EFIAPI I2cConvertBases(EFI_EVENT Event, VOID *Context) {
  for (I2C_BUS_RECORD &Bus : mI2cBus) {
    gRT->ConvertPointer(0, reinterpret_cast<VOID **>(&Bus.Base));
  }
}

// The virtual-address-change notification; NULL when none is registered.
EFI_EVENT mI2cAddressChangeEvent = NULL;

} // namespace

I2C_BUS_RECORD mI2cBus[I2C_BUS_COUNT] = {
    {0x10512000, RECORD_MARKER, DEFAULT_SPEED_HZ, DEFAULT_FIFO_DEPTH, DEFAULT_FIFO_DEPTH, 0x51, 1, 8,
     DEFAULT_POLL_INTERVAL_US, 0, 1},
    {0x10511000, RECORD_MARKER, DEFAULT_SPEED_HZ, DEFAULT_FIFO_DEPTH, DEFAULT_FIFO_DEPTH, 0x52, 2, 256,
     DEFAULT_POLL_INTERVAL_US, 0, 1},
};
UINTN mI2cCurrentBus = 1;
BOOLEAN mI2cFifoDepthsRead = FALSE;

UINT32 I2cReadRegister(const I2C_BUS_RECORD &Bus, UINTN Register) {
  return MmioRead32((UINTN)Bus.Base + Register);
}

VOID I2cWriteRegister(const I2C_BUS_RECORD &Bus, UINTN Register, UINT32 Value) {
  MmioWrite32((UINTN)Bus.Base + Register, Value);
}

UINTN I2cGetBus(VOID) {
  return mI2cCurrentBus;
}

EFI_STATUS I2cSetBus(UINTN Bus) {
  if (Bus >= I2C_BUS_COUNT) {
    return EFI_INVALID_PARAMETER;
  }
  mI2cCurrentBus = Bus;
  return EFI_SUCCESS;
}

UINT32 I2cGetSpeed(VOID) {
  return I2cCurrentRecord().SpeedHz;
}

EFI_STATUS I2cSetSpeed(UINTN SpeedHz) {
  if (SpeedHz < I2C_MIN_SPEED_HZ || SpeedHz > I2C_MAX_SPEED_HZ) {
    return EFI_INVALID_PARAMETER;
  }
  I2C_BUS_RECORD &Bus = I2cCurrentRecord();
  if (SpeedHz != Bus.SpeedHz) {
    I2cBusInit((UINT32)SpeedHz, Bus.DefaultTarget);
  }
  return EFI_SUCCESS;
}

EFI_STATUS I2CLibConstructor(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable) {
  EFI_STATUS Status = gBS->CreateEventEx(EVT_NOTIFY_SIGNAL, TPL_NOTIFY, I2cConvertBases, NULL,
                                         &gEfiEventVirtualAddressChangeGuid, &mI2cAddressChangeEvent);
  ASSERT_EFI_ERROR(Status);
  return EFI_SUCCESS;
}

EFI_STATUS I2CLibDestructor(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable) {
  if (mI2cAddressChangeEvent != NULL) {
    gBS->CloseEvent(mI2cAddressChangeEvent);
    mI2cAddressChangeEvent = NULL;
  }
  return EFI_SUCCESS;
}

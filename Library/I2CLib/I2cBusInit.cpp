// Controller set-up: FIFO depths, SCL counts, enable and disable, and the target address.
#include <Library/IoLib.h>
#include <Library/TimerLib.h>

#include "I2CLibInternal.h"

namespace {

constexpr UINT32 FIFO_DEPTH_FIELD_MASK = 0xFF;
constexpr UINT32 RX_DEPTH_SHIFT = 8;
constexpr UINT32 TX_DEPTH_SHIFT = 16;

// Waits for enable status to reach Enabled: stall, barrier, check, up to the count.
BOOLEAN WaitEnableStatus(const I2C_BUS_RECORD &Bus, UINT32 Enabled) {
  for (UINTN Count = I2C_ENABLE_WAIT_COUNT;; Count--) {
    MicroSecondDelay(Bus.PollIntervalUs);
    MemoryFence();
    if (Count == 0) {
      return FALSE;
    }
    if ((I2cReadRegister(Bus, I2C_REG_ENABLE_STATUS) & I2C_ENABLE_STATUS_ENABLED) == Enabled) {
      return TRUE;
    }
  }
}

VOID MarkUninitialized(I2C_BUS_RECORD &Bus) {
  Bus.Initialized = 0;
  I2cWriteRegister(Bus, I2C_REG_TARGET, 0);
}

UINT32 PollIntervalUs(UINTN BusIndex, UINT32 SpeedHz) {
  UINT32 Interval = I2C_POLL_INTERVAL_DIVIDEND / SpeedHz;
  if (BusIndex == 0) {
    Interval *= I2C_INPUT_CLOCK_HZ / I2C_BUS0_CLOCK_DIVISOR;
  }
  return Interval;
}
static_assert(I2C_POLL_INTERVAL_DIVIDEND / 100000 == 100);
static_assert(I2C_INPUT_CLOCK_HZ / I2C_BUS0_CLOCK_DIVISOR == 5);

} // namespace

VOID I2cReadFifoDepths(VOID) {
  for (I2C_BUS_RECORD &Bus : mI2cBus) {
    const UINT32 Parameters = I2cReadRegister(Bus, I2C_REG_COMPONENT_PARAMETERS);
    Bus.RxDepth = ((Parameters >> RX_DEPTH_SHIFT) & FIFO_DEPTH_FIELD_MASK) + 1;
    Bus.TxDepth = ((Parameters >> TX_DEPTH_SHIFT) & FIFO_DEPTH_FIELD_MASK) + 1;
  }
  mI2cFifoDepthsRead = TRUE;
}

VOID I2cSetSclCounts(UINT64 Base, UINT32 InputClockHz, UINT32 SpeedHz) {
  const I2C_SCL_PLAN Plan = I2cSclPlan(InputClockHz, SpeedHz);
  MmioWrite32((UINTN)Base + I2C_REG_SS_SCL_HIGH, Plan.Standard.High);
  MmioWrite32((UINTN)Base + I2C_REG_SS_SCL_LOW, Plan.Standard.Low);
  MmioWrite32((UINTN)Base + I2C_REG_FS_SCL_HIGH, Plan.Fast.High);
  MmioWrite32((UINTN)Base + I2C_REG_FS_SCL_LOW, Plan.Fast.Low);
  MmioWrite32((UINTN)Base + I2C_REG_HS_SCL_HIGH, Plan.HighSpeed.High);
  MmioWrite32((UINTN)Base + I2C_REG_HS_SCL_LOW, Plan.HighSpeed.Low);
}

VOID I2cBusInit(UINT32 SpeedHz, UINT32 TargetAddress) {
  if (!mI2cFifoDepthsRead) {
    I2cReadFifoDepths();
  }
  I2C_BUS_RECORD &Bus = I2cCurrentRecord();
  if (Bus.SpeedHz != SpeedHz) {
    Bus.SpeedHz = SpeedHz;
  }
  Bus.PollIntervalUs = PollIntervalUs(mI2cCurrentBus, SpeedHz);

  I2cWriteRegister(Bus, I2C_REG_ENABLE, 0);
  if (!WaitEnableStatus(Bus, 0)) {
    MarkUninitialized(Bus);
    return;
  }
  I2cWriteRegister(Bus, I2C_REG_INTERRUPT_MASK, 0);
  I2cSetSclCounts(Bus.Base, I2C_INPUT_CLOCK_HZ, SpeedHz);
  I2cWriteRegister(Bus, I2C_REG_TARGET, TargetAddress);
  I2cWriteRegister(Bus, I2C_REG_OWN_ADDRESS, I2C_OWN_ADDRESS);
  I2cWriteRegister(Bus, I2C_REG_CONTROL, I2cControlValue(SpeedHz));
  I2cWriteRegister(Bus, I2C_REG_SDA_HOLD, I2C_SDA_HOLD);
  I2cWriteRegister(Bus, I2C_REG_ENABLE, 1);
  if (!WaitEnableStatus(Bus, I2C_ENABLE_STATUS_ENABLED)) {
    MarkUninitialized(Bus);
    return;
  }
  Bus.Initialized = 1;
}

EFI_STATUS I2cSetTarget(UINT8 DeviceAddress) {
  I2C_BUS_RECORD &Bus = I2cCurrentRecord();
  if (Bus.Initialized != 0 && I2cReadRegister(Bus, I2C_REG_TARGET) == DeviceAddress) {
    return EFI_SUCCESS;
  }
  I2cBusInit(Bus.SpeedHz, DeviceAddress);
  if (I2cReadRegister(Bus, I2C_REG_TARGET) != DeviceAddress) {
    return EFI_INVALID_PARAMETER;
  }
  return EFI_SUCCESS;
}

// Private declarations of the I2C library: the controller register map, the per-controller
// records and the internal steps shared by its units.
#pragma once

#include <Library/I2CLib.h>

// Controller registers (32-bit, offsets from the controller base).
constexpr UINTN I2C_REG_CONTROL = 0x00;
constexpr UINTN I2C_REG_TARGET = 0x04;
constexpr UINTN I2C_REG_OWN_ADDRESS = 0x08;
constexpr UINTN I2C_REG_DATA_COMMAND = 0x10;
constexpr UINTN I2C_REG_SS_SCL_HIGH = 0x14;
constexpr UINTN I2C_REG_SS_SCL_LOW = 0x18;
constexpr UINTN I2C_REG_FS_SCL_HIGH = 0x1C;
constexpr UINTN I2C_REG_FS_SCL_LOW = 0x20;
constexpr UINTN I2C_REG_HS_SCL_HIGH = 0x24;
constexpr UINTN I2C_REG_HS_SCL_LOW = 0x28;
constexpr UINTN I2C_REG_INTERRUPT_MASK = 0x30;
constexpr UINTN I2C_REG_RAW_INTERRUPT = 0x34;
constexpr UINTN I2C_REG_CLEAR_RX_UNDERFLOW = 0x44;
constexpr UINTN I2C_REG_CLEAR_RX_OVERFLOW = 0x48;
constexpr UINTN I2C_REG_CLEAR_TX_ABORT = 0x54;
constexpr UINTN I2C_REG_ENABLE = 0x6C;
constexpr UINTN I2C_REG_STATUS = 0x70;
constexpr UINTN I2C_REG_TX_LEVEL = 0x74;
constexpr UINTN I2C_REG_SDA_HOLD = 0x7C;
constexpr UINTN I2C_REG_ABORT_SOURCE = 0x80;
constexpr UINTN I2C_REG_ENABLE_STATUS = 0x9C;
constexpr UINTN I2C_REG_COMPONENT_PARAMETERS = 0xF4;

// Control: master mode, restart enable, slave disable, and the speed field.
constexpr UINT32 I2C_CONTROL_BASE = 0x61;
constexpr UINT32 I2C_CONTROL_SPEED_STANDARD = 2;
constexpr UINT32 I2C_CONTROL_SPEED_FAST = 4;
constexpr UINT32 I2C_CONTROL_SPEED_HIGH = 6;
constexpr UINT32 I2C_DATA_COMMAND_READ = 0x100;
constexpr UINT32 I2C_RAW_RX_UNDERFLOW = 1u << 0;
constexpr UINT32 I2C_RAW_RX_OVERFLOW = 1u << 1;
constexpr UINT32 I2C_RAW_TX_ABORT = 1u << 6;
constexpr UINT32 I2C_ABORT_ADDRESS_NACK = 1u << 0;
constexpr UINT32 I2C_STATUS_MASTER_ACTIVITY = 1u << 5;
constexpr UINT32 I2C_ENABLE_STATUS_ENABLED = 1u << 0;
constexpr UINT32 I2C_OWN_ADDRESS = 0x52;
constexpr UINT32 I2C_SDA_HOLD = 75;
constexpr UINT32 I2C_INPUT_CLOCK_HZ = 250000000;

// Waits.
constexpr UINTN I2C_IDLE_STALL_US = 1000;
constexpr UINTN I2C_IDLE_STALLS = 20;
constexpr UINTN I2C_TX_SPACE_CHECKS = 6;
constexpr UINTN I2C_ENABLE_WAIT_COUNT = 5;
constexpr UINTN I2C_RECOVERY_CHECKS = 6;
constexpr UINTN I2C_READ_SETTLE_US = 3000;
constexpr UINTN I2C_HEAD_WRITE_STALL_US = 3000;
constexpr UINTN I2C_PAGE_WRITE_STALL_US = 3100;
// A device's write cycle may outlast the fixed stall: it is polled for its acknowledge every
// few poll intervals, up to this long in all (stall included).
constexpr UINTN I2C_WRITE_CYCLE_LIMIT_US = 20000;
constexpr UINTN I2C_ACK_POLL_INTERVALS = 5;
constexpr UINT32 I2C_POLL_INTERVAL_DIVIDEND = 10000000;
constexpr UINT32 I2C_BUS0_CLOCK_DIVISOR = 50000000;

struct I2C_BUS_RECORD {
  UINT64 Base;
  UINT32 Marker;
  UINT32 SpeedHz;
  UINT32 RxDepth;
  UINT32 TxDepth;
  UINT32 DefaultTarget;
  UINT32 ControllerNumber;
  UINT32 PageSize;
  UINT32 PollIntervalUs;
  UINT32 Reserved;
  UINT32 Initialized;
};
static_assert(sizeof(I2C_BUS_RECORD) == 48);

extern I2C_BUS_RECORD mI2cBus[I2C_BUS_COUNT];
extern UINTN mI2cCurrentBus;
extern BOOLEAN mI2cFifoDepthsRead;

inline I2C_BUS_RECORD &I2cCurrentRecord() {
  return mI2cBus[mI2cCurrentBus];
}

// SCL counts of one mode for a controller clock of ClockKhz (kHz) and the mode's times (ns).
struct I2C_SCL_COUNTS {
  UINT32 High;
  UINT32 Low;
};

struct I2C_SCL_TIMING {
  UINT32 HighNs;
  UINT32 LowNs;
  UINT32 FallNs;
};

constexpr I2C_SCL_TIMING I2C_STANDARD_TIMING = {4000, 4700, 300};
constexpr I2C_SCL_TIMING I2C_FAST_TIMING = {600, 1300, 300};
constexpr I2C_SCL_TIMING I2C_HIGH_SPEED_TIMING = {160, 320, 300};

// Counts are rounded up, so that a stretched mode never runs faster than its clock says. All
// arithmetic is unsigned 32-bit, as the controller's count registers are.
constexpr UINT32 I2C_NS_PER_MS = 1000000;
constexpr UINT32 I2cCycles(UINT32 ClockKhz, UINT32 Ns) {
  return (ClockKhz * Ns + I2C_NS_PER_MS - 1) / I2C_NS_PER_MS;
}
constexpr I2C_SCL_COUNTS I2cSclCounts(UINT32 ClockKhz, const I2C_SCL_TIMING &Timing) {
  return {I2cCycles(ClockKhz, Timing.HighNs + Timing.FallNs) - 3,
          I2cCycles(ClockKhz, Timing.LowNs + Timing.FallNs) - 1};
}

// Speed boundaries of the control register's speed field: each mode's nominal speed, the
// fastest it serves.
constexpr UINT32 I2C_STANDARD_MAX_HZ = 100000;
constexpr UINT32 I2C_FAST_MAX_HZ = 400000;

// The speed mode a requested speed selects.
enum class I2C_SPEED_MODE { Standard, Fast, HighSpeed };
constexpr I2C_SPEED_MODE I2cSpeedMode(UINT32 SpeedHz) {
  if (SpeedHz > I2C_FAST_MAX_HZ && SpeedHz <= I2C_MAX_SPEED_HZ) {
    return I2C_SPEED_MODE::HighSpeed;
  }
  if (SpeedHz > I2C_STANDARD_MAX_HZ && SpeedHz <= I2C_FAST_MAX_HZ) {
    return I2C_SPEED_MODE::Fast;
  }
  return I2C_SPEED_MODE::Standard;
}

// The clock (kHz) whose counts run a mode of NominalHz at SpeedHz: the controller clock
// slowed by NominalHz / SpeedHz, rounded up.
constexpr UINT32 I2cStretchedKhz(UINT32 Khz, UINT32 NominalHz, UINT32 SpeedHz) {
  return (UINT32)(((UINT64)Khz * NominalHz + SpeedHz - 1) / SpeedHz);
}

// The counts of the three modes for a requested speed: the mode the speed selects is
// stretched to the requested rate, the others keep their nominal counts.
struct I2C_SCL_PLAN {
  I2C_SCL_COUNTS Standard;
  I2C_SCL_COUNTS Fast;
  I2C_SCL_COUNTS HighSpeed;
};

constexpr I2C_SCL_PLAN I2cSclPlan(UINT32 InputClockHz, UINT32 SpeedHz) {
  const UINT32 Khz = InputClockHz / 1000;
  UINT32 Standard = Khz;
  UINT32 Fast = Khz;
  UINT32 HighSpeed = Khz;
  switch (I2cSpeedMode(SpeedHz)) {
  case I2C_SPEED_MODE::Standard:
    Standard = I2cStretchedKhz(Khz, I2C_STANDARD_MAX_HZ, SpeedHz);
    break;
  case I2C_SPEED_MODE::Fast:
    Fast = I2cStretchedKhz(Khz, I2C_FAST_MAX_HZ, SpeedHz);
    break;
  case I2C_SPEED_MODE::HighSpeed:
    HighSpeed = I2cStretchedKhz(Khz, I2C_MAX_SPEED_HZ, SpeedHz);
    break;
  }
  return {I2cSclCounts(Standard, I2C_STANDARD_TIMING), I2cSclCounts(Fast, I2C_FAST_TIMING),
          I2cSclCounts(HighSpeed, I2C_HIGH_SPEED_TIMING)};
}

constexpr I2C_SCL_PLAN I2C_EXAMPLE_PLAN = I2cSclPlan(I2C_INPUT_CLOCK_HZ, 100000);
static_assert(I2C_EXAMPLE_PLAN.Standard.High == 1072 && I2C_EXAMPLE_PLAN.Standard.Low == 1249);
static_assert(I2C_EXAMPLE_PLAN.Fast.High == 222 && I2C_EXAMPLE_PLAN.Fast.Low == 399);
static_assert(I2C_EXAMPLE_PLAN.HighSpeed.High == 112 && I2C_EXAMPLE_PLAN.HighSpeed.Low == 154);

// The slowest speed whose stretched standard-mode counts still fit the 32-bit arithmetic:
// the stretched clock in kHz times the longest period term (low time plus fall time, in ns)
// plus the rounding must not wrap.
constexpr UINT32 I2cMinSpeedKhz() {
  constexpr UINT64 Longest = I2C_STANDARD_TIMING.LowNs + I2C_STANDARD_TIMING.FallNs;
  constexpr UINT32 Khz = I2C_INPUT_CLOCK_HZ / 1000;
  UINT32 SpeedKhz = 1;
  while ((UINT64)I2cStretchedKhz(Khz, I2C_STANDARD_MAX_HZ, SpeedKhz * 1000) * Longest + I2C_NS_PER_MS - 1 >
         0xFFFFFFFFull) {
    SpeedKhz++;
  }
  return SpeedKhz;
}
constexpr UINT32 I2C_MIN_SPEED_HZ = I2cMinSpeedKhz() * 1000;
static_assert(I2C_MIN_SPEED_HZ == 30000, "25 to 29 kHz still overflow the low count");

constexpr UINT32 I2cControlValue(UINT32 SpeedHz) {
  switch (I2cSpeedMode(SpeedHz)) {
  case I2C_SPEED_MODE::HighSpeed:
    return I2C_CONTROL_BASE | I2C_CONTROL_SPEED_HIGH;
  case I2C_SPEED_MODE::Fast:
    return I2C_CONTROL_BASE | I2C_CONTROL_SPEED_FAST;
  default:
    return I2C_CONTROL_BASE | I2C_CONTROL_SPEED_STANDARD;
  }
}
static_assert(I2cControlValue(100000) == 0x63 && I2cControlValue(100001) == 0x65);
static_assert(I2cControlValue(400000) == 0x65 && I2cControlValue(3400000) == 0x67);

// Register access on a controller.
UINT32 I2cReadRegister(const I2C_BUS_RECORD &Bus, UINTN Register);
VOID I2cWriteRegister(const I2C_BUS_RECORD &Bus, UINTN Register, UINT32 Value);

// Internal steps.
EFI_STATUS I2cSetTarget(UINT8 DeviceAddress);
VOID I2cBusInit(UINT32 SpeedHz, UINT32 TargetAddress);
VOID I2cReadFifoDepths(VOID);
VOID I2cSetSclCounts(UINT64 Base, UINT32 InputClockHz, UINT32 SpeedHz);
// TRUE when the bus stayed active through every idle stall.
BOOLEAN I2cWaitIdle(VOID);
// 0 when the controller reports no error; otherwise the error value (the controller has been
// disabled and must be set up again).
UINT32 I2cCheckErrors(VOID);
EFI_STATUS I2cWaitTxSpace(VOID);

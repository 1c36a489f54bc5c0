// Transfers: register writes in page-sized transactions, register reads in FIFO-sized
// chunks, the device probe, and the waits and error recovery around them.
#include <Library/IoLib.h>
#include <Library/TimerLib.h>

#include "I2CLibInternal.h"

namespace {

constexpr UINT32 LOW_BYTE_MASK = 0xFF;
constexpr UINTN FIRST_CHUNK_WAIT_INTERVALS = 6;
constexpr UINTN CHUNK_SETTLE_TENTHS = 15;
constexpr UINTN BYTE_WAIT_TENTHS = 25;
constexpr UINTN TENTHS = 10;
constexpr UINT32 UNDER_OVERFLOW_MASK = I2C_RAW_RX_UNDERFLOW | I2C_RAW_RX_OVERFLOW;

// Queues the offset byte(s) of a transfer: the high byte first when the width is 2.
VOID SendOffset(const I2C_BUS_RECORD &Bus, UINT32 Offset, UINTN OffsetWidth) {
  if (OffsetWidth == I2C_OFFSET_WIDTH_WORD) {
    I2cWriteRegister(Bus, I2C_REG_DATA_COMMAND, (Offset >> 8) & LOW_BYTE_MASK);
  }
  I2cWriteRegister(Bus, I2C_REG_DATA_COMMAND, Offset & LOW_BYTE_MASK);
}

// Whether the device acknowledged the poll: EFI_NOT_READY when it did not acknowledge its
// address, which is what a device in its write cycle answers (the abort is cleared without
// taking the controller down). A bus that stays active is EFI_TIMEOUT, any other error
// EFI_DEVICE_ERROR.
EFI_STATUS PollAnswered(const I2C_BUS_RECORD &Bus) {
  if (I2cWaitIdle()) {
    return EFI_TIMEOUT;
  }
  if ((I2cReadRegister(Bus, I2C_REG_RAW_INTERRUPT) & I2C_RAW_TX_ABORT) == 0) {
    return EFI_SUCCESS;
  }
  if (I2cReadRegister(Bus, I2C_REG_ABORT_SOURCE) == I2C_ABORT_ADDRESS_NACK) {
    I2cReadRegister(Bus, I2C_REG_CLEAR_TX_ABORT);
    return EFI_NOT_READY;
  }
  I2cCheckErrors();
  return EFI_DEVICE_ERROR;
}

// Waits for the end of the write cycle that began StalledUs ago: the device acknowledges its
// address again when it is over. Each poll is a write of the offset alone, which programs
// nothing. EFI_TIMEOUT when the device has not answered within I2C_WRITE_CYCLE_LIMIT_US.
EFI_STATUS WaitWriteCycle(UINT32 Offset, UINTN OffsetWidth, UINTN StalledUs) {
  const I2C_BUS_RECORD &Bus = I2cCurrentRecord();
  const UINTN StepUs = I2C_ACK_POLL_INTERVALS * Bus.PollIntervalUs;
  for (UINTN Waited = StalledUs; Waited + StepUs <= I2C_WRITE_CYCLE_LIMIT_US; Waited += StepUs) {
    SendOffset(Bus, Offset, OffsetWidth);
    MemoryFence();
    MicroSecondDelay(StepUs);
    const EFI_STATUS Status = PollAnswered(Bus);
    if (Status != EFI_NOT_READY) {
      return Status;
    }
  }
  return EFI_TIMEOUT;
}

// One transaction of a single data byte; an abort (the device did not acknowledge) fails it.
EFI_STATUS WriteSingleByte(UINT32 Offset, UINTN OffsetWidth, UINT8 Data, UINTN StallUs) {
  const I2C_BUS_RECORD &Bus = I2cCurrentRecord();
  SendOffset(Bus, Offset, OffsetWidth);
  I2cWriteRegister(Bus, I2C_REG_DATA_COMMAND, Data);
  MemoryFence();
  I2cWaitIdle();
  const UINT32 Errors = I2cCheckErrors();
  MicroSecondDelay(StallUs);
  return Errors != 0 ? EFI_DEVICE_ERROR : WaitWriteCycle(Offset, OffsetWidth, StallUs);
}

EFI_STATUS WriteSingleBytes(UINT32 Offset, UINTN OffsetWidth, const UINT8 *Data, UINTN Count, UINTN StallUs) {
  for (UINTN Index = 0; Index < Count; Index++) {
    const EFI_STATUS Status = WriteSingleByte(Offset + (UINT32)Index, OffsetWidth, Data[Index], StallUs);
    if (EFI_ERROR(Status)) {
      return Status;
    }
  }
  return EFI_SUCCESS;
}

// One transaction of the offset and a whole page.
EFI_STATUS WritePage(UINT32 Offset, UINTN OffsetWidth, const UINT8 *Data) {
  const I2C_BUS_RECORD &Bus = I2cCurrentRecord();
  SendOffset(Bus, Offset, OffsetWidth);
  for (UINTN Index = 0; Index < Bus.PageSize; Index++) {
    I2cWriteRegister(Bus, I2C_REG_DATA_COMMAND, Data[Index]);
    MemoryFence();
    if (EFI_ERROR(I2cWaitTxSpace())) {
      return EFI_NOT_READY;
    }
  }
  I2cWaitIdle();
  const UINT32 Errors = I2cCheckErrors();
  MicroSecondDelay(I2C_PAGE_WRITE_STALL_US);
  return Errors != 0 ? EFI_DEVICE_ERROR : WaitWriteCycle(Offset, OffsetWidth, I2C_PAGE_WRITE_STALL_US);
}

// Reads one chunk of at most RxDepth bytes; the stalls pace the controller.
EFI_STATUS ReadChunk(UINT8 *Buffer, UINTN Count, BOOLEAN FirstChunk) {
  const I2C_BUS_RECORD &Bus = I2cCurrentRecord();
  if (I2cWaitIdle()) {
    return EFI_NOT_READY;
  }
  if (I2cCheckErrors() != 0) {
    return EFI_CRC_ERROR;
  }
  for (UINTN Index = 0; Index < Count; Index++) {
    I2cWriteRegister(Bus, I2C_REG_DATA_COMMAND, I2C_DATA_COMMAND_READ);
    MemoryFence();
    if (I2cCheckErrors() != 0) {
      return EFI_CRC_ERROR;
    }
    MicroSecondDelay(Bus.PollIntervalUs / TENTHS);
  }
  if (FirstChunk) {
    MicroSecondDelay(FIRST_CHUNK_WAIT_INTERVALS * Bus.PollIntervalUs);
  }
  MicroSecondDelay(CHUNK_SETTLE_TENTHS * Bus.PollIntervalUs / TENTHS);
  for (UINTN Index = 0; Index < Count; Index++) {
    if (I2cCheckErrors() != 0) {
      return EFI_CRC_ERROR;
    }
    MicroSecondDelay(BYTE_WAIT_TENTHS * Bus.PollIntervalUs / TENTHS);
    Buffer[Index] = (UINT8)(I2cReadRegister(Bus, I2C_REG_DATA_COMMAND) & LOW_BYTE_MASK);
    MemoryFence();
  }
  // The last byte is checked like the others: taken from an empty FIFO it is no data, and the
  // flag it raised must not fail the next transfer.
  if (I2cCheckErrors() != 0) {
    return EFI_CRC_ERROR;
  }
  return EFI_SUCCESS;
}

} // namespace

BOOLEAN I2cWaitIdle(VOID) {
  const I2C_BUS_RECORD &Bus = I2cCurrentRecord();
  for (UINTN Stall = 0; Stall < I2C_IDLE_STALLS; Stall++) {
    if ((I2cReadRegister(Bus, I2C_REG_STATUS) & I2C_STATUS_MASTER_ACTIVITY) == 0) {
      return FALSE;
    }
    MicroSecondDelay(I2C_IDLE_STALL_US);
  }
  return (I2cReadRegister(Bus, I2C_REG_STATUS) & I2C_STATUS_MASTER_ACTIVITY) != 0;
}

EFI_STATUS I2cWaitTxSpace(VOID) {
  const I2C_BUS_RECORD &Bus = I2cCurrentRecord();
  for (UINTN Check = 1;; Check++) {
    if (I2cReadRegister(Bus, I2C_REG_TX_LEVEL) != Bus.TxDepth) {
      return EFI_SUCCESS;
    }
    if (Check == I2C_TX_SPACE_CHECKS) {
      return EFI_TIMEOUT;
    }
    MicroSecondDelay(Bus.PollIntervalUs);
  }
}

// Every transmit-abort source counts: an unacknowledged address or data byte and a lost
// arbitration all mean the transfer did not happen as asked.
UINT32 I2cCheckErrors(VOID) {
  I2C_BUS_RECORD &Bus = I2cCurrentRecord();
  const UINT32 Raw = I2cReadRegister(Bus, I2C_REG_RAW_INTERRUPT);
  if ((Raw & I2C_RAW_RX_UNDERFLOW) != 0) {
    I2cReadRegister(Bus, I2C_REG_CLEAR_RX_UNDERFLOW);
  }
  if ((Raw & I2C_RAW_RX_OVERFLOW) != 0) {
    I2cReadRegister(Bus, I2C_REG_CLEAR_RX_OVERFLOW);
  }
  UINT32 Errors = Raw & UNDER_OVERFLOW_MASK;
  if ((Raw & I2C_RAW_TX_ABORT) != 0) {
    const UINT32 Source = I2cReadRegister(Bus, I2C_REG_ABORT_SOURCE);
    I2cReadRegister(Bus, I2C_REG_CLEAR_TX_ABORT);
    Errors = Source != 0 ? Source : I2C_RAW_TX_ABORT;
  }
  if (Errors == 0) {
    return 0;
  }

  I2cWriteRegister(Bus, I2C_REG_ENABLE, 0);
  for (UINTN Check = 0; Check < I2C_RECOVERY_CHECKS; Check++) {
    MicroSecondDelay(Bus.PollIntervalUs);
    MemoryFence();
    if ((I2cReadRegister(Bus, I2C_REG_ENABLE_STATUS) & I2C_ENABLE_STATUS_ENABLED) == 0) {
      break;
    }
  }
  Bus.Initialized = 0;
  I2cWriteRegister(Bus, I2C_REG_TARGET, 0);
  return Errors;
}

EFI_STATUS I2cWrite(UINT8 DeviceAddress, UINT32 Offset, UINTN OffsetWidth, const UINT8 *Data, UINTN Length) {
  if (EFI_ERROR(I2cSetTarget(DeviceAddress))) {
    return EFI_DEVICE_ERROR;
  }
  if (I2cWaitIdle()) {
    return EFI_NOT_READY;
  }
  const UINT32 PageSize = I2cCurrentRecord().PageSize;
  UINTN Remaining = Length;
  const UINT32 InPage = Offset % PageSize;
  if (InPage != 0) {
    const UINTN Head = (PageSize - InPage) < Remaining ? (PageSize - InPage) : Remaining;
    const EFI_STATUS Status = WriteSingleBytes(Offset, OffsetWidth, Data, Head, I2C_HEAD_WRITE_STALL_US);
    if (EFI_ERROR(Status)) {
      return Status;
    }
    Offset += (UINT32)Head;
    Data += Head;
    Remaining -= Head;
  }
  while (Remaining >= PageSize) {
    const EFI_STATUS Status = WritePage(Offset, OffsetWidth, Data);
    if (EFI_ERROR(Status)) {
      return Status;
    }
    Offset += PageSize;
    Data += PageSize;
    Remaining -= PageSize;
  }
  return WriteSingleBytes(Offset, OffsetWidth, Data, Remaining, I2C_PAGE_WRITE_STALL_US);
}

EFI_STATUS I2cRead(UINT8 DeviceAddress, UINT32 Offset, UINTN OffsetWidth, UINT8 *Buffer, UINTN Length) {
  if (EFI_ERROR(I2cSetTarget(DeviceAddress))) {
    return EFI_DEVICE_ERROR;
  }
  MicroSecondDelay(I2C_READ_SETTLE_US);
  if (I2cWaitIdle()) {
    return EFI_NOT_READY;
  }
  const I2C_BUS_RECORD &Bus = I2cCurrentRecord();
  SendOffset(Bus, Offset, OffsetWidth);
  MemoryFence();
  for (UINTN Done = 0; Done < Length;) {
    const UINTN Chunk = (Length - Done) < Bus.RxDepth ? (Length - Done) : Bus.RxDepth;
    const EFI_STATUS Status = ReadChunk(Buffer + Done, Chunk, Done == 0);
    if (EFI_ERROR(Status)) {
      return Status;
    }
    Done += Chunk;
  }
  return EFI_SUCCESS;
}

EFI_STATUS I2cProbe(UINT8 DeviceAddress) {
  const I2C_BUS_RECORD &Bus = I2cCurrentRecord();
  I2cBusInit(Bus.SpeedHz, DeviceAddress);
  UINT8 Byte = 0;
  return I2cRead(DeviceAddress, 0, 0, &Byte, 1);
}

// The SoC's I2C master controller: register block, transmit and receive FIFOs, enable with a
// settling delay, and a transfer engine that puts each queued byte on the shared bus when
// the programmed SCL counts say it has been clocked out, in virtual time. The transmit FIFO
// draining ends a transaction with a stop; an unacknowledged address or data byte, or a lost
// arbitration, aborts it, flushes the FIFO and sets the abort source.
#pragma once

#include "Common/DeviceModel.h"
#include "Common/I2cBus.h"

#include <array>
#include <deque>
#include <memory>
#include <string>

namespace host {

class I2cController : public DeviceModel {
public:
  // Registers (offsets from the block base).
  static constexpr uint64_t kControl = 0x00, kTarget = 0x04, kOwnAddress = 0x08, kDataCommand = 0x10;
  static constexpr uint64_t kSclFirst = 0x14, kSclLast = 0x28, kInterruptMask = 0x30, kRawInterrupt = 0x34;
  static constexpr uint64_t kClearRxUnderflow = 0x44, kClearRxOverflow = 0x48, kClearTxAbort = 0x54;
  static constexpr uint64_t kEnable = 0x6C, kStatus = 0x70, kTxLevel = 0x74, kSdaHold = 0x7C;
  static constexpr uint64_t kAbortSource = 0x80, kEnableStatus = 0x9C, kComponentParameters = 0xF4;
  static constexpr uint64_t kBlockSize = 0x1000;
  // Bits.
  static constexpr uint32_t kRawRxUnderflow = 1u << 0, kRawRxOverflow = 1u << 1, kRawTxAbort = 1u << 6;
  static constexpr uint32_t kStatusActivity = 1u << 5;
  static constexpr uint32_t kAbortAddressNack = 1u << 0, kAbortDataNack = 1u << 3;
  static constexpr uint32_t kAbortArbitrationLost = 1u << 12;
  static constexpr uint32_t kReadCommand = 0x100;
  static constexpr uint64_t kEnableSettleNs = 25'000;
  static constexpr uint64_t kInputClockPeriodNs = 4; // 250 MHz

  struct Faults {
    bool StuckBusy = false;      // master activity never clears
    bool NeverEnables = false;   // enable status stays 0
    unsigned ReadFailsAfter = 0; // nonzero: a read transfer breaks down after that many bytes
  };

  I2cController(std::string Name, std::shared_ptr<I2cBus> Bus, unsigned RxDepth = 16, unsigned TxDepth = 16);

  uint64_t Read(uint64_t Offset, unsigned Width) override;
  void Write(uint64_t Offset, unsigned Width, uint64_t Value) override;
  void Reset() override;

  Faults &Fault() { return Faults_; }
  // Register writes that programmed the controller (everything but data/command), so a
  // test sees whether a transfer reprogrammed it.
  unsigned ConfigurationWrites() const { return ConfigurationWrites_; }
  // Status reads that found the master active: each is an idle poll the bus activity caused.
  unsigned BusyStatusReads() const { return BusyStatusReads_; }
  uint32_t Register(uint64_t Offset) const;
  // Nanoseconds one SCL period takes with the counts of the selected speed mode.
  uint64_t BitTimeNs() const;

private:
  struct Entry {
    bool Read = false;
    uint8_t Value = 0;
    uint64_t QueuedNs = 0;
  };
  enum class Phase { Idle, Address, Byte, Stop };

  uint64_t Now() const;
  bool Enabled(uint64_t Now) const;
  void Run(uint64_t Now);
  // Wakes the engine when the phase under way ends, so that the bus sees each event in time
  // even when firmware does not touch the controller meanwhile.
  void ScheduleWake(uint64_t Now);
  void BeginNext(uint64_t At);
  void FinishPhase();
  bool ReadContinues(uint64_t At) const;
  void Abort(uint32_t Source, bool SendStop);
  void Flush();

  std::shared_ptr<I2cBus> Bus_;
  unsigned RxDepth_, TxDepth_;
  Faults Faults_;

  std::array<uint32_t, 0x100 / 4> Registers_{};
  bool EnableRequested_ = false;
  bool EnabledBefore_ = false;
  uint64_t EnableChangeNs_ = 0;
  uint32_t Raw_ = 0;
  uint32_t AbortSource_ = 0;
  std::deque<Entry> TxFifo_;
  std::deque<uint8_t> RxFifo_;

  Phase Phase_ = Phase::Idle;
  uint64_t PhaseEndNs_ = 0;
  uint64_t WakeNs_ = 0;
  uint64_t IdleSinceNs_ = 0;
  bool TransactionRead_ = false;
  unsigned BytesRead_ = 0;
  Entry Current_;

  unsigned ConfigurationWrites_ = 0;
  unsigned BusyStatusReads_ = 0;
};

} // namespace host

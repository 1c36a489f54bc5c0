// The I2C master controller model.
#include "I2cController.h"

namespace host {

namespace {

constexpr uint64_t kAddressBits = 10; // start condition, seven address bits, direction, acknowledge
constexpr uint64_t kByteBits = 9;     // eight data bits and the acknowledge
constexpr uint64_t kStopBits = 1;
constexpr uint32_t kTargetMask = 0x3FF;
constexpr uint32_t kSevenBitAddress = 0x7F;
constexpr uint32_t kSpeedShift = 1, kSpeedMask = 3;
constexpr uint32_t kRawTxOverflow = 1u << 3;
constexpr uint32_t kStatusTxNotFull = 1u << 1, kStatusTxEmpty = 1u << 2, kStatusRxNotEmpty = 1u << 3;
constexpr uint64_t kFallbackBitNs = 10'000;
constexpr unsigned kDepthShiftRx = 8, kDepthShiftTx = 16;

} // namespace

I2cController::I2cController(std::string Name, std::shared_ptr<I2cBus> Bus, unsigned RxDepth,
                             unsigned TxDepth)
    : DeviceModel(std::move(Name)), Bus_(std::move(Bus)), RxDepth_(RxDepth), TxDepth_(TxDepth) {}

void I2cController::Reset() {
  if (Phase_ != Phase::Idle && Bus_->Owner() == Name()) {
    Bus_->Stop(Name());
  }
  Registers_.fill(0);
  EnableRequested_ = EnabledBefore_ = false;
  EnableChangeNs_ = IdleSinceNs_ = PhaseEndNs_ = 0;
  Raw_ = AbortSource_ = 0;
  TxFifo_.clear();
  RxFifo_.clear();
  Phase_ = Phase::Idle;
  ConfigurationWrites_ = BusyStatusReads_ = 0;
}

uint64_t I2cController::Now() const {
  return Platform::Current().VirtualTimeNs();
}

bool I2cController::Enabled(uint64_t At) const {
  const bool Settled = At >= EnableChangeNs_;
  const bool Target = EnableRequested_ && !Faults_.NeverEnables;
  return Settled ? Target : EnabledBefore_;
}

uint32_t I2cController::Register(uint64_t Offset) const {
  return Registers_[(Offset / 4) % Registers_.size()];
}

uint64_t I2cController::BitTimeNs() const {
  const uint32_t Mode = (Register(kControl) >> kSpeedShift) & kSpeedMask;
  const uint64_t High = Mode == 3 ? 0x24 : Mode == 2 ? 0x1C : 0x14;
  const uint64_t Cycles = uint64_t(Register(High)) + Register(High + 4);
  return Cycles == 0 ? kFallbackBitNs : (Cycles + 4) * kInputClockPeriodNs;
}

void I2cController::Flush() {
  TxFifo_.clear();
}

void I2cController::Abort(uint32_t Source, bool SendStop) {
  AbortSource_ |= Source;
  Raw_ |= kRawTxAbort;
  Flush();
  if (SendStop) {
    Phase_ = Phase::Stop;
    PhaseEndNs_ += kStopBits * BitTimeNs();
  } else {
    Phase_ = Phase::Idle;
    IdleSinceNs_ = PhaseEndNs_;
  }
}

// What follows a finished address or byte at time At: the next queued byte, a repeated start
// when the direction changes, or a stop when the transmit FIFO had run dry by then.
void I2cController::BeginNext(uint64_t At) {
  if (TxFifo_.empty() || TxFifo_.front().QueuedNs > At) {
    Phase_ = Phase::Stop;
    PhaseEndNs_ = At + kStopBits * BitTimeNs();
    return;
  }
  if (TxFifo_.front().Read != TransactionRead_) {
    TransactionRead_ = TxFifo_.front().Read;
    Phase_ = Phase::Address;
    PhaseEndNs_ = At + kAddressBits * BitTimeNs();
    return;
  }
  Current_ = TxFifo_.front();
  TxFifo_.pop_front();
  Phase_ = Phase::Byte;
  PhaseEndNs_ = At + kByteBits * BitTimeNs() + (Current_.Read ? Bus_->StretchNs() : 0);
}

// The master acknowledges a byte it reads when another read is queued by then.
bool I2cController::ReadContinues(uint64_t At) const {
  return !TxFifo_.empty() && TxFifo_.front().QueuedNs <= At && TxFifo_.front().Read;
}

void I2cController::FinishPhase() {
  const uint64_t At = PhaseEndNs_;
  Bus_->SetTime(At);
  switch (Phase_) {
  case Phase::Address: {
    const auto Result = Bus_->Start(Name(), uint8_t(Register(kTarget) & kSevenBitAddress), TransactionRead_);
    BytesRead_ = 0;
    if (Result == I2cBus::StartResult::ArbitrationLost) {
      ProtocolError("transfer started while " + (Bus_->Owner().empty() ? std::string("the bus is stuck")
                                                                       : Bus_->Owner() + " holds the bus"));
      Abort(kAbortArbitrationLost, false);
    } else if (Result == I2cBus::StartResult::Nack) {
      Abort(kAbortAddressNack, true);
    } else {
      BeginNext(At);
    }
    return;
  }
  case Phase::Byte:
    if (Current_.Read) {
      if (Faults_.ReadFailsAfter != 0 && BytesRead_ >= Faults_.ReadFailsAfter) {
        Abort(kAbortArbitrationLost, true);
        return;
      }
      BytesRead_++;
      const uint8_t Value = Bus_->Read(Name(), ReadContinues(At));
      if (RxFifo_.size() >= RxDepth_) {
        Raw_ |= kRawRxOverflow;
      } else {
        RxFifo_.push_back(Value);
      }
    } else if (!Bus_->Write(Name(), Current_.Value)) {
      Abort(kAbortDataNack, true);
      return;
    }
    BeginNext(At);
    return;
  case Phase::Stop:
    Bus_->Stop(Name());
    Phase_ = Phase::Idle;
    IdleSinceNs_ = At;
    return;
  case Phase::Idle:
    return;
  }
}

void I2cController::ScheduleWake(uint64_t At) {
  if (Phase_ == Phase::Idle || WakeNs_ == PhaseEndNs_) {
    return;
  }
  WakeNs_ = PhaseEndNs_;
  // The models live as long as the platform that holds the scheduled work.
  Platform::Current().After(PhaseEndNs_ > At ? PhaseEndNs_ - At : 0, [this] { Run(Now()); });
}

void I2cController::Run(uint64_t At) {
  for (;;) {
    if (Phase_ == Phase::Idle) {
      if (TxFifo_.empty() || !Enabled(At)) {
        return;
      }
      const uint64_t Start = std::max(TxFifo_.front().QueuedNs, IdleSinceNs_);
      if (Start > At) {
        return;
      }
      TransactionRead_ = TxFifo_.front().Read;
      Phase_ = Phase::Address;
      PhaseEndNs_ = Start + kAddressBits * BitTimeNs();
    }
    if (PhaseEndNs_ > At) {
      ScheduleWake(At);
      return;
    }
    FinishPhase();
  }
}

uint64_t I2cController::Read(uint64_t Offset, unsigned Width) {
  CheckAccess(Offset, Width, 4);
  const uint64_t At = Now();
  Run(At);
  switch (Offset) {
  case kDataCommand: {
    if (RxFifo_.empty()) {
      Raw_ |= kRawRxUnderflow;
      return 0;
    }
    const uint8_t Value = RxFifo_.front();
    RxFifo_.pop_front();
    return Value;
  }
  case kRawInterrupt:
    return Raw_;
  case kClearRxUnderflow:
  case kClearRxOverflow: {
    const uint32_t Bit = Offset == kClearRxUnderflow ? kRawRxUnderflow : kRawRxOverflow;
    const bool Was = (Raw_ & Bit) != 0;
    Raw_ &= ~Bit;
    return Was;
  }
  case kClearTxAbort: {
    const bool Was = (Raw_ & kRawTxAbort) != 0;
    Raw_ &= ~kRawTxAbort;
    AbortSource_ = 0;
    return Was;
  }
  case kStatus: {
    const bool Active = Faults_.StuckBusy || Phase_ != Phase::Idle || (!TxFifo_.empty() && Enabled(At));
    BusyStatusReads_ += Active;
    return (Active ? kStatusActivity : 0) | (TxFifo_.size() < TxDepth_ ? kStatusTxNotFull : 0) |
           (TxFifo_.empty() ? kStatusTxEmpty : 0) | (RxFifo_.empty() ? 0 : kStatusRxNotEmpty);
  }
  case kTxLevel:
    return TxFifo_.size();
  case kAbortSource:
    return AbortSource_;
  case kEnableStatus:
    return Enabled(At) ? 1 : 0;
  case kComponentParameters:
    return ((RxDepth_ - 1) << kDepthShiftRx) | ((TxDepth_ - 1) << kDepthShiftTx);
  default:
    return Register(Offset);
  }
}

void I2cController::Write(uint64_t Offset, unsigned Width, uint64_t Value) {
  CheckAccess(Offset, Width, 4);
  const uint64_t At = Now();
  Run(At);
  if (Offset == kDataCommand) {
    // Writes are ignored while disabled and while an abort holds the FIFO flushed.
    if (!Enabled(At) || (Raw_ & kRawTxAbort) != 0) {
      return;
    }
    if (TxFifo_.size() >= TxDepth_) {
      Raw_ |= kRawTxOverflow;
      return;
    }
    TxFifo_.push_back({(Value & kReadCommand) != 0, uint8_t(Value), At});
    Run(At);
    return;
  }
  ConfigurationWrites_++;
  if (Offset == kEnable) {
    const bool Request = (Value & 1) != 0;
    EnabledBefore_ = Enabled(At);
    EnableRequested_ = Request;
    EnableChangeNs_ = At + kEnableSettleNs;
    if (!Request) {
      if (Phase_ != Phase::Idle && Bus_->Owner() == Name()) {
        Bus_->SetTime(At);
        Bus_->Stop(Name());
      }
      Phase_ = Phase::Idle;
      IdleSinceNs_ = At;
      TxFifo_.clear();
      RxFifo_.clear();
      Raw_ = 0;
      AbortSource_ = 0;
    }
  }
  if (Offset == kTarget) {
    Value &= kTargetMask;
  }
  if (Offset < Registers_.size() * 4) {
    Registers_[Offset / 4] = uint32_t(Value);
  }
}

} // namespace host

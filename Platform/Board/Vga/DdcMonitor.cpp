// The display on the DDC lines: wired-AND line levels and the EDID target, bit by bit.
#include "DdcMonitor.h"

#include "Common/DeviceModel.h"

#include <stdexcept>

namespace host::vga {
namespace {
constexpr uint8_t SclLevelBit = 0x10, SdaLevelBit = 0x20;
constexpr uint8_t IdleByte = 0xFF; // SDA released for every bit
} // namespace

DdcMonitor::DdcMonitor(DdcMonitorConfig Config) : Config_(std::move(Config)) {
  if (Config_.Edid.size() > MaxEdidBytes) {
    throw std::invalid_argument("monitor: an EDID of at most 256 bytes, not " +
                                std::to_string(Config_.Edid.size()));
  }
  Reset();
}

void DdcMonitor::Reset() {
  ChipSclLow_ = ChipSdaLow_ = OwnSdaLow_ = false;
  DelayReads_ = SettleReads;
  Reads_ = 0;
  State_ = State::Idle;
  Addressing_ = Reading_ = OffsetWritten_ = MasterAck_ = false;
  Bits_ = 0;
  Shift_ = Pointer_ = Current_ = 0;
}

bool DdcMonitor::Scl() const {
  return Config_.PullUps && !ChipSclLow_;
}

bool DdcMonitor::Sda() const {
  return Config_.PullUps && !ChipSdaLow_ && !OwnSdaLow_;
}

void DdcMonitor::Error(const std::string &Text) {
  RecordProtocolError(Errors_, "monitor", Text);
}

uint8_t DdcMonitor::Read(uint8_t Stored) {
  bool SclLevel = Scl(), SdaLevel = Sda();
  if (Config_.NoisyLines && (Reads_++ & 1) != 0) {
    SclLevel = !SclLevel;
    SdaLevel = !SdaLevel;
  }
  return static_cast<uint8_t>((Stored & ~(SclLevelBit | SdaLevelBit)) | (SclLevel ? SclLevelBit : 0) |
                              (SdaLevel ? SdaLevelBit : 0));
}

void DdcMonitor::Drive(bool SclLow, bool SdaLow) {
  if (SclLow == ChipSclLow_ && SdaLow == ChipSdaLow_) {
    return;
  }
  if (DelayReads_ < SettleReads) {
    Error("a DDC line changed after " + std::to_string(DelayReads_) + " reads of port 0x3D4 (at least " +
          std::to_string(SettleReads) + ")");
  }
  if (SclLow != ChipSclLow_ && SdaLow != ChipSdaLow_) {
    Error("SCL and SDA changed in one write");
  }
  DelayReads_ = 0;
  const bool OldScl = Scl(), OldSda = Sda();
  ChipSclLow_ = SclLow;
  ChipSdaLow_ = SdaLow;
  const bool NewScl = Scl(), NewSda = Sda();
  if (OldScl && NewScl && OldSda != NewSda) {
    NewSda ? OnStop() : OnStart();
  } else if (!OldScl && NewScl) {
    OnSclRise();
  } else if (OldScl && !NewScl) {
    OnSclFall();
  }
}

// A start or stop follows one clock of the next byte (the clock that sets it up), never more,
// and never comes while the display sends or during an acknowledge clock.
bool DdcMonitor::InsideByte() const {
  return (State_ == State::Receive && Bits_ > 1) || (State_ == State::Transmit && Bits_ > 0) ||
         State_ == State::AckOut || State_ == State::AckIn;
}

void DdcMonitor::OnStart() {
  if (InsideByte()) {
    Error("start condition inside a byte");
  }
  OwnSdaLow_ = false;
  State_ = State::Receive;
  Addressing_ = true;
  OffsetWritten_ = false;
  Bits_ = 0;
  Shift_ = 0;
}

void DdcMonitor::OnStop() {
  if (InsideByte()) {
    Error("stop condition inside a byte");
  }
  OwnSdaLow_ = false;
  State_ = State::Idle;
  Stops_++;
}

void DdcMonitor::OnSclRise() {
  switch (State_) {
  case State::Receive:
    Shift_ = static_cast<uint8_t>((Shift_ << 1) | (Sda() ? 1 : 0));
    Bits_++;
    break;
  case State::Transmit:
    if (ChipSdaLow_ && (Current_ & (0x80 >> Bits_)) != 0) {
      Error("the chip holds SDA low while the display sends a one");
    }
    Bits_++;
    break;
  case State::AckIn:
    MasterAck_ = !Sda();
    break;
  default:
    break;
  }
}

void DdcMonitor::OnSclFall() {
  switch (State_) {
  case State::Receive:
    if (Bits_ == 8) {
      ByteReceived();
    }
    break;
  case State::AckOut:
    OwnSdaLow_ = false;
    if (Reading_) {
      LoadByte();
    } else {
      State_ = State::Receive;
      Bits_ = 0;
      Shift_ = 0;
    }
    break;
  case State::Transmit:
    if (Bits_ == 8) {
      OwnSdaLow_ = false;
      State_ = State::AckIn;
    } else {
      OwnSdaLow_ = (Current_ & (0x80 >> Bits_)) == 0;
    }
    break;
  case State::AckIn:
    if (MasterAck_) {
      LoadByte();
    } else {
      State_ = State::Ignore; // the master's no-acknowledge ends the read
    }
    break;
  default:
    break;
  }
}

void DdcMonitor::ByteReceived() {
  const bool Acknowledge = Addressing_ ? (Shift_ >> 1) == Address && !Config_.NoAck && !Config_.Edid.empty()
                                       : !OffsetWritten_; // the EDID is read-only: only the offset is taken
  if (!Acknowledge) {
    State_ = State::Ignore;
    return;
  }
  if (Addressing_) {
    Reading_ = (Shift_ & 1) != 0;
    Transfers_ += Reading_ ? 1 : 0;
    Addressing_ = false;
  } else {
    Pointer_ = Shift_;
    OffsetWritten_ = true;
  }
  OwnSdaLow_ = true;
  State_ = State::AckOut;
}

void DdcMonitor::LoadByte() {
  // A display with fewer bytes than the master reads sends nothing past them: SDA stays at
  // its idle level. The master cannot know the size before it reads, so this is no breach.
  if (Pointer_ >= Config_.Edid.size() && !NotedShortEdid_) {
    NotedShortEdid_ = true;
    LogModelNote("monitor", "read at offset " + std::to_string(Pointer_) + " beyond the display's " +
                                std::to_string(Config_.Edid.size()) +
                                " EDID bytes: the lines give 0xFF there");
  }
  Current_ = Pointer_ < Config_.Edid.size() ? Config_.Edid[Pointer_] : IdleByte;
  Pointer_++;
  BytesSent_++;
  State_ = State::Transmit;
  Bits_ = 0;
  OwnSdaLow_ = (Current_ & 0x80) == 0;
}

} // namespace host::vga

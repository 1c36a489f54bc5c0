// The mailbox and management-processor model.
#include "ManagementProcessor.h"

#include <cstdio>

namespace host {

namespace {

constexpr uint64_t kChannelSize = 0x1000;
constexpr uint32_t kHandoverGroup = 0x0E000000, kHandoverMask = 0xFFFFFFFC;
constexpr uint32_t kLoadGroup = 0x4100;
constexpr unsigned kLoadWords = 9;
constexpr unsigned kNameWords = 4;
constexpr uint32_t kPlaceFirst = 8, kPlaceContinuation = 2, kPlaceFinal = 4;
constexpr uint32_t kLoadReply = 0x10000000;
constexpr uint32_t kPolledLoadMark = 0xA4;
constexpr uint32_t kLoadProgressDone = 0x10250000;
constexpr uint64_t kOwnBusBitNs = 10'000;
constexpr unsigned kRecordBytes = 6;

std::string Hex(uint32_t Value) {
  char Text[16];
  std::snprintf(Text, sizeof(Text), "0x%08X", Value);
  return Text;
}

uint32_t ExpectedPlace(size_t Index) {
  return Index == 0 ? kPlaceFirst : Index == kLoadWords - 1 ? kPlaceFinal : kPlaceContinuation;
}

} // namespace

ManagementProcessor::ManagementProcessor(std::shared_ptr<I2cBus> Bus, std::shared_ptr<StatusRegion> Status)
    : DeviceModel("mailbox"), Bus_(std::move(Bus)), Status_(std::move(Status)) {
  Status_->SetBeforeRead([this] {
    if (LoadDoneAtNs_ && Now() >= *LoadDoneAtNs_) {
      Status_->SetWord(StatusRegion::kLoadProgress, kLoadProgressDone);
      Status_->SetWord(StatusRegion::kLoadActivity, Status_->Word(StatusRegion::kLoadActivity) & ~0xFFu);
      LoadDoneAtNs_.reset();
    }
  });
  Reset();
}

void ManagementProcessor::Reset() {
  Data_ = 0;
  DataWritten_ = false;
  AcksDue_.clear();
  Incoming_.clear();
  Messages_.clear();
  LoadData_.clear();
  Loads_.clear();
  LoadDoneAtNs_.reset();
  if (Bus_->Owner() == kMaster) {
    GiveBus(Now());
  }
  TakeBus(Now());
}

uint64_t ManagementProcessor::Now() const {
  return Platform::Current().VirtualTimeNs();
}

uint64_t ManagementProcessor::Read(uint64_t Offset, unsigned Width) {
  CheckAccess(Offset, Width, 4);
  if (Offset >= kChannelSize) {
    return 0;
  }
  const uint64_t At = Now();
  const bool ReplyVisible = !Incoming_.empty() && At >= Incoming_.front().AtNs;
  switch (Offset) {
  case kIncoming:
    return ReplyVisible ? Incoming_.front().Word : 0;
  case kStatus:
    return (AckArrived(At) ? kAcknowledged : 0) | (ReplyVisible ? kIncomingPending : 0);
  default:
    return 0;
  }
}

void ManagementProcessor::Write(uint64_t Offset, unsigned Width, uint64_t Value) {
  CheckAccess(Offset, Width, 4);
  if (Offset >= kChannelSize) {
    return;
  }
  const uint64_t At = Now();
  switch (Offset) {
  case kOutgoingData:
    Data_ = uint32_t(Value);
    DataWritten_ = true;
    return;
  case kOutgoingMessage:
    if (AckArrived(At)) {
      ProtocolError("message " + Hex(uint32_t(Value)) +
                    " posted before the previous acknowledge was cleared");
    }
    if (!DataWritten_) {
      ProtocolError("message " + Hex(uint32_t(Value)) + " posted without writing its data word first");
    }
    DataWritten_ = false;
    Post(uint32_t(Value), Data_, At);
    return;
  case kStatus:
    while ((Value & kAcknowledged) != 0 && AckArrived(At)) {
      AcksDue_.pop_front();
    }
    if ((Value & kIncomingPending) != 0 && !Incoming_.empty() && At >= Incoming_.front().AtNs) {
      Incoming_.pop_front();
    }
    return;
  default:
    return;
  }
}

// A processor that does not acknowledge does not act on the message either.
void ManagementProcessor::Post(uint32_t Word, uint32_t Data, uint64_t At) {
  Messages_.push_back({Word, Data, At});
  if (Faults_.NoAck || (Faults_.SilentFrom != 0 && Messages_.size() >= Faults_.SilentFrom)) {
    return;
  }
  AcksDue_.push_back(At + Faults_.AckDelayNs);
  if ((Word & kHandoverMask) == kHandoverGroup) {
    Handover(Word, At);
  } else if (Word == kQueryBuildId) {
    if (!Faults_.NoReply) {
      Incoming_.push_back({BuildId_, At + kReplyDelayNs});
    }
  } else if ((Word >> 16) == kLoadGroup) {
    LoadWord(Word, Data, At);
  } else {
    ProtocolError("unknown message " + Hex(Word));
  }
}

void ManagementProcessor::Handover(uint32_t Word, uint64_t At) {
  if (Word == kAcquireBus) {
    if (!HoldsBus()) {
      ProtocolError("I2C bus requested while the application processor already has it");
    }
    GiveBus(At);
  } else if (Word == kReleaseBus) {
    if (HoldsBus()) {
      ProtocolError("I2C bus released while the management processor holds it");
    }
    TakeBus(At + kAckDelayNs);
  } else {
    ProtocolError("unknown hand-over request " + Hex(Word));
  }
}

// Back in charge of the bus, the processor reads the first MAC record for itself (offset
// write, repeated start, reading on) and keeps the transfer open while it holds the bus: an
// application-processor start in that time loses arbitration.
void ManagementProcessor::TakeBus(uint64_t At) {
  Holding_ = true;
  OwnReadOpen_ = false;
  Bus_->SetTime(At);
  const auto Result = Bus_->Start(kMaster, kEepromAddress, false);
  if (Result == I2cBus::StartResult::ArbitrationLost) {
    ProtocolError("I2C bus handed back while " +
                  (Bus_->Owner().empty() ? std::string("it is stuck") : Bus_->Owner() + " still uses it"));
    return;
  }
  if (Result != I2cBus::StartResult::Ack) {
    return;
  }
  Bus_->SetTime(At += 9 * kOwnBusBitNs);
  Bus_->Write(kMaster, 0);
  Bus_->SetTime(At += 9 * kOwnBusBitNs);
  Bus_->Write(kMaster, 0);
  Bus_->SetTime(At += 10 * kOwnBusBitNs);
  if (Bus_->Start(kMaster, kEepromAddress, true) != I2cBus::StartResult::Ack) {
    return;
  }
  OwnReadOpen_ = true;
  for (unsigned Byte = 0; Byte < kRecordBytes; Byte++) {
    Bus_->SetTime(At += 9 * kOwnBusBitNs);
    Bus_->Read(kMaster, true);
  }
}

// The processor ends its own transfer (the last byte not acknowledged) and frees the bus.
void ManagementProcessor::GiveBus(uint64_t At) {
  Holding_ = false;
  if (Bus_->Owner() != kMaster) {
    return;
  }
  Bus_->SetTime(At);
  if (OwnReadOpen_) {
    Bus_->Read(kMaster, false);
    OwnReadOpen_ = false;
  }
  Bus_->Stop(kMaster);
}

void ManagementProcessor::LoadWord(uint32_t Word, uint32_t Data, uint64_t At) {
  const uint32_t Number = Word & 0xF;
  const uint32_t Place = (Word >> 12) & 0xF;
  if (Number != LoadData_.size() || Place != ExpectedPlace(LoadData_.size())) {
    ProtocolError("file-load word " + Hex(Word) + " out of order");
    LoadData_.clear();
    return;
  }
  LoadData_.push_back(Data);
  if (LoadData_.size() < kLoadWords) {
    return;
  }
  FileLoad Load;
  Load.Kind = LoadData_[0];
  std::string Field;
  for (unsigned Index = 0; Index < kNameWords * 4; Index++) {
    Field.push_back(char((LoadData_[1 + Index / 4] >> (8 * (Index % 4))) & 0xFF));
  }
  if (Field.back() != '\0') {
    ProtocolError("file name field not terminated");
  }
  Load.Name = Field.substr(0, Field.find('\0'));
  Load.RangeStart = LoadData_[5];
  Load.RangeSize = LoadData_[6];
  Load.Destination = (uint64_t(LoadData_[7]) << 32) | LoadData_[8];
  Loads_.push_back(Load);
  LoadData_.clear();
  if ((Status_->Word(StatusRegion::kFirmwareStatus) >> 24) == kPolledLoadMark) {
    Status_->SetWord(StatusRegion::kLoadProgress, 0);
    Status_->SetWord(StatusRegion::kLoadActivity, Status_->Word(StatusRegion::kLoadActivity) | 1);
    LoadDoneAtNs_ = At + kLoadTimeNs;
  } else if (!Faults_.NoReply) {
    Incoming_.push_back({kLoadReply, At + kLoadTimeNs});
  }
}

} // namespace host

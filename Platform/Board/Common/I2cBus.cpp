// The shared I2C bus of the device models.
#include "I2cBus.h"

#include "DeviceModel.h"

namespace host {

namespace {
constexpr uint8_t kMaxAddress = 0x7F;
constexpr uint8_t kIdleBusByte = 0xFF; // SDA pulled high, nobody driving it
} // namespace

void I2cBus::AddTarget(uint8_t Address, std::shared_ptr<I2cTarget> Target) {
  Targets_[Address] = std::move(Target);
}

I2cTarget *I2cBus::Target(uint8_t Address) const {
  auto Found = Targets_.find(Address);
  return Found != Targets_.end() ? Found->second.get() : nullptr;
}

I2cBus::StartResult I2cBus::Start(const std::string &Master, uint8_t Address, bool Read) {
  if (Stuck_ || (!Owner_.empty() && Owner_ != Master)) {
    return StartResult::ArbitrationLost;
  }
  if (Address > kMaxAddress) {
    RecordProtocolError(Errors_, Name_,
                        Master + " addressed 0x" + std::to_string(Address) + ", not a 7-bit address");
    return StartResult::Nack;
  }
  Owner_ = Master;
  Reading_ = Read;
  ReadEnded_ = false;
  Selected_ = ++Transfers_ != NackedTransfer_ ? Target(Address) : nullptr;
  if (Selected_ != nullptr && !Selected_->Select(Read)) {
    Selected_ = nullptr;
  }
  return Selected_ != nullptr ? StartResult::Ack : StartResult::Nack;
}

bool I2cBus::CheckOwner(const std::string &Master, const char *Operation) {
  if (Owner_ == Master) {
    return true;
  }
  RecordProtocolError(Errors_, Name_,
                      Master + " " + Operation +
                          (Owner_.empty() ? " without a start" : " while " + Owner_ + " holds the bus"));
  return false;
}

bool I2cBus::Write(const std::string &Master, uint8_t Byte) {
  if (!CheckOwner(Master, "wrote a byte")) {
    return false;
  }
  if (Reading_) {
    RecordProtocolError(Errors_, Name_, Master + " wrote a byte in a read transfer");
    return false;
  }
  return Selected_ != nullptr && Selected_->WriteByte(Byte);
}

uint8_t I2cBus::Read(const std::string &Master, bool Ack) {
  if (!CheckOwner(Master, "read a byte")) {
    return kIdleBusByte;
  }
  if (!Reading_) {
    RecordProtocolError(Errors_, Name_, Master + " read a byte in a write transfer");
    return kIdleBusByte;
  }
  if (ReadEnded_) {
    RecordProtocolError(Errors_, Name_, Master + " read on after it NACKed the last byte");
    return kIdleBusByte;
  }
  ReadEnded_ = !Ack;
  return Selected_ != nullptr ? Selected_->ReadByte(Ack) : kIdleBusByte;
}

void I2cBus::Stop(const std::string &Master) {
  if (!CheckOwner(Master, "sent a stop")) {
    return;
  }
  if (Selected_ != nullptr) {
    Selected_->Stop();
  }
  Owner_.clear();
  Selected_ = nullptr;
  Reading_ = false;
  ReadEnded_ = false;
}

void I2cBus::Reset() {
  Owner_.clear();
  Selected_ = nullptr;
  Reading_ = false;
  ReadEnded_ = false;
  Stuck_ = false;
  for (auto &[Address, Target] : Targets_) {
    Target->Reset();
  }
}

} // namespace host

// The shared I2C bus: routing, the transaction log and the arbitration between masters.
#include "I2cBus.h"

namespace host {

void I2cBus::AddTarget(uint8_t Address, std::shared_ptr<I2cTarget> Target) {
  Targets_[Address] = std::move(Target);
}

I2cTarget *I2cBus::Addressed() const {
  if (!Address_) {
    return nullptr;
  }
  auto Found = Targets_.find(*Address_);
  return Found == Targets_.end() ? nullptr : Found->second.get();
}

I2cStart I2cBus::Start(const std::string &Master, uint8_t Address, bool Read, uint64_t TimeNs) {
  const bool HeldByOther = !Holder_.empty() && Holder_ != Master;
  const bool OpenByOther = !Owner_.empty() && Owner_ != Master;
  if (HeldByOther || OpenByOther) {
    Contentions_.push_back(Master + " while " + (OpenByOther ? Owner_ : Holder_));
    return I2cStart::ArbitrationLost;
  }
  Owner_ = Master;
  Address_ = Address;
  I2cTarget *Target = Addressed();
  const bool Ack = Target != nullptr && Target->Start(Read, TimeNs);
  Log_.push_back({Master, Address, Read, Ack, {}, TimeNs, TimeNs});
  return Ack ? I2cStart::Acknowledged : I2cStart::NotAcknowledged;
}

bool I2cBus::Write(const std::string &Master, uint8_t Value, uint64_t TimeNs) {
  I2cTarget *Target = Owner_ == Master ? Addressed() : nullptr;
  if (Target == nullptr) {
    return false;
  }
  Log_.back().Bytes.push_back(Value);
  Log_.back().EndNs = TimeNs;
  return Target->WriteByte(Value, TimeNs);
}

std::optional<uint8_t> I2cBus::Read(const std::string &Master, uint64_t TimeNs) {
  I2cTarget *Target = Owner_ == Master ? Addressed() : nullptr;
  if (Target == nullptr) {
    return std::nullopt;
  }
  std::optional<uint8_t> Value = Target->ReadByte(TimeNs);
  if (Value) {
    Log_.back().Bytes.push_back(*Value);
    Log_.back().EndNs = TimeNs;
  }
  return Value;
}

void I2cBus::Stop(const std::string &Master, uint64_t TimeNs) {
  if (Owner_ != Master) {
    return;
  }
  if (I2cTarget *Target = Addressed()) {
    Target->Stop(TimeNs);
  }
  if (!Log_.empty()) {
    Log_.back().EndNs = TimeNs;
  }
  Owner_.clear();
  Address_.reset();
}

} // namespace host

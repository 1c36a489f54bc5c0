// An I2C bus shared by several masters (the SoC's controllers, the management processor)
// and several targets (EEPROM ...), at the level of transfers: start with the address byte,
// bytes written or read with their acknowledge, stop. The bus checks the rules of the
// protocol itself and records every breach, so that one check covers every master.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace host {

class I2cTarget {
public:
  virtual ~I2cTarget() = default;
  // Addressed after a start (Read: the master reads next). True acknowledges the address.
  virtual bool Select(bool Read) = 0;
  // A byte the master wrote. True acknowledges it.
  virtual bool WriteByte(uint8_t Byte) = 0;
  // The next byte the master reads; MasterAck: the master acknowledges it (it reads more).
  virtual uint8_t ReadByte(bool MasterAck) = 0;
  // The stop that ends the transfer (not called on a repeated start).
  virtual void Stop() {}
  // How long the target holds the clock low before it sends the next byte (clock stretching).
  virtual uint64_t StretchNs() const { return 0; }
  virtual void Reset() {}
};

class I2cBus {
public:
  enum class StartResult { Ack, Nack, ArbitrationLost };

  explicit I2cBus(std::string Name) : Name_(std::move(Name)) {}

  const std::string &Name() const { return Name_; }
  void AddTarget(uint8_t Address, std::shared_ptr<I2cTarget> Target);
  I2cTarget *Target(uint8_t Address) const;

  // Start (or repeated start by the master that holds the bus) and the 7-bit address. Another
  // master's start while the bus is held, or any start while the bus is stuck, loses
  // arbitration. A NACKed address leaves the bus held until the master stops.
  StartResult Start(const std::string &Master, uint8_t Address, bool Read);
  bool Write(const std::string &Master, uint8_t Byte); // true: the target acknowledged
  uint8_t Read(const std::string &Master, bool Ack);   // 0xFF when no target drives the bus
  void Stop(const std::string &Master);
  // The clock stretching of the target that acknowledged the current transfer.
  uint64_t StretchNs() const { return Selected_ != nullptr ? Selected_->StretchNs() : 0; }

  bool Busy() const { return !Owner_.empty() || Stuck_; }
  const std::string &Owner() const { return Owner_; }
  // Fault: a target holds SDA low, so the bus never becomes free.
  void SetStuck(bool Stuck) { Stuck_ = Stuck; }
  // Fault: the target addressed by the Number-th transfer (counted from 1 over every start that
  // reaches the address, repeated starts included, by any master) does not acknowledge it.
  // 0: none.
  void SetNackedTransfer(uint64_t Number) { NackedTransfer_ = Number; }
  // Transfers started so far; a reset does not clear the count.
  uint64_t Transfers() const { return Transfers_; }
  void Reset(); // released, targets reset

  const std::vector<std::string> &ProtocolErrors() const { return Errors_; }

  // Virtual time of the bus event under way. A master whose engine dates its events (it
  // catches up with the clock on the next register access) sets it before it drives the bus,
  // so that targets with timing of their own (a write cycle) see when the event happened.
  void SetTime(uint64_t TimeNs) { TimeNs_ = TimeNs; }
  uint64_t TimeNs() const { return TimeNs_; }

private:
  bool CheckOwner(const std::string &Master, const char *Operation);

  std::string Name_;
  std::map<uint8_t, std::shared_ptr<I2cTarget>> Targets_;
  std::string Owner_;
  I2cTarget *Selected_ = nullptr; // the target that acknowledged the current transfer's address
  bool Reading_ = false;
  bool ReadEnded_ = false; // the master NACKed a byte: only a stop or a repeated start may follow
  bool Stuck_ = false;
  uint64_t NackedTransfer_ = 0;
  uint64_t Transfers_ = 0;
  uint64_t TimeNs_ = 0;
  std::vector<std::string> Errors_;
};

} // namespace host

// A shared I2C bus: several masters (the SoC's controllers, the management processor) and
// several targets. Masters drive it byte by byte at the virtual time each bus event ends;
// the bus routes the bytes to the addressed target, keeps a log of the transactions and
// checks that no master starts while another one holds the bus.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace host {

// A device on the bus. Start is the address byte (true: acknowledged); a read byte of
// nullopt means the device stopped driving the bus.
class I2cTarget {
public:
  virtual ~I2cTarget() = default;
  virtual bool Start(bool Read, uint64_t TimeNs) = 0;
  virtual bool WriteByte(uint8_t Value, uint64_t TimeNs) = 0;
  virtual std::optional<uint8_t> ReadByte(uint64_t TimeNs) = 0;
  virtual void Stop(uint64_t TimeNs) = 0;
};

struct I2cTransaction {
  std::string Master;
  uint8_t Address = 0;
  bool Read = false;
  bool Acknowledged = false;
  std::vector<uint8_t> Bytes; // written or read, in order
  uint64_t StartNs = 0;
  uint64_t EndNs = 0;
};

enum class I2cStart { Acknowledged, NotAcknowledged, ArbitrationLost };

class I2cBus {
public:
  void AddTarget(uint8_t Address, std::shared_ptr<I2cTarget> Target);

  // A master that holds the bus (by agreement between the masters): another master's start
  // loses arbitration and counts as contention. Empty: nobody holds it.
  void SetHolder(const std::string &Master) { Holder_ = Master; }
  const std::string &Holder() const { return Holder_; }

  // A start (or repeated start) with the address byte.
  I2cStart Start(const std::string &Master, uint8_t Address, bool Read, uint64_t TimeNs);
  bool Write(const std::string &Master, uint8_t Value, uint64_t TimeNs);
  std::optional<uint8_t> Read(const std::string &Master, uint64_t TimeNs);
  void Stop(const std::string &Master, uint64_t TimeNs);

  const std::vector<I2cTransaction> &Transactions() const { return Log_; }
  void ClearLog() { Log_.clear(); }
  // Starts refused because another master held the bus, as "master while holder" texts.
  const std::vector<std::string> &Contentions() const { return Contentions_; }

private:
  I2cTarget *Addressed() const;

  std::map<uint8_t, std::shared_ptr<I2cTarget>> Targets_;
  std::string Holder_;
  std::string Owner_; // the master whose transaction is open
  std::optional<uint8_t> Address_;
  std::vector<I2cTransaction> Log_;
  std::vector<std::string> Contentions_;
};

} // namespace host

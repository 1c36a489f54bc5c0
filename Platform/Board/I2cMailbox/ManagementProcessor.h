// The mailbox channel and the management processor behind it. The processor acts on every
// message at once and acknowledges it a few microseconds after it is posted (or after a delay
// the board sets: acknowledges still due keep arriving after later messages), holds the
// shared I2C bus unless the application processor has asked for it (and reads the board
// EEPROM itself whenever it takes the bus back), answers the build-identifier query and
// carries out the nine-word file load. It checks the application processor's side of the
// protocol and lists what it finds wrong.
#pragma once

#include "Common/DeviceModel.h"
#include "Common/I2cBus.h"
#include "StatusRegion.h"

#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace host {

class ManagementProcessor : public DeviceModel {
public:
  static constexpr uint64_t kSize = 0xA000; // ten channels of 0x1000
  static constexpr uint64_t kIncoming = 0x04, kOutgoingMessage = 0x10, kOutgoingData = 0x14, kStatus = 0x20;
  static constexpr uint32_t kAcknowledged = 1u << 0, kIncomingPending = 1u << 16;
  static constexpr uint32_t kAcquireBus = 0x0E000002, kReleaseBus = 0x0E000001, kQueryBuildId = 0x0D000000;
  static constexpr uint64_t kAckDelayNs = 5'000, kReplyDelayNs = 20'000, kLoadTimeNs = 2'000'000;
  static constexpr uint8_t kEepromAddress = 0x53;
  static constexpr char kMaster[] = "mp";

  struct Faults {
    bool NoAck = false;                // messages are never acknowledged
    bool NoReply = false;              // queries and loads are never answered
    size_t SilentFrom = 0;             // from this message on (counted from 1), as NoAck; 0: never
    uint64_t AckDelayNs = kAckDelayNs; // from a message's post to its acknowledge
  };
  struct Message {
    uint32_t Word = 0;
    uint32_t Data = 0;
    uint64_t TimeNs = 0;
  };
  struct FileLoad {
    std::string Name;
    uint32_t Kind = 0; // the first word's data: whole file or range
    uint32_t RangeStart = 0, RangeSize = 0;
    uint64_t Destination = 0;
  };

  ManagementProcessor(std::shared_ptr<I2cBus> Bus, std::shared_ptr<StatusRegion> Status);

  uint64_t Read(uint64_t Offset, unsigned Width) override;
  void Write(uint64_t Offset, unsigned Width, uint64_t Value) override;
  void Reset() override;

  Faults &Fault() { return Faults_; }
  void SetBuildId(uint32_t Id) { BuildId_ = Id; }
  // The processor holds the shared bus unless the application processor asked for it.
  bool HoldsBus() const { return Holding_; }
  const std::vector<Message> &Messages() const { return Messages_; }
  const std::vector<FileLoad> &Loads() const { return Loads_; }
  // Stale incoming replies still pending.
  size_t PendingReplies() const { return Incoming_.size(); }

private:
  struct Reply {
    uint32_t Word = 0;
    uint64_t AtNs = 0;
  };

  uint64_t Now() const;
  void Post(uint32_t Word, uint32_t Data, uint64_t At);
  void Handover(uint32_t Word, uint64_t At);
  void LoadWord(uint32_t Word, uint32_t Data, uint64_t At);
  void TakeBus(uint64_t At);
  void GiveBus(uint64_t At);

  std::shared_ptr<I2cBus> Bus_;
  std::shared_ptr<StatusRegion> Status_;
  Faults Faults_;
  uint32_t BuildId_ = 0x01020304;
  uint32_t Data_ = 0;
  bool DataWritten_ = false;
  bool AckArrived(uint64_t At) const { return !AcksDue_.empty() && AcksDue_.front() <= At; }

  // Acknowledges not yet cleared, in the order they arrive; the status bit shows the arrived ones.
  std::deque<uint64_t> AcksDue_;
  std::deque<Reply> Incoming_;
  std::vector<Message> Messages_;
  std::vector<uint32_t> LoadData_;
  std::vector<FileLoad> Loads_;
  std::optional<uint64_t> LoadDoneAtNs_;
  bool Holding_ = false;
  bool OwnReadOpen_ = false;
};

} // namespace host

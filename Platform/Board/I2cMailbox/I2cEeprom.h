// An I2C EEPROM with two-byte offsets and 256-byte pages. A write transaction carries the
// offset (high byte first) and data bytes that wrap around inside their page; the bytes are
// programmed at the stop, during an internal write cycle in which the device acknowledges
// nothing. A read continues from the current offset across the whole array. The contents
// live in an image file of the board, rewritten after every write cycle.
#pragma once

#include "Common/I2cBus.h"

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace host {

class I2cEeprom : public I2cTarget {
public:
  static constexpr size_t kSize = 0x10000;
  static constexpr size_t kPageSize = 256;
  static constexpr uint64_t kWriteCycleNs = 3'000'000;

  struct Faults {
    bool Nack = false;                     // never acknowledges its address
    uint64_t WriteCycleNs = kWriteCycleNs; // the part's internal write cycle
    uint64_t StretchNs = 0;                // clock held low before each byte it sends
  };

  // Contents from Image; an absent or empty file is created erased, and a file of another size
  // or one that cannot be read is refused (PathError): the model never resizes a user's file.
  // An empty path keeps the contents in memory only. Clock gives the time of the bus event.
  I2cEeprom(std::filesystem::path Image, std::function<uint64_t()> Clock);

  bool Select(bool Read) override;
  bool WriteByte(uint8_t Value) override;
  uint8_t ReadByte(bool MasterAck) override;
  void Stop() override;
  uint64_t StretchNs() const override { return Reading_ ? Faults_.StretchNs : 0; }
  // Power-on: no write cycle under way, the address counter at 0; the contents stay.
  void Reset() override;

  Faults &Fault() { return Faults_; }
  const std::vector<uint8_t> &Contents() const { return Memory_; }
  std::vector<uint8_t> &MutableContents() { return Memory_; }
  // Write cycles done so far (one per programmed transaction).
  unsigned WriteCycles() const { return WriteCycles_; }
  // Every transfer the device acknowledged: its direction and the bytes written (offset
  // included) or read.
  struct Transfer {
    bool Read = false;
    std::vector<uint8_t> Bytes;
  };
  const std::vector<Transfer> &Transfers() const { return Transfers_; }
  void ClearTransfers() { Transfers_.clear(); }

  // Image files, for the board and the `boardsim eeprom` command. ReadImage gives the image of
  // a file of the part's size, an erased one for an empty file, and nothing with Problem set
  // otherwise (missing, a folder, another size); LoadImage throws PathError instead.
  static std::optional<std::vector<uint8_t>> ReadImage(const std::filesystem::path &File,
                                                       std::string &Problem);
  static std::vector<uint8_t> LoadImage(const std::filesystem::path &File);
  static bool SaveImage(const std::filesystem::path &File, const std::vector<uint8_t> &Contents);

private:
  std::filesystem::path Image_;
  std::function<uint64_t()> Clock_;
  std::vector<uint8_t> Memory_;
  Faults Faults_;
  uint64_t BusyUntilNs_ = 0;
  uint32_t Pointer_ = 0;
  bool Reading_ = false;
  unsigned OffsetBytes_ = 0;
  std::vector<std::pair<uint32_t, uint8_t>> Pending_;
  unsigned WriteCycles_ = 0;
  std::vector<Transfer> Transfers_;
};

} // namespace host

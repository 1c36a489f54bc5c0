// The I2C EEPROM model and its image file.
#include "I2cEeprom.h"

#include <HostFiles.h>

namespace host {

namespace {

constexpr uint8_t kErased = 0xFF;
constexpr unsigned kOffsetBytes = 2;
constexpr char kImageOption[] = "--eeprom";

} // namespace

std::optional<std::vector<uint8_t>> I2cEeprom::ReadImage(const std::filesystem::path &File,
                                                         std::string &Problem) {
  std::optional<std::vector<uint8_t>> Bytes = ReadFileBytes(File, Problem);
  if (Bytes && Bytes->empty()) {
    Bytes->assign(kSize, kErased);
  } else if (Bytes && Bytes->size() != kSize) {
    Problem = "is " + std::to_string(Bytes->size()) + " bytes; an EEPROM image is " + std::to_string(kSize) +
              " bytes (an empty file is created erased)";
    return std::nullopt;
  }
  return Bytes;
}

std::vector<uint8_t> I2cEeprom::LoadImage(const std::filesystem::path &File) {
  std::string Problem;
  std::optional<std::vector<uint8_t>> Image = ReadImage(File, Problem);
  if (!Image) {
    throw PathError(kImageOption, File, Problem);
  }
  return *Image;
}

// The image is saved the way the NVRAM file is (a synced temporary file renamed over the old
// one), so a process or power lost during a save leaves the old image or the new one, never a
// cut one that would read as erased records and be repaired with placeholders.
bool I2cEeprom::SaveImage(const std::filesystem::path &File, const std::vector<uint8_t> &Contents) {
  return ReplaceFileDurably(File, Contents, nullptr);
}

I2cEeprom::I2cEeprom(std::filesystem::path Image, std::function<uint64_t()> Clock)
    : Image_(std::move(Image)), Clock_(std::move(Clock)), Memory_(kSize, kErased) {
  if (Image_.empty()) {
    return;
  }
  std::error_code Code;
  const bool Present = std::filesystem::exists(Image_, Code) || Code;
  if (Present) {
    Memory_ = LoadImage(Image_);
  }
  // An absent or empty file is created erased; the board writes nothing else at start.
  if (!Present || std::filesystem::file_size(Image_, Code) == 0) {
    if (!SaveImage(Image_, Memory_)) {
      throw PathError(kImageOption, Image_, "cannot create the image");
    }
  }
}

void I2cEeprom::Reset() {
  BusyUntilNs_ = 0;
  Pointer_ = 0;
  Reading_ = false;
  OffsetBytes_ = 0;
  Pending_.clear();
}

bool I2cEeprom::Select(bool Read) {
  if (Faults_.Nack || Clock_() < BusyUntilNs_) {
    return false;
  }
  Reading_ = Read;
  OffsetBytes_ = 0;
  Pending_.clear();
  Transfers_.push_back({Read, {}});
  return true;
}

bool I2cEeprom::WriteByte(uint8_t Value) {
  if (Reading_) {
    return false;
  }
  Transfers_.back().Bytes.push_back(Value);
  if (OffsetBytes_ < kOffsetBytes) {
    Pointer_ = OffsetBytes_ == 0 ? uint32_t(Value) << 8 : (Pointer_ & 0xFF00) | Value;
    OffsetBytes_++;
    return true;
  }
  Pending_.emplace_back(Pointer_, Value);
  // The address counter wraps around inside the page.
  Pointer_ = uint32_t((Pointer_ & ~(kPageSize - 1)) | ((Pointer_ + 1) & (kPageSize - 1)));
  return true;
}

uint8_t I2cEeprom::ReadByte(bool MasterAck) {
  const uint8_t Value = Memory_[Pointer_];
  if (Reading_ && !Transfers_.empty()) {
    Transfers_.back().Bytes.push_back(Value);
  }
  Pointer_ = uint32_t((Pointer_ + 1) % kSize);
  return Value;
}

void I2cEeprom::Stop() {
  if (Reading_ || Pending_.empty()) {
    return;
  }
  for (const auto &[Address, Value] : Pending_) {
    Memory_[Address] = Value;
  }
  Pending_.clear();
  BusyUntilNs_ = Clock_() + Faults_.WriteCycleNs;
  WriteCycles_++;
  if (!Image_.empty()) {
    SaveImage(Image_, Memory_);
  }
}

} // namespace host

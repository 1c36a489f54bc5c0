// Protocol-error recording shared by the device models.
#include "DeviceModel.h"

#include <cstdio>
#include <stdexcept>

namespace host {

namespace {

std::string ModelLine(const std::string &Name, const std::string &Text) {
  return (Name.empty() ? std::string("device") : Name) + ": " + Text;
}

void AppendToBoardLog(const std::string &Line) {
  try {
    Platform &Core = Platform::Current();
    Core.Log().Append("model", Line + "\n", Core.VirtualTimeNs());
  } catch (const std::logic_error &) {
    // A model exercised without a board: the caller's record is all there is.
  }
}

} // namespace

void RecordProtocolError(std::vector<std::string> &Errors, const std::string &Name, const std::string &Text) {
  const std::string Line = ModelLine(Name, Text);
  Errors.push_back(Line);
  AppendToBoardLog("protocol error: " + Line);
}

void LogModelNote(const std::string &Name, const std::string &Text) {
  AppendToBoardLog(ModelLine(Name, Text));
}

void DeviceModel::ProtocolError(const std::string &Text) {
  RecordProtocolError(ProtocolErrors_, Name_, Text);
}

bool DeviceModel::CheckAccess(uint64_t Offset, unsigned Width, unsigned ExpectedWidth) {
  if (Width == ExpectedWidth && Offset % ExpectedWidth == 0) {
    return true;
  }
  char Text[96];
  std::snprintf(Text, sizeof(Text),
                "%u-byte access at offset 0x%llX (the block takes aligned %u-byte accesses)", Width,
                static_cast<unsigned long long>(Offset), ExpectedWidth);
  ProtocolError(Text);
  return false;
}

} // namespace host

namespace host {

void DeviceModel::After(uint64_t DelayNs, std::function<void()> Work) {
  Platform::Current().After(DelayNs, [this, Scheduled = Generation_, Work = std::move(Work)] {
    if (Scheduled == Generation_) {
      Work();
    }
  });
}

} // namespace host

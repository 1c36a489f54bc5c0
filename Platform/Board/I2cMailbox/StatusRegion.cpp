// The status-region model.
#include "StatusRegion.h"

namespace host {

void StatusRegion::Reset() {
  Words_.clear();
  SetWord(kFirmwareStatus, 0x00000013);
  SetWord(kBuildDate, 0x20261130);
  SetWord(kFeatures, 0x005A0027);
  SetWord(kLoadActivity, 0x00000001);
}

uint32_t StatusRegion::Word(uint64_t Offset) const {
  auto Found = Words_.find(Offset & ~uint64_t(3));
  return Found == Words_.end() ? 0 : Found->second;
}

uint64_t StatusRegion::Read(uint64_t Offset, unsigned Width) {
  CheckAccess(Offset, Width, 4);
  if (BeforeRead_) {
    BeforeRead_();
  }
  const uint64_t Shift = (Offset & 3) * 8;
  return Word(Offset) >> Shift;
}

} // namespace host

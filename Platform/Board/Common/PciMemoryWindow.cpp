// Routing of a root bridge's memory window to the BARs of its functions.
#include "PciMemoryWindow.h"

#include <cstdio>

namespace host {

std::optional<PciFunction::Decode> PciMemoryWindow::Route(uint64_t Offset, unsigned Width, bool IsWrite) {
  for (const std::shared_ptr<PciFunction> &Function : Functions_) {
    if (auto Found = Function->DecodeMemory(Base_ + Offset, Width)) {
      return Found;
    }
  }
  char Text[96];
  std::snprintf(Text, sizeof(Text), "master abort: %u-byte %s at 0x%llX, no BAR decodes it", Width,
                IsWrite ? "write" : "read", static_cast<unsigned long long>(Base_ + Offset));
  ProtocolError(Text);
  return std::nullopt;
}

uint64_t PciMemoryWindow::Read(uint64_t Offset, unsigned Width) {
  auto Target = Route(Offset, Width, false);
  return Target ? Target->Device->Read(Target->Offset, Width) : ~0ull;
}

void PciMemoryWindow::Write(uint64_t Offset, unsigned Width, uint64_t Value) {
  if (auto Target = Route(Offset, Width, true)) {
    Target->Device->Write(Target->Offset, Width, Value);
  }
}

std::vector<std::string> PciMemoryWindow::ProtocolErrors() const {
  std::vector<std::string> All = DeviceModel::ProtocolErrors();
  for (const std::shared_ptr<PciFunction> &Function : Functions_) {
    All.insert(All.end(), Function->ProtocolErrors().begin(), Function->ProtocolErrors().end());
  }
  return All;
}

void PciMemoryWindow::Reset() {
  for (const std::shared_ptr<PciFunction> &Function : Functions_) {
    Function->Reset();
  }
}

} // namespace host

// The 32-bit register file of the device models.
#include "RegisterFile.h"

#include <stdexcept>

namespace host {

RegisterFile::RegisterFile(std::initializer_list<RegisterSpec> Specs) {
  for (const RegisterSpec &Spec : Specs) {
    if (!Registers_.emplace(Spec.Offset, Register{Spec, Spec.ResetValue}).second) {
      throw std::invalid_argument("RegisterFile: two registers at offset " + std::to_string(Spec.Offset));
    }
  }
}

const std::string &RegisterFile::NameOf(uint64_t Offset) const {
  static const std::string None;
  auto Found = Registers_.find(Offset);
  return Found != Registers_.end() ? Found->second.Spec.Name : None;
}

uint32_t RegisterFile::Get(uint64_t Offset) const {
  auto Found = Registers_.find(Offset);
  return Found != Registers_.end() ? Found->second.Value : 0;
}

void RegisterFile::Set(uint64_t Offset, uint32_t Value) {
  auto Found = Registers_.find(Offset);
  if (Found != Registers_.end()) {
    Found->second.Value = Value;
  }
}

bool RegisterFile::Write(uint64_t Offset, uint32_t Value) {
  auto Found = Registers_.find(Offset);
  if (Found == Registers_.end()) {
    return false;
  }
  const uint32_t Mask = Found->second.Spec.WritableMask;
  Found->second.Value = (Found->second.Value & ~Mask) | (Value & Mask);
  return true;
}

void RegisterFile::Reset() {
  for (auto &[Offset, Entry] : Registers_) {
    Entry.Value = Entry.Spec.ResetValue;
  }
}

} // namespace host

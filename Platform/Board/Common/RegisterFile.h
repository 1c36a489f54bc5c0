// A file of 32-bit registers at named offsets, with power-on values and writable bits, for
// models whose registers mostly store what is written.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <map>
#include <string>

namespace host {

struct RegisterSpec {
  uint64_t Offset = 0;
  std::string Name;
  uint32_t ResetValue = 0;
  uint32_t WritableMask = 0xFFFFFFFF; // bits outside keep their value on a write
};

class RegisterFile {
public:
  RegisterFile(std::initializer_list<RegisterSpec> Specs);

  bool Has(uint64_t Offset) const { return Registers_.count(Offset) != 0; }
  const std::string &NameOf(uint64_t Offset) const; // "" for an offset without a register
  uint32_t Get(uint64_t Offset) const;              // 0 for an offset without a register
  void Set(uint64_t Offset, uint32_t Value);        // the model's side: every bit
  // The bus side: only the writable bits change. Returns false for an offset without a register.
  bool Write(uint64_t Offset, uint32_t Value);
  void Reset();

private:
  struct Register {
    RegisterSpec Spec;
    uint32_t Value = 0;
  };
  std::map<uint64_t, Register> Registers_;
};

} // namespace host

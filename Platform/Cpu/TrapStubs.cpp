// The page of trap stubs and the services behind them.
#include "TrapStubs.h"

#include "Aarch64Cpu.h"
#include "CpuCommon.h"

#include <cstring>
#include <stdexcept>
#include <string>

namespace cpu {

namespace {

constexpr uint32_t SvcBase = 0xD4000001; // svc #imm16: imm16 in bits [20:5]
constexpr unsigned SvcImmediateShift = 5;
constexpr uint32_t Ret = 0xD65F03C0; // ret (x30)
constexpr uint32_t Brk = 0xD4200000; // fills the rest of the page: a jump there is a fault

void WriteStub(uint8_t *At, uint32_t Number) {
  const uint32_t Words[] = {SvcBase | Number << SvcImmediateShift, Ret};
  std::memcpy(At, Words, sizeof(Words));
}

} // namespace

// Arguments past the eighth are 8-byte slots upwards from the stack pointer at the call.
uint64_t GuestFrame::StackArgument(unsigned Index) const {
  uint64_t Value = 0;
  if (!Cpu_.Ram().Read(Sp_ + (Index - ArgumentRegisters) * ArgumentBytes, &Value, sizeof(Value))) {
    throw std::out_of_range("stack argument " + std::to_string(Index) + " is outside RAM");
  }
  return Value;
}

TrapStubs::TrapStubs(uint64_t Base, uint8_t *Host) : Base_(Base), Host_(Host) {
  for (uint64_t Offset = 0; Offset < PageBytes; Offset += sizeof(Brk)) {
    std::memcpy(Host_ + Offset, &Brk, sizeof(Brk));
  }
  WriteStub(Host_, ReturnNumber);
}

uint64_t TrapStubs::Add(std::string Name, ServiceFunction Run) {
  const uint64_t Number = Services_.size() + 1;
  if ((Number + 1) * StubBytes > PageBytes) {
    throw std::length_error("the trap stub page is full: no stub for " + Name);
  }
  WriteStub(Host_ + Number * StubBytes, static_cast<uint32_t>(Number));
  Services_.push_back({std::move(Name), std::move(Run)});
  return Base_ + Number * StubBytes;
}

} // namespace cpu

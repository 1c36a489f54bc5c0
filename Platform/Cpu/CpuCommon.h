// What the processor's units share: the procedure-call standard's argument slots and the way
// addresses and values are written in messages.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace cpu {

// AAPCS64: the first eight arguments travel in X0-X7, the rest in 8-byte stack slots.
inline constexpr unsigned ArgumentRegisters = 8;
inline constexpr uint64_t ArgumentBytes = 8;

// "0x1F": addresses and values in fault messages and the board log.
inline std::string Hex(uint64_t Value) {
  char Text[24];
  std::snprintf(Text, sizeof(Text), "0x%llX", static_cast<unsigned long long>(Value));
  return Text;
}

} // namespace cpu

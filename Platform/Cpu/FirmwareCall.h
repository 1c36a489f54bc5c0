// The one way host code calls a function pointer that firmware handed it (an entry point, a
// Driver Binding member, a notify function, a protocol member): natively when the pointer is host
// code (the host build's shared objects), on the AArch64 processor when it is guest code (the
// .efi images). Arguments and the result travel as AAPCS64 registers.
#pragma once

#include "Aarch64Cpu.h"

#include <span>
#include <type_traits>
#include <utility>

namespace cpu {

template <typename R, typename... Params, typename... Args>
R CallFirmware(Aarch64Cpu *Cpu, R (*Function)(Params...), Args &&...Arguments) {
  static_assert(sizeof...(Params) == sizeof...(Args), "one argument per parameter");
  const uint64_t Address = reinterpret_cast<uint64_t>(Function);
  if (Cpu == nullptr || !Cpu->IsGuestCode(Address)) {
    return Function(std::forward<Args>(Arguments)...);
  }
  const uint64_t Registers[sizeof...(Params) + 1] = {ToRegister<Params>(std::forward<Args>(Arguments))...};
  const uint64_t Result = Cpu->CallGuest(Address, std::span<const uint64_t>(Registers, sizeof...(Params)));
  if constexpr (!std::is_void_v<R>) {
    return FromRegister<R>(Result);
  }
}

} // namespace cpu

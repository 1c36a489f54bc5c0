// The two directions of a call between host code and firmware.
//
// CallFirmware is the one way host code calls a function pointer that firmware handed it (an entry point, a
// Driver Binding member, a notify function, a protocol member): natively when the pointer is host
// code (the host build's shared objects), on the AArch64 processor when it is guest code (the
// .efi images). Arguments and the result travel as AAPCS64 registers.
#pragma once

#include "Aarch64Cpu.h"

#include <array>
#include <span>
#include <stdexcept>
#include <type_traits>
#include <utility>

namespace cpu {

template <typename R, typename... Params, typename... Args>
R CallFirmware(Aarch64Cpu *Cpu, R (*Function)(Params...), Args &&...Arguments) {
  static_assert(sizeof...(Params) == sizeof...(Args), "one argument per parameter");
  if (Cpu == nullptr) {
    return Function(std::forward<Args>(Arguments)...);
  }
  const uint64_t Address = reinterpret_cast<uint64_t>(Function);
  if (!Cpu->IsGuestCode(Address)) {
    Aarch64Cpu::CallerScope HostActs(*Cpu, 0, 0); // host code calling host code: no guest caller
    return Function(std::forward<Args>(Arguments)...);
  }
  const uint64_t Registers[sizeof...(Params) + 1] = {ToRegister<Params>(std::forward<Args>(Arguments))...};
  const uint64_t Result = Cpu->CallGuest(Address, std::span<const uint64_t>(Registers, sizeof...(Params)));
  if constexpr (!std::is_void_v<R>) {
    return FromRegister<R>(Result);
  }
}

// Who a host function acts for when firmware calls it: a core service answers for its guest
// caller (Aarch64Cpu::ServiceCaller); a producer's member is host code acting on its own, as in
// the host build, where what it calls sees a host return address.
enum class ActsFor { Host, GuestCaller };

// ExportFunction gives the pointer firmware gets for a host function (a service table member, a
// producer's protocol member): the function itself in the host build, its trap stub when the
// images run on the processor.
template <typename R, typename... Params>
auto ExportFunction(Aarch64Cpu *Cpu, const char *Name, R (*Function)(Params...),
                    ActsFor Acting = ActsFor::Host) -> R (*)(Params...) {
  if (Cpu == nullptr) {
    return Function;
  }
  const uint64_t Stub =
      Cpu->ExportService(reinterpret_cast<uint64_t>(Function), Name, [&]() -> ServiceFunction {
        return [Acting, Function](const GuestFrame &Frame) {
          Aarch64Cpu::CallerScope Caller(Frame.Cpu(), Acting == ActsFor::GuestCaller ? Frame.Lr() : 0,
                                         Frame.Lr());
          return CallNative(Function, Frame);
        };
      });
  return reinterpret_cast<R (*)(Params...)>(Stub);
}

// The variadic services of the boot services (Install/UninstallMultipleProtocolInterfaces) take
// a NULL-terminated list of pointer pairs: the guest's list, read from its registers and stack
// up to the terminator, is passed on as the host call's own variadic arguments (those past the
// terminator are NULL and ignored).
constexpr unsigned MaxVariadicPairs = 16;

template <typename R, typename First>
auto ExportFunction(Aarch64Cpu *Cpu, const char *Name, R (*Function)(First, ...),
                    ActsFor Acting = ActsFor::Host) -> R (*)(First, ...) {
  if (Cpu == nullptr) {
    return Function;
  }
  const auto Run = [Function, Acting](const GuestFrame &Frame) -> uint64_t {
    Aarch64Cpu::CallerScope Caller(Frame.Cpu(), Acting == ActsFor::GuestCaller ? Frame.Lr() : 0, Frame.Lr());
    std::array<void *, 2 * MaxVariadicPairs + 1> List{};
    unsigned Index = 0;
    for (; Index < List.size(); Index++) {
      List[Index] = FromRegister<void *>(Frame.Argument(Index + 1));
      if (Index % 2 == 0 && List[Index] == nullptr) {
        break;
      }
    }
    if (Index == List.size()) {
      throw std::length_error("more than " + std::to_string(MaxVariadicPairs) + " pairs in a variadic call");
    }
    return [&]<size_t... At>(std::index_sequence<At...>) {
      return ToRegister<R>(Function(FromRegister<First>(Frame.Argument(0)), List[At]...));
    }
    (std::make_index_sequence<List.size()>{});
  };
  const uint64_t Stub = Cpu->ExportService(reinterpret_cast<uint64_t>(Function), Name, [&] { return Run; });
  return reinterpret_cast<R (*)(First, ...)>(Stub);
}

} // namespace cpu

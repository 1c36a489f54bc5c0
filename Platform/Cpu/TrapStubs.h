// Host services reachable from guest code: each service has a stub in one page of guest memory,
// "svc #N; ret", where N is its number. A call to the stub traps into the processor, which runs
// the service with the caller's AAPCS64 arguments and returns its result in X0. Number 0 is the
// return stub: guest code that the host called returns there, which ends the host's call.
#pragma once

#include "CpuCommon.h"

#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

namespace cpu {

class Aarch64Cpu;

// The guest's arguments at a call into a host service: X0-X7, then the stack (AAPCS64; variadic
// arguments are passed the same way on this procedure-call standard).
// The frame refers to the caller's registers (at least X0-X7), which must outlive it: a trap
// reads them once, in one call, and every argument is then a load.
class GuestFrame {
public:
  GuestFrame(Aarch64Cpu &Cpu, const uint64_t *Registers, uint64_t Sp, uint64_t Lr = 0)
      : Cpu_(Cpu), Registers_(Registers), Sp_(Sp), Lr_(Lr) {}
  uint64_t Argument(unsigned Index) const {
    return Index < ArgumentRegisters ? Registers_[Index] : StackArgument(Index);
  }
  uint64_t Sp() const { return Sp_; }
  uint64_t Lr() const { return Lr_; } // where the call returns to in the guest's code
  Aarch64Cpu &Cpu() const { return Cpu_; }

private:
  uint64_t StackArgument(unsigned Index) const;

  Aarch64Cpu &Cpu_;
  const uint64_t *Registers_;
  uint64_t Sp_;
  uint64_t Lr_;
};

using ServiceFunction = std::function<uint64_t(const GuestFrame &)>;

// A value as it travels in a 64-bit register, and back. A record of up to 8 bytes travels as its
// bytes (AAPCS64 passes small composites in general registers).
template <typename T> uint64_t ToRegister(T Value) {
  if constexpr (std::is_pointer_v<T>) {
    return reinterpret_cast<uint64_t>(Value);
  } else if constexpr (std::is_class_v<T>) {
    static_assert(sizeof(T) <= sizeof(uint64_t) && std::is_trivially_copyable_v<T>,
                  "a record in one register");
    uint64_t Register = 0;
    std::memcpy(&Register, &Value, sizeof(T));
    return Register;
  } else {
    return static_cast<uint64_t>(Value);
  }
}
template <typename T> T FromRegister(uint64_t Value) {
  if constexpr (std::is_pointer_v<T>) {
    return reinterpret_cast<T>(Value);
  } else if constexpr (std::is_same_v<T, bool>) {
    return (Value & 0xFF) != 0; // a bool occupies the low byte; the rest is unspecified
  } else if constexpr (std::is_class_v<T>) {
    static_assert(sizeof(T) <= sizeof(uint64_t) && std::is_trivially_copyable_v<T>,
                  "a record in one register");
    T Record;
    std::memcpy(&Record, &Value, sizeof(T));
    return Record;
  } else {
    return static_cast<T>(Value);
  }
}

// Calls a native function with the guest's arguments converted to its parameter types (pointers,
// integers, enums; guest and host addresses of RAM are the same); its result as a register.
template <typename R, typename... Params>
inline uint64_t CallNative(R (*Function)(Params...), const GuestFrame &Frame) {
  return [&]<size_t... Index>(std::index_sequence<Index...>)->uint64_t {
    if constexpr (std::is_void_v<R>) {
      Function(FromRegister<Params>(Frame.Argument(Index))...);
      return 0;
    } else {
      return ToRegister<R>(Function(FromRegister<Params>(Frame.Argument(Index))...));
    }
  }
  (std::index_sequence_for<Params...>{});
}

// A service that calls a native function with the guest's arguments (CallNative).
template <typename R, typename... Params> ServiceFunction Native(R (*Function)(Params...)) {
  return [Function](const GuestFrame &Frame) -> uint64_t { return CallNative(Function, Frame); };
}

class TrapStubs {
public:
  static constexpr uint32_t ReturnNumber = 0;
  static constexpr uint64_t StubBytes = 8; // svc; ret
  static constexpr uint64_t PageBytes = 4096;

  // Host writes the return stub at Base, which must be a page of guest RAM at Host.
  TrapStubs(uint64_t Base, uint8_t *Host);
  uint64_t Base() const { return Base_; }
  uint64_t ReturnAddress() const { return Base_; }
  // The stub address of a new service; throws std::length_error when the page is full.
  uint64_t Add(std::string Name, ServiceFunction Run);

  struct Service {
    std::string Name;
    ServiceFunction Run;
  };
  // The service whose stub's svc is at Pc with immediate Number, or nullptr when Pc is not that
  // stub (an svc of an image, or a jump into the middle of the page).
  const Service *At(uint64_t Pc, uint32_t Number) const {
    if (Number == ReturnNumber || Number > Services_.size() || Pc != Base_ + Number * StubBytes) {
      return nullptr;
    }
    return &Services_[Number - 1];
  }
  bool IsReturn(uint64_t Pc, uint32_t Number) const { return Pc == Base_ && Number == ReturnNumber; }

private:
  uint64_t Base_;
  uint8_t *Host_;
  std::vector<Service> Services_; // index = number - 1
};

} // namespace cpu

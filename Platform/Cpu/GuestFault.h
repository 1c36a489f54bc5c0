// A fault of guest code on the AArch64 processor: what went wrong, where, and the frames above.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace cpu {

enum class FaultKind {
  UndefinedInstruction, // an encoding the processor does not implement, or a register at a higher level
  ForbiddenException,   // svc, hvc, smc or brk from an image
  Breakpoint,           // the halt breakpoint (brk #0xf000, CpuBreakpoint)
  DeadLoop,             // a wait for an interrupt, which never comes (CpuDeadLoop's loop)
  WriteToCode,          // a store to an executable page
  ExecuteData,          // a jump into data or a return to a corrupted address
  StackOverflow,        // an access to the guard page under a stack
  AlignmentFault,       // an unaligned access to device memory (MMU off, or outside RAM)
  BusError,             // the board refused an access outside RAM
  StackImbalance,       // a function returned with another stack pointer than it was called with
  NestingTooDeep,       // calls between host and guest nested beyond the processor's levels
  Interrupted,          // the board stopped the guest (Aarch64Cpu::Interrupt)
};

const char *FaultName(FaultKind Kind);

class GuestFault : public std::runtime_error {
public:
  GuestFault(FaultKind Kind, uint64_t Pc, uint64_t Address, const std::string &What)
      : std::runtime_error(What), Kind(Kind), Pc(Pc), Address(Address) {}
  FaultKind Kind;
  uint64_t Pc;      // the instruction that faulted
  uint64_t Address; // the data address, target or operand the fault names (0 when none)
};

} // namespace cpu

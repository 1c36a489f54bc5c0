// The JIT's callbacks. What this version of the JIT (dynarmic 6.4) does, which the code relies on:
// - Accesses through the page table to a null entry, beyond the table, or misaligned (with
//   detect_misaligned_access_via_page_table) come to MemoryRead*/MemoryWrite*. The page table
//   has no permissions, so code and guard pages are left out of it and checked here.
// - Halting with HaltReason::MemoryAbort inside a memory callback stops the JIT before the next
//   instruction (check_halt_on_memory_access) with the PC at the faulting one; other halt reasons
//   are seen only at the end of a block.
// - Instructions are fetched through MemoryReadCode when translated; a nullopt there raises
//   Exception::NoExecuteFault at that PC, ending the block (the instructions before it in the
//   block run first). The code of another image is fetched so: the JIT stops where the guest
//   enters it, and the processor goes on in that image's JIT.
// - CallSVC runs with the PC already past the svc. brk raises Exception::Breakpoint; wfi, wfe,
//   yield and sev raise their hint exceptions even without hook_hint_instructions. Every system
//   instruction the JIT does not run itself, hvc, smc and unallocated encodings (udf included)
//   reach InterpreterFallback.
#include "JitCallbacks.h"

#include "CpuCommon.h"

#include <array>
#include <cstdio>
#include <cstring>
#include <utility>

namespace cpu {

namespace {

using Dynarmic::A64::DataCacheOperation;
using Dynarmic::A64::Exception;

constexpr uint32_t BrkImmediateShift = 5;
constexpr uint32_t ImmediateMask = 0xFFFF;
constexpr uint32_t HaltBreakpoint = 0xF000; // brk #0xf000: CpuBreakpoint, the images' halt
constexpr uint64_t InstructionBytes = 4;
constexpr unsigned LinkRegister = 30;       // X30: where a call returns
constexpr size_t GeneralRegisterCount = 31; // X0-X30, as the JIT hands them over
constexpr uint64_t ZeroBlockBytes = 64;     // DC ZVA's block: 4 << DCZID_EL0.BS, the JIT's default 4

// The guest's general registers through the JIT, for the instructions emulated here.
class JitRegisters final : public GeneralRegisters {
public:
  explicit JitRegisters(Dynarmic::A64::Jit &Jit) : Jit_(Jit) {}
  uint64_t Get(unsigned Index) const override { return Jit_.GetRegister(Index); }
  void Set(unsigned Index, uint64_t Value) override { Jit_.SetRegister(Index, Value); }

private:
  Dynarmic::A64::Jit &Jit_;
};

// "hvc #0x0" or "smc #0x0" (the only exception calls that reach the fallback).
std::string ExceptionCall(uint32_t Instruction) {
  constexpr uint32_t HvcLow = 2;
  constexpr uint32_t LowMask = 3;
  return std::string((Instruction & LowMask) == HvcLow ? "hvc #" : "smc #") +
         Hex((Instruction >> BrkImmediateShift) & ImmediateMask);
}

DataCacheOp BoardOperation(DataCacheOperation Operation) {
  switch (Operation) {
  case DataCacheOperation::CleanAndInvalidateBySetWay:
    return DataCacheOp::CleanInvalidateBySetWay;
  case DataCacheOperation::CleanAndInvalidateByVAToPoC:
    return DataCacheOp::CleanInvalidateByAddress;
  case DataCacheOperation::CleanBySetWay:
    return DataCacheOp::CleanBySetWay;
  case DataCacheOperation::CleanByVAToPoC:
    return DataCacheOp::CleanByAddress;
  case DataCacheOperation::CleanByVAToPoU:
    return DataCacheOp::CleanByAddressToUnification;
  case DataCacheOperation::CleanByVAToPoP:
    return DataCacheOp::CleanByAddressToPersistence;
  case DataCacheOperation::InvalidateBySetWay:
    return DataCacheOp::InvalidateBySetWay;
  case DataCacheOperation::InvalidateByVAToPoC:
    return DataCacheOp::InvalidateByAddress;
  case DataCacheOperation::ZeroByVA:
    break;
  }
  return DataCacheOp::ZeroByAddress;
}

} // namespace

void JitCallbacks::Fault(FaultKind Kind, std::optional<uint64_t> Pc, uint64_t Address, std::string Detail) {
  if (!Stop.Fault) {
    Stop.Fault = Kind;
    Stop.Pc = Pc;
    Stop.Address = Address;
    Stop.Detail = std::move(Detail);
  }
  Jit_->HaltExecution(Pc ? Dynarmic::HaltReason::UserDefined2 : Dynarmic::HaltReason::MemoryAbort);
}

// Code of this JIT's image, and code of no image (the trap stubs); nothing elsewhere.
std::optional<std::uint32_t> JitCallbacks::MemoryReadCode(Dynarmic::A64::VAddr Address) {
  if (const uint64_t Image = Cpu_.ImageOf(Address); Image != 0 && Image != Image_) {
    return std::nullopt; // another image's: ExceptionRaised hands the call to a JIT of that image
  }
  uint32_t Instruction = 0;
  if (!Cpu_.Ram().IsExecutable(Address) || !Cpu_.Ram().Read(Address, &Instruction, sizeof(Instruction))) {
    return std::nullopt;
  }
  Cpu_.Board().CodeTranslated();
  return Instruction;
}

Dynarmic::A64::Vector JitCallbacks::MemoryRead128(Dynarmic::A64::VAddr Address) {
  Dynarmic::A64::Vector Value{};
  Access(Address, sizeof(Value), false, Value.data());
  return Value;
}

void JitCallbacks::MemoryWrite128(Dynarmic::A64::VAddr Address, Dynarmic::A64::Vector Value) {
  Access(Address, sizeof(Value), true, Value.data());
}

bool JitCallbacks::Access(uint64_t Address, unsigned Width, bool IsWrite, void *Data) {
  if (Cpu_.Ram().AccessOf(Address)) {
    return RamAccess(Address, Width, IsWrite, Data);
  }
  return BusAccess(Address, Width, IsWrite, Data);
}

// RAM outside the page table: a misaligned access, or a code or guard page.
bool JitCallbacks::RamAccess(uint64_t Address, unsigned Width, bool IsWrite, void *Data) {
  const GuestMemory &Ram = Cpu_.Ram();
  const uint64_t Last = Address + Width - 1;
  const std::optional<PageAccess> First = Ram.AccessOf(Address), End = Ram.AccessOf(Last);
  const char *Kind = IsWrite ? "write" : "read";
  if (!End) {
    Fault(FaultKind::BusError, std::nullopt, Address, std::string(Kind) + " past the end of RAM");
  } else if (First == PageAccess::Guard || End == PageAccess::Guard) {
    Fault(FaultKind::StackOverflow, std::nullopt, Address, std::string(Kind) + " of " + Hex(Address));
  } else if (Address % Width != 0 &&
             (!Cpu_.Registers().MmuEnabled() || Cpu_.Registers().AlignmentChecked())) {
    Fault(FaultKind::AlignmentFault, std::nullopt, Address,
          std::to_string(Width) + "-byte " + Kind + " of " + Hex(Address) +
              (Cpu_.Registers().MmuEnabled() ? " with alignment checks on" : " with the MMU off"));
  } else if (IsWrite && (First == PageAccess::ReadExecute || End == PageAccess::ReadExecute)) {
    Fault(FaultKind::WriteToCode, std::nullopt, Address, "store to " + Ram.Describe(Address));
  } else {
    return IsWrite ? Cpu_.Ram().Write(Address, Data, Width) : Ram.Read(Address, Data, Width);
  }
  return false;
}

// Device memory: the board's models, with the alignment rule of device accesses.
bool JitCallbacks::BusAccess(uint64_t Address, unsigned Width, bool IsWrite, void *Data) {
  ProfileScope Profiled(Cpu_.Profile(), CpuProfile::Bus);
  const char *Kind = IsWrite ? "write" : "read";
  if (Width > sizeof(uint64_t) || Address % Width != 0) {
    Fault(FaultKind::AlignmentFault, std::nullopt, Address,
          std::to_string(Width) + "-byte " + Kind + " of device memory at " + Hex(Address));
    return false;
  }
  uint64_t Value = 0;
  std::memcpy(&Value, Data, IsWrite ? Width : 0);
  bool Done = false;
  try {
    Done = IsWrite ? Cpu_.Board().Write(Address, Width, Value) : Cpu_.Board().Read(Address, Width, Value);
  } catch (...) { // a halt of the board: the guest stops here
    Stop.Thrown = std::current_exception();
    Jit_->HaltExecution(Dynarmic::HaltReason::MemoryAbort);
    return false;
  }
  if (!Done) {
    Fault(FaultKind::BusError, std::nullopt, Address,
          std::to_string(Width) + "-byte " + Kind + " of " + Hex(Address));
    return false;
  }
  if (!IsWrite) {
    std::memcpy(Data, &Value, Width);
  }
  return true;
}

// Exclusive stores: a compare-and-swap on RAM that may be written (the monitor holds Expected).
template <typename T> bool JitCallbacks::Exchange(uint64_t Address, T Value, T Expected) {
  uint8_t *Host = Cpu_.Ram().HostOf(Address);
  if (Host == nullptr || Cpu_.Ram().AccessOf(Address) != PageAccess::ReadWrite || Address % sizeof(T) != 0) {
    Fault(FaultKind::BusError, std::nullopt, Address, "exclusive store to " + Cpu_.Ram().Describe(Address));
    return false;
  }
  return __atomic_compare_exchange_n(reinterpret_cast<T *>(Host), &Expected, Value, false, __ATOMIC_SEQ_CST,
                                     __ATOMIC_SEQ_CST);
}

void JitCallbacks::InterpreterFallback(Dynarmic::A64::VAddr Pc, size_t Instructions) {
  JitRegisters Registers(*Jit_);
  for (size_t Index = 0; Index < Instructions; Index++, Pc += InstructionBytes) {
    uint32_t Instruction = 0;
    Cpu_.Ram().Read(Pc, &Instruction, sizeof(Instruction));
    switch (Cpu_.Registers().Execute(Instruction, Registers, Cpu_)) {
    case SystemRegisters::Outcome::Done:
      continue;
    case SystemRegisters::Outcome::Undefined:
      return Fault(FaultKind::UndefinedInstruction, Pc, Instruction, "instruction " + Hex(Instruction));
    case SystemRegisters::Outcome::Forbidden:
      return Fault(FaultKind::ForbiddenException, Pc, Instruction, ExceptionCall(Instruction));
    }
  }
  Jit_->SetPC(Pc);
}

// A read moves the board's clock, which runs the work due meanwhile and checks the watchdogs:
// what that throws (a halt) stops the guest and passes to the caller.
std::uint64_t JitCallbacks::GetCNTPCT() {
  ProfileScope Profiled(Cpu_.Profile(), CpuProfile::Counter);
  try {
    return Cpu_.Board().CounterTicks(std::exchange(AfterBarrier_, false));
  } catch (...) {
    Stop.Thrown = std::current_exception();
    Jit_->HaltExecution(Dynarmic::HaltReason::UserDefined2);
    return 0;
  }
}

void JitCallbacks::CallSVC(std::uint32_t Number) {
  const uint64_t Pc = Jit_->GetPC() - InstructionBytes;
  const TrapStubs *Stubs = Cpu_.Stubs();
  if (Stubs != nullptr && Stubs->IsReturn(Pc, Number)) {
    Stop.Returned = true;
    Jit_->HaltExecution(Dynarmic::HaltReason::UserDefined1);
  } else if (const TrapStubs::Service *Service = Stubs == nullptr ? nullptr : Stubs->At(Pc, Number)) {
    RunService(*Service);
  } else {
    Fault(FaultKind::ForbiddenException, Pc, Number, "svc #" + Hex(Number));
  }
}

// The service runs with the guest's arguments; its result goes to X0, and the stub's ret
// returns to the guest caller.
void JitCallbacks::RunService(const TrapStubs::Service &Service) {
  ProfileScope Profiled(Cpu_.Profile(), CpuProfile::Service);
  const std::array<uint64_t, GeneralRegisterCount> Registers = Jit_->GetRegisters();
  try {
    Cpu_.Board().Settle();
    Jit_->SetRegister(
        0, Service.Run(GuestFrame(Cpu_, Registers.data(), Jit_->GetSP(), Registers[LinkRegister])));
  } catch (...) {
    Stop.Thrown = std::current_exception();
    Jit_->HaltExecution(Dynarmic::HaltReason::UserDefined2);
  }
}

void JitCallbacks::ExceptionRaised(Dynarmic::A64::VAddr Pc, Dynarmic::A64::Exception Exception) {
  uint32_t Instruction = 0;
  Cpu_.Ram().Read(Pc, &Instruction, sizeof(Instruction));
  switch (Exception) {
  case Exception::Breakpoint: {
    const uint32_t Immediate = (Instruction >> BrkImmediateShift) & ImmediateMask;
    if (Immediate == HaltBreakpoint) {
      return Fault(FaultKind::Breakpoint, Pc, Immediate, "breakpoint");
    }
    return Fault(FaultKind::ForbiddenException, Pc, Immediate, "brk #" + Hex(Immediate));
  }
  case Exception::NoExecuteFault:
    if (Cpu_.Ram().IsExecutable(Pc) && Cpu_.ImageOf(Pc) != Image_) {
      Stop.Enter = Pc; // another image's code: its JIT goes on from here
      Jit_->SetPC(Pc);
      return Jit_->HaltExecution(Dynarmic::HaltReason::UserDefined2);
    }
    return Fault(FaultKind::ExecuteData, Pc, Pc, "no code there");
  case Exception::WaitForInterrupt:
    // The board delivers no interrupts to the processor (its timers are the core's events), so
    // a wait for one never ends: the images' dead loop waits so, and stops here as a halt.
    return Fault(FaultKind::DeadLoop, Pc, 0, "wait for an interrupt that never comes");
  case Exception::WaitForEvent:
  case Exception::SendEvent:
  case Exception::SendEventLocal:
  case Exception::Yield:
    // One processor, no interrupts: the hints do nothing and the guest goes on.
    return Jit_->SetPC(Pc + InstructionBytes);
  case Exception::UnallocatedEncoding:
  case Exception::ReservedValue:
  case Exception::UnpredictableInstruction:
    break;
  }
  Fault(FaultKind::UndefinedInstruction, Pc, Instruction, "instruction " + Hex(Instruction));
}

void JitCallbacks::DataCacheOperationRaised(Dynarmic::A64::DataCacheOperation Operation,
                                            Dynarmic::A64::VAddr Value) {
  ProfileScope Profiled(Cpu_.Profile(), CpuProfile::Bus);
  if (Operation == DataCacheOperation::ZeroByVA) {
    // With the operations hooked the JIT leaves DC ZVA's zeroing to the callback.
    const uint8_t Zeros[ZeroBlockBytes] = {};
    const uint64_t Block = Value & ~(ZeroBlockBytes - 1);
    if (!Access(Block, ZeroBlockBytes, true, const_cast<uint8_t *>(Zeros))) {
      return;
    }
  }
  Cpu_.DataCache(BoardOperation(Operation), Value);
}

// IC IALLU and IALLUIS invalidate the whole instruction cache, as ArmInvalidateInstructionCache
// does; IC IVAU by address has no ArmLib call to be recorded as.
void JitCallbacks::InstructionCacheOperationRaised(Dynarmic::A64::InstructionCacheOperation Operation,
                                                   Dynarmic::A64::VAddr) {
  if (Operation != Dynarmic::A64::InstructionCacheOperation::InvalidateByVAToPoU) {
    Cpu_.Operation("ArmInvalidateInstructionCache");
  }
}

} // namespace cpu

// The system registers and the instructions the JIT hands back for them. The A64 JIT runs
// barriers, CNTPCT/CNTFRQ/CTR/DCZID/TPIDR reads, DC and IC operations itself (the last two reach
// the processor's cache callbacks); every other system instruction, hvc, smc and every encoding
// it does not know (udf included) arrives here, one instruction at a time.
#include "SystemRegisters.h"

namespace cpu {

namespace {

constexpr uint16_t Key(unsigned Op0, unsigned Op1, unsigned CRn, unsigned CRm, unsigned Op2) {
  return static_cast<uint16_t>(Op0 << 14 | Op1 << 11 | CRn << 7 | CRm << 3 | Op2);
}

// Instruction fields.
constexpr uint32_t RtMask = 0x1F;
constexpr unsigned Zero = 31; // XZR as Rt
constexpr unsigned KeyShift = 5;
constexpr uint32_t KeyMask = 0xFFFF;
constexpr unsigned CRmShift = 8;
constexpr uint32_t CRmMask = 0xF;
constexpr unsigned Op1Shift = 16;
constexpr uint32_t Op1Mask = 0x7;
constexpr unsigned Op2Shift = 5;
constexpr uint32_t Op2Mask = 0x7;
constexpr unsigned CRnShift = 12;

// The encodings handled here: (instruction & Mask) == Match.
struct Encoding {
  uint32_t Mask;
  uint32_t Match;
};
constexpr Encoding Mrs{0xFFF00000, 0xD5300000};          // MRS Xt, <sysreg> (op0 2 or 3)
constexpr Encoding MsrRegister{0xFFF00000, 0xD5100000};  // MSR <sysreg>, Xt
constexpr Encoding MsrImmediate{0xFFF8F01F, 0xD500401F}; // MSR <pstatefield>, #imm
constexpr Encoding Sys{0xFFF80000, 0xD5080000};          // SYS: TLBI, AT, DC, IC (op0 1)
constexpr Encoding Hvc{0xFFE0001F, 0xD4000002};
constexpr Encoding Smc{0xFFE0001F, 0xD4000003};
constexpr bool Is(uint32_t Instruction, Encoding Form) {
  return (Instruction & Form.Mask) == Form.Match;
}

// MSR DAIFSet/DAIFClr: op1 3, op2 6/7; the immediate's four bits are D, A, I, F (DAIF bits 9..6).
constexpr uint32_t PstateDaifOp1 = 3;
constexpr uint32_t PstateDaifSetOp2 = 6;
constexpr uint32_t PstateDaifClearOp2 = 7;
constexpr unsigned DaifShift = 6;
constexpr uint64_t DaifIrq = 1ull << 7; // I
constexpr uint64_t DaifFiq = 1ull << 6; // F
constexpr uint32_t TlbiCRn = 8;

enum class Source { State, Identity, CurrentLevel, CacheSize };

struct RegisterInfo {
  const char *Name;
  uint16_t Key;
  unsigned Level; // the lowest exception level that may use it
  Source From;
  uint64_t ProcessorDescription::*Identity; // for Source::Identity
};

constexpr uint16_t CsselrKey = Key(3, 2, 0, 0, 0);
constexpr uint16_t DaifKey = Key(3, 3, 4, 2, 1);
constexpr uint16_t SctlrKeys[] = {Key(3, 0, 1, 0, 0), Key(3, 0, 1, 0, 0), Key(3, 4, 1, 0, 0),
                                  Key(3, 6, 1, 0, 0)};
constexpr unsigned CurrentElShift = 2;
constexpr uint64_t CsselrIndexMask = 0xF;

using P = ProcessorDescription;
constexpr RegisterInfo Registers[] = {
    {"MIDR_EL1", Key(3, 0, 0, 0, 0), 1, Source::Identity, &P::Midr},
    {"MPIDR_EL1", Key(3, 0, 0, 0, 5), 1, Source::Identity, &P::Mpidr},
    {"REVIDR_EL1", Key(3, 0, 0, 0, 6), 1, Source::Identity, &P::Revidr},
    {"ID_AA64MMFR0_EL1", Key(3, 0, 0, 7, 0), 1, Source::Identity, &P::IdAa64Mmfr0},
    {"ID_AA64MMFR2_EL1", Key(3, 0, 0, 7, 2), 1, Source::Identity, &P::IdAa64Mmfr2},
    {"CLIDR_EL1", Key(3, 1, 0, 0, 1), 1, Source::Identity, &P::Clidr},
    {"CCSIDR_EL1", Key(3, 1, 0, 0, 0), 1, Source::CacheSize, nullptr},
    {"CSSELR_EL1", CsselrKey, 1, Source::State, nullptr},
    {"CurrentEL", Key(3, 0, 4, 2, 2), 1, Source::CurrentLevel, nullptr},
    {"DAIF", DaifKey, 1, Source::State, nullptr},
    {"SCTLR_EL1", SctlrKeys[1], 1, Source::State, nullptr},
    {"SCTLR_EL2", SctlrKeys[2], 2, Source::State, nullptr},
    {"SCTLR_EL3", SctlrKeys[3], 3, Source::State, nullptr},
    {"HCR_EL2", Key(3, 4, 1, 1, 0), 2, Source::State, nullptr},
    {"TTBR0_EL1", Key(3, 0, 2, 0, 0), 1, Source::State, nullptr},
    {"TTBR0_EL2", Key(3, 4, 2, 0, 0), 2, Source::State, nullptr},
    {"TTBR0_EL3", Key(3, 6, 2, 0, 0), 3, Source::State, nullptr},
    {"TCR_EL1", Key(3, 0, 2, 0, 2), 1, Source::State, nullptr},
    {"TCR_EL2", Key(3, 4, 2, 0, 2), 2, Source::State, nullptr},
    {"TCR_EL3", Key(3, 6, 2, 0, 2), 3, Source::State, nullptr},
    {"MAIR_EL1", Key(3, 0, 10, 2, 0), 1, Source::State, nullptr},
    {"MAIR_EL2", Key(3, 4, 10, 2, 0), 2, Source::State, nullptr},
    {"MAIR_EL3", Key(3, 6, 10, 2, 0), 3, Source::State, nullptr},
    {"VBAR_EL1", Key(3, 0, 12, 0, 0), 1, Source::State, nullptr},
    {"VBAR_EL2", Key(3, 4, 12, 0, 0), 2, Source::State, nullptr},
    {"VBAR_EL3", Key(3, 6, 12, 0, 0), 3, Source::State, nullptr},
};

const RegisterInfo *Find(uint16_t Key) {
  for (const RegisterInfo &Info : Registers) {
    if (Info.Key == Key) {
      return &Info;
    }
  }
  return nullptr;
}

// The level a TLBI form acts at, from its op1: 0 EL1, 4 EL2, 6 EL3.
unsigned TlbiLevel(uint32_t Op1) {
  switch (Op1) {
  case 4:
    return 2;
  case 6:
    return 3;
  default:
    return 1;
  }
}

} // namespace

SystemRegisters::SystemRegisters(const ProcessorDescription &Processor) : Processor_(Processor) {
  for (const RegisterInfo &Info : Registers) {
    if (Info.From == Source::State) {
      State_[Info.Key] = 0;
    }
  }
  for (unsigned Level = 1; Level < 4; Level++) {
    State_[SctlrKeys[Level]] = Processor.Sctlr;
  }
  State_[DaifKey] = Processor.Daif;
}

bool SystemRegisters::SetIdentity(const std::string &Name, uint64_t Value) {
  for (const RegisterInfo &Info : Registers) {
    if (Info.From == Source::Identity && Name == Info.Name) {
      Processor_.*(Info.Identity) = Value;
      return true;
    }
  }
  return false;
}

uint64_t SystemRegisters::Sctlr() const {
  return State_.at(SctlrKeys[ExceptionLevel()]);
}
uint64_t SystemRegisters::Daif() const {
  return State_.at(DaifKey);
}

bool SystemRegisters::Read(uint16_t Key, uint64_t &Value) const {
  const RegisterInfo *Info = Find(Key);
  if (Info == nullptr || Info->Level > ExceptionLevel()) {
    return false;
  }
  switch (Info->From) {
  case Source::State:
    Value = State_.at(Key);
    break;
  case Source::Identity:
    Value = Processor_.*(Info->Identity);
    break;
  case Source::CurrentLevel:
    Value = static_cast<uint64_t>(ExceptionLevel()) << CurrentElShift;
    break;
  case Source::CacheSize:
    Value = Processor_.Ccsidr[State_.at(CsselrKey) & CsselrIndexMask];
    break;
  }
  return true;
}

bool SystemRegisters::Write(uint16_t Key, uint64_t Value) {
  const RegisterInfo *Info = Find(Key);
  if (Info == nullptr || Info->Level > ExceptionLevel() || Info->From != Source::State) {
    return false;
  }
  State_[Key] = Value;
  return true;
}

SystemRegisters::Outcome SystemRegisters::Execute(uint32_t Instruction, GeneralRegisters &Gpr,
                                                  ProcessorEvents &Events) {
  if (Is(Instruction, Mrs)) {
    return MoveFrom(Instruction, Gpr, Events);
  }
  if (Is(Instruction, MsrRegister)) {
    return MoveTo(Instruction, Gpr, Events);
  }
  if (Is(Instruction, MsrImmediate)) {
    return ProcessorState(Instruction, Events);
  }
  if (Is(Instruction, Sys)) {
    return SystemOperation(Instruction);
  }
  if (Is(Instruction, Hvc) || Is(Instruction, Smc)) {
    return Outcome::Forbidden;
  }
  return Outcome::Undefined;
}

SystemRegisters::Outcome SystemRegisters::MoveFrom(uint32_t Instruction, GeneralRegisters &Gpr,
                                                   ProcessorEvents &Events) const {
  uint64_t Value = 0;
  const uint16_t Key = static_cast<uint16_t>((Instruction >> KeyShift) & KeyMask);
  if (!Read(Key, Value)) {
    return Outcome::Undefined;
  }
  if (Key == DaifKey) {
    Value = Events.InterruptsEnabled() ? Value & ~DaifIrq : Value | DaifIrq;
  }
  const unsigned Rt = Instruction & RtMask;
  if (Rt != Zero) {
    Gpr.Set(Rt, Value);
  }
  return Outcome::Done;
}

SystemRegisters::Outcome SystemRegisters::MoveTo(uint32_t Instruction, GeneralRegisters &Gpr,
                                                 ProcessorEvents &Events) {
  const unsigned Rt = Instruction & RtMask;
  const uint64_t Value = Rt == Zero ? 0 : Gpr.Get(Rt);
  // MSR with op0 2 is a debug register: none is implemented. Bits [20:5] keep op0 in the key.
  const uint16_t Key = static_cast<uint16_t>((Instruction >> KeyShift) & KeyMask);
  uint64_t Old = 0;
  if (!Read(Key, Old) || !Write(Key, Value)) {
    return Outcome::Undefined;
  }
  if (Key == DaifKey) {
    Old = Events.InterruptsEnabled() ? Old & ~DaifIrq : Old | DaifIrq;
  }
  ReportChanges(Key, Old, Value, Events);
  return Outcome::Done;
}

// The operations a write means: masking changes of DAIF, and the cache and MMU enables of the
// SCTLR that governs the level the processor runs at (the others take effect only there).
void SystemRegisters::ReportChanges(uint16_t Key, uint64_t Old, uint64_t New, ProcessorEvents &Events) const {
  const uint64_t Changed = Old ^ New;
  if (Key == DaifKey) {
    if ((Changed & DaifIrq) != 0) {
      Events.Operation((New & DaifIrq) != 0 ? "ArmDisableInterrupts" : "ArmEnableInterrupts");
    }
    if ((Changed & New & DaifFiq) != 0) {
      Events.Operation("ArmDisableFiq");
    }
    return;
  }
  if (Key != SctlrKeys[ExceptionLevel()]) {
    return;
  }
  struct Enable {
    uint64_t Bit;
    const char *Off;
    const char *On;
  };
  constexpr Enable Enables[] = {
      {SctlrDataCache, "ArmDisableDataCache", "ArmEnableDataCache"},
      {SctlrInstructionCache, "ArmDisableInstructionCache", "ArmEnableInstructionCache"},
      {SctlrMmuEnable, "ArmDisableMmu", "ArmEnableMmu"}};
  for (const Enable &Each : Enables) {
    if ((Changed & Each.Bit) != 0) {
      Events.Operation((New & Each.Bit) != 0 ? Each.On : Each.Off);
    }
  }
}

// DAIFSet/DAIFClr: each masks or unmasks what its immediate names, as the host build's ArmLib
// calls record it (unmasking FIQs has no call there).
SystemRegisters::Outcome SystemRegisters::ProcessorState(uint32_t Instruction, ProcessorEvents &Events) {
  const uint32_t Op1 = (Instruction >> Op1Shift) & Op1Mask;
  const uint32_t Op2 = (Instruction >> Op2Shift) & Op2Mask;
  const uint64_t Bits = static_cast<uint64_t>((Instruction >> CRmShift) & CRmMask) << DaifShift;
  if (Op1 != PstateDaifOp1 || (Op2 != PstateDaifSetOp2 && Op2 != PstateDaifClearOp2)) {
    return Outcome::Undefined; // SPSel, PAN, UAO ...: not used by firmware images
  }
  uint64_t &Daif = State_[DaifKey];
  const bool Set = Op2 == PstateDaifSetOp2;
  Daif = Set ? Daif | Bits : Daif & ~Bits;
  if ((Bits & DaifIrq) != 0) {
    Events.Operation(Set ? "ArmDisableInterrupts" : "ArmEnableInterrupts");
  }
  if ((Bits & DaifFiq) != 0 && Set) {
    Events.Operation("ArmDisableFiq");
  }
  return Outcome::Done;
}

// TLB maintenance: the processor models no TLB, so a TLBI is counted and has no other effect.
// AT and the cache operations the JIT does not hook are not implemented.
SystemRegisters::Outcome SystemRegisters::SystemOperation(uint32_t Instruction) {
  const uint32_t CRn = (Instruction >> CRnShift) & CRmMask;
  const uint32_t Op1 = (Instruction >> Op1Shift) & Op1Mask;
  if (CRn != TlbiCRn || TlbiLevel(Op1) > ExceptionLevel()) {
    return Outcome::Undefined;
  }
  TlbInvalidations_++;
  return Outcome::Done;
}

} // namespace cpu

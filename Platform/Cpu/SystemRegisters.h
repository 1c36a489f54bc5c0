// The processor state firmware images read and change with system instructions (identity,
// cache geometry, exception level, SCTLR/TCR/MAIR/TTBR/VBAR of each level, DAIF masks), and the
// emulation of the instructions the JIT hands back for them. Each register has the lowest
// exception level that may use it: a use from below is an undefined instruction, as on the board.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <string>

namespace cpu {

// What the board tells the processor about itself.
struct ProcessorDescription {
  unsigned ExceptionLevel = 2; // firmware runs at EL2 unless the board says otherwise
  uint64_t Midr = 0;
  uint64_t Revidr = 0;
  uint64_t Mpidr = 0;
  uint64_t IdAa64Mmfr0 = 0;
  uint64_t IdAa64Mmfr2 = 0;
  uint64_t Clidr = 0;
  std::array<uint64_t, 16> Ccsidr{}; // indexed by CSSELR_EL1 (Level << 1 | InD)
  uint32_t Ctr = 0;
  uint32_t Cntfrq = 0;
  uint64_t Sctlr = 0; // SCTLR_ELx at reset (every level)
  uint64_t Daif = 0;
};

// SCTLR_ELx bits the processor acts on.
constexpr uint64_t SctlrMmuEnable = 1ull << 0;         // M: off makes every access a device access
constexpr uint64_t SctlrAlignCheck = 1ull << 1;        // A: unaligned accesses fault even to normal memory
constexpr uint64_t SctlrDataCache = 1ull << 2;         // C
constexpr uint64_t SctlrInstructionCache = 1ull << 12; // I

// What the board learns from the instructions the processor runs: the processor operations it
// records under the names the host build's ArmLib seam gives them ("ArmDisableMmu", ...), and
// the IRQ mask, which the board keeps (its TPL and CPU architectural protocol change it too).
class ProcessorEvents {
public:
  virtual ~ProcessorEvents() = default;
  virtual void Operation(const std::string & /*Name*/) {}
  virtual bool InterruptsEnabled() { return true; }
};

// The guest's general registers, as the instruction being emulated sees them (31 is XZR).
class GeneralRegisters {
public:
  virtual ~GeneralRegisters() = default;
  virtual uint64_t Get(unsigned Index) const = 0;
  virtual void Set(unsigned Index, uint64_t Value) = 0;
};

class SystemRegisters {
public:
  explicit SystemRegisters(const ProcessorDescription &Processor);

  enum class Outcome {
    Done,      // emulated; the guest continues with the next instruction
    Undefined, // not an instruction this processor implements at this level
    Forbidden, // an exception call (hvc, smc) firmware images must not make
  };
  // Emulates one instruction; what it does to the interrupt mask, the caches and the MMU goes
  // to Events.
  Outcome Execute(uint32_t Instruction, GeneralRegisters &Gpr, ProcessorEvents &Events);

  const ProcessorDescription &Processor() const { return Processor_; }
  // The board sets an identification register ("MIDR_EL1", ...) after the processor is made;
  // false for a name that is not one.
  bool SetIdentity(const std::string &Name, uint64_t Value);
  unsigned ExceptionLevel() const { return Processor_.ExceptionLevel; }
  // SCTLR of the level the processor runs at.
  uint64_t Sctlr() const;
  bool MmuEnabled() const { return (Sctlr() & SctlrMmuEnable) != 0; }
  bool AlignmentChecked() const { return (Sctlr() & SctlrAlignCheck) != 0; }
  uint64_t Daif() const;
  uint64_t TlbInvalidations() const { return TlbInvalidations_; }
  // A register by its encoding key (op0:op1:CRn:CRm:op2, as in bits [20:5] of MRS).
  bool Read(uint16_t Key, uint64_t &Value) const;
  bool Write(uint16_t Key, uint64_t Value);

private:
  Outcome MoveFrom(uint32_t Instruction, GeneralRegisters &Gpr, ProcessorEvents &Events) const;
  Outcome MoveTo(uint32_t Instruction, GeneralRegisters &Gpr, ProcessorEvents &Events);
  Outcome ProcessorState(uint32_t Instruction, ProcessorEvents &Events);
  void ReportChanges(uint16_t Key, uint64_t Old, uint64_t New, ProcessorEvents &Events) const;
  Outcome SystemOperation(uint32_t Instruction);

  ProcessorDescription Processor_;
  std::map<uint16_t, uint64_t> State_; // the writable registers
  uint64_t TlbInvalidations_ = 0;
};

} // namespace cpu

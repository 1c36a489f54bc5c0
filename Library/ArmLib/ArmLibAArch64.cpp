// Interrupt masking, cache and MMU control, cache maintenance on AArch64. The system
// control register used is the one of the exception level the code runs at.
#include "CacheGeometry.h"

#include <Library/ArmLib.h>

namespace {

// SCTLR_ELx bits.
constexpr UINT64 SctlrMmuEnable = 1ull << 0;         // M
constexpr UINT64 SctlrDataCache = 1ull << 2;         // C
constexpr UINT64 SctlrInstructionCache = 1ull << 12; // I

// DAIF: the I (IRQ) mask bit as read from the register, and its bit in "msr daifset/daifclr".
constexpr UINT64 DaifIrqMask = 1ull << 7;
#define DAIF_IRQ_IMMEDIATE "#2"
#define DAIF_FIQ_IMMEDIATE "#1"

// CurrentEL holds the level in bits [3:2].
constexpr UINT64 CurrentElShift = 2;
constexpr UINT64 CurrentElMask = 3;

// CLIDR_EL1 and CCSIDR_EL1 fields used by the set/way walk.
constexpr UINT32 ClidrLevelOfCoherenceShift = 24;
constexpr UINT32 ClidrFieldMask = 7;
constexpr UINT32 ClidrCacheTypeBits = 3;
constexpr UINT32 CacheTypeDataOrUnified = 2; // 2: data only, 3: separate, 4: unified

// CTR_EL0.DminLine, bits [19:16]: log2 of the smallest data cache line in 4-byte words.
constexpr UINT64 CtrDminLineShift = 16;
constexpr UINT64 CtrDminLineMask = 0xF;
constexpr UINTN CacheWordBytes = 4;

UINT64 CurrentEl() {
  UINT64 Value;
  __asm__ volatile("mrs %0, CurrentEL" : "=r"(Value));
  return (Value >> CurrentElShift) & CurrentElMask;
}

UINT64 ReadSctlr() {
  UINT64 Value;
  switch (CurrentEl()) {
  case 3:
    __asm__ volatile("mrs %0, sctlr_el3" : "=r"(Value));
    break;
  case 2:
    __asm__ volatile("mrs %0, sctlr_el2" : "=r"(Value));
    break;
  default:
    __asm__ volatile("mrs %0, sctlr_el1" : "=r"(Value));
    break;
  }
  return Value;
}

// The barrier before the write completes outstanding accesses under the old setting; the
// ISB after it makes the new setting apply to the instructions that follow.
void WriteSctlr(UINT64 Value) {
  __asm__ volatile("dsb sy" ::: "memory");
  switch (CurrentEl()) {
  case 3:
    __asm__ volatile("msr sctlr_el3, %0" ::"r"(Value) : "memory");
    break;
  case 2:
    __asm__ volatile("msr sctlr_el2, %0" ::"r"(Value) : "memory");
    break;
  default:
    __asm__ volatile("msr sctlr_el1, %0" ::"r"(Value) : "memory");
    break;
  }
  __asm__ volatile("isb" ::: "memory");
}

void SetSctlrBits(UINT64 Bits) {
  WriteSctlr(ReadSctlr() | Bits);
}
void ClearSctlrBits(UINT64 Bits) {
  WriteSctlr(ReadSctlr() & ~Bits);
}

void InvalidateTlbs() {
  switch (CurrentEl()) {
  case 3:
    __asm__ volatile("tlbi alle3" ::: "memory");
    break;
  case 2:
    __asm__ volatile("tlbi alle2" ::: "memory");
    break;
  default:
    __asm__ volatile("tlbi vmalle1" ::: "memory");
    break;
  }
  __asm__ volatile("dsb sy\n\tisb" ::: "memory");
}

// True when CCSIDR_EL1 has the 64-bit layout (FEAT_CCIDX).
bool WideCcsidr() {
  UINT64 Mmfr2;
  __asm__ volatile("mrs %0, id_aa64mmfr2_el1" : "=r"(Mmfr2));
  return ArmCache::HasWideCcsidr(Mmfr2);
}

// The set/way maintenance operations.
enum class SetWayOperation { Clean, Invalidate, CleanInvalidate };

void ApplySetWay(SetWayOperation Operation, UINT64 Operand) {
  switch (Operation) {
  case SetWayOperation::Clean:
    __asm__ volatile("dc csw, %0" ::"r"(Operand) : "memory");
    break;
  case SetWayOperation::Invalidate:
    __asm__ volatile("dc isw, %0" ::"r"(Operand) : "memory");
    break;
  case SetWayOperation::CleanInvalidate:
    __asm__ volatile("dc cisw, %0" ::"r"(Operand) : "memory");
    break;
  }
}

// Applies the operation to every line of the data or unified cache at Level (0-based).
void SetWayLevel(SetWayOperation Operation, UINT32 Level, bool Wide) {
  UINT64 Ccsidr;
  UINT64 Selector = static_cast<UINT64>(Level) << 1;
  // Select the level's data or unified cache, then read its geometry.
  __asm__ volatile("msr csselr_el1, %1\n\tisb\n\tmrs %0, ccsidr_el1"
                   : "=r"(Ccsidr)
                   : "r"(Selector)
                   : "memory");
  const ArmCache::Geometry Cache = ArmCache::Decode(Ccsidr, Wide);
  for (UINT64 Way = 0; Way < Cache.Ways; Way++) {
    for (UINT64 Set = 0; Set < Cache.Sets; Set++) {
      ApplySetWay(Operation, ArmCache::SetWayOperand(Cache, Level, Way, Set));
    }
  }
}

UINTN DataCacheLineBytes() {
  UINT64 Ctr;
  __asm__ volatile("mrs %0, ctr_el0" : "=r"(Ctr));
  return CacheWordBytes << ((Ctr >> CtrDminLineShift) & CtrDminLineMask);
}

// Applies one "dc" operation to every line of the range, then waits for them to complete.
template <typename Operation> void ForEachDataCacheLine(UINTN Address, UINTN Length, Operation Apply) {
  if (Length == 0) {
    return;
  }
  const UINTN Line = DataCacheLineBytes();
  const UINTN Last = Address + (Length - 1);
  for (UINTN Current = Address & ~(Line - 1);; Current += Line) {
    Apply(Current);
    if (Last - Current < Line) {
      break;
    }
  }
  __asm__ volatile("dsb sy" ::: "memory");
}

// Walks the cache levels up to the level of coherence given by CLIDR_EL1.
void SetWayAllLevels(SetWayOperation Operation) {
  UINT64 Clidr;
  __asm__ volatile("dsb sy\n\tmrs %0, clidr_el1" : "=r"(Clidr)::"memory");
  UINT32 LevelOfCoherence = static_cast<UINT32>(Clidr >> ClidrLevelOfCoherenceShift) & ClidrFieldMask;
  const bool Wide = WideCcsidr();
  for (UINT32 Level = 0; Level < LevelOfCoherence; Level++) {
    UINT32 CacheType = static_cast<UINT32>(Clidr >> (Level * ClidrCacheTypeBits)) & ClidrFieldMask;
    if (CacheType >= CacheTypeDataOrUnified) {
      SetWayLevel(Operation, Level, Wide);
    }
  }
  __asm__ volatile("msr csselr_el1, xzr\n\tdsb sy\n\tisb" ::: "memory");
}

} // namespace

VOID ArmDisableFiq(VOID) {
  __asm__ volatile("msr daifset, " DAIF_FIQ_IMMEDIATE ::: "memory");
}

VOID ArmDisableInterrupts(VOID) {
  __asm__ volatile("msr daifset, " DAIF_IRQ_IMMEDIATE ::: "memory");
}

VOID ArmEnableInterrupts(VOID) {
  __asm__ volatile("msr daifclr, " DAIF_IRQ_IMMEDIATE ::: "memory");
}

BOOLEAN ArmGetInterruptState(VOID) {
  UINT64 Daif;
  __asm__ volatile("mrs %0, daif" : "=r"(Daif));
  return (Daif & DaifIrqMask) == 0 ? TRUE : FALSE;
}

VOID ArmDisableDataCache(VOID) {
  ClearSctlrBits(SctlrDataCache);
}

VOID ArmEnableDataCache(VOID) {
  SetSctlrBits(SctlrDataCache);
}

VOID ArmDisableInstructionCache(VOID) {
  ClearSctlrBits(SctlrInstructionCache);
}

VOID ArmEnableInstructionCache(VOID) {
  SetSctlrBits(SctlrInstructionCache);
}

VOID ArmDisableMmu(VOID) {
  ClearSctlrBits(SctlrMmuEnable);
  InvalidateTlbs();
}

VOID ArmEnableMmu(VOID) {
  SetSctlrBits(SctlrMmuEnable);
}

VOID ArmCleanInvalidateDataCache(VOID) {
  SetWayAllLevels(SetWayOperation::CleanInvalidate);
}

VOID ArmCleanDataCache(VOID) {
  SetWayAllLevels(SetWayOperation::Clean);
}

VOID ArmInvalidateDataCache(VOID) {
  SetWayAllLevels(SetWayOperation::Invalidate);
}

VOID ArmInvalidateInstructionCache(VOID) {
  __asm__ volatile("ic iallu\n\tdsb sy\n\tisb" ::: "memory");
}

VOID ArmDataSynchronizationBarrier(VOID) {
  __asm__ volatile("dsb sy" ::: "memory");
}

VOID ArmInstructionSynchronizationBarrier(VOID) {
  __asm__ volatile("isb" ::: "memory");
}

VOID ArmCleanDataCacheRange(UINTN Address, UINTN Length) {
  ForEachDataCacheLine(Address, Length, [](UINTN Line) {
    __asm__ volatile("dc cvac, %0" ::"r"(Line) : "memory");
  });
}

VOID ArmInvalidateDataCacheRange(UINTN Address, UINTN Length) {
  ForEachDataCacheLine(Address, Length, [](UINTN Line) {
    __asm__ volatile("dc ivac, %0" ::"r"(Line) : "memory");
  });
}

VOID ArmCleanInvalidateDataCacheRange(UINTN Address, UINTN Length) {
  ForEachDataCacheLine(Address, Length, [](UINTN Line) {
    __asm__ volatile("dc civac, %0" ::"r"(Line) : "memory");
  });
}

UINTN ArmReadMidr(VOID) {
  UINT64 Value;
  __asm__ volatile("mrs %0, midr_el1" : "=r"(Value));
  return Value;
}

UINTN ArmReadRevidr(VOID) {
  UINT64 Value;
  __asm__ volatile("mrs %0, revidr_el1" : "=r"(Value));
  return Value;
}

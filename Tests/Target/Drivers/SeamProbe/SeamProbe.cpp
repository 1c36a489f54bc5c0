// SeamProbe: runs the AArch64 MMIO, timer and processor libraries inside real firmware and
// prints what they returned, one "<Area>: name=value ..." line per check, for the QEMU tests.
//
// Console lines (values in hex carry 0x, others are decimal):
//   "Probe: CurrentEL=<n>"
//   "IoLib: pl011-periph-id=<4 bytes> pl011-cell-id=<4 bytes>"   (MmioRead32 of 0xFE0..0xFFC)
//   "IoLib: read8=<v> read16=<v>"                                 (ID register 0xFE0, narrower)
//   "IoLib: ram-bytes=<4 bytes> ram64=<v> or=<v> and=<v> andthenor=<v>"
//   "TimerLib: constructor=<status> frequency=<Hz> start=<v> end=<v>"
//   "TimerLib: MicroSecondDelay ticks=<n> us=<n>"                 (100000 us asked)
//   "TimerLib: NanoSecondDelay ticks=<n> us=<n>"                  (50000000 ns asked)
//   "TimerLib: Stall ticks=<n> us=<n>"                            (firmware's Stall(100000))
//   "TimerLib: rtc-seconds=<n> ticks=<n> us=<n>" | "TimerLib: rtc=<status or stuck>"
//   "ArmLib: interrupts initial=<b> disabled=<b> enabled=<b> restored=<b> tpl-high=<b> tpl-restored=<b>"
//   "ArmLib: sctlr-before M=<b> C=<b> I=<b>"
//   "ArmLib: icache-off I=<b> icache-on I=<b>"
//   "ArmLib: clidr=<v> loc=<n>" then "ArmLib: level=<n> type=<n> line=<bytes> ways=<n> sets=<n>"
//   "ArmLib: clean-invalidate pattern-intact=<b> clean pattern-intact=<b>"
//   "ArmLib: midr=<v> revidr=<v>"
//   "ArmLib: code first=<v> second=<v>" | "ArmLib: code=<allocation status>"
//   "ArmLib: barriers done"
//   "ArmLib: sctlr-after M=<b> C=<b> I=<b>"
//   "Probe: done"
//
// The MMU and the data cache are never turned off: the firmware runs on both. The instruction
// cache is, for two instructions: fetching uncached is always safe.
#include "CacheGeometry.h"

#include <Library/ArmLib.h>
#include <Library/IoLib.h>
#include <Library/TimerLib.h>
#include <Library/UefiBootServicesTableLib.h>
#include <Library/UefiLib.h>
#include <Library/UefiRuntimeServicesTableLib.h>

namespace {

// The QEMU virt machine's PL011 UART and its identification registers.
constexpr UINTN Pl011Base = 0x09000000;
constexpr UINTN Pl011PeriphId0 = 0xFE0;
constexpr UINTN Pl011CellId0 = 0xFF0;
constexpr UINTN IdRegisterCount = 4;
constexpr UINTN RegisterStride = 4;

constexpr UINT64 MicrosecondsPerSecond = 1000000;
constexpr UINTN MicroSecondDelayAsked = 100000;
constexpr UINTN NanoSecondDelayAsked = 50000000;
constexpr UINTN StallAsked = 100000;
constexpr UINTN RtcSecondsMeasured = 2;
constexpr UINT64 RtcGiveUpSeconds = 5;

// SCTLR_ELx bits shown.
constexpr UINT64 SctlrM = 1ull << 0;
constexpr UINT64 SctlrC = 1ull << 2;
constexpr UINT64 SctlrI = 1ull << 12;

// CLIDR_EL1: 3-bit cache type per level from bit 0, level of coherence at [26:24].
constexpr UINT32 ClidrTypeBits = 3;
constexpr UINT32 ClidrFieldMask = 7;
constexpr UINT32 ClidrLocShift = 24;
constexpr UINT32 CacheTypeDataOrUnified = 2;

constexpr UINTN PatternWords = 1024;
constexpr UINT32 PatternSeed = 0x9E3779B9;

// "movz w0, #imm16" and "ret": a function returning a constant.
constexpr UINT32 MovzW0 = 0x52800000;
constexpr UINT32 MovzImmediateShift = 5;
constexpr UINT32 Ret = 0xD65F03C0;
constexpr UINT32 FirstConstant = 0x2A;
constexpr UINT32 SecondConstant = 0x2B;

EFI_STATUS gTimerConstructorStatus = EFI_NOT_STARTED;

UINT64 CurrentEl() {
  UINT64 Value;
  __asm__ volatile("mrs %0, CurrentEL" : "=r"(Value));
  return (Value >> 2) & 3;
}

UINT64 ReadSctlr() {
  UINT64 Value;
  if (CurrentEl() == 2) {
    __asm__ volatile("mrs %0, sctlr_el2" : "=r"(Value));
  } else {
    __asm__ volatile("mrs %0, sctlr_el1" : "=r"(Value));
  }
  return Value;
}

UINT32 Bit(UINT64 Value, UINT64 Mask) {
  return (Value & Mask) != 0 ? 1 : 0;
}

UINT64 TicksToMicroseconds(UINT64 Ticks) {
  return Ticks * MicrosecondsPerSecond / GetPerformanceCounterProperties(NULL, NULL);
}

VOID PrintIdRegisters(const CHAR16 *Label, UINTN First) {
  Print(u"%s=", Label);
  for (UINTN Index = 0; Index < IdRegisterCount; Index++) {
    Print(u"%02x", MmioRead32(Pl011Base + First + Index * RegisterStride));
  }
}

VOID ProbeIo() {
  Print(u"IoLib: ");
  PrintIdRegisters(u"pl011-periph-id", Pl011PeriphId0);
  Print(u" ");
  PrintIdRegisters(u"pl011-cell-id", Pl011CellId0);
  Print(u"\n");
  Print(u"IoLib: read8=0x%x read16=0x%x\n", MmioRead8(Pl011Base + Pl011PeriphId0),
        MmioRead16(Pl011Base + Pl011PeriphId0));

  // Ordinary memory: the widths and the read-modify-write helpers.
  volatile UINT64 Cell = 0;
  const UINTN Address = (UINTN)&Cell;
  MmioWrite32(Address, 0x12345678);
  Print(u"IoLib: ram-bytes=%02x%02x%02x%02x", MmioRead8(Address), MmioRead8(Address + 1),
        MmioRead8(Address + 2), MmioRead8(Address + 3));
  MmioWrite64(Address, 0x0123456789ABCDEFull);
  MmioWrite16(Address, 0xBEEF);
  Print(u" ram64=0x%lx", MmioRead64(Address));
  MmioWrite32(Address, 0xF0F0F0F0);
  Print(u" or=0x%x", MmioOr32(Address, 0x0000000F));
  Print(u" and=0x%x", MmioAnd32(Address, 0xFFFF0000));
  Print(u" andthenor=0x%x\n", MmioAndThenOr32(Address, 0x00FFFFFF, 0x0A000000));
}

VOID PrintMeasured(const CHAR16 *Label, UINT64 Ticks) {
  Print(u"TimerLib: %s ticks=%lu us=%lu\n", Label, Ticks, TicksToMicroseconds(Ticks));
}

// Counter ticks across RtcSecondsMeasured whole seconds of the firmware's real-time clock.
VOID ProbeAgainstRtc() {
  const UINT64 GiveUp =
      GetPerformanceCounter() + RtcGiveUpSeconds * GetPerformanceCounterProperties(NULL, NULL);
  EFI_TIME Time = {};
  EFI_STATUS Status = gRT->GetTime(&Time, NULL);
  if (EFI_ERROR(Status)) {
    Print(u"TimerLib: rtc=%r\n", Status);
    return;
  }
  UINT8 Last = Time.Second;
  UINT64 Start = 0;
  for (UINTN Changes = 0; Changes <= RtcSecondsMeasured;) {
    if (GetPerformanceCounter() > GiveUp) {
      Print(u"TimerLib: rtc=stuck\n");
      return;
    }
    if (EFI_ERROR(gRT->GetTime(&Time, NULL)) || Time.Second == Last) {
      continue;
    }
    Last = Time.Second;
    if (Changes++ == 0) {
      Start = GetPerformanceCounter();
    }
  }
  const UINT64 Ticks = GetPerformanceCounter() - Start;
  Print(u"TimerLib: rtc-seconds=%d ticks=%lu us=%lu\n", (INT32)RtcSecondsMeasured, Ticks,
        TicksToMicroseconds(Ticks));
}

VOID ProbeTimer() {
  UINT64 Start = 1;
  UINT64 End = 0;
  const UINT64 Frequency = GetPerformanceCounterProperties(&Start, &End);
  Print(u"TimerLib: constructor=%r frequency=%lu start=0x%lx end=0x%lx\n", gTimerConstructorStatus, Frequency,
        Start, End);
  if (Frequency == 0) {
    return;
  }
  UINT64 Before = GetPerformanceCounter();
  MicroSecondDelay(MicroSecondDelayAsked);
  PrintMeasured(u"MicroSecondDelay", GetPerformanceCounter() - Before);
  Before = GetPerformanceCounter();
  NanoSecondDelay(NanoSecondDelayAsked);
  PrintMeasured(u"NanoSecondDelay", GetPerformanceCounter() - Before);
  Before = GetPerformanceCounter();
  gBS->Stall(StallAsked);
  PrintMeasured(u"Stall", GetPerformanceCounter() - Before);
  ProbeAgainstRtc();
}

// Masks and unmasks IRQs and puts the entry state back; the firmware's own masking (TPL
// high) must read as masked too.
VOID ProbeInterrupts() {
  const BOOLEAN Initial = ArmGetInterruptState();
  ArmDisableInterrupts();
  const BOOLEAN Disabled = ArmGetInterruptState();
  ArmEnableInterrupts();
  const BOOLEAN Enabled = ArmGetInterruptState();
  if (!Initial) {
    ArmDisableInterrupts();
  }
  const BOOLEAN Restored = ArmGetInterruptState();
  const EFI_TPL OldTpl = gBS->RaiseTPL(TPL_HIGH_LEVEL);
  const BOOLEAN TplHigh = ArmGetInterruptState();
  gBS->RestoreTPL(OldTpl);
  const BOOLEAN TplRestored = ArmGetInterruptState();
  Print(u"ArmLib: interrupts initial=%d disabled=%d enabled=%d restored=%d tpl-high=%d tpl-restored=%d\n",
        (INT32)Initial, (INT32)Disabled, (INT32)Enabled, (INT32)Restored, (INT32)TplHigh, (INT32)TplRestored);
}

VOID PrintSctlr(const CHAR16 *Label) {
  const UINT64 Sctlr = ReadSctlr();
  Print(u"ArmLib: %s M=%d C=%d I=%d\n", Label, Bit(Sctlr, SctlrM), Bit(Sctlr, SctlrC), Bit(Sctlr, SctlrI));
}

VOID ProbeInstructionCacheSwitch() {
  ArmDisableInstructionCache();
  const UINT64 Off = ReadSctlr();
  ArmEnableInstructionCache();
  const UINT64 On = ReadSctlr();
  Print(u"ArmLib: icache-off I=%d icache-on I=%d\n", Bit(Off, SctlrI), Bit(On, SctlrI));
}

// The levels the clean-and-invalidate walk covers, decoded as the walk decodes them.
VOID PrintCacheGeometry() {
  UINT64 Clidr;
  UINT64 Mmfr2;
  __asm__ volatile("mrs %0, clidr_el1" : "=r"(Clidr));
  __asm__ volatile("mrs %0, id_aa64mmfr2_el1" : "=r"(Mmfr2));
  const UINT32 Loc = (UINT32)(Clidr >> ClidrLocShift) & ClidrFieldMask;
  Print(u"ArmLib: clidr=0x%lx loc=%d\n", Clidr, Loc);
  for (UINT32 Level = 0; Level < Loc; Level++) {
    const UINT32 Type = (UINT32)(Clidr >> (Level * ClidrTypeBits)) & ClidrFieldMask;
    if (Type < CacheTypeDataOrUnified) {
      continue;
    }
    UINT64 Ccsidr;
    __asm__ volatile("msr csselr_el1, %1\n\tisb\n\tmrs %0, ccsidr_el1"
                     : "=r"(Ccsidr)
                     : "r"((UINT64)Level << 1));
    const ArmCache::Geometry Cache = ArmCache::Decode(Ccsidr, ArmCache::HasWideCcsidr(Mmfr2));
    Print(u"ArmLib: level=%d type=%d line=%lu ways=%lu sets=%lu\n", Level + 1, Type, 1ull << Cache.LineShift,
          Cache.Ways, Cache.Sets);
  }
  __asm__ volatile("msr csselr_el1, xzr\n\tisb" ::: "memory");
}

// Fills the pattern, runs the maintenance operation, and says whether the data survived.
BOOLEAN PatternSurvives(VOID (*Maintenance)(VOID)) {
  static UINT32 Pattern[PatternWords];
  UINT32 Value = PatternSeed;
  for (UINTN Index = 0; Index < PatternWords; Index++) {
    Pattern[Index] = Value;
    Value = Value * 1664525 + 1013904223;
  }
  Maintenance();
  BOOLEAN Intact = TRUE;
  Value = PatternSeed;
  for (UINTN Index = 0; Index < PatternWords; Index++) {
    Intact = Intact && ((volatile UINT32 *)Pattern)[Index] == Value;
    Value = Value * 1664525 + 1013904223;
  }
  return Intact;
}

VOID ProbeCleanInvalidate() {
  const BOOLEAN CleanInvalidate = PatternSurvives(ArmCleanInvalidateDataCache);
  const BOOLEAN Clean = PatternSurvives(ArmCleanDataCache);
  Print(u"ArmLib: clean-invalidate pattern-intact=%d clean pattern-intact=%d\n", (INT32)CleanInvalidate,
        (INT32)Clean);
  Print(u"ArmLib: midr=0x%lx revidr=0x%lx\n", (UINT64)ArmReadMidr(), (UINT64)ArmReadRevidr());
}

// Writes a function returning Constant, makes it visible to instruction fetch with the two
// cache operations, and calls it.
UINT32 RunWrittenCode(volatile UINT32 *Code, UINT32 Constant) {
  Code[0] = MovzW0 | (Constant << MovzImmediateShift);
  Code[1] = Ret;
  ArmCleanInvalidateDataCache();
  ArmInvalidateInstructionCache();
  return reinterpret_cast<UINT32 (*)(VOID)>((UINTN)Code)();
}

VOID ProbeWrittenCode() {
  EFI_PHYSICAL_ADDRESS Page = 0;
  EFI_STATUS Status = gBS->AllocatePages(AllocateAnyPages, EfiLoaderCode, 1, &Page);
  if (EFI_ERROR(Status)) {
    Print(u"ArmLib: code=%r\n", Status);
    return;
  }
  volatile UINT32 *Code = reinterpret_cast<volatile UINT32 *>((UINTN)Page);
  const UINT32 First = RunWrittenCode(Code, FirstConstant);
  const UINT32 Second = RunWrittenCode(Code, SecondConstant);
  Print(u"ArmLib: code first=0x%x second=0x%x\n", First, Second);
  gBS->FreePages(Page, 1);
}

VOID ProbeArm() {
  ProbeInterrupts();
  PrintSctlr(u"sctlr-before");
  ProbeInstructionCacheSwitch();
  PrintCacheGeometry();
  ProbeCleanInvalidate();
  ProbeWrittenCode();
  ArmDataSynchronizationBarrier();
  ArmInstructionSynchronizationBarrier();
  MemoryFence();
  Print(u"ArmLib: barriers done\n");
  PrintSctlr(u"sctlr-after");
}

} // namespace

EFI_STATUS EFIAPI SeamProbeEntry(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable) {
  // The timer library's constructor, called here to print what it returned.
  gTimerConstructorStatus = TimerLibConstructor(ImageHandle, SystemTable);
  Print(u"Probe: CurrentEL=%d\n", (INT32)CurrentEl());
  ProbeIo();
  ProbeTimer();
  ProbeArm();
  Print(u"Probe: done\n");
  return EFI_SUCCESS;
}

// Delays on the AArch64 generic timer: CNTPCT_EL0 counts at CNTFRQ_EL0 Hz.
#include <Library/TimerLib.h>

namespace {

constexpr UINT64 MicrosecondsPerSecond = 1000000;
constexpr UINT64 NanosecondsPerSecond = 1000000000;

UINT64 CounterFrequency() {
  UINT64 Frequency;
  __asm__ volatile("mrs %0, cntfrq_el0" : "=r"(Frequency));
  return Frequency;
}

UINT64 CounterValue() {
  UINT64 Value;
  // The ISB keeps the counter read from being hoisted above earlier instructions.
  __asm__ volatile("isb\n\tmrs %0, cntpct_el0" : "=r"(Value)::"memory");
  return Value;
}

// Ticks for Amount units of 1/UnitsPerSecond s, rounded up, without overflowing the product.
UINT64 TicksFor(UINT64 Amount, UINT64 UnitsPerSecond) {
  UINT64 Frequency = CounterFrequency();
  UINT64 Whole = (Amount / UnitsPerSecond) * Frequency;
  UINT64 Part = ((Amount % UnitsPerSecond) * Frequency + UnitsPerSecond - 1) / UnitsPerSecond;
  return Whole + Part;
}

void WaitTicks(UINT64 Ticks) {
  UINT64 Start = CounterValue();
  while (CounterValue() - Start < Ticks) {
  }
}

} // namespace

UINTN MicroSecondDelay(UINTN MicroSeconds) {
  WaitTicks(TicksFor(MicroSeconds, MicrosecondsPerSecond));
  return MicroSeconds;
}

UINTN NanoSecondDelay(UINTN NanoSeconds) {
  WaitTicks(TicksFor(NanoSeconds, NanosecondsPerSecond));
  return NanoSeconds;
}

UINT64 GetPerformanceCounter(VOID) {
  return CounterValue();
}

UINT64 GetPerformanceCounterProperties(UINT64 *StartValue, UINT64 *EndValue) {
  if (StartValue != NULL) {
    *StartValue = 0;
  }
  if (EndValue != NULL) {
    *EndValue = ~static_cast<UINT64>(0);
  }
  return CounterFrequency();
}

// A counter that does not tick would make every delay endless.
EFI_STATUS TimerLibConstructor(EFI_HANDLE, EFI_SYSTEM_TABLE *) {
  return CounterFrequency() != 0 ? EFI_SUCCESS : EFI_DEVICE_ERROR;
}

// Delays on the AArch64 generic timer: CNTPCT_EL0 counts at CNTFRQ_EL0 Hz.
#include "GenericTimerTicks.h"

#include <Library/TimerLib.h>

namespace {

UINT64 CounterFrequency() {
  UINT64 Frequency;
  __asm__ volatile("mrs %0, cntfrq_el0" : "=r"(Frequency));
  return Frequency;
}

// A reading that starts a measurement: the ISB keeps the counter read from being hoisted above
// earlier instructions. The board's processor takes an ISB before a counter read as the start
// of a wait or a measurement, and counts the reads that follow without one as its spin.
UINT64 CounterValue() {
  UINT64 Value;
  __asm__ volatile("isb\n\tmrs %0, cntpct_el0" : "=r"(Value)::"memory");
  return Value;
}

// A reading inside a spin: the loop's test orders it well enough.
UINT64 CounterNow() {
  UINT64 Value;
  __asm__ volatile("mrs %0, cntpct_el0" : "=r"(Value)::"memory");
  return Value;
}

// GenericTimer::ReadsOfWait counts the reads of this loop: keep the two together.
void WaitTicks(UINT64 Ticks) {
  UINT64 Start = CounterValue();
  while (CounterNow() - Start < Ticks) {
  }
}

} // namespace

UINTN MicroSecondDelay(UINTN MicroSeconds) {
  WaitTicks(GenericTimer::TicksFor(MicroSeconds, GenericTimer::MicrosecondsPerSecond, CounterFrequency()));
  return MicroSeconds;
}

UINTN NanoSecondDelay(UINTN NanoSeconds) {
  WaitTicks(GenericTimer::TicksFor(NanoSeconds, GenericTimer::NanosecondsPerSecond, CounterFrequency()));
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

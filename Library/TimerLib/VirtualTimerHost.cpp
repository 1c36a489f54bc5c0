// Delays on the host: the emulated board's generic timer, whose counter reads move the virtual
// clock. A delay charges the reads the AArch64 variant's spin makes, all at once.
#include "GenericTimerTicks.h"

#include <HostAbi.h>
#include <Library/TimerLib.h>

namespace {

void WaitTicks(UINT64 Ticks) {
  HostAbiCounterReads(GenericTimer::ReadsOfWait(Ticks));
}

} // namespace

UINTN MicroSecondDelay(UINTN MicroSeconds) {
  WaitTicks(GenericTimer::TicksFor(MicroSeconds, GenericTimer::MicrosecondsPerSecond,
                                   GenericTimer::BoardFrequencyHz));
  return MicroSeconds;
}

UINTN NanoSecondDelay(UINTN NanoSeconds) {
  WaitTicks(GenericTimer::TicksFor(NanoSeconds, GenericTimer::NanosecondsPerSecond,
                                   GenericTimer::BoardFrequencyHz));
  return NanoSeconds;
}

UINT64 GetPerformanceCounter(VOID) {
  return HostAbiCounterReads(1);
}

UINT64 GetPerformanceCounterProperties(UINT64 *StartValue, UINT64 *EndValue) {
  if (StartValue != NULL) {
    *StartValue = 0;
  }
  if (EndValue != NULL) {
    *EndValue = ~static_cast<UINT64>(0);
  }
  return GenericTimer::BoardFrequencyHz;
}

EFI_STATUS TimerLibConstructor(EFI_HANDLE, EFI_SYSTEM_TABLE *) {
  return EFI_SUCCESS;
}

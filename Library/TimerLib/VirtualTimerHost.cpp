// Delays on the host: the emulated board's generic timer, whose counter reads move the virtual
// clock. A delay charges the reads the AArch64 variant's spin makes, all at once, at the
// frequency the board's timer reports (the AArch64 variant reads CNTFRQ_EL0).
#include "GenericTimerTicks.h"

#include <HostAbi.h>
#include <Library/TimerLib.h>

namespace {

UINT64 CounterFrequency() {
  return HostAbiReadSystemRegister("CNTFRQ_EL0");
}

void WaitTicks(UINT64 Ticks) {
  HostAbiCounterReads(GenericTimer::ReadsOfWait(Ticks));
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
  return HostAbiCounterReads(1);
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

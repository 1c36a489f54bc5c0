// DelayProbe: waits DelayProbeNanoseconds one after the other with TimerLib and returns the
// performance counter's ticks across them, so that the emulated board's tests can compare the
// image's spins on the counter with the host build's delays. Never loaded by real firmware.
#include "DelayProbe.h"

#include <Library/TimerLib.h>
#include <Uefi.h>

EFI_STATUS EFIAPI DelayProbeEntry(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable) {
  const UINT64 Start = GetPerformanceCounter();
  for (UINTN Delay : DelayProbeNanoseconds) {
    NanoSecondDelay(Delay);
  }
  return static_cast<EFI_STATUS>(GetPerformanceCounter() - Start);
}

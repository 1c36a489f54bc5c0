// Delays on the host: the emulated board's virtual clock, in nanoseconds.
#include <HostAbi.h>
#include <Library/TimerLib.h>

namespace {

constexpr UINT64 NanosecondsPerMicrosecond = 1000;
constexpr UINT64 VirtualClockHz = 1000000000;

} // namespace

UINTN MicroSecondDelay(UINTN MicroSeconds) {
  HostAbiStall(MicroSeconds);
  return MicroSeconds;
}

UINTN NanoSecondDelay(UINTN NanoSeconds) {
  HostAbiStall((NanoSeconds + NanosecondsPerMicrosecond - 1) / NanosecondsPerMicrosecond);
  return NanoSeconds;
}

UINT64 GetPerformanceCounter(VOID) {
  return HostAbiVirtualTimeNs();
}

UINT64 GetPerformanceCounterProperties(UINT64 *StartValue, UINT64 *EndValue) {
  if (StartValue != NULL) {
    *StartValue = 0;
  }
  if (EndValue != NULL) {
    *EndValue = ~static_cast<UINT64>(0);
  }
  return VirtualClockHz;
}

EFI_STATUS TimerLibConstructor(EFI_HANDLE, EFI_SYSTEM_TABLE *) {
  return EFI_SUCCESS;
}

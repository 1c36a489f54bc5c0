// Microsecond stall seam: the generic timer on AArch64, the virtual clock on the host.
#pragma once

#include <Uefi.h>

UINTN MicroSecondDelay(UINTN MicroSeconds);
UINTN NanoSecondDelay(UINTN NanoSeconds);
UINT64 GetPerformanceCounter(VOID);
UINT64 GetPerformanceCounterProperties(UINT64 *StartValue, UINT64 *EndValue);
// The library's constructor: EFI_DEVICE_ERROR when the counter does not tick.
EFI_STATUS TimerLibConstructor(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable);

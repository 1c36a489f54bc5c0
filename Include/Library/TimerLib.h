// Microsecond stall seam: the generic timer on AArch64, the virtual clock on the host.
#pragma once

#include <Uefi/UefiBaseType.h>

UINTN MicroSecondDelay(UINTN MicroSeconds);
UINTN NanoSecondDelay(UINTN NanoSeconds);
UINT64 GetPerformanceCounter(VOID);
UINT64 GetPerformanceCounterProperties(UINT64 *StartValue, UINT64 *EndValue);
EFI_STATUS TimerLibConstructor(VOID);

// AArch64 cache, MMU and interrupt-mask operations. On the host each is recorded by the
// platform so tests can check the order in which firmware used them.
#pragma once

#include <Uefi/UefiBaseType.h>

VOID ArmDisableInterrupts(VOID);
VOID ArmEnableInterrupts(VOID);
BOOLEAN ArmGetInterruptState(VOID);
VOID ArmDisableDataCache(VOID);
VOID ArmEnableDataCache(VOID);
VOID ArmDisableInstructionCache(VOID);
VOID ArmEnableInstructionCache(VOID);
VOID ArmDisableMmu(VOID);
VOID ArmEnableMmu(VOID);
VOID ArmCleanInvalidateDataCache(VOID);
VOID ArmInvalidateInstructionCache(VOID);
VOID ArmDataSynchronizationBarrier(VOID);
VOID ArmInstructionSynchronizationBarrier(VOID);

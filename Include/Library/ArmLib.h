// AArch64 cache, MMU and interrupt-mask operations. On AArch64 the cache and MMU controls act
// on SCTLR of the exception level the code runs at (read from CurrentEL); the interrupt
// routines mask and unmask IRQs (DAIF.I); ArmCleanInvalidateDataCache walks every data or
// unified cache level up to the level of coherence by set/way. On the host each operation is
// recorded by the platform under the function's name, so tests can check the order in which
// firmware used them, and the interrupt state is the platform's.
#pragma once

#include <Uefi/UefiBaseType.h>

VOID ArmDisableInterrupts(VOID);
VOID ArmEnableInterrupts(VOID);
BOOLEAN ArmGetInterruptState(VOID); // TRUE when IRQs are unmasked
VOID ArmDisableDataCache(VOID);
VOID ArmEnableDataCache(VOID);
VOID ArmDisableInstructionCache(VOID);
VOID ArmEnableInstructionCache(VOID);
VOID ArmDisableMmu(VOID); // also invalidates the TLBs of the current level
VOID ArmEnableMmu(VOID);
VOID ArmCleanInvalidateDataCache(VOID);
VOID ArmInvalidateInstructionCache(VOID);
VOID ArmDataSynchronizationBarrier(VOID);
VOID ArmInstructionSynchronizationBarrier(VOID);

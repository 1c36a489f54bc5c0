// AArch64 cache, MMU and interrupt-mask operations. On AArch64 the cache and MMU controls act
// on SCTLR of the exception level the code runs at (read from CurrentEL); the interrupt
// routines mask and unmask IRQs (DAIF.I); ArmCleanInvalidateDataCache walks every data or
// unified cache level up to the level of coherence by set/way; the range operations work by
// virtual address with the smallest data cache line size of CTR_EL0. On the host each operation is
// recorded by the platform under the function's name, so tests can check the order in which
// firmware used them, and the interrupt state is the platform's. The identification registers
// are read from the processor on AArch64 and from the emulated board's processor on the host.
#pragma once

#include <Uefi/UefiBaseType.h>

VOID ArmDisableInterrupts(VOID);
VOID ArmEnableInterrupts(VOID);
VOID ArmDisableFiq(VOID);           // masks FIQs (DAIF.F)
BOOLEAN ArmGetInterruptState(VOID); // TRUE when IRQs are unmasked
VOID ArmDisableDataCache(VOID);
VOID ArmEnableDataCache(VOID);
VOID ArmDisableInstructionCache(VOID);
VOID ArmEnableInstructionCache(VOID);
VOID ArmDisableMmu(VOID); // also invalidates the TLBs of the current level
VOID ArmEnableMmu(VOID);
VOID ArmCleanInvalidateDataCache(VOID);
VOID ArmCleanDataCache(VOID);      // by set/way, every level up to the level of coherence
VOID ArmInvalidateDataCache(VOID); // by set/way, every level up to the level of coherence
VOID ArmInvalidateInstructionCache(VOID);
// Data cache maintenance by address to the point of coherence, over every line that holds a
// byte of [Address, Address + Length), followed by a barrier: clean writes dirty lines back,
// invalidate discards lines, clean-and-invalidate does both.
VOID ArmCleanDataCacheRange(UINTN Address, UINTN Length);
VOID ArmInvalidateDataCacheRange(UINTN Address, UINTN Length);
VOID ArmCleanInvalidateDataCacheRange(UINTN Address, UINTN Length);
VOID ArmDataSynchronizationBarrier(VOID);
VOID ArmInstructionSynchronizationBarrier(VOID);
UINTN ArmReadMidr(VOID);   // MIDR_EL1: implementer, variant, part number, revision
UINTN ArmReadRevidr(VOID); // REVIDR_EL1: implementation-defined revision details

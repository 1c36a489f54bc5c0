// The host build's seams: the few calls through which firmware libraries reach the emulated
// board. Only the host variants of IoLib, TimerLib and CpuLib/ArmLib include this; the host
// platform defines these functions and the module shared objects resolve them at load time.
#pragma once

#include <Uefi/UefiBaseType.h>

extern "C" {
UINT64 HostAbiMmioRead(UINT64 Address, UINT32 Width);
VOID HostAbiMmioWrite(UINT64 Address, UINT32 Width, UINT64 Value);
VOID HostAbiMemoryFence(VOID);
VOID HostAbiStall(UINT64 Microseconds);
// A wait or measurement on the generic timer's counter (100 MHz ticks of the virtual clock):
// Reads reads back to back, each taking one tick; returns the first one's value.
UINT64 HostAbiCounterReads(UINT64 Reads);
// Dead loop or breakpoint: never returns; the platform unwinds to whoever started the image.
[[noreturn]] VOID HostAbiHalt(const CHAR8 *Reason);
// Cache, MMU and interrupt operations, recorded in order ("ArmDisableMmu", ...).
VOID HostAbiCpuOperation(const CHAR8 *Operation);
BOOLEAN HostAbiInterruptsEnabled(VOID);
// Identification registers of the emulated processor ("MIDR_EL1", "REVIDR_EL1"; 0 when the
// board sets none) and the generic timer's frequency ("CNTFRQ_EL0").
UINT64 HostAbiReadSystemRegister(const CHAR8 *Name);
}

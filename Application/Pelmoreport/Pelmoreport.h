// Pelmoreport: prints the management processor's firmware report (version, build, TPC and AVS
// state, voltages, the board's MAC addresses) on the console.
#pragma once

#include <Uefi.h>

EFI_STATUS EFIAPI PelmoreportMain(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable);

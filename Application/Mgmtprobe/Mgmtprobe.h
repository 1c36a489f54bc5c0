// Mgmtprobe: prints the BMC shared-memory base that the platform's IPMI firmware reports.
#pragma once

#include <Uefi.h>

EFI_STATUS EFIAPI MgmtprobeMain(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable);

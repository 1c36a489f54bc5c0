// Module global filled by the DXE-services table library's constructor: the DXE services
// table found in the system configuration table.
#pragma once

#include <Guid/DxeServices.h>
#include <Pi/PiDxeCis.h>
#include <Uefi.h>

extern EFI_DXE_SERVICES *gDS;

EFI_STATUS DxeServicesTableLibConstructor(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable);

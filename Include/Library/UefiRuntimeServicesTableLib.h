// Module global filled by the runtime-services table library's constructor.
#pragma once

#include <Uefi.h>

extern EFI_RUNTIME_SERVICES *gRT;

EFI_STATUS UefiRuntimeServicesTableLibConstructor(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable);

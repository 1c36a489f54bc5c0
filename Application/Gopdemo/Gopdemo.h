// Gopdemo: draws on the display through Graphics Output (fills, a colour pattern, a copy on
// the screen) and prints what it did.
#pragma once

#include <Uefi.h>

EFI_STATUS EFIAPI GopdemoMain(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable);

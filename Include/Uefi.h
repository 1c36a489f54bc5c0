// Umbrella header for UEFI firmware code.
#pragma once

#include <Uefi/UefiBaseType.h>
#include <Uefi/UefiTables.h>

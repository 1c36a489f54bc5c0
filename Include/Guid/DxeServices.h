// GUID under which the DXE services table is published in the system configuration table.
#pragma once

#include <Uefi/UefiBaseType.h>

#define DXE_SERVICES_TABLE_GUID                                                                              \
  {                                                                                                          \
    0x05AD34BA, 0x6F02, 0x4214, {                                                                            \
      0x95, 0x2E, 0x4D, 0xA0, 0x39, 0x8E, 0x2B, 0xB9                                                         \
    }                                                                                                        \
  }
extern EFI_GUID gEfiDxeServicesTableGuid;

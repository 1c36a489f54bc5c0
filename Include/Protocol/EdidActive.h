// EDID Active protocol: the EDID the driver uses, after any override (UEFI 2.x, section 12.9).
#pragma once

#include <Uefi.h>

#define EFI_EDID_ACTIVE_PROTOCOL_GUID                                                                        \
  {                                                                                                          \
    0xBD8C1056, 0x9F36, 0x44EC, {                                                                            \
      0x92, 0xA8, 0xA6, 0x33, 0x7F, 0x81, 0x79, 0x86                                                         \
    }                                                                                                        \
  }
extern EFI_GUID gEfiEdidActiveProtocolGuid;

struct EFI_EDID_ACTIVE_PROTOCOL {
  UINT32 SizeOfEdid;
  UINT8 *Edid;
};
static_assert(OFFSET_OF(EFI_EDID_ACTIVE_PROTOCOL, Edid) == 8);
static_assert(sizeof(EFI_EDID_ACTIVE_PROTOCOL) == 16);

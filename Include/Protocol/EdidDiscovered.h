// EDID Discovered protocol: the EDID read from the display, unchanged (UEFI 2.x, section 12.9).
#pragma once

#include <Uefi.h>

#define EFI_EDID_DISCOVERED_PROTOCOL_GUID                                                                    \
  {                                                                                                          \
    0x1C0C34F6, 0xD380, 0x41FA, {                                                                            \
      0xA0, 0x49, 0x8A, 0xD0, 0x6C, 0x1A, 0x66, 0xAA                                                         \
    }                                                                                                        \
  }
extern EFI_GUID gEfiEdidDiscoveredProtocolGuid;

struct EFI_EDID_DISCOVERED_PROTOCOL {
  UINT32 SizeOfEdid;
  UINT8 *Edid;
};
static_assert(OFFSET_OF(EFI_EDID_DISCOVERED_PROTOCOL, Edid) == 8);
static_assert(sizeof(EFI_EDID_DISCOVERED_PROTOCOL) == 16);

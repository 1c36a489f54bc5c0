// EDID Override protocol: platform-supplied EDID for a display child (UEFI 2.x, section 12.9).
#pragma once

#include <Uefi.h>

#define EFI_EDID_OVERRIDE_PROTOCOL_GUID                                                                      \
  {                                                                                                          \
    0x48ECB431, 0xFB72, 0x45C0, {                                                                            \
      0xA9, 0x22, 0xF4, 0x58, 0xFE, 0x04, 0x0B, 0xD5                                                         \
    }                                                                                                        \
  }
extern EFI_GUID gEfiEdidOverrideProtocolGuid;

// GetEdid Attributes bits.
constexpr UINT32 EFI_EDID_OVERRIDE_DONT_OVERRIDE = 0x01;
constexpr UINT32 EFI_EDID_OVERRIDE_ENABLE_HOT_PLUG = 0x02;

struct EFI_EDID_OVERRIDE_PROTOCOL;

typedef EFI_STATUS(EFIAPI *EFI_EDID_OVERRIDE_PROTOCOL_GET_EDID)(EFI_EDID_OVERRIDE_PROTOCOL *This,
                                                                EFI_HANDLE *ChildHandle, UINT32 *Attributes,
                                                                UINTN *EdidSize, UINT8 **Edid);

struct EFI_EDID_OVERRIDE_PROTOCOL {
  EFI_EDID_OVERRIDE_PROTOCOL_GET_EDID GetEdid;
};
static_assert(sizeof(EFI_EDID_OVERRIDE_PROTOCOL) == 8);

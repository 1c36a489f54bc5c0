// Vendor GUIDs and names of the MAC publication driver's UEFI variables.
//
// Under gNicpatchMacVariableGuid: "NicpatchSwitch" (CHAR16 text "0" or "1" in 40 bytes, NV+BS)
// and MAC0 ... MAC8 (CHAR16 MAC text in 40 bytes, NV+BS).
// Under gNicpatchSwitchGuid: "NicpatchSetupSwitchVar" (1 byte, NV+BS+RT) and
// "NicpatchSwitchBaseComparand" (1 byte, NV+BS, the switch state of the previous boot).
#pragma once

#include <Uefi.h>

#define NICPATCH_MAC_VARIABLE_GUID                                                                           \
  {                                                                                                          \
    0x158DEF5A, 0xF656, 0x419C, {                                                                            \
      0xB0, 0x27, 0x7A, 0x31, 0x92, 0xC0, 0x79, 0xD2                                                         \
    }                                                                                                        \
  }
#define NICPATCH_SWITCH_GUID                                                                                 \
  {                                                                                                          \
    0x52350268, 0xC2D5, 0x4687, {                                                                            \
      0xA2, 0xA6, 0xB6, 0x5E, 0x23, 0x52, 0xDD, 0xCB                                                         \
    }                                                                                                        \
  }

extern EFI_GUID gNicpatchMacVariableGuid;
extern EFI_GUID gNicpatchSwitchGuid;

#define NICPATCH_SWITCH_VARIABLE_NAME u"NicpatchSwitch"
#define NICPATCH_SETUP_SWITCH_VARIABLE_NAME u"NicpatchSetupSwitchVar"
#define NICPATCH_SWITCH_COMPARAND_VARIABLE_NAME u"NicpatchSwitchBaseComparand"
#define NICPATCH_MAC_VARIABLE_PREFIX u"MAC"

// GUIDs of the MAC publication driver's variables and of the EEPROM MAC service.
#include <Guid/NicpatchVariables.h>
#include <Protocol/EepromMac.h>

EFI_GUID gNicpatchMacVariableGuid = NICPATCH_MAC_VARIABLE_GUID;
EFI_GUID gNicpatchSwitchGuid = NICPATCH_SWITCH_GUID;
EFI_GUID gEepromMacProtocolGuid = EEPROM_MAC_PROTOCOL_GUID;

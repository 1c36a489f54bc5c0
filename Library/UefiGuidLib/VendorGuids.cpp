// GUID definitions: Board vendor protocols and variable namespaces.
#include <Guid/NicpatchVariables.h>
#include <Guid/PlatformSetupVariable.h>
#include <Protocol/DebugOutput.h>
#include <Protocol/EepromMac.h>
#include <Protocol/OemIpmiInformation.h>

EFI_GUID gNicpatchMacVariableGuid = NICPATCH_MAC_VARIABLE_GUID;
EFI_GUID gNicpatchSwitchGuid = NICPATCH_SWITCH_GUID;
EFI_GUID gPlatformSetupVariableGuid = PLATFORM_SETUP_VARIABLE_GUID;
EFI_GUID gDebugOutputProtocolGuid = DEBUG_OUTPUT_PROTOCOL_GUID;
EFI_GUID gEepromMacProtocolGuid = EEPROM_MAC_PROTOCOL_GUID;
EFI_GUID gOemIpmiInformationProtocolGuid = OEM_IPMI_INFORMATION_PROTOCOL_GUID;

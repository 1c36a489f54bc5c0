// The platform's "Setup" variable as the board's setup screen keeps it: 100 bytes, created
// zero on the first boot; bytes 8 and 9 enable the optional AHCI controllers #2 and #3.
#pragma once

#include <Guid/PlatformSetupVariable.h>
#include <VariableStore.h>

#include <optional>
#include <string>
#include <vector>

namespace host {

constexpr UINT32 PLATFORM_SETUP_ATTRIBUTES =
    EFI_VARIABLE_NON_VOLATILE | EFI_VARIABLE_BOOTSERVICE_ACCESS | EFI_VARIABLE_RUNTIME_ACCESS;

// Creates "Setup" with 100 zero bytes unless it exists; true when it was created.
bool EnsurePlatformSetup(VariableStore &Store);

// The setup switches boardsim knows by name ("ahci2", "ahci3") and their byte in "Setup".
std::optional<UINTN> PlatformSetupSwitchByte(const std::string &Name);
const std::vector<std::string> &PlatformSetupSwitchNames();

// Sets one switch byte (creating the variable first when missing).
EFI_STATUS SetPlatformSetupSwitch(VariableStore &Store, UINTN Byte, bool On);

// The variable's bytes, or nothing when it does not exist.
std::optional<std::vector<uint8_t>> PlatformSetupData(const VariableStore &Store);

} // namespace host

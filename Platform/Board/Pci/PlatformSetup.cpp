// The platform setup variable on the host board.
#include "PlatformSetup.h"

namespace host {

namespace {

// The setup screen's layout as the board keeps it, independent of the firmware's header.
constexpr size_t kSetupSize = 100;
constexpr UINTN kAhci2Byte = 8, kAhci3Byte = 9;

} // namespace

std::optional<std::vector<uint8_t>> PlatformSetupData(const VariableStore &Store) {
  UINTN Size = 0;
  if (Store.GetVariable(PLATFORM_SETUP_VARIABLE_NAME, &gPlatformSetupVariableGuid, nullptr, &Size, nullptr) !=
      EFI_BUFFER_TOO_SMALL) {
    return std::nullopt;
  }
  std::vector<uint8_t> Data(Size);
  if (EFI_ERROR(Store.GetVariable(PLATFORM_SETUP_VARIABLE_NAME, &gPlatformSetupVariableGuid, nullptr, &Size,
                                  Data.data()))) {
    return std::nullopt;
  }
  return Data;
}

bool EnsurePlatformSetup(VariableStore &Store) {
  if (PlatformSetupData(Store)) {
    return false;
  }
  const std::vector<uint8_t> Zero(kSetupSize, 0);
  return Store.SetVariable(PLATFORM_SETUP_VARIABLE_NAME, &gPlatformSetupVariableGuid,
                           PLATFORM_SETUP_ATTRIBUTES, Zero.size(), Zero.data()) == EFI_SUCCESS;
}

const std::vector<std::string> &PlatformSetupSwitchNames() {
  static const std::vector<std::string> Names = {"ahci2", "ahci3"};
  return Names;
}

std::optional<UINTN> PlatformSetupSwitchByte(const std::string &Name) {
  if (Name == "ahci2") {
    return kAhci2Byte;
  }
  if (Name == "ahci3") {
    return kAhci3Byte;
  }
  return std::nullopt;
}

EFI_STATUS SetPlatformSetupSwitch(VariableStore &Store, UINTN Byte, bool On) {
  EnsurePlatformSetup(Store);
  std::vector<uint8_t> Data = PlatformSetupData(Store).value_or(std::vector<uint8_t>{});
  if (Data.size() <= Byte) {
    Data.resize(kSetupSize, 0);
  }
  Data[Byte] = On ? 1 : 0;
  return Store.SetVariable(PLATFORM_SETUP_VARIABLE_NAME, &gPlatformSetupVariableGuid,
                           PLATFORM_SETUP_ATTRIBUTES, Data.size(), Data.data());
}

} // namespace host

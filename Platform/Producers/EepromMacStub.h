// Test producer of EEPROM_MAC_PROTOCOL for the host board: each GetMacAddresses call writes
// chosen MAC texts into chosen slots of the caller's table, the way the board's EEPROM
// service fills slots 1, 2, 5 and 6, and leaves the other slots as they were.
#pragma once

#include <HostPlatform.h>
#include <Protocol/EepromMac.h>

#include <array>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace host {

class EepromMacStub {
public:
  using Table = std::array<std::u16string, MAC_STRING_SLOT_COUNT>;

  explicit EepromMacStub(Platform &Board) : Board_(Board) {}

  // The texts written into the table by every call, by slot. Starts with DefaultSlots().
  const std::map<unsigned, std::string> &Slots() const { return Slots_; }
  void SetSlots(std::map<unsigned, std::string> Slots) { Slots_ = std::move(Slots); }
  // What GetMacAddresses returns from now on (EFI_SUCCESS by default); the slots are written
  // whatever it returns.
  void SetResult(EFI_STATUS Result) { Result_ = Result; }

  unsigned Calls() const { return Calls_; }
  // The table as the last call received it and as it left it (each slot up to its NUL).
  const Table &LastTableIn() const { return TableIn_; }
  const Table &LastTableOut() const { return TableOut_; }

  EFI_STATUS InstallStatus() const { return InstallStatus_; }
  EFI_HANDLE Handle() const { return Handle_; }

  EFI_STATUS OnGetMacAddresses(CHAR16 *Slots);

  // Locally administered unicast addresses for slots 1, 2, 5 and 6.
  static std::map<unsigned, std::string> DefaultSlots();
  // Parses "SLOT=TEXT" (SLOT 0..8, TEXT at most 19 characters).
  static std::optional<std::pair<unsigned, std::string>> ParseSlotSpec(const std::string &Spec);

private:
  friend EepromMacStub &InstallEepromMacStub(Platform &Board);

  Platform &Board_;
  std::map<unsigned, std::string> Slots_ = DefaultSlots();
  EFI_STATUS Result_ = EFI_SUCCESS;
  unsigned Calls_ = 0;
  Table TableIn_;
  Table TableOut_;
  EFI_STATUS InstallStatus_ = EFI_NOT_STARTED;
  EFI_HANDLE Handle_ = nullptr;
};

// Installs EEPROM_MAC_PROTOCOL on a new handle of Board. The stub lives until the next
// installation; its protocol serves only the platform it was installed on.
EepromMacStub &InstallEepromMacStub(Platform &Board);

} // namespace host

// Test producer of EEPROM_MAC_PROTOCOL.
#include "EepromMacStub.h"

#include "ProducerRecord.h"

#include <memory>

namespace host {
namespace {

std::unique_ptr<EepromMacStub> gStub;
Platform *gStubBoard = nullptr;

// The protocol member has no instance argument: the one installed stub answers.
EFI_STATUS EFIAPI StubGetMacAddresses(CHAR16 *Table) {
  if (gStub == nullptr || gStubBoard != &Platform::Current()) {
    return EFI_DEVICE_ERROR;
  }
  return gStub->OnGetMacAddresses(Table);
}

EepromMacStub::Table Snapshot(const CHAR16 *Slots) {
  EepromMacStub::Table Result;
  for (unsigned Slot = 0; Slot < MAC_STRING_SLOT_COUNT; Slot++) {
    const CHAR16 *Entry = Slots + Slot * MAC_STRING_SLOT_CHARS;
    size_t Length = 0;
    while (Length < MAC_STRING_SLOT_CHARS && Entry[Length] != u'\0') {
      Length++;
    }
    Result[Slot].assign(Entry, Length);
  }
  return Result;
}

} // namespace

std::map<unsigned, std::string> EepromMacStub::DefaultSlots() {
  return {
      {1, "02:5a:00:00:00:01"}, {2, "02:5a:00:00:00:02"}, {5, "02:5a:00:00:00:05"}, {6, "02:5a:00:00:00:06"}};
}

std::optional<std::pair<unsigned, std::string>> EepromMacStub::ParseSlotSpec(const std::string &Spec) {
  const size_t Equals = Spec.find('=');
  if (Equals != 1 || Spec[0] < '0' || Spec[0] > '8') {
    return std::nullopt;
  }
  std::string Text = Spec.substr(Equals + 1);
  if (Text.size() >= MAC_STRING_SLOT_CHARS) {
    return std::nullopt;
  }
  return std::make_pair(unsigned(Spec[0] - '0'), Text);
}

EFI_STATUS EepromMacStub::OnGetMacAddresses(CHAR16 *Slots) {
  Calls_++;
  if (Slots == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  TableIn_ = Snapshot(Slots);
  for (const auto &[Slot, Text] : Slots_) {
    if (Slot >= MAC_STRING_SLOT_COUNT) {
      continue;
    }
    CHAR16 *Entry = Slots + Slot * MAC_STRING_SLOT_CHARS;
    for (size_t Index = 0; Index < MAC_STRING_SLOT_CHARS; Index++) {
      Entry[Index] = Index < Text.size() && Index < MAC_STRING_SLOT_CHARS - 1
                         ? static_cast<CHAR16>(static_cast<unsigned char>(Text[Index]))
                         : u'\0';
    }
  }
  TableOut_ = Snapshot(Slots);
  Board_.Log().Append("eeprom-mac-stub",
                      "GetMacAddresses: " + std::to_string(Slots_.size()) + " slots filled\n",
                      Board_.VirtualTimeNs());
  return Result_;
}

EepromMacStub &InstallEepromMacStub(Platform &Board) {
  gStub = std::make_unique<EepromMacStub>(Board);
  gStubBoard = &Board;
  gStub->InstallStatus_ = InstallRecord(
      Board, gEepromMacProtocolGuid,
      EEPROM_MAC_PROTOCOL{Exported(Board, "GetMacAddresses", StubGetMacAddresses)}, &gStub->Handle_);
  return *gStub;
}

} // namespace host

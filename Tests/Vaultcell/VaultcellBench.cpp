// The test board of the I2C and management-processor libraries and the EEPROM MAC driver.
#include "VaultcellBench.h"

#include <BoardCheck.h>
#include <Protocol/EepromMac.h>

#include <gtest/gtest.h>

#include <cstdio>

namespace vaultcell_test {

namespace {

constexpr size_t kRecordBytes = 6;

std::function<void(const VAULTCELL_PROBE_FUNCTIONS &)> gProbeBody;
EFI_STATUS gProbeResult = EFI_SUCCESS;

EFI_STATUS RunProbeBody(const VAULTCELL_PROBE_FUNCTIONS *Functions) {
  gProbeBody(*Functions);
  return gProbeResult;
}

VAULTCELL_PROBE_PROTOCOL gProbe = {RunProbeBody};

} // namespace

std::string Placeholder(unsigned Slot) {
  char Text[24];
  std::snprintf(Text, sizeof(Text), "00:11:22:33:44:%02x", 0x55 + Slot);
  return Text;
}

std::vector<uint8_t> PlaceholderBytes(unsigned Slot) {
  return {0x00, 0x11, 0x22, 0x33, 0x44, uint8_t(0x55 + Slot)};
}

std::string Narrow(const CHAR16 *Text) {
  std::string Result;
  for (; *Text != 0; Text++) {
    Result.push_back(*Text < 0x80 ? char(*Text) : '?');
  }
  return Result;
}

Bench::Bench(std::map<std::string, std::string> Settings, std::map<std::string, std::string> Faults) {
  Core_ = std::make_unique<host::Platform>();
  host::BoardOptions Options;
  Options.Settings = std::move(Settings);
  Options.Faults = std::move(Faults);
  Board_ = host::Board::Build(*Core_, Options);
  // As the board dispatches: Regionhold claims the blocks in the memory-space map first, and
  // MMIO to a range the map does not have is an error.
  EXPECT_EQ(Core_->RunModule("Regionhold").Status, EFI_SUCCESS);
  EFI_GUID Guid = VAULTCELL_PROBE_PROTOCOL_GUID;
  EFI_HANDLE Handle = nullptr;
  EXPECT_EQ(Core_->BootServices()->InstallProtocolInterface(&Handle, &Guid, EFI_NATIVE_INTERFACE, &gProbe),
            EFI_SUCCESS);
}

Bench::~Bench() {
  board_test::ExpectNoUnexpectedErrors(*Board_, Expected_);
  Board_.reset();
  Core_.reset();
}

void Bench::SetRecord(unsigned Record, const std::vector<uint8_t> &Bytes) {
  std::copy(Bytes.begin(), Bytes.end(), Eeprom().MutableContents().begin() + Record * kRecordBytes);
}

host::ImageResult Bench::Probe(const std::function<void(const VAULTCELL_PROBE_FUNCTIONS &)> &Body,
                               EFI_STATUS Result) {
  gProbeBody = Body;
  gProbeResult = Result;
  return Core_->RunModule("VaultcellProbe");
}

host::TimeAccount Bench::ProbeAccount() const {
  auto Found = Core_->TimeAccounts().find("VaultcellProbe");
  return Found != Core_->TimeAccounts().end() ? Found->second : host::TimeAccount{};
}

EFI_STATUS Bench::GetMacAddresses(CHAR16 *Slots) {
  if (!VaultcellLoaded_) {
    EXPECT_EQ(Core_->RunModule("Vaultcell").Status, EFI_SUCCESS);
    VaultcellLoaded_ = true;
  }
  EFI_GUID Guid = EEPROM_MAC_PROTOCOL_GUID;
  EEPROM_MAC_PROTOCOL *Protocol = nullptr;
  EXPECT_EQ(Core_->BootServices()->LocateProtocol(&Guid, nullptr, reinterpret_cast<VOID **>(&Protocol)),
            EFI_SUCCESS);
  EFI_STATUS Status = EFI_NOT_STARTED;
  EXPECT_FALSE(Core_->Guard([&] { Status = Protocol->GetMacAddresses(Slots); }).has_value());
  return Status;
}

EFI_STATUS Bench::GetMacAddresses(const Table &In, Table &Out) {
  MAC_STRING_TABLE Slots = {};
  for (size_t Slot = 0; Slot < In.size(); Slot++) {
    for (size_t Index = 0; Index < In[Slot].size() && Index < MAC_STRING_SLOT_CHARS - 1; Index++) {
      Slots[Slot][Index] = CHAR16(In[Slot][Index]);
    }
  }
  const EFI_STATUS Status = GetMacAddresses(&Slots[0][0]);
  for (size_t Slot = 0; Slot < Out.size(); Slot++) {
    Out[Slot] = Narrow(Slots[Slot]);
  }
  return Status;
}

} // namespace vaultcell_test

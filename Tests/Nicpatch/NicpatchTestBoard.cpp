// The MAC publication driver's test board.
#include "NicpatchTestBoard.h"

#include <BoardCheck.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <unistd.h>

namespace nicpatch_test {
namespace {

constexpr size_t MAC_TEXT_LENGTH = 17;

std::filesystem::path MakeTempDir() {
  std::string Pattern = (std::filesystem::temp_directory_path() / "nicpatch-test-XXXXXX").string();
  if (mkdtemp(Pattern.data()) == nullptr) {
    throw std::runtime_error("mkdtemp failed");
  }
  return Pattern;
}

} // namespace

std::string Narrow(const std::u16string &Text) {
  std::string Result;
  for (char16_t Character : Text) {
    Result.push_back(Character < 0x80 ? static_cast<char>(Character) : '?');
  }
  return Result;
}

std::vector<uint8_t> LoadTestTable(const std::string &Name) {
  std::ifstream File(std::filesystem::path(NICPATCH_AML_DIR) / (Name + ".aml"), std::ios::binary);
  if (!File) {
    throw std::runtime_error("test table " + Name + " is not built");
  }
  return {std::istreambuf_iterator<char>(File), std::istreambuf_iterator<char>()};
}

std::string DefaultMac(unsigned Slot) {
  char Text[32];
  std::snprintf(Text, sizeof(Text), "00:11:22:33:44:%02x", 0x55 + Slot);
  return Text;
}

TestBoard::TestBoard() : Dir_(MakeTempDir()), Nvram_(Dir_ / "nvram.bin") {}

TestBoard::~TestBoard() {
  ShutDown();
  OfflineStore_.reset();
  std::error_code Ignored;
  std::filesystem::remove_all(Dir_, Ignored);
}

void TestBoard::ShutDown() {
  if (Built_) {
    board_test::ExpectNoUnexpectedErrors(*Built_, ExpectedErrors_);
  }
  Built_.reset();
  Board_.reset();
  ExpectedErrors_.clear();
}

host::ImageResult TestBoard::Boot(const BootOptions &Options) {
  ShutDown();
  OfflineStore_.reset();
  host::BoardOptions Settings;
  Settings.NvramFile = Nvram_;
  Settings.Modules = {"Nicpatch"};
  Settings.Acpi.Dsdt = !Options.Dsdt.empty()    ? Options.Dsdt
                       : !Options.Table.empty() ? LoadTestTable(Options.Table)
                                                : std::vector<uint8_t>{};
  Settings.Acpi.InstallAcpiSupport = Options.AcpiSupport;
  Settings.Acpi.InstallSdtProtocol = Options.SdtProtocol;
  if (Options.EepromMac) {
    Settings.Settings["eeprom-mac-stub"] = "";
  } else if (Options.EepromMacWithoutInterface) {
    Settings.Faults["eeprom-mac-stub-no-interface"] = "";
  }
  host::PlatformOptions PlatformOptions;
  PlatformOptions.NvramFile = Nvram_;
  Board_ = std::make_unique<host::Platform>(PlatformOptions);
  Built_ = host::Board::Build(*Board_, Settings);

  Acpi_ = Built_->Producer<host::AcpiTablesProducer>("acpi-tables");
  EXPECT_EQ(Acpi_->InstallStatus(), EFI_SUCCESS);
  OriginalDsdt_ = CurrentDsdt();
  EepromMac_ = Built_->Producer<host::EepromMacStub>("eeprom-mac-stub");
  if (EepromMac_ != nullptr) {
    EepromMac_->SetSlots(Options.EepromSlots);
    EepromMac_->SetResult(Options.EepromResult);
  }
  return Built_->Dispatch().front();
}

std::vector<uint8_t> TestBoard::CurrentDsdt() const {
  std::span<uint8_t> Table = Acpi_->Dsdt();
  return {Table.begin(), Table.end()};
}

bool TestBoard::LogContains(const std::string &Text) const {
  return Board_->Log().Contains(Text);
}

host::VariableStore &TestBoard::Store() {
  if (Board_) {
    return Board_->Variables();
  }
  if (!OfflineStore_) {
    OfflineStore_ = std::make_unique<host::VariableStore>();
    std::string Error;
    if (!OfflineStore_->AttachFile(Nvram_, &Error)) {
      throw std::runtime_error("NVRAM file: " + Error);
    }
  }
  return *OfflineStore_;
}

void TestBoard::SetVariable(const std::string &Name, const EFI_GUID &Guid, UINT32 Attributes,
                            const std::vector<uint8_t> &Data) {
  // Edits happen between boots, as a user of the setup screen or the shell would make them.
  ShutDown();
  host::VariableStore &Variables = Store();
  Variables.Delete(Name, Guid);
  ASSERT_EQ(Variables.Set(Name, Guid, Attributes, Data), EFI_SUCCESS) << Name;
}

void TestBoard::SetText(const std::string &Name, const EFI_GUID &Guid, const std::u16string &Text,
                        size_t Bytes, UINT32 Attributes) {
  std::vector<uint8_t> Data(Bytes, 0);
  for (size_t Index = 0; Index < Text.size() && 2 * Index + 1 < Bytes; Index++) {
    Data[2 * Index] = static_cast<uint8_t>(Text[Index] & 0xFF);
    Data[2 * Index + 1] = static_cast<uint8_t>(Text[Index] >> 8);
  }
  SetVariable(Name, Guid, Attributes, Data);
}

void TestBoard::SetSwitch(std::optional<uint8_t> Comparand, std::optional<uint8_t> Setup,
                          std::optional<std::u16string> Text) {
  if (Comparand) {
    SetVariable("NicpatchSwitchBaseComparand", SwitchGuid, NV_BS, {*Comparand});
  }
  if (Setup) {
    SetVariable("NicpatchSetupSwitchVar", SwitchGuid, NV_BS_RT, {*Setup});
  }
  if (Text) {
    SetText("NicpatchSwitch", MacGuid, *Text);
  }
}

void TestBoard::FillNonVolatileStore() {
  ShutDown();
  host::VariableStore &Variables = Store();
  const EFI_GUID FillerGuid = {0x6C1B3E07, 0x1D2A, 0x4F55, {0x9A, 0x10, 0x2E, 0x77, 0x41, 0x08, 0xC3, 0x5D}};
  unsigned Index = 0;
  for (size_t Size = 32 * 1024; Size >= 1; Size /= 2) {
    while (Variables.Set("Filler" + std::to_string(Index), FillerGuid, NV_BS,
                         std::vector<uint8_t>(Size, 0xA5)) == EFI_SUCCESS) {
      Index++;
    }
  }
}

std::optional<host::VariableStore::Variable> TestBoard::Variable(const std::string &Name,
                                                                 const EFI_GUID &Guid) {
  return Store().Find(Name, Guid);
}

std::optional<std::u16string> TestBoard::Text(const std::string &Name, const EFI_GUID &Guid) {
  auto Found = Variable(Name, Guid);
  if (!Found) {
    return std::nullopt;
  }
  std::u16string Result;
  for (size_t Index = 0; Index + 1 < Found->Data.size(); Index += 2) {
    char16_t Character = static_cast<char16_t>(Found->Data[Index] | (Found->Data[Index + 1] << 8));
    if (Character == u'\0') {
      break;
    }
    Result.push_back(Character);
  }
  return Result;
}

std::optional<std::string> TestBoard::Mac(unsigned Slot) {
  auto Found = Text("MAC" + std::to_string(Slot), MacGuid);
  if (!Found) {
    return std::nullopt;
  }
  return Narrow(*Found);
}

std::string TestBoard::DsdtMacOf(const std::string &Device, const std::string &Key) const {
  std::vector<uint8_t> Table = CurrentDsdt();
  // A device declared with a full path below \_SB, else one declared by its short name.
  const std::string FullPath = "_SB_" + Device;
  auto Name = std::search(Table.begin(), Table.end(), FullPath.begin(), FullPath.end());
  if (Name == Table.end()) {
    Name = std::search(Table.begin(), Table.end(), Device.begin(), Device.end());
  }
  if (Name == Table.end()) {
    return "<no device " + Device + ">";
  }
  auto Found = std::search(Name, Table.end(), Key.begin(), Key.end());
  const size_t ValueOffset = Key.size() + 2;
  if (Found == Table.end() || static_cast<size_t>(Table.end() - Found) < ValueOffset + MAC_TEXT_LENGTH) {
    return "<no key after " + Device + ">";
  }
  return std::string(Found + ValueOffset, Found + ValueOffset + MAC_TEXT_LENGTH);
}

} // namespace nicpatch_test

// A test board for the MAC publication driver: each Boot() is one boot of the board that
// Board::Build assembles on a persistent NVRAM file, with a chosen DSDT and, optionally, the
// test EEPROM MAC service, dispatching Nicpatch.so. Before the next boot and at the end, the
// boot must not have recorded an error the test did not expect.
#pragma once

#include <AcpiTables.h>
#include <Board.h>
#include <EepromMacStub.h>
#include <HostPlatform.h>
#include <VariableStore.h>

#include <Guid/NicpatchVariables.h>

#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace nicpatch_test {

inline const EFI_GUID MacGuid = NICPATCH_MAC_VARIABLE_GUID;
inline const EFI_GUID SwitchGuid = NICPATCH_SWITCH_GUID;
constexpr UINT32 NV_BS = 3;
constexpr UINT32 NV_BS_RT = 7;

struct BootOptions {
  std::string Table = "NinePorts";        // a test table from Asl/, or "" for the board's DSDT
  std::vector<uint8_t> Dsdt;              // explicit DSDT bytes, used instead of Table when set
  bool EepromMac = true;                  // install the test EEPROM MAC service
  bool EepromMacWithoutInterface = false; // instead, install its GUID with a NULL interface
  std::map<unsigned, std::string> EepromSlots = host::EepromMacStub::DefaultSlots();
  EFI_STATUS EepromResult = EFI_SUCCESS;
  bool AcpiSupport = true;
  bool SdtProtocol = true;
};

std::vector<uint8_t> LoadTestTable(const std::string &Name);
// The placeholder text of a slot: "00:11:22:33:44:5X".
std::string DefaultMac(unsigned Slot);

class TestBoard {
public:
  TestBoard();
  ~TestBoard();

  // Boots the board once and runs Nicpatch. The board stays alive until the next Boot().
  host::ImageResult Boot(const BootOptions &Options = {});
  // An error the current boot is expected to record (a text it contains).
  void ExpectError(const std::string &Text) { ExpectedErrors_.push_back(Text); }

  host::Platform &Board() { return *Board_; }
  host::AcpiTablesProducer &Acpi() { return *Acpi_; }
  host::EepromMacStub *EepromMac() { return EepromMac_; }
  const std::vector<uint8_t> &OriginalDsdt() const { return OriginalDsdt_; }
  std::vector<uint8_t> CurrentDsdt() const;
  bool LogContains(const std::string &Text) const;

  // Variables on the NVRAM file, between boots (the previous board is shut down first).
  void SetVariable(const std::string &Name, const EFI_GUID &Guid, UINT32 Attributes,
                   const std::vector<uint8_t> &Data);
  void SetText(const std::string &Name, const EFI_GUID &Guid, const std::u16string &Text, size_t Bytes = 40,
               UINT32 Attributes = NV_BS);
  void SetSwitch(std::optional<uint8_t> Comparand, std::optional<uint8_t> Setup,
                 std::optional<std::u16string> Text);
  // Fills the non-volatile store with other variables until not even one byte more fits.
  void FillNonVolatileStore();
  std::optional<host::VariableStore::Variable> Variable(const std::string &Name, const EFI_GUID &Guid);
  // A text variable up to its first NUL.
  std::optional<std::u16string> Text(const std::string &Name, const EFI_GUID &Guid);
  std::optional<std::string> Mac(unsigned Slot);

  // The 17 characters of the Key's value in the device with the given name segment (the
  // first device declared as \_SB.<Device>, else the first occurrence of the segment), in
  // the current DSDT.
  std::string DsdtMacOf(const std::string &Device, const std::string &Key = "local-mac-address") const;

private:
  host::VariableStore &Store();
  void ShutDown(); // checks the boot's errors, then ends it

  std::filesystem::path Dir_;
  std::filesystem::path Nvram_;
  std::unique_ptr<host::Platform> Board_;
  std::unique_ptr<host::Board> Built_;
  std::vector<std::string> ExpectedErrors_;
  std::unique_ptr<host::VariableStore> OfflineStore_;
  host::AcpiTablesProducer *Acpi_ = nullptr;
  host::EepromMacStub *EepromMac_ = nullptr;
  std::vector<uint8_t> OriginalDsdt_;
};

std::string Narrow(const std::u16string &Text);

} // namespace nicpatch_test

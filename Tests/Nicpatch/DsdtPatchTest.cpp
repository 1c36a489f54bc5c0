// The DSDT walk and patch on iasl-compiled tables.
#include "NicpatchTestBoard.h"
#include "ScratchFiles.h"

#include <gtest/gtest.h>

#include <cstring>

namespace nicpatch_test {
namespace {

constexpr char PLACEHOLDER[] = "00:00:00:00:00:00";

std::string ServiceText(unsigned Slot) {
  return "02:5a:00:00:00:0" + std::to_string(Slot);
}

// The text the device with unit digit Unit should carry: the service's for slots 1, 2, 5 and
// 6, the slot's placeholder otherwise.
std::string ExpectedForUnit(unsigned Unit) {
  const unsigned Slot = Unit == 8 ? 0 : Unit + 1;
  return (Slot == 1 || Slot == 2 || Slot == 5 || Slot == 6) ? ServiceText(Slot) : DefaultMac(Slot);
}

std::filesystem::path ScratchAml(const std::string &Name) {
  return board_test::ScratchPath(Name).string() + ".aml";
}

// The patched table still verifies: its checksum sums to zero, iasl finds no checksum
// problem, and every byte that changed belongs to one of the listed devices' values.
void ExpectSoundTable(TestBoard &Board, const std::string &Name) {
  std::vector<uint8_t> Table = Board.CurrentDsdt();
  EXPECT_EQ(host::AcpiChecksum(Table.data(), Table.size()), 0);
  EXPECT_TRUE(Board.Acpi().ChecksumsValid());
  host::AmlDisassembly Listing = host::WriteAndDisassembleAml(Table, ScratchAml(Name));
  EXPECT_TRUE(Listing.Ran) << Listing.Output;
  EXPECT_FALSE(Listing.ChecksumProblem) << Listing.Output;
  std::error_code Ignored;
  std::filesystem::remove(Listing.AmlFile, Ignored);
  std::filesystem::remove(Listing.DslFile, Ignored);
}

class NicpatchDsdt : public testing::Test {
protected:
  void SetUp() override { Board.SetSwitch(1, 1, u"1"); }

  host::ImageResult BootWith(const std::string &Table) {
    BootOptions Options;
    Options.Table = Table;
    return Board.Boot(Options);
  }

  TestBoard Board;
};

TEST_F(NicpatchDsdt, PatchesEveryPortByItsUnitDigit) {
  host::ImageResult Result = BootWith("NinePorts");
  EXPECT_EQ(Result.Status, EFI_SUCCESS);
  for (unsigned Unit = 0; Unit <= 8; Unit++) {
    EXPECT_EQ(Board.DsdtMacOf("ETH" + std::to_string(Unit)), ExpectedForUnit(Unit)) << "unit " << Unit;
  }
  // Other hardware IDs, ports without _DSM or without the key, and ports declared by short
  // names inside Scope(\_SB) are left alone.
  EXPECT_EQ(Board.DsdtMacOf("GPI0"), PLACEHOLDER);
  EXPECT_EQ(Board.DsdtMacOf("ETHK", "other-property-key"), PLACEHOLDER);
  EXPECT_EQ(Board.DsdtMacOf("ETHS"), PLACEHOLDER);
  EXPECT_TRUE(Board.LogContains("MAC Locate Protocol(ACPISupport)- EFI_SUCCESS Success"));
  char Expected[64];
  std::snprintf(Expected, sizeof(Expected), "Nicpatcher : Found DSDT Table at 0x%08X",
                static_cast<unsigned>(Board.Acpi().DsdtAddress()));
  EXPECT_TRUE(Board.LogContains(Expected)) << Board.Board().Log().Text();
  EXPECT_TRUE(
      Board.LogContains("Nicpatcher : Found DSDT Length at " + std::to_string(Board.OriginalDsdt().size())));
  ExpectSoundTable(Board, "NinePorts");
  // The table is patched where it lies: same length, only value bytes changed.
  std::vector<uint8_t> Before = Board.OriginalDsdt(), After = Board.CurrentDsdt();
  ASSERT_EQ(Before.size(), After.size());
  size_t Changed = 0;
  for (size_t Index = 0; Index < Before.size(); Index++) {
    Changed += Before[Index] != After[Index] && Index != 9;
  }
  EXPECT_LE(Changed, 9u * 17u);
  EXPECT_GT(Changed, 0u);
}

TEST_F(NicpatchDsdt, BoardTablePatchesAllNinePorts) {
  host::ImageResult Result = BootWith("");
  EXPECT_EQ(Result.Status, EFI_SUCCESS);
  for (unsigned Unit = 0; Unit <= 8; Unit++) {
    EXPECT_EQ(Board.DsdtMacOf("ETH" + std::to_string(Unit)), ExpectedForUnit(Unit)) << "unit " << Unit;
  }
  ExpectSoundTable(Board, "BoardDsdt");
}

TEST_F(NicpatchDsdt, TenthPortIsLeftAndTheWalkSucceeds) {
  EXPECT_EQ(BootWith("TenPorts").Status, EFI_SUCCESS);
  for (unsigned Unit = 0; Unit <= 8; Unit++) {
    EXPECT_EQ(Board.DsdtMacOf("ETH" + std::to_string(Unit)), ExpectedForUnit(Unit)) << "unit " << Unit;
  }
  EXPECT_EQ(Board.DsdtMacOf("ETHT"), PLACEHOLDER);
  ExpectSoundTable(Board, "TenPorts");
}

TEST_F(NicpatchDsdt, UnitNineStopsTheWalkAfterEarlierPatches) {
  host::ImageResult Result = BootWith("UnitNine");
  EXPECT_EQ(Result.Status, EFI_INVALID_PARAMETER);
  EXPECT_TRUE(Result.Unloaded);
  EXPECT_EQ(Board.DsdtMacOf("ETH0"), ExpectedForUnit(0));
  EXPECT_EQ(Board.DsdtMacOf("ETH1"), ExpectedForUnit(1));
  EXPECT_EQ(Board.DsdtMacOf("ETH9"), PLACEHOLDER);
  EXPECT_EQ(Board.DsdtMacOf("ETH2"), PLACEHOLDER);
  ExpectSoundTable(Board, "UnitNine");
  // The variables were not rewritten from the service's table.
  EXPECT_EQ(Board.Mac(1), DefaultMac(1));
}

TEST_F(NicpatchDsdt, PortWithoutUidIsSkipped) {
  EXPECT_EQ(BootWith("NoUid").Status, EFI_SUCCESS);
  // Neither the _HID's bytes nor the stray _UID after the device give it a unit.
  EXPECT_EQ(Board.DsdtMacOf("ETHU"), PLACEHOLDER);
  EXPECT_EQ(Board.DsdtMacOf("ETH1"), ExpectedForUnit(1));
  ExpectSoundTable(Board, "NoUid");
}

TEST_F(NicpatchDsdt, PortAtTheVeryEndOfTheTableIsPatched) {
  EXPECT_EQ(BootWith("EndOfTable").Status, EFI_SUCCESS);
  std::vector<uint8_t> Table = Board.CurrentDsdt();
  // The last port's value and its NUL are the table's last 18 bytes.
  ASSERT_GE(Table.size(), 18u);
  EXPECT_EQ(Table.back(), 0);
  EXPECT_EQ(std::string(Table.end() - 18, Table.end() - 1), ExpectedForUnit(8));
  EXPECT_EQ(Board.DsdtMacOf("ETH0"), ExpectedForUnit(0));
  ExpectSoundTable(Board, "EndOfTable");
}

TEST_F(NicpatchDsdt, ValueThatWouldEndPastTheTableIsNotWritten) {
  // The same table with its Length cut inside the last port's value.
  BootOptions Options;
  Options.Dsdt = LoadTestTable("EndOfTable");
  const std::vector<uint8_t> Original = Options.Dsdt;
  constexpr uint32_t Cut = 10;
  const uint32_t Length = static_cast<uint32_t>(Options.Dsdt.size() - Cut);
  std::memcpy(Options.Dsdt.data() + 4, &Length, sizeof(Length));
  EXPECT_EQ(Board.Boot(Options).Status, EFI_SUCCESS);
  EXPECT_EQ(Board.DsdtMacOf("ETH0"), ExpectedForUnit(0));
  // Nothing of the last value was written, inside or behind the table.
  const uint8_t *Installed = Board.Acpi().Dsdt().data();
  EXPECT_TRUE(std::equal(Original.end() - 18, Original.end(), Installed + Original.size() - 18));
  // The checksum covers Length bytes only.
  EXPECT_EQ(host::AcpiChecksum(Installed, Length), 0);
}

TEST_F(NicpatchDsdt, ShortPlaceholderIsNotOverwritten) {
  EXPECT_EQ(BootWith("ShortValue").Status, EFI_SUCCESS);
  std::vector<uint8_t> Before = Board.OriginalDsdt();
  std::vector<uint8_t> After = Board.CurrentDsdt();
  const std::string Key = "local-mac-address";
  auto First = std::search(After.begin(), After.end(), Key.begin(), Key.end());
  ASSERT_NE(First, After.end());
  const size_t Offset = static_cast<size_t>(First - After.begin());
  // "00:00:00" and the AML behind it are unchanged.
  EXPECT_TRUE(std::equal(Before.begin() + Offset, Before.begin() + Offset + 40, After.begin() + Offset));
  EXPECT_EQ(Board.DsdtMacOf("ETH1"), ExpectedForUnit(1));
  ExpectSoundTable(Board, "ShortValue");
}

TEST_F(NicpatchDsdt, PortsInsideScopeOnlyLeaveTheTableUntouched) {
  EXPECT_EQ(BootWith("ScopeOnly").Status, EFI_SUCCESS);
  EXPECT_EQ(Board.CurrentDsdt(), Board.OriginalDsdt());
  EXPECT_EQ(Board.Mac(1), ServiceText(1));
}

TEST_F(NicpatchDsdt, ServiceTextThatIsNoAmlStringIsNotWritten) {
  BootOptions Options;
  Options.EepromSlots = {{1, "02:5a"}, {2, "02:5a:00:00:00:02"}};
  EXPECT_EQ(Board.Boot(Options).Status, EFI_SUCCESS);
  EXPECT_EQ(Board.DsdtMacOf("ETH0"), PLACEHOLDER);
  EXPECT_EQ(Board.DsdtMacOf("ETH1"), "02:5a:00:00:00:02");
  EXPECT_TRUE(Board.LogContains("Nicpatcher : MAC text of slot 1 is not usable, unit 0 left as it is"));
  ExpectSoundTable(Board, "ShortService");
  // The service's texts are stored as they are.
  EXPECT_EQ(Board.Mac(1), "02:5a");
}

TEST_F(NicpatchDsdt, TableShorterThanItsHeaderIsRejected) {
  BootOptions Options;
  Options.Dsdt = LoadTestTable("EndOfTable");
  const uint32_t Length = 20;
  std::memcpy(Options.Dsdt.data() + 4, &Length, sizeof(Length));
  host::ImageResult Result = Board.Boot(Options);
  EXPECT_EQ(Result.Status, EFI_VOLUME_CORRUPTED);
  EXPECT_EQ(std::memcmp(Board.Acpi().Dsdt().data() + 36, LoadTestTable("EndOfTable").data() + 36, 100), 0);
}

} // namespace
} // namespace nicpatch_test

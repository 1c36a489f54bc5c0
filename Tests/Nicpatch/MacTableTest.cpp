// The MAC table: stored variables, placeholders, the EEPROM service and the failure paths
// of the entry routine.
#include "NicpatchTestBoard.h"

#include <gtest/gtest.h>

namespace nicpatch_test {
namespace {

// A board whose switch is on since the previous boot.
class NicpatchMacTable : public testing::Test {
protected:
  void SetUp() override { Board.SetSwitch(1, 1, u"1"); }

  void ExpectStoredText(unsigned Slot, const std::string &Text) {
    auto Found = Board.Variable("MAC" + std::to_string(Slot), MacGuid);
    ASSERT_TRUE(Found.has_value()) << Slot;
    EXPECT_EQ(Found->Attributes, NV_BS);
    ASSERT_EQ(Found->Data.size(), 40u);
    std::vector<uint8_t> Expected(40, 0);
    for (size_t Index = 0; Index < Text.size(); Index++) {
      Expected[2 * Index] = static_cast<uint8_t>(Text[Index]);
    }
    EXPECT_EQ(Found->Data, Expected) << "MAC" << Slot;
  }

  TestBoard Board;
};

TEST_F(NicpatchMacTable, UnusableVariablesAreReplacedByTheSlotPlaceholder) {
  Board.SetText("MAC0", MacGuid, u"01:00:5e:00:00:01");                            // group bit
  Board.SetText("MAC3", MacGuid, u"00:00:00:00:00:00");                            // all zero
  Board.SetText("MAC4", MacGuid, u"00:11:22:33:44");                               // too short
  Board.SetText("MAC7", MacGuid, u"02:00:00:00:00:07", 44);                        // larger than 40 bytes
  Board.SetText("MAC8", MacGuid, std::u16string(u"02:00:00:00:00:0") + u'\x0138'); // beyond 8 bits
  Board.SetText("MAC6", MacGuid, u"02:00:00:00:00:06:00:00:00:00");                // no NUL in 40 bytes
  Board.SetText("MAC5", MacGuid, u"02:00:00:00:00:05", 44, NV_BS_RT);              // larger, other attributes
  BootOptions Options;
  Options.EepromSlots = {}; // the service leaves every slot as the variables gave it
  EXPECT_EQ(Board.Boot(Options).Status, EFI_SUCCESS);
  for (unsigned Slot : {0u, 3u, 4u, 5u, 6u, 7u, 8u}) {
    ExpectStoredText(Slot, DefaultMac(Slot));
  }
  // The service saw the placeholders, and the DSDT carries them: unit 8 takes slot 0.
  EXPECT_EQ(Narrow(Board.EepromMac()->LastTableIn()[0]), "00:11:22:33:44:55");
  EXPECT_EQ(Board.DsdtMacOf("ETH8"), "00:11:22:33:44:55");
  EXPECT_EQ(Board.DsdtMacOf("ETH2"), "00:11:22:33:44:58");
}

TEST_F(NicpatchMacTable, ValidStoredTextIsKeptByteForByte) {
  Board.SetText("MAC3", MacGuid, u"0A:bC:de:F0:12:34");
  BootOptions Options;
  Options.EepromSlots = {};
  EXPECT_EQ(Board.Boot(Options).Status, EFI_SUCCESS);
  ExpectStoredText(3, "0A:bC:de:F0:12:34");
  EXPECT_EQ(Board.DsdtMacOf("ETH2"), "0A:bC:de:F0:12:34");
  // Missing slots got their placeholders.
  ExpectStoredText(1, DefaultMac(1));
}

TEST_F(NicpatchMacTable, ServiceTextsWinAndAreStored) {
  Board.SetText("MAC1", MacGuid, u"02:00:00:00:00:01");
  EXPECT_EQ(Board.Boot().Status, EFI_SUCCESS);
  EXPECT_EQ(Narrow(Board.EepromMac()->LastTableIn()[1]), "02:00:00:00:00:01");
  for (unsigned Slot : {1u, 2u, 5u, 6u}) {
    const std::string Expected = "02:5a:00:00:00:0" + std::to_string(Slot);
    ExpectStoredText(Slot, Expected);
    EXPECT_EQ(Board.DsdtMacOf("ETH" + std::to_string(Slot - 1)), Expected);
  }
  ExpectStoredText(0, DefaultMac(0));
  EXPECT_EQ(Board.DsdtMacOf("ETH8"), DefaultMac(0));
  EXPECT_EQ(Board.DsdtMacOf("ETH3"), DefaultMac(4));
}

TEST_F(NicpatchMacTable, MissingServiceFailsWithNotFoundAndUnloads) {
  Board.SetText("MAC2", MacGuid, u"02:00:00:00:00:02");
  BootOptions Options;
  Options.EepromMac = false;
  host::ImageResult Result = Board.Boot(Options);
  EXPECT_EQ(Result.Status, EFI_NOT_FOUND);
  EXPECT_TRUE(Result.Unloaded);
  EXPECT_EQ(Board.CurrentDsdt(), Board.OriginalDsdt());
  // The variables keep what the table preparation gave them.
  ExpectStoredText(2, "02:00:00:00:00:02");
  ExpectStoredText(5, DefaultMac(5));
}

TEST_F(NicpatchMacTable, ServiceInstalledWithoutInterfaceCountsAsMissing) {
  BootOptions Options;
  Options.EepromMac = false;
  Options.EepromMacWithoutInterface = true;
  host::ImageResult Result = Board.Boot(Options);
  EXPECT_FALSE(Result.Halted.has_value());
  EXPECT_EQ(Result.Status, EFI_NOT_FOUND);
  EXPECT_TRUE(Result.Unloaded);
  EXPECT_EQ(Board.CurrentDsdt(), Board.OriginalDsdt());
  ExpectStoredText(1, DefaultMac(1));
}

TEST_F(NicpatchMacTable, ServiceErrorIsReturnedAndNothingIsPatched) {
  BootOptions Options;
  Options.EepromResult = EFI_DEVICE_ERROR;
  host::ImageResult Result = Board.Boot(Options);
  EXPECT_EQ(Result.Status, EFI_DEVICE_ERROR);
  EXPECT_TRUE(Result.Unloaded);
  EXPECT_EQ(Board.CurrentDsdt(), Board.OriginalDsdt());
  ExpectStoredText(1, DefaultMac(1));
}

TEST_F(NicpatchMacTable, MissingAcpiSupportIsNotReadyAndKeepsVariables) {
  BootOptions Options;
  Options.AcpiSupport = false;
  host::ImageResult Result = Board.Boot(Options);
  EXPECT_EQ(Result.Status, EFI_NOT_READY);
  EXPECT_TRUE(Result.Unloaded);
  EXPECT_TRUE(Board.LogContains("ACPI Support Protocol is not ready for MAC components"));
  EXPECT_EQ(Board.CurrentDsdt(), Board.OriginalDsdt());
  // Not rewritten from the service's table.
  ExpectStoredText(1, DefaultMac(1));
}

TEST_F(NicpatchMacTable, MissingTableProtocolReportsTheDsdtNotFound) {
  BootOptions Options;
  Options.SdtProtocol = false;
  host::ImageResult Result = Board.Boot(Options);
  EXPECT_EQ(Result.Status, EFI_NOT_AVAILABLE_YET);
  EXPECT_TRUE(Board.LogContains("MAC Locate Protocol(ACPISupport)- EFI_SUCCESS Success"));
  EXPECT_TRUE(Board.LogContains("Nicpatcher : Found DSDT Table not found"));
  ExpectStoredText(1, DefaultMac(1));
}

TEST_F(NicpatchMacTable, FailedVariableWriteStopsThePreparation) {
  Board.SetText("MAC0", MacGuid, u"02:00:00:00:00:10");
  Board.SetText("MAC2", MacGuid, u"bad");
  Board.FillNonVolatileStore();
  host::ImageResult Result = Board.Boot();
  EXPECT_EQ(Result.Status, EFI_OUT_OF_RESOURCES);
  EXPECT_TRUE(Result.Unloaded);
  // MAC1 could not be created; MAC2 was never looked at; nothing reached the DSDT.
  EXPECT_FALSE(Board.Variable("MAC1", MacGuid).has_value());
  EXPECT_EQ(Board.Mac(2), "bad");
  ExpectStoredText(0, "02:00:00:00:00:10");
  EXPECT_EQ(Board.EepromMac()->Calls(), 0u);
  EXPECT_EQ(Board.CurrentDsdt(), Board.OriginalDsdt());
}

} // namespace
} // namespace nicpatch_test

// End to end on the emulated board: boardsim boots twice (and a third time without the
// EEPROM service) on one NVRAM file, with the switch turned on between boots by
// `boardsim vars`, as a person at the command line would do it.
#include "ScratchFiles.h"
#include "TextFiles.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace {

namespace fs = std::filesystem;

using board_test::Count;
using board_test::ReadFile;

class NicpatchScenario : public testing::Test {
protected:
  void SetUp() override {
    Dir = board_test::ScratchPath("nicpatch-scenario");
    fs::remove_all(Dir);
    fs::create_directories(Dir);
  }
  void TearDown() override {
    if (!HasFailure()) {
      fs::remove_all(Dir);
    }
  }

  int Boardsim(const std::string &Arguments, const std::string &Output) {
    return board_test::RunToFile(BOARDSIM, Arguments, Dir / Output);
  }

  int Boot(const std::string &Name, const std::string &Extra) {
    return Boardsim("boot --quiet --nvram '" + Nvram().string() + "' --out '" + (Dir / Name).string() + "' " +
                        Extra,
                    Name + ".txt");
  }

  fs::path Nvram() const { return Dir / "nvram.bin"; }
  std::string Log(const std::string &Name) const { return ReadFile(Dir / Name / "board.log"); }
  std::string Dsl(const std::string &Name) const { return ReadFile(Dir / Name / "dsdt.dsl"); }

  fs::path Dir;
};

TEST_F(NicpatchScenario, SwitchOnAtTheSecondBootPublishesTheServiceAddresses) {
  // First boot: the switch variables are created off; the DSDT keeps its placeholders.
  ASSERT_EQ(Boot("boot1", "--eeprom-mac-stub"), 0) << ReadFile(Dir / "boot1.txt");
  std::string Log1 = Log("boot1");
  EXPECT_NE(Log1.find("Nicpatch returned EFI_SUCCESS"), std::string::npos) << Log1;
  EXPECT_EQ(Log1.find("Nicpatcher : Found DSDT"), std::string::npos) << Log1;
  std::string Dsl1 = Dsl("boot1");
  EXPECT_EQ(Count(Dsl1, "\"local-mac-address\""), 9u) << Dsl1;
  EXPECT_EQ(Count(Dsl1, "\"00:00:00:00:00:00\""), 9u);
  EXPECT_NE(Log1.find("checksum valid"), std::string::npos) << Log1;

  ASSERT_EQ(Boardsim("vars --nvram '" + Nvram().string() +
                         "' set NicpatchSetupSwitchVar --guid nicpatch-switch --u8 1 --attrs nv,bs,rt",
                     "set.txt"),
            0)
      << ReadFile(Dir / "set.txt");

  // Second boot: the switch turns on and the DSDT carries the addresses.
  ASSERT_EQ(Boot("boot2", "--eeprom-mac-stub"), 0) << ReadFile(Dir / "boot2.txt");
  std::string Log2 = Log("boot2");
  EXPECT_NE(Log2.find("Nicpatch returned EFI_SUCCESS"), std::string::npos) << Log2;
  EXPECT_NE(Log2.find("MAC Locate Protocol(ACPISupport)- EFI_SUCCESS Success"), std::string::npos) << Log2;
  EXPECT_NE(Log2.find("Nicpatcher : Found DSDT Table at 0x"), std::string::npos) << Log2;
  EXPECT_NE(Log2.find("checksum valid"), std::string::npos) << Log2;
  std::string Dsl2 = Dsl("boot2");
  for (const char *Text : {"02:5a:00:00:00:01", "02:5a:00:00:00:02", "02:5a:00:00:00:05", "02:5a:00:00:00:06",
                           "00:11:22:33:44:55", "00:11:22:33:44:58", "00:11:22:33:44:5d"}) {
    EXPECT_EQ(Count(Dsl2, std::string("\"") + Text + "\""), 1u) << Text << "\n" << Dsl2;
  }
  EXPECT_EQ(Count(Dsl2, "\"00:00:00:00:00:00\""), 0u);

  ASSERT_EQ(Boardsim("vars --nvram '" + Nvram().string() + "' show MAC1 --guid nicpatch-mac", "mac1.txt"), 0);
  EXPECT_NE(ReadFile(Dir / "mac1.txt").find("02:5a:00:00:00:01"), std::string::npos)
      << ReadFile(Dir / "mac1.txt");

  // Third boot without the EEPROM service (Vaultcell not dispatched): the driver fails and is
  // unloaded, DSDT untouched. Regionhold still claims the blocks the board's firmware report reads.
  ASSERT_EQ(Boot("boot3", "--modules Regionhold,Nicpatch"), 0) << ReadFile(Dir / "boot3.txt");
  std::string Log3 = Log("boot3");
  EXPECT_NE(Log3.find("Nicpatch returned EFI_NOT_FOUND"), std::string::npos) << Log3;
  EXPECT_NE(Log3.find("unload"), std::string::npos) << Log3;
  EXPECT_EQ(Count(Dsl("boot3"), "\"00:00:00:00:00:00\""), 9u);
}

} // namespace

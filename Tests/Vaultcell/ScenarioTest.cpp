// The emulated board end to end with boardsim: a MAC address travels from the EEPROM image
// through Vaultcell and Nicpatch into the DSDT (disassembled by iasl) and the MAC variables;
// the image is repaired only where a record holds no usable address.
#include <TextFiles.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

class Scenario : public ::testing::Test {
protected:
  void SetUp() override {
    Dir = fs::temp_directory_path() / ("vaultcell-scenario-" + std::to_string(::getpid()) + "-" +
                                       ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(Dir);
    fs::create_directories(Dir);
  }
  void TearDown() override { fs::remove_all(Dir); }

  // Runs boardsim with Arguments; returns its standard output.
  std::string Run(const std::string &Arguments, int ExpectedExit = 0) {
    const fs::path Output = Dir / "output.txt";
    EXPECT_EQ(board_test::RunToFile(BOARDSIM, Arguments, Output), ExpectedExit) << Arguments;
    return Read(Output);
  }
  static std::string Read(const fs::path &File) { return board_test::ReadFile(File); }
  std::string Boot(const std::string &Name, const std::string &More = "") {
    return Run("boot --quiet --out " + (Dir / Name).string() + " --nvram " + (Dir / "nvram.bin").string() +
               " --eeprom " + Image().string() + " " + More);
  }
  fs::path Image() const { return Dir / "eeprom.bin"; }
  fs::path Dir;
};

TEST_F(Scenario, EepromAddressesReachTheDsdtAndVariables) {
  // Boot 1 creates the switch variables (publication off) and an erased image, which the
  // firmware report's call programs with placeholders.
  Boot("boot1");
  EXPECT_NE(Run("eeprom --file " + Image().string() + " show")
                .find("port 5 (record 3, offset 18): 00:11:22:33:44:5b"),
            std::string::npos);
  Run("vars --nvram " + (Dir / "nvram.bin").string() +
      " set NicpatchSetupSwitchVar --guid nicpatch-switch --u8 1 --attrs nv,bs,rt");
  Run("eeprom --file " + Image().string() + " set-mac 0 00:1B:21:0A:0B:0C");
  Run("eeprom --file " + Image().string() + " set-mac 4 03:00:00:00:00:01");
  const std::string Before = Read(Image());

  Boot("boot2");
  const std::string Dsl = Read(Dir / "boot2" / "dsdt.dsl");
  EXPECT_NE(Dsl.find("\"00:1b:21:0a:0b:0c\""), std::string::npos);
  EXPECT_NE(Dsl.find("\"00:11:22:33:44:57\""), std::string::npos);
  EXPECT_NE(Dsl.find("\"00:11:22:33:44:5a\""), std::string::npos); // the group address repaired
  EXPECT_EQ(Dsl.find("03:00:00:00:00:01"), std::string::npos);
  const std::string Mac1 =
      Run("vars --nvram " + (Dir / "nvram.bin").string() + " show MAC1 --guid nicpatch-mac");
  EXPECT_NE(Mac1.find("00:1b:21:0a:0b:0c"), std::string::npos) << Mac1;
  // Only record 2 (port 4) changed in the image.
  const std::string After = Read(Image());
  ASSERT_EQ(After.size(), Before.size());
  for (size_t Index = 0; Index < After.size(); Index++) {
    if (Index < 12 || Index >= 18) {
      ASSERT_EQ(After[Index], Before[Index]) << Index;
    }
  }
  const std::string Log = Read(Dir / "boot2" / "board.log");
  EXPECT_NE(Log.find("Pelmo FW:"), std::string::npos);
  EXPECT_NE(Log.find("virtual time of Vaultcell:"), std::string::npos);
  EXPECT_NE(Log.find("virtual time unaccounted: 0 ns"), std::string::npos) << "the accounts add up";
  EXPECT_EQ(Log.find("protocol error"), std::string::npos);
}

TEST_F(Scenario, NackingEepromChangesNothing) {
  Run("eeprom --file " + Image().string() + " erase");
  const std::string Before = Read(Image());
  const std::string Log = Boot("boot", "--fault eeprom-nack");
  EXPECT_EQ(Read(Image()), Before);
  EXPECT_NE(Read(Dir / "boot" / "board.log").find("00:11:22:33:44:56"), std::string::npos);
}

} // namespace

#include "ScratchFiles.h"
#include "VariableStore.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <string>
#include <vector>

int RunVarsCommand(int argc, char **argv);

namespace {

using host::VariableStore;

constexpr EFI_GUID kMacGuid = {0x158DEF5A, 0xF656, 0x419C, {0xB0, 0x27, 0x7A, 0x31, 0x92, 0xC0, 0x79, 0xD2}};
constexpr EFI_GUID kSwitchGuid = {
    0x52350268, 0xC2D5, 0x4687, {0xA2, 0xA6, 0xB6, 0x5E, 0x23, 0x52, 0xDD, 0xCB}};

class VarsCommand : public ::testing::Test {
protected:
  void SetUp() override {
    File = board_test::ScratchPath("vars-cmd").string() + ".nvram";
    std::filesystem::remove(File);
  }
  void TearDown() override { std::filesystem::remove(File); }

  int Run(std::initializer_list<std::string> Args, std::string *Out = nullptr, std::string *Err = nullptr) {
    std::vector<std::string> Words = {"vars", "--nvram", File.string()};
    Words.insert(Words.end(), Args);
    std::vector<char *> Argv;
    for (std::string &Word : Words) {
      Argv.push_back(Word.data());
    }
    ::testing::internal::CaptureStdout();
    ::testing::internal::CaptureStderr();
    const int Code = RunVarsCommand(static_cast<int>(Argv.size()), Argv.data());
    const std::string Stdout = ::testing::internal::GetCapturedStdout();
    const std::string Stderr = ::testing::internal::GetCapturedStderr();
    if (Out != nullptr) {
      *Out = Stdout;
    }
    if (Err != nullptr) {
      *Err = Stderr;
    }
    return Code;
  }

  std::optional<VariableStore::Variable> Stored(const std::string &Name, const EFI_GUID &Guid) {
    VariableStore Store;
    EXPECT_TRUE(Store.Load(File));
    return Store.Find(Name, Guid);
  }

  std::filesystem::path File;
};

TEST_F(VarsCommand, SetsTextPaddedToSizeAndBytesThenShowsAndLists) {
  ASSERT_EQ(Run({"set", "NicpatchSwitch", "--guid", "nicpatch-mac", "--text", "1", "--size", "40"}), 0);
  ASSERT_EQ(
      Run({"set", "NicpatchSetupSwitchVar", "--guid", "nicpatch-switch", "--u8", "1", "--attrs", "nv,bs,rt"}),
      0);
  ASSERT_EQ(Run({"set", "Setup", "--guid", "EC87D643-EBA4-4BB5-A1E5-3F3E36B20DA9", "--hex", "00 01 ff"}), 0);

  auto Switch = Stored("NicpatchSwitch", kMacGuid);
  ASSERT_TRUE(Switch.has_value());
  std::vector<uint8_t> Expected(40, 0);
  Expected[0] = '1';
  EXPECT_EQ(Switch->Data, Expected);
  EXPECT_EQ(Switch->Attributes, EFI_VARIABLE_NON_VOLATILE | EFI_VARIABLE_BOOTSERVICE_ACCESS);
  auto Setup = Stored("NicpatchSetupSwitchVar", kSwitchGuid);
  ASSERT_TRUE(Setup.has_value());
  EXPECT_EQ(Setup->Data, std::vector<uint8_t>{1});
  EXPECT_EQ(Setup->Attributes & EFI_VARIABLE_RUNTIME_ACCESS, EFI_VARIABLE_RUNTIME_ACCESS);

  std::string Out;
  ASSERT_EQ(Run({"list"}, &Out), 0);
  EXPECT_NE(Out.find("NicpatchSwitch"), std::string::npos);
  EXPECT_NE(Out.find("EC87D643-EBA4-4BB5-A1E5-3F3E36B20DA9"), std::string::npos);
  ASSERT_EQ(Run({"show", "NicpatchSwitch"}, &Out), 0);
  EXPECT_NE(Out.find("text:       \"1\""), std::string::npos) << Out;
  EXPECT_NE(Out.find("nicpatch-mac"), std::string::npos);
}

TEST_F(VarsCommand, DeleteAndRewriteWithOtherAttributes) {
  ASSERT_EQ(Run({"set", "MAC0", "--guid", "nicpatch-mac", "--hex", "0102"}), 0);
  ASSERT_EQ(Run({"set", "MAC0", "--guid", "nicpatch-mac", "--hex", "03", "--attrs", "nv,bs,rt"}), 0);
  auto Mac = Stored("MAC0", kMacGuid);
  ASSERT_TRUE(Mac.has_value());
  EXPECT_EQ(Mac->Data, std::vector<uint8_t>{3});
  ASSERT_EQ(Run({"delete", "MAC0", "--guid", "nicpatch-mac"}), 0);
  EXPECT_FALSE(Stored("MAC0", kMacGuid).has_value());
  std::string Err;
  EXPECT_EQ(Run({"delete", "MAC0", "--guid", "nicpatch-mac"}, nullptr, &Err), 1);
  EXPECT_NE(Err.find("EFI_NOT_FOUND"), std::string::npos);
  EXPECT_EQ(Run({"show", "MAC0"}, nullptr, &Err), 1);
}

TEST_F(VarsCommand, RejectsBadUsageWithoutTouchingTheFile) {
  EXPECT_EQ(Run({"set", "A", "--guid", "nicpatch-mac", "--u8", "256"}), 2);
  EXPECT_EQ(Run({"set", "A", "--guid", "nicpatch-mac", "--text", "abc", "--size", "4"}), 2);
  EXPECT_EQ(Run({"set", "A", "--guid", "nicpatch-mac", "--hex", "abc"}), 2);
  EXPECT_EQ(Run({"set", "A", "--guid", "nicpatch-mac", "--u8", "1", "--hex", "01"}), 2);
  EXPECT_EQ(Run({"set", "A", "--guid", "nicpatch-mac", "--u8", "1", "--attrs", "bs"}), 2);
  EXPECT_EQ(Run({"set", "A", "--guid", "no-such-alias", "--u8", "1"}), 2);
  EXPECT_EQ(Run({"set", "A", "--u8", "1"}), 2);
  EXPECT_EQ(Run({"frobnicate"}), 2);
  EXPECT_FALSE(std::filesystem::exists(File));

  std::string Out;
  EXPECT_EQ(Run({"--help"}, &Out), 0);
  EXPECT_NE(Out.find("nicpatch-switch"), std::string::npos);
}

TEST_F(VarsCommand, LeavesACorruptFileAlone) {
  {
    std::ofstream Junk(File, std::ios::binary);
    Junk << "not an nvram file at all, but long enough to have a header";
  }
  const auto Size = std::filesystem::file_size(File);
  std::string Err;
  EXPECT_EQ(Run({"set", "A", "--guid", "nicpatch-mac", "--u8", "1"}, nullptr, &Err), 2);
  EXPECT_NE(Err.find("bad magic"), std::string::npos) << Err;
  EXPECT_EQ(Run({"list"}), 2);
  EXPECT_EQ(std::filesystem::file_size(File), Size);
}

} // namespace

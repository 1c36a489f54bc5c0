// The NVRAM file across a process lost in the middle of a save, and across damage to the file:
// the next boot sees the old or the new value of each variable, or a damaged file is set aside.
#include "HostText.h"
#include "VariableStore.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

using host::VariableStore;
using SavePoint = VariableStore::SavePoint;

constexpr EFI_GUID kGuid = {0x52350268, 0xC2D5, 0x4687, {0xA2, 0xA6, 0xB6, 0x5E, 0x23, 0x52, 0xDD, 0xCB}};
constexpr UINT32 kNvBs = EFI_VARIABLE_NON_VOLATILE | EFI_VARIABLE_BOOTSERVICE_ACCESS;

std::filesystem::path FreshFile(const std::string &Name) {
  auto Path = std::filesystem::temp_directory_path() / (Name + "-" + std::to_string(getpid()) + ".nvram");
  for (const char *Suffix : {"", ".tmp", ".corrupt"}) {
    std::filesystem::remove(Path.string() + Suffix);
  }
  return Path;
}

std::vector<uint8_t> ValueOf(const VariableStore &Store, const std::string &Name) {
  auto Found = Store.Find(Name, kGuid);
  return Found ? Found->Data : std::vector<uint8_t>{};
}

std::vector<char> ReadBytes(const std::filesystem::path &File) {
  std::ifstream In(File, std::ios::binary);
  return {std::istreambuf_iterator<char>(In), std::istreambuf_iterator<char>()};
}

void WriteBytes(const std::filesystem::path &File, const std::vector<char> &Bytes) {
  std::ofstream Out(File, std::ios::binary | std::ios::trunc);
  Out.write(Bytes.data(), static_cast<std::streamsize>(Bytes.size()));
}

// A boot killed at Point while it saves a change of "Counter" from 1 to 2 (with "Steady" and a
// long "Bulk" beside it, so that the half-written file cuts a record) and, at NewVariable, the
// creation of "Late".
TEST(NvramPowerLoss, KilledSaveLeavesTheOldOrTheNewFile) {
  struct Case {
    SavePoint Point;
    bool NewContents;
  };
  const Case Cases[] = {
      {SavePoint::TemporaryPartlyWritten, false},
      {SavePoint::TemporaryWritten, false},
      {SavePoint::TemporarySynced, false},
      {SavePoint::Renamed, true},
  };
  for (const Case &Each : Cases) {
    const auto File = FreshFile("power-loss");
    {
      VariableStore Boot;
      ASSERT_TRUE(Boot.AttachFile(File));
      ASSERT_EQ(Boot.Set("Counter", kGuid, kNvBs, {1}), EFI_SUCCESS);
      ASSERT_EQ(Boot.Set("Steady", kGuid, kNvBs, {7, 7}), EFI_SUCCESS);
      ASSERT_EQ(Boot.Set("Bulk", kGuid, kNvBs, std::vector<uint8_t>(600, 0x5A)), EFI_SUCCESS);
    }
    const pid_t Child = fork();
    if (Child == 0) {
      VariableStore Boot;
      Boot.AttachFile(File);
      VariableStore::SetSaveHook([&](SavePoint Point) {
        if (Point == Each.Point) {
          kill(getpid(), SIGKILL);
        }
      });
      Boot.Set("Counter", kGuid, kNvBs, {2});
      _exit(0); // not reached: the save was killed
    }
    int Status = 0;
    ASSERT_EQ(waitpid(Child, &Status, 0), Child);
    const int Row = static_cast<int>(Each.Point);
    EXPECT_TRUE(WIFSIGNALED(Status) && WTERMSIG(Status) == SIGKILL) << "row " << Row;

    VariableStore Next;
    std::string Error;
    EXPECT_TRUE(Next.AttachFile(File, &Error)) << "row " << Row << ": " << Error;
    EXPECT_EQ(ValueOf(Next, "Counter"), std::vector<uint8_t>{static_cast<uint8_t>(Each.NewContents ? 2 : 1)})
        << "row " << Row;
    EXPECT_EQ(ValueOf(Next, "Steady"), (std::vector<uint8_t>{7, 7})) << "row " << Row;
    EXPECT_EQ(ValueOf(Next, "Bulk").size(), 600u) << "row " << Row;
    // The next save overwrites a temporary file a killed save left behind.
    ASSERT_EQ(Next.Set("Counter", kGuid, kNvBs, {3}), EFI_SUCCESS);
    VariableStore Third;
    EXPECT_TRUE(Third.AttachFile(File, &Error)) << Error;
    EXPECT_EQ(ValueOf(Third, "Counter"), std::vector<uint8_t>{3}) << "row " << Row;
  }
}

// Every truncation and every single flipped bit of a saved file: the next boot either loads
// exactly what was saved (a bit the format does not use) or reports the file, keeps the damaged
// copy aside and starts without non-volatile variables.
TEST(NvramPowerLoss, EveryTruncationAndBitFlipIsLoadedIntactOrSetAside) {
  const auto File = FreshFile("damage");
  {
    VariableStore Boot;
    ASSERT_TRUE(Boot.AttachFile(File));
    ASSERT_EQ(Boot.Set("Mac", kGuid, kNvBs, {0x02, 0x11, 0x22, 0x33, 0x44, 0x55}), EFI_SUCCESS);
    ASSERT_EQ(Boot.Set("Switch", kGuid, kNvBs, {1}), EFI_SUCCESS);
  }
  const std::vector<char> Good = ReadBytes(File);
  std::vector<std::vector<char>> Damaged;
  for (size_t Length = 0; Length < Good.size(); Length++) {
    Damaged.emplace_back(Good.begin(), Good.begin() + static_cast<std::ptrdiff_t>(Length));
  }
  for (size_t Bit = 0; Bit < Good.size() * 8; Bit++) {
    Damaged.push_back(Good);
    Damaged.back()[Bit / 8] = static_cast<char>(Damaged.back()[Bit / 8] ^ (1 << (Bit % 8)));
  }
  size_t SetAside = 0;
  for (size_t Index = 0; Index < Damaged.size(); Index++) {
    WriteBytes(File, Damaged[Index]);
    std::filesystem::remove(File.string() + ".corrupt");
    VariableStore Boot;
    std::string Error;
    if (Boot.AttachFile(File, &Error)) {
      EXPECT_EQ(ValueOf(Boot, "Mac").size(), 6u) << "case " << Index;
      EXPECT_EQ(ValueOf(Boot, "Switch"), std::vector<uint8_t>{1}) << "case " << Index;
      continue;
    }
    SetAside++;
    EXPECT_NE(Error.find(".corrupt"), std::string::npos) << "case " << Index << ": " << Error;
    EXPECT_EQ(ReadBytes(File.string() + ".corrupt"), Damaged[Index]) << "case " << Index;
    EXPECT_TRUE(Boot.List().empty()) << "case " << Index;
  }
  EXPECT_GE(SetAside, Good.size()) << "every truncation is a damaged file";
}

} // namespace

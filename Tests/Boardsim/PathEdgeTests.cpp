// boardsim at the edges: every option and command that takes a path, given a missing file, a
// folder, an empty file, a file of the wrong size or a folder that takes no file. Each bad path
// is exit status 2 with one line naming the option, the path and the problem, and no file
// changes; the unknown application of `boardsim run` is a usage error that lists the known ones.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include <sys/wait.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

enum class Kind { Missing, Folder, Empty, WrongSize, NoFolder };

struct Outcome {
  int Status = -1;
  std::string Stderr;
};

// Runs boardsim with Arguments; its standard error and exit status.
Outcome Boardsim(const std::string &Arguments) {
  const std::string Command = std::string("'") + BOARDSIM + "' " + Arguments + " 2>&1 >/dev/null";
  FILE *Pipe = popen(Command.c_str(), "r");
  Outcome Result;
  char Buffer[4096];
  for (size_t Read; Pipe != nullptr && (Read = fread(Buffer, 1, sizeof(Buffer), Pipe)) > 0;) {
    Result.Stderr.append(Buffer, Read);
  }
  const int Raw = Pipe != nullptr ? pclose(Pipe) : -1;
  Result.Status = WIFEXITED(Raw) ? WEXITSTATUS(Raw) : -1;
  return Result;
}

// Every file and folder under Root with its bytes: what must not change.
std::map<std::string, std::string> Snapshot(const fs::path &Root) {
  std::map<std::string, std::string> Files;
  for (const auto &Entry : fs::recursive_directory_iterator(Root)) {
    std::ostringstream Bytes;
    if (Entry.is_regular_file()) {
      Bytes << std::ifstream(Entry.path(), std::ios::binary).rdbuf();
    }
    Files[Entry.path().string()] = Entry.is_directory() ? "<folder>" : Bytes.str();
  }
  return Files;
}

class BoardsimPaths : public ::testing::Test {
protected:
  void SetUp() override {
    Work = fs::path(::testing::TempDir()) / ("boardsim-paths-" + std::to_string(getpid()) + "-" +
                                             ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(Work);
    fs::create_directories(Work / "folder");
    std::ofstream(Work / "empty");
    std::ofstream(Work / "plain") << "a regular file where a folder should be";
  }
  void TearDown() override { fs::remove_all(Work); }

  // The path of that kind; a wrong-size file has Size bytes of 0x5A.
  fs::path PathOf(Kind Which, size_t Size) {
    switch (Which) {
    case Kind::Missing:
      return Work / "missing";
    case Kind::Folder:
      return Work / "folder";
    case Kind::Empty:
      return Work / "empty";
    case Kind::WrongSize:
      std::ofstream(Work / "wrong", std::ios::binary) << std::string(Size, 'Z');
      return Work / "wrong";
    case Kind::NoFolder:
      return Work / "plain" / "file";
    }
    return {};
  }

  fs::path Work;
};

TEST_F(BoardsimPaths, EveryBadPathIsOneLineAndChangesNoFile) {
  struct Case {
    const char *Before, *Option, *After; // boardsim <Before> <Option> PATH <After>
    Kind Which;
    const char *Problem; // the end of the line; empty: the command succeeds silently
    size_t Size = 0;     // of the wrong-size file
  } Cases[] = {
      {"boot", "--nvram", "", Kind::Folder, "is a directory"},
      {"boot", "--nvram", "", Kind::NoFolder, "plain is not a folder"},
      {"boot", "--eeprom", "", Kind::Folder, "is a directory"},
      {"boot", "--eeprom", "", Kind::WrongSize,
       "is 5000 bytes; an EEPROM image is 65536 bytes (an empty file is created erased)", 5000},
      {"boot", "--eeprom", "", Kind::NoFolder, "plain is not a folder"},
      {"boot", "--monitor", "", Kind::Missing, "no such file"},
      {"boot", "--monitor", "", Kind::Folder, "is a directory"},
      {"boot", "--monitor", "", Kind::Empty, "is empty; an EDID here has 1 to 256 bytes"},
      {"boot", "--monitor", "", Kind::WrongSize, "is 300 bytes; an EDID here has 1 to 256 bytes", 300},
      {"boot", "--edid-override", "", Kind::Missing, "no such file"},
      {"boot", "--edid-override", "", Kind::Folder, "is a directory"},
      {"boot", "--edid-override", "", Kind::Empty, "is empty; an EDID here has 1 to 32768 bytes"},
      {"boot", "--edid-override", "", Kind::WrongSize, "is 40000 bytes; an EDID here has 1 to 32768 bytes",
       40000},
      {"boot", "--dsdt", "", Kind::Missing, "no such file"},
      {"boot", "--dsdt", "", Kind::Folder, "is a directory"},
      {"boot", "--dsdt", "", Kind::Empty, "is 0 bytes; an ACPI table has a 36-byte header"},
      {"boot", "--dsdt", "", Kind::WrongSize, "is 40 bytes; its header gives 1515870810", 40},
      {"boot", "--out", "", Kind::Empty, "is not a folder"},
      {"boot", "--out", "", Kind::NoFolder, "cannot create the folder: Not a directory"},
      {"boot", "--module-dir", "", Kind::Missing, "no such folder"},
      {"boot", "--module-dir", "", Kind::Empty, "is not a folder"},
      {"run mgmtprobe", "--nvram", "", Kind::Folder, "is a directory"},
      {"run mgmtprobe", "--out", "", Kind::NoFolder, "cannot create the folder: Not a directory"},
      {"run mgmtprobe", "--module-dir", "", Kind::Missing, "no such folder"},
      {"vars", "--nvram", "list", Kind::Missing, "no such file"},
      {"vars", "--nvram", "list", Kind::Folder, "is a directory"},
      {"vars", "--nvram", "list", Kind::Empty, "not a usable NVRAM file (truncated header); left as it is"},
      {"vars", "--nvram", "list", Kind::WrongSize, "not a usable NVRAM file (bad magic); left as it is", 40},
      {"vars", "--nvram", "set A --guid setup --u8 1", Kind::NoFolder, "plain is not a folder"},
      {"setup", "--nvram", "ahci2 on", Kind::Folder, "is a directory"},
      {"setup", "--nvram", "ahci2 on", Kind::Empty, "(truncated header); left as it is"},
      {"setup", "--nvram", "ahci2 on", Kind::NoFolder, "plain is not a folder"},
      {"eeprom", "--file", "show", Kind::Missing, "no such file"},
      {"eeprom", "--file", "show", Kind::Folder, "is a directory"},
      {"eeprom", "--file", "show", Kind::Empty, ""}, // shown as erased, not written
      {"eeprom", "--file", "erase", Kind::WrongSize,
       "is 5000 bytes; an EEPROM image is 65536 bytes (an empty file is created erased)", 5000},
      {"eeprom", "--file", "set-mac 0 00:1b:21:0a:0b:0c", Kind::NoFolder, "plain is not a folder"},
  };
  for (const Case &C : Cases) {
    const fs::path Path = PathOf(C.Which, C.Size);
    SCOPED_TRACE(std::string(C.Before) + " " + C.Option + " " + Path.string() + " " + C.After);
    const auto Before = Snapshot(Work);
    const bool Boot = std::string(C.Before) == "boot" && std::string(C.Option) != "--out";
    const Outcome Run = Boardsim(std::string(C.Before) + " " + C.Option + " '" + Path.string() + "' " +
                                 C.After + (Boot ? " --quiet --out '" + (Work / "out").string() + "'" : ""));
    const std::string Command = std::string(C.Before).substr(0, std::string(C.Before).find(' '));
    const std::string Line = "boardsim " + Command + ": " + C.Option + " " + Path.string() + ": ";
    if (*C.Problem == '\0') {
      EXPECT_EQ(Run.Status, 0);
    } else {
      EXPECT_EQ(Run.Status, 2);
      EXPECT_EQ(Run.Stderr.rfind(Line, 0), 0u) << Run.Stderr;
      EXPECT_NE(Run.Stderr.find(std::string(C.Problem) + "\n"), std::string::npos) << Run.Stderr;
      EXPECT_EQ(Run.Stderr.find('\n'), Run.Stderr.size() - 1) << "one line: " << Run.Stderr;
    }
    EXPECT_EQ(Snapshot(Work), Before);
  }
}

// A name or a number that means nothing on this board is a usage error that says so (a boot
// without the module named would exit as booted; a watchdog past 64 bits of nanoseconds wrapped
// round to a few milliseconds and halted the boot).
TEST_F(BoardsimPaths, ANameOrNumberThatMeansNothingIsAUsageError) {
  const struct {
    const char *Command;
    const char *Says;
  } Cases[] = {
      {"run nosuchapp", "applications: gopdemo, mgmtprobe"},
      {"boot --modules Nicpatch,Nosuch", "--modules: no module Nosuch ("},
      {"boot --modules , --images aarch64", "--modules names no module"},
      {"boot --fail-alloc 0", "fail-alloc counts allocations from 1, not \"0\""},
      {"boot --ipmi-bmc-base 0x1000 --no-ipmi", "--ipmi-bmc-base and --no-ipmi exclude each other"},
      {"run mgmtprobe --no-ipmi --ipmi-bmc-base 0x1000", "--ipmi-bmc-base and --no-ipmi exclude each other"},
      {"boot --watchdog-ms 18446744073710", "--watchdog-ms needs a number up to 18446744073709\n"},
      {"boot --progress-watchdog-ms 9223372036855",
       "--progress-watchdog-ms needs a number up to 9223372036854\n"},
  };
  for (const auto &Case : Cases) {
    SCOPED_TRACE(Case.Command);
    const Outcome Run = Boardsim(std::string(Case.Command) + " --out '" + (Work / "out").string() + "'");
    EXPECT_EQ(Run.Status, 2);
    EXPECT_NE(Run.Stderr.find(Case.Says), std::string::npos) << Run.Stderr;
  }
}

// A broken AArch64 image that the boot or the shell would load is refused before anything runs
// or is written: one line naming the file and what the loader finds wrong with it.
TEST_F(BoardsimPaths, ABrokenImageIsRefusedBeforeTheBoot) {
  const fs::path Images = Work / "images", Broken = Images / "Vidframe.efi";
  fs::copy(BOARDSIM_IMAGE_DIR, Images);
  if (!fs::exists(Broken)) {
    GTEST_SKIP() << "the AArch64 images are not built (Tools/scripts/build uefi-aarch64)";
  }
  std::fstream(Broken, std::ios::binary | std::ios::in | std::ios::out) << "XX"; // no DOS header
  for (const std::string Command : {"boot", "run"}) {
    SCOPED_TRACE(Command);
    const auto Before = Snapshot(Work);
    const Outcome Run = Boardsim(Command + (Command == "run" ? " mgmtprobe" : " --quiet") +
                                 " --images aarch64 --module-dir '" + Images.string() + "' --out '" +
                                 (Work / "out").string() + "'");
    EXPECT_EQ(Run.Status, 2);
    EXPECT_EQ(Run.Stderr,
              "boardsim " + Command + ": " + Broken.string() + ": not a PE image: no DOS header\n");
    EXPECT_EQ(Snapshot(Work), Before);
  }
}

} // namespace

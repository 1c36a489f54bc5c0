// One scenario set run both ways: each scenario's boardsim commands run with the host build's
// modules, then again with the shipped AArch64 images (`--images aarch64` on every command that
// runs firmware), each time in the same folder, so that paths in the output agree. What the two
// runs leave must agree byte for byte: board.log, the DSDT, the NVRAM file, the EEPROM image,
// serial.txt, screen.png and every command's output and exit status. Only two things are set
// aside: lines that name the build (kBuildLine), and iasl's disassembly (kNotCompared).
#include <ScratchFiles.h>
#include <TextFiles.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

// A line that names an image file ("Nicpatch.so", "Nicpatch.efi"): which build ran.
const std::regex kBuildLine(R"([A-Za-z0-9_+-]+\.(so|efi)\b)");
// dsdt.dsl is iasl's disassembly of dsdt.aml (compared) and carries the time it was made.
const std::set<std::string> kNotCompared = {"dsdt.dsl"};
// Exit statuses of boardsim that mean the command itself went wrong (usage, crash), which a
// scenario must not contain even when both runs agree.
constexpr int kExitUsage = 2;

const std::string kNvram = "--nvram {dir}/nvram.bin";
const std::string kEeprom = "--eeprom {dir}/eeprom.bin";
const std::string kSwitchOn =
    "vars " + kNvram + " set NicpatchSetupSwitchVar --guid nicpatch-switch --u8 1 --attrs nv,bs,rt";
const std::string kPort0 = "eeprom --file {dir}/eeprom.bin set-mac 0 00:1b:21:0a:0b:0c";

std::string Boot(const std::string &Out, const std::string &More = "") {
  return "boot --quiet --out {dir}/" + Out + " " + kNvram + " " + kEeprom + (More.empty() ? "" : " " + More);
}

struct Scenario {
  std::string Name;
  std::vector<std::string> Steps; // boardsim command lines; {dir} is the scenario's folder
};

void PrintTo(const Scenario &Each, std::ostream *Out) {
  *Out << Each.Name;
}

// The device-fault knobs of `boardsim boot --help`, each once, as `--fault` takes it (a value
// that makes the fault happen) and with the options it needs. The boot starts with Nicpatch's
// switch on and one real address in the EEPROM, so that the MAC road runs through Vaultcell and
// Nicpatch.
const std::vector<std::string> kFaults = {
    "eeprom-mac-stub-status=EFI_DEVICE_ERROR --eeprom-mac-stub",
    "eeprom-mac-stub-no-interface",
    "ipmi-no-interface",
    "acpi-sdt-no-interface",
    "setup-missing",
    "l3c-stuck-busy",
    "uart0-not-ready",
    "vga-memory-never-ready",
    "vga-dll-never-locks",
    "vga-test-engine-stuck",
    "vga-no-eye",
    "monitor-no-pullups",
    "monitor-no-ack",
    "monitor-noisy-lines",
    "vga-engine-stuck --watchdog-ms 1000", // the console's scroll waits until the watchdog
    "vga-memory-test-fails=1",
    "mailbox-no-ack",
    "mailbox-no-reply",
    "mailbox-silent-from=1",
    "mailbox-ack-delay-us=50",
    "i2c1-nack=1",
    "eeprom-nack",
    "eeprom-write-cycle-us=5000",
    "eeprom-stretch-us=10",
    "eeprom-read-fails",
    "i2c0-stuck-busy",
    "i2c1-stuck-busy",
    "i2c0-never-enables",
    "i2c1-never-enables",
};

// "i2c1-nack=1" -> "i2c1-nack"
std::string KnobOf(const std::string &Row) {
  return Row.substr(0, Row.find_first_of("= "));
}

std::vector<Scenario> Scenarios() {
  std::vector<Scenario> All = {
      // Tools/scripts/board's two boots with what it changes between them.
      {"BoardScript",
       {Boot("boot1"), "vars " + kNvram + " list", "eeprom --file {dir}/eeprom.bin show", kSwitchOn,
        "setup " + kNvram + " ahci2 on ahci3 on", kPort0, Boot("boot2"), "vars " + kNvram + " list"}},
      // The EEPROM's addresses into the DSDT and the variables; a group address repaired.
      {"EepromToDsdt",
       {Boot("boot1"), kSwitchOn, "eeprom --file {dir}/eeprom.bin set-mac 0 00:1B:21:0A:0B:0C",
        "eeprom --file {dir}/eeprom.bin set-mac 4 03:00:00:00:00:01", Boot("boot2"),
        "vars " + kNvram + " show MAC1 --guid nicpatch-mac", "eeprom --file {dir}/eeprom.bin show"}},
      {"PciListingAhciOff", {"setup " + kNvram + " ahci2 off ahci3 off", Boot("boot")}},
      {"PciListingAhciOn", {"setup " + kNvram + " ahci2 on ahci3 on", Boot("boot")}},
      {"Gopdemo", {"run gopdemo " + kNvram + " --out {dir}/gopdemo"}},
  };
  for (const std::string &Row : kFaults) {
    std::string Name = "Fault_" + KnobOf(Row);
    std::replace(Name.begin(), Name.end(), '-', '_');
    All.push_back({Name, {kSwitchOn, kPort0, Boot("boot", "--fault " + Row)}});
  }
  return All;
}

fs::path BoardsimPath() {
  const char *FromEnvironment = std::getenv("BOTH_BUILDS_BOARDSIM");
  return FromEnvironment && *FromEnvironment ? FromEnvironment : BOTH_BUILDS_BOARDSIM;
}

std::string Replace(std::string Text, const std::string &What, const std::string &With) {
  for (size_t At = Text.find(What); At != std::string::npos; At = Text.find(What, At + With.size())) {
    Text.replace(At, What.size(), With);
  }
  return Text;
}

// Runs the steps in Dir, each one's output and exit status in step-NN.txt; the first step of
// the host run that went wrong as a command (usage error, crash), or empty.
std::string RunSteps(const Scenario &Each, const fs::path &Dir, bool Aarch64) {
  fs::create_directories(Dir);
  std::string Problem;
  for (size_t Index = 0; Index < Each.Steps.size(); Index++) {
    std::string Line = Replace(Each.Steps[Index], "{dir}", "'" + Dir.string() + "'");
    if (Aarch64 && (Line.starts_with("boot ") || Line.starts_with("run "))) {
      Line += " --images aarch64";
    }
    char Name[32];
    std::snprintf(Name, sizeof(Name), "step-%02zu.txt", Index + 1);
    const int Status = board_test::RunToFile(BoardsimPath(), Line, Dir / Name);
    std::ofstream(Dir / Name, std::ios::app) << "exit status " << Status << "\n";
    if (!Aarch64 && Problem.empty() && (Status == kExitUsage || Status < 0)) {
      Problem = "the host run's step " + std::to_string(Index + 1) + " (" + Line + ") exited with " +
                std::to_string(Status) + ":\n" + board_test::ReadFile(Dir / Name);
    }
  }
  return Problem;
}

std::set<std::string> FilesUnder(const fs::path &Root) {
  std::set<std::string> Files;
  for (const auto &Entry : fs::recursive_directory_iterator(Root)) {
    if (Entry.is_regular_file() && !kNotCompared.contains(Entry.path().filename().string())) {
      Files.insert(fs::relative(Entry.path(), Root).string());
    }
  }
  return Files;
}

// The lines of a log or a command's output that do not name the build, with their numbers.
std::vector<std::pair<size_t, std::string>> ComparedLines(const std::string &Text) {
  std::vector<std::pair<size_t, std::string>> Lines;
  std::istringstream In(Text);
  size_t Number = 0;
  for (std::string Line; std::getline(In, Line);) {
    Number++;
    if (!std::regex_search(Line, kBuildLine)) {
      Lines.emplace_back(Number, Line);
    }
  }
  return Lines;
}

std::string FirstLineDifference(const std::string &File, const std::string &Host,
                                const std::string &Aarch64) {
  const auto A = ComparedLines(Host), B = ComparedLines(Aarch64);
  for (size_t Index = 0; Index < std::max(A.size(), B.size()); Index++) {
    const std::string Left = Index < A.size() ? A[Index].second : "<end of file>";
    const std::string Right = Index < B.size() ? B[Index].second : "<end of file>";
    if (Left != Right) {
      const size_t Line = Index < A.size() ? A[Index].first : B[Index].first;
      return File + " differs at line " + std::to_string(Line) + ":\n  host:    " + Left +
             "\n  aarch64: " + Right;
    }
  }
  return "";
}

std::string FirstByteDifference(const std::string &File, const std::string &Host,
                                const std::string &Aarch64) {
  const auto [Left, Right] = std::mismatch(Host.begin(), Host.end(), Aarch64.begin(), Aarch64.end());
  if (Left == Host.end() && Right == Aarch64.end()) {
    return "";
  }
  const auto Byte = [](const std::string &Text, std::string::const_iterator At) {
    char Hex[16] = "<end of file>";
    if (At != Text.end()) {
      std::snprintf(Hex, sizeof(Hex), "0x%02X", static_cast<unsigned char>(*At));
    }
    return std::string(Hex);
  };
  return File + " differs at byte " + std::to_string(Left - Host.begin()) + " (host " +
         std::to_string(Host.size()) + " bytes, aarch64 " + std::to_string(Aarch64.size()) + "): host " +
         Byte(Host, Left) + ", aarch64 " + Byte(Aarch64, Right);
}

// Logs and command outputs line by line with the build's lines set aside; the rest byte for byte.
// The commands' outputs come first: a changed exit status or message explains the files after it.
std::string FirstDifference(const fs::path &Host, const fs::path &Aarch64) {
  const std::set<std::string> HostFiles = FilesUnder(Host), Aarch64Files = FilesUnder(Aarch64);
  std::set<std::string> Both = HostFiles;
  Both.insert(Aarch64Files.begin(), Aarch64Files.end());
  std::vector<std::string> Order(Both.begin(), Both.end());
  std::stable_partition(Order.begin(), Order.end(),
                        [](const std::string &File) { return File.starts_with("step-"); });
  for (const std::string &File : Order) {
    if (!HostFiles.contains(File) || !Aarch64Files.contains(File)) {
      return File + ": only the " + (HostFiles.contains(File) ? "host" : "aarch64") + " run left it";
    }
    const std::string Left = board_test::ReadFile(Host / File), Right = board_test::ReadFile(Aarch64 / File);
    const bool Log = fs::path(File).filename() == "board.log" || File.starts_with("step-");
    if (std::string Difference =
            Log ? FirstLineDifference(File, Left, Right) : FirstByteDifference(File, Left, Right);
        !Difference.empty()) {
      return Difference;
    }
  }
  return "";
}

class BothBuilds : public testing::TestWithParam<Scenario> {};

TEST_P(BothBuilds, AArch64ImagesLeaveWhatTheHostBuildLeaves) {
  ASSERT_TRUE(fs::exists(BoardsimPath()))
      << BoardsimPath() << " is not built: Tools/scripts/build --target board "
      << "host-release (Tools/scripts/test does)";
  const fs::path Root = board_test::ScratchPath("both-builds"), Run = Root / "run";
  fs::remove_all(Root);
  const std::string Problem = RunSteps(GetParam(), Run, false);
  fs::rename(Run, Root / "host");
  RunSteps(GetParam(), Run, true);
  fs::rename(Run, Root / "aarch64");
  EXPECT_EQ(Problem, "");
  const std::string Difference = FirstDifference(Root / "host", Root / "aarch64");
  EXPECT_EQ(Difference, "") << "both runs are kept in " << Root;
  if (!HasFailure()) {
    fs::remove_all(Root);
  }
}

INSTANTIATE_TEST_SUITE_P(Scenarios, BothBuilds, testing::ValuesIn(Scenarios()),
                         [](const auto &Info) { return Info.param.Name; });

// The fault rows are every knob boardsim knows: a new knob needs its row.
TEST(BothBuildsTable, HasARowForEveryFaultKnob) {
  ASSERT_TRUE(fs::exists(BoardsimPath())) << BoardsimPath() << " is not built";
  const board_test::Scratch Help("both-builds-help");
  board_test::RunToFile(BoardsimPath(), "boot --help", Help.Path());
  const std::string Text = board_test::ReadFile(Help.Path());
  std::set<std::string> Known;
  const std::regex KnobLine(R"(^  ([a-z0-9-]+)[=\s])");
  const size_t Section = Text.find("fault knobs");
  ASSERT_NE(Section, std::string::npos) << Text;
  std::istringstream In(Text.substr(Section));
  std::smatch Match;
  for (std::string Line; std::getline(In, Line);) {
    if (std::regex_search(Line, Match, KnobLine)) {
      Known.insert(Match[1]);
    }
  }
  std::set<std::string> Rows;
  for (const std::string &Row : kFaults) {
    Rows.insert(KnobOf(Row));
  }
  EXPECT_EQ(Rows, Known);
}

} // namespace

// Allocation-failure sweep of the whole board: one clean boot counts the firmware allocations,
// then one boot per allocation with that one failing, each in a child process on a copy of the
// same stored files, followed by a normal boot on the files it left. Every run is classified;
// the sweep fails on a crash, a hang, a sanitizer report, an error of the boot (leaks included),
// a halt other than an allowed assertion, a damaged store, or a following boot that does not
// reach the clean boot's DSDT and variables.
//
//   AllocationSweep --boardsim PATH --work DIR [--steps N] [--start empty|booted] [--allowed-halts FILE]
//                   [--boot-option ARG]... [--stored-file OPTION=SEED]...
// A stored file (an EEPROM image ...) is given to every boot as --OPTION FILE, on a fresh copy of
// SEED; after a failing boot it is unchanged or as a clean boot leaves it, and a following
// normal boot leaves it as a clean boot does.
// SWEEP_FULL=1 (or --steps 0) walks every allocation; otherwise N of them, spread evenly.
// --start booted sweeps the second boot: every run starts from the store a first clean boot left.
#include "HostText.h"
#include "VariableStore.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

namespace fs = std::filesystem;

constexpr uint64_t kDefaultSteps = 12;
constexpr auto kBootTimeLimit = std::chrono::seconds(120);
constexpr auto kPollInterval = std::chrono::milliseconds(5);
constexpr int kExitHalted = 3;
constexpr char kCountLine[] = "firmware allocations: ";
constexpr char kStoreFile[] = "store.nvram";

struct Settings {
  fs::path Boardsim;
  fs::path Work;
  uint64_t Steps = kDefaultSteps; // 0: every allocation
  bool StartBooted = false;       // start from the store of a clean first boot, not an empty one
  std::vector<std::string> AllowedHalts;
  std::vector<std::string> BootOptions;        // given to every boot (--boot-option, once per argument)
  std::map<std::string, fs::path> StoredFiles; // board option -> the file every run starts from
};

struct BootOutcome {
  bool TimedOut = false;
  int Signal = 0;
  int ExitCode = 0;
  std::string Log;    // board.log
  std::string Stderr; // the process's own output, where sanitizers report
};

std::string ReadFile(const fs::path &File) {
  std::ifstream In(File, std::ios::binary);
  std::stringstream Text;
  Text << In.rdbuf();
  return Text.str();
}

std::vector<std::string> Lines(const std::string &Text) {
  std::vector<std::string> Result;
  std::istringstream In(Text);
  for (std::string Line; std::getline(In, Line);) {
    if (!Line.empty()) {
      Result.push_back(Line);
    }
  }
  return Result;
}

// Runs boardsim boot in a child process with its output in Dir; a crash or a hang is an outcome.
BootOutcome Boot(const Settings &S, const fs::path &Dir, const std::vector<std::string> &Extra) {
  fs::create_directories(Dir);
  std::vector<std::string> Arguments = {S.Boardsim.string(),
                                        "boot",
                                        "--quiet",
                                        "--out",
                                        Dir.string(),
                                        "--nvram",
                                        (Dir.parent_path() / kStoreFile).string()};
  Arguments.insert(Arguments.end(), S.BootOptions.begin(), S.BootOptions.end());
  for (const auto &[Option, Seed] : S.StoredFiles) {
    Arguments.insert(Arguments.end(), {"--" + Option, (Dir.parent_path() / Option).string()});
  }
  Arguments.insert(Arguments.end(), Extra.begin(), Extra.end());
  const pid_t Child = fork();
  if (Child == 0) {
    const int Output = open((Dir / "stderr.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(Output, STDOUT_FILENO);
    dup2(Output, STDERR_FILENO);
    // In a sanitizer build, leaks are reported at exit like any other finding (no suppressions).
    const char *Given = std::getenv("ASAN_OPTIONS");
    const std::string Asan =
        std::string(Given != nullptr ? Given : "") + (Given != nullptr ? ":" : "") + "detect_leaks=1";
    setenv("ASAN_OPTIONS", Asan.c_str(), 1);
    std::vector<char *> Argv;
    for (std::string &Argument : Arguments) {
      Argv.push_back(Argument.data());
    }
    Argv.push_back(nullptr);
    execv(Argv[0], Argv.data());
    _exit(127);
  }
  BootOutcome Result;
  const auto Deadline = std::chrono::steady_clock::now() + kBootTimeLimit;
  int Status = 0;
  while (waitpid(Child, &Status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > Deadline) {
      kill(Child, SIGKILL);
      waitpid(Child, &Status, 0);
      Result.TimedOut = true;
      break;
    }
    std::this_thread::sleep_for(kPollInterval);
  }
  Result.Signal = WIFSIGNALED(Status) ? WTERMSIG(Status) : 0;
  Result.ExitCode = WIFEXITED(Status) ? WEXITSTATUS(Status) : -1;
  Result.Log = ReadFile(Dir / "board.log");
  Result.Stderr = ReadFile(Dir / "stderr.txt");
  return Result;
}

using VariableKey = std::pair<std::string, std::u16string>; // GUID text, name
using Variables = std::map<VariableKey, std::pair<UINT32, std::vector<uint8_t>>>;

std::optional<Variables> LoadVariables(const fs::path &File) {
  host::VariableStore Store;
  if (!Store.Load(File)) {
    return std::nullopt;
  }
  Variables Result;
  for (const host::VariableStore::Variable &Entry : Store.List()) {
    Result[{host::GuidText(Entry.Guid), Entry.Name}] = {Entry.Attributes, Entry.Data};
  }
  return Result;
}

// Each variable of Now has the value it had Before or the one a clean boot gives it, and each
// one absent from Now is absent from one of them: what a boot interrupted between saves leaves.
bool OldOrNew(const Variables &Now, const Variables &Before, const Variables &After) {
  std::set<VariableKey> Keys;
  for (const Variables *Each : {&Now, &Before, &After}) {
    for (const auto &[Key, Value] : *Each) {
      Keys.insert(Key);
    }
  }
  for (const VariableKey &Key : Keys) {
    auto ValueIn = [&](const Variables &Set) {
      auto Found = Set.find(Key);
      return Found != Set.end() ? std::optional(Found->second) : std::nullopt;
    };
    if (ValueIn(Now) != ValueIn(Before) && ValueIn(Now) != ValueIn(After)) {
      return false;
    }
  }
  return true;
}

// The text after "halted: " ... and the assertion logged before it, if any.
std::string HaltText(const std::string &Log) {
  std::string Assertion;
  for (const std::string &Line : Lines(Log)) {
    if (Line.find("] ASSERT ") != std::string::npos) {
      Assertion = Line.substr(Line.find("ASSERT "));
    }
  }
  return Assertion.empty() ? "halt without an assertion" : Assertion;
}

bool Contains(const std::string &Text, const std::string &Needle) {
  return Text.find(Needle) != std::string::npos;
}

struct Reference {
  Variables Seed;
  Variables Clean;
  std::string Dsdt;
  std::map<std::string, std::string> CleanFiles; // stored files as the clean boot leaves them
  uint64_t Allocations = 0;
};

class Sweep {
public:
  explicit Sweep(Settings Given) : S(std::move(Given)) {}

  bool Run() {
    if (!Prepare()) {
      return false;
    }
    for (uint64_t Allocation : Chosen()) {
      const std::string Kind = Classify(Allocation);
      Outcomes[Kind]++;
      if (Kind.rfind("FAIL", 0) == 0) {
        std::cout << "allocation " << Allocation << ": " << Kind << " (see " << RunDir(Allocation) << ")\n";
        Failed = true;
      } else {
        fs::remove_all(RunDir(Allocation));
      }
    }
    PrintFigures();
    return !Failed;
  }

private:
  fs::path RunDir(uint64_t Allocation) const { return S.Work / ("fail-" + std::to_string(Allocation)); }

  // Every run starts from a copy of the seed store (none: an empty store) and stored files.
  void PlaceSeed(const fs::path &Dir) const {
    fs::create_directories(Dir);
    if (!SeedFile.empty() && fs::exists(SeedFile)) {
      fs::copy_file(SeedFile, Dir / kStoreFile, fs::copy_options::overwrite_existing);
    }
    for (const auto &[Option, Seed] : S.StoredFiles) {
      fs::copy_file(Seed, Dir / Option, fs::copy_options::overwrite_existing);
    }
  }

  // Each stored file as a clean boot leaves it, or (when Unchanged is allowed) as the run began.
  bool StoredFilesFit(const fs::path &Dir, bool Unchanged) const {
    for (const auto &[Option, Seed] : S.StoredFiles) {
      const std::string Now = ReadFile(Dir / Option);
      if (Now != Ref.CleanFiles.at(Option) && !(Unchanged && Now == ReadFile(Seed))) {
        return false;
      }
    }
    return true;
  }

  // The clean boot from the seed: the allocation count, the DSDT and the variables it leaves.
  bool Prepare() {
    fs::remove_all(S.Work);
    if (S.StartBooted) {
      PlaceSeed(S.Work / "first");
      if (Boot(S, S.Work / "first" / "boot", {}).ExitCode != 0) {
        std::cout << "the first boot failed; see " << S.Work / "first"
                  << "\n";
        return false;
      }
      SeedFile = S.Work / "first" / kStoreFile;
      Ref.Seed = LoadVariables(SeedFile).value_or(Variables{});
      for (auto &[Option, Seed] : S.StoredFiles) {
        Seed = S.Work / "first" / Option;
      }
    }
    PlaceSeed(S.Work / "clean");
    const BootOutcome Clean = Boot(S, S.Work / "clean" / "boot", {});
    const size_t At = Clean.Log.find(kCountLine);
    if (std::string Problem = ProcessProblem(Clean);
        !Problem.empty() || Clean.ExitCode != 0 || At == std::string::npos) {
      std::cout << "the clean boot failed (" << (Problem.empty() ? "halted" : Problem) << "); see "
                << S.Work / "clean"
                << "\n";
      return false;
    }
    Ref.Allocations = std::stoull(Clean.Log.substr(At + std::strlen(kCountLine)));
    Ref.Dsdt = ReadFile(S.Work / "clean" / "boot" / "dsdt.aml");
    auto After = LoadVariables(S.Work / "clean" / kStoreFile);
    if (!After) {
      std::cout << "the clean boot left a store that does not load\n";
      return false;
    }
    Ref.Clean = *After;
    for (const auto &[Option, Seed] : S.StoredFiles) {
      Ref.CleanFiles[Option] = ReadFile(S.Work / "clean" / Option);
    }
    return true;
  }

  std::vector<uint64_t> Chosen() const {
    std::vector<uint64_t> Result;
    const uint64_t Count = Ref.Allocations;
    if (S.Steps == 0 || S.Steps >= Count) {
      for (uint64_t Allocation = 1; Allocation <= Count; Allocation++) {
        Result.push_back(Allocation);
      }
      return Result;
    }
    for (uint64_t Step = 0; Step < S.Steps; Step++) {
      const uint64_t Allocation = S.Steps == 1 ? 1 : 1 + Step * (Count - 1) / (S.Steps - 1);
      if (Result.empty() || Result.back() != Allocation) {
        Result.push_back(Allocation);
      }
    }
    return Result;
  }

  bool HaltAllowed(const std::string &Text) const {
    for (const std::string &Allowed : S.AllowedHalts) {
      if (Contains(Text, Allowed)) {
        return true;
      }
    }
    return false;
  }

  // The failing boot, then a normal boot on the files it left.
  std::string Classify(uint64_t Allocation) {
    const fs::path Dir = RunDir(Allocation);
    PlaceSeed(Dir);
    const BootOutcome Run = Boot(S, Dir / "boot", {"--fail-alloc", std::to_string(Allocation)});
    if (std::string Problem = ProcessProblem(Run); !Problem.empty()) {
      return Problem;
    }
    std::string Kind = Run.ExitCode == 0 ? "returned" : "halted: " + HaltText(Run.Log);
    if (Run.ExitCode == kExitHalted && !HaltAllowed(Kind)) {
      return "FAIL " + Kind;
    }
    auto Left = LoadVariables(Dir / kStoreFile);
    if (!Left || !OldOrNew(*Left, Ref.Seed, Ref.Clean)) {
      return "FAIL store neither old nor as a normal boot leaves it";
    }
    if (!StoredFilesFit(Dir, true)) {
      return "FAIL stored file neither unchanged nor as a normal boot leaves it";
    }
    const BootOutcome Next = Boot(S, Dir / "next", {});
    if (std::string Problem = ProcessProblem(Next); !Problem.empty() || Next.ExitCode != 0) {
      return "FAIL following boot: " + (Problem.empty() ? "halted: " + HaltText(Next.Log) : Problem);
    }
    auto Final = LoadVariables(Dir / kStoreFile);
    if (!Final || *Final != Ref.Clean || ReadFile(Dir / "next" / "dsdt.aml") != Ref.Dsdt ||
        !StoredFilesFit(Dir, false)) {
      return "FAIL following boot does not reach the clean boot's DSDT and variables";
    }
    return Kind;
  }

  static std::string ProcessProblem(const BootOutcome &Run) {
    if (Run.TimedOut) {
      return "FAIL hang";
    }
    if (Contains(Run.Stderr, "Sanitizer") || Contains(Run.Stderr, "runtime error:")) {
      return "FAIL sanitizer report";
    }
    if (Run.Signal != 0) {
      return "FAIL crash (signal " + std::to_string(Run.Signal) + ")";
    }
    if (Run.ExitCode != 0 && Run.ExitCode != kExitHalted) {
      return "FAIL exit " + std::to_string(Run.ExitCode);
    }
    for (const std::string &Line : Lines(Run.Log)) {
      if (Contains(Line, "] error: ")) {
        return "FAIL " + Line.substr(Line.find("error: "));
      }
    }
    return {};
  }

  void PrintFigures() const {
    uint64_t Swept = 0;
    for (const auto &[Kind, Count] : Outcomes) {
      Swept += Count;
    }
    std::cout << "allocation sweep from " << (S.StartBooted ? "a booted" : "an empty")
              << " store: " << Ref.Allocations << " firmware allocations in a clean boot, " << Swept
              << " swept\n";
    for (const auto &[Kind, Count] : Outcomes) {
      std::cout << "  " << Count << " " << Kind << "\n";
    }
  }

  Settings S;
  fs::path SeedFile;
  Reference Ref;
  std::map<std::string, uint64_t> Outcomes;
  bool Failed = false;
};

std::vector<std::string> ReadAllowedHalts(const fs::path &File) {
  std::vector<std::string> Result;
  for (const std::string &Line : Lines(ReadFile(File))) {
    if (Line[0] != '#') {
      Result.push_back(Line);
    }
  }
  return Result;
}

bool ParseArguments(int argc, char **argv, Settings &S) {
  for (int Index = 1; Index + 1 < argc; Index += 2) {
    const std::string Flag = argv[Index];
    const std::string Value = argv[Index + 1];
    if (Flag == "--boardsim") {
      S.Boardsim = Value;
    } else if (Flag == "--work") {
      S.Work = Value;
    } else if (Flag == "--steps") {
      S.Steps = std::stoull(Value);
    } else if (Flag == "--start" && (Value == "empty" || Value == "booted")) {
      S.StartBooted = Value == "booted";
    } else if (Flag == "--stored-file" && Value.find('=') != std::string::npos) {
      S.StoredFiles[Value.substr(0, Value.find('='))] = Value.substr(Value.find('=') + 1);
    } else if (Flag == "--boot-option") {
      S.BootOptions.push_back(Value);
    } else if (Flag == "--allowed-halts") {
      S.AllowedHalts = ReadAllowedHalts(Value);
    } else {
      return false;
    }
  }
  const char *Full = std::getenv("SWEEP_FULL");
  if (Full != nullptr && std::string(Full) == "1") {
    S.Steps = 0;
  }
  return (argc % 2) == 1 && !S.Boardsim.empty() && !S.Work.empty();
}

} // namespace

int main(int argc, char **argv) {
  Settings S;
  if (!ParseArguments(argc, argv, S)) {
    std::cerr << "usage: AllocationSweep --boardsim PATH --work DIR [--steps N] [--start empty|booted]\n"
                 "                       [--allowed-halts FILE] [--boot-option ARG]... [--stored-file "
                 "OPTION=SEED]...\n";
    return 2;
  }
  return Sweep(S).Run() ? 0 : 1;
}

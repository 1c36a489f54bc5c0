// The sweep harness: child boardsim boots, the clean reference, the checks of each run and the
// figures.
#include "SweepHarness.h"

#include "HostText.h"
#include "VariableStore.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iomanip>
#include <iostream>
#include <optional>
#include <set>
#include <sstream>
#include <thread>

namespace sweep {

const char kSettingsUsage[] =
    "--boardsim PATH --work DIR [--steps N] [--shard I/N] [--start empty|booted] [--allowed-halts FILE]\n"
    "  [--boot-option ARG]... [--stored-file OPTION=SEED]... [--records OPTION=BYTES]...";

namespace {

// A boot may take this many times the clean boot's wall time (at least the floor) before it
// counts as a hang; a loop that never moves the virtual clock ends by itself at boardsim's
// progress watchdog, so the limit is only there for what nothing else stops. The boots that
// measure (the first and the clean one) get a fixed, generous limit.
constexpr int kBootTimeMultiple = 10;
constexpr auto kLeastBootTimeLimit = std::chrono::seconds(30);
constexpr auto kReferenceBootTimeLimit = std::chrono::seconds(600);
constexpr auto kPollInterval = std::chrono::milliseconds(5);
constexpr int kExitHalted = 3;
constexpr char kStoreFile[] = "store.nvram";
constexpr char kScreenFile[] = "screen.png";
constexpr char kBootEndLine[] = "boot ends at ";
constexpr char kModuleTimeLine[] = "] virtual time of ";
constexpr uint64_t kNsPerUs = 1000;
constexpr double kSecondsPerMinute = 60;

struct BootOutcome {
  bool TimedOut = false;
  std::chrono::steady_clock::duration Wall{};
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

bool Contains(const std::string &Text, const std::string &Needle) {
  return Text.find(Needle) != std::string::npos;
}

// The number the log gives after Prefix, and the rest of that line.
std::optional<std::pair<uint64_t, std::string>> CountAfter(const std::string &Log,
                                                           const std::string &Prefix) {
  const size_t At = Log.find(Prefix);
  if (At == std::string::npos) {
    return std::nullopt;
  }
  const std::string Line = Log.substr(At + Prefix.size(), Log.find('\n', At) - At - Prefix.size());
  size_t Digits = 0;
  const uint64_t Count = std::stoull(Line, &Digits);
  return std::pair(Count, Line.substr(std::min(Line.size(), Digits + 1)));
}

// Runs boardsim boot in a child process with its output in Dir; a crash or a hang is an outcome.
BootOutcome Boot(const Settings &S, const fs::path &Dir, const std::vector<std::string> &Extra,
                 std::chrono::steady_clock::duration Limit) {
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
  const auto Started = std::chrono::steady_clock::now();
  const auto Deadline = Started + Limit;
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
  Result.Wall = std::chrono::steady_clock::now() - Started;
  Result.Signal = WIFSIGNALED(Status) ? WTERMSIG(Status) : 0;
  Result.ExitCode = WIFEXITED(Status) ? WEXITSTATUS(Status) : -1;
  Result.Log = ReadFile(Dir / "board.log");
  Result.Stderr = ReadFile(Dir / "stderr.txt");
  return Result;
}

uint64_t VirtualTimeNs(const BootOutcome &Run) {
  auto End = CountAfter(Run.Log, kBootEndLine);
  return End ? End->first : 0;
}

// The stalls each module asked for, by module and length ("virtual time of Vaultcell: ... (38
// x 10 us, 2 x 100 us)"): more of one length than in a clean boot is a poll loop that ran on.
using Stalls = std::map<std::pair<std::string, uint64_t>, uint64_t>;

Stalls StallCounts(const std::string &Log) {
  Stalls Result;
  for (const std::string &Line : Lines(Log)) {
    const size_t At = Line.find(kModuleTimeLine);
    const size_t Open = Line.find('(');
    if (At == std::string::npos || Open == std::string::npos) {
      continue;
    }
    const size_t NameAt = At + std::strlen(kModuleTimeLine);
    const std::string Module = Line.substr(NameAt, Line.find(':', NameAt) - NameAt);
    std::istringstream List(Line.substr(Open + 1));
    uint64_t Times = 0, Length = 0;
    std::string Cross, Unit;
    while (List >> Times >> Cross >> Length >> Unit) {
      Result[{Module, Length}] = Times;
    }
  }
  return Result;
}

bool WaitedLonger(const Stalls &Run, const Stalls &Clean) {
  for (const auto &[Key, Times] : Run) {
    const auto Found = Clean.find(Key);
    if (Times > (Found != Clean.end() ? Found->second : 0)) {
      return true;
    }
  }
  return false;
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

// A file of records after a failing boot: each record a clean boot keeps (Before and After
// agree: a board's real address ...) is kept; the others may be caught between old and new, for
// the following boot to complete. A file without records (Record 0) is Before or After whole.
bool RecordsFit(const std::string &Now, const std::string &Before, const std::string &After, size_t Record) {
  if (Record == 0) {
    return Now == Before || Now == After;
  }
  if (Now.size() != Before.size()) {
    return false;
  }
  for (size_t At = 0; At < Now.size(); At += Record) {
    const std::string Kept = Before.substr(At, Record);
    if (Kept == After.substr(At, Record) && Now.substr(At, Record) != Kept) {
      return false;
    }
  }
  return true;
}

// The assertion logged before a halt, if any; else the core's line of the halt (a watchdog's
// names the image that was running).
std::string HaltText(const std::string &Log) {
  std::string Assertion, Halt;
  for (const std::string &Line : Lines(Log)) {
    if (Line.find("] ASSERT ") != std::string::npos) {
      Assertion = Line.substr(Line.find("ASSERT "));
    } else if (Line.rfind("[core] halt: ", 0) == 0) {
      Halt = Line.substr(Line.find("halt: "));
    }
  }
  return !Assertion.empty() ? Assertion
                            : "halt without an assertion" + (Halt.empty() ? "" : " (" + Halt + ")");
}

std::string ProcessProblem(const BootOutcome &Run) {
  if (Run.TimedOut) {
    return "FAIL hang";
  }
  if (Contains(Run.Stderr, "Sanitizer") || Contains(Run.Stderr, "runtime error:")) {
    return "FAIL sanitizer report";
  }
  if (Run.Signal != 0) {
    return "FAIL crash (signal " + std::to_string(Run.Signal) + ")";
  }
  // Errors of the boot: the core's and the models' protocol errors, each one line of the log.
  for (const std::string &Line : Lines(Run.Log)) {
    if (Contains(Line, "] error: ") || Contains(Line, "] protocol error: ")) {
      return "FAIL " + Line.substr(Line.find("] ") + 2);
    }
  }
  if (Run.ExitCode != 0 && Run.ExitCode != kExitHalted) {
    return "FAIL exit " + std::to_string(Run.ExitCode);
  }
  return {};
}

// Wall time, and the processor time of the child boots that ended, both from a fixed start.
struct Pace {
  double WallSeconds = 0;
  double CpuSeconds = 0;

  static Pace Now() {
    rusage Children = {};
    getrusage(RUSAGE_CHILDREN, &Children);
    const auto Seconds = [](const timeval &Time) { return Time.tv_sec + Time.tv_usec / 1e6; };
    return {std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count(),
            Seconds(Children.ru_utime) + Seconds(Children.ru_stime)};
  }
};

struct Reference {
  Variables Seed;
  Variables Clean;
  std::string Dsdt;
  std::string Screen; // screen.png at the hand-over; empty when the board has no display
  std::map<std::string, std::string> SeedFiles;  // stored files as every run starts with them
  std::map<std::string, std::string> CleanFiles; // and as the clean boot leaves them
  uint64_t VirtualNs = 0;
  std::chrono::steady_clock::duration BootLimit = kReferenceBootTimeLimit; // see kBootTimeMultiple
  Stalls CleanStalls;
  std::map<std::string, std::pair<uint64_t, std::string>> Counts; // walk -> events, what they are
};

class Sweep {
public:
  explicit Sweep(const Settings &Given) : S(Given) {}

  bool Run(const std::vector<Walk> &Walks) {
    if (!Prepare(Walks)) {
      return false;
    }
    bool Passed = true;
    for (const Walk &Each : Walks) {
      Passed = RunWalk(Each) && Passed;
    }
    return Passed;
  }

private:
  bool RunWalk(const Walk &Each) {
    std::map<std::string, uint64_t> Outcomes;
    uint64_t LongestNs = 0;
    bool Passed = true;
    const size_t FollowingBefore = Following.size();
    const Pace Start = Pace::Now();
    for (uint64_t Step : ChosenEvents(Ref.Counts.at(Each.Name).first, S.Steps, S.Part)) {
      const fs::path Dir = S.Work / (Each.Name + "-" + std::to_string(Step));
      const std::string Kind = Classify(Dir, Each.Arguments(Step), LongestNs);
      Outcomes[Kind]++;
      if (Kind.rfind("FAIL", 0) == 0) {
        std::cout << Each.Name << " " << Step << ": " << Kind << " (see " << Dir << ")\n";
        Passed = false;
      } else {
        fs::remove_all(Dir);
      }
    }
    PrintFigures(Each, Outcomes, LongestNs, Following.size() - FollowingBefore);
    PrintWallTime(Each, Outcomes, Start);
    return Passed;
  }

  // Every run starts from a copy of the seed store (none: an empty store) and stored files.
  void PlaceSeed(const fs::path &Dir) const {
    fs::create_directories(Dir);
    if (!SeedFile.empty() && fs::exists(SeedFile)) {
      fs::copy_file(SeedFile, Dir / kStoreFile, fs::copy_options::overwrite_existing);
    }
    for (const auto &[Option, Seed] : Seeds) {
      fs::copy_file(Seed, Dir / Option, fs::copy_options::overwrite_existing);
    }
  }

  // The stored file that does not fit, if any: after a failing boot (Between) as it was or on
  // the way to a clean boot's (RecordsFit), after a normal one exactly as a clean boot leaves it.
  std::string StoredFileMisfit(const fs::path &Dir, bool Between) const {
    for (const auto &[Option, Clean] : Ref.CleanFiles) {
      const std::string Now = ReadFile(Dir / Option);
      const auto Record = S.RecordBytes.find(Option);
      if (Between ? !RecordsFit(Now, Ref.SeedFiles.at(Option), Clean,
                                Record != S.RecordBytes.end() ? Record->second : 0)
                  : Now != Clean) {
        return Option;
      }
    }
    return {};
  }

  // The clean boot from the seed: the counts, the DSDT, the variables and files it leaves.
  bool Prepare(const std::vector<Walk> &Walks) {
    fs::remove_all(S.Work);
    Seeds = S.StoredFiles;
    if (S.StartBooted) {
      PlaceSeed(S.Work / "first");
      if (Boot(S, S.Work / "first" / "boot", {}, kReferenceBootTimeLimit).ExitCode != 0) {
        std::cout << "the first boot failed; see " << S.Work / "first"
                  << "\n";
        return false;
      }
      SeedFile = S.Work / "first" / kStoreFile;
      Ref.Seed = LoadVariables(SeedFile).value_or(Variables{});
      for (auto &[Option, Seed] : Seeds) {
        Seed = S.Work / "first" / Option;
      }
    }
    PlaceSeed(S.Work / "clean");
    const BootOutcome Clean = Boot(S, S.Work / "clean" / "boot", {}, kReferenceBootTimeLimit);
    if (std::string Problem = ProcessProblem(Clean); !Problem.empty() || Clean.ExitCode != 0) {
      std::cout << "the clean boot failed (" << (Problem.empty() ? "halted" : Problem) << "); see "
                << S.Work / "clean"
                << "\n";
      return false;
    }
    for (const Walk &Each : Walks) {
      auto Count = CountAfter(Clean.Log, Each.CountLine);
      if (!Count) {
        std::cout << "the clean boot's log has no \"" << Each.CountLine << "\"\n";
        return false;
      }
      Ref.Counts[Each.Name] = *Count;
    }
    Ref.VirtualNs = VirtualTimeNs(Clean);
    Ref.BootLimit =
        std::max<std::chrono::steady_clock::duration>(kLeastBootTimeLimit, kBootTimeMultiple * Clean.Wall);
    Ref.CleanStalls = StallCounts(Clean.Log);
    Ref.Dsdt = ReadFile(S.Work / "clean" / "boot" / "dsdt.aml");
    Ref.Screen = ReadFile(S.Work / "clean" / "boot" / kScreenFile);
    auto After = LoadVariables(S.Work / "clean" / kStoreFile);
    if (!After) {
      std::cout << "the clean boot left a store that does not load\n";
      return false;
    }
    Ref.Clean = *After;
    for (const auto &[Option, Seed] : Seeds) {
      Ref.SeedFiles[Option] = ReadFile(Seed);
      Ref.CleanFiles[Option] = ReadFile(S.Work / "clean" / Option);
    }
    return true;
  }

  bool HaltAllowed(const std::string &Text) const {
    for (const std::string &Allowed : S.AllowedHalts) {
      if (Contains(Text, Allowed)) {
        return true;
      }
    }
    return false;
  }

  // A boot that returned: the same DSDT, variables and files as the clean boot (the failure was
  // absorbed) or not (the boot went on without what failed); and whether it waited.
  std::string ReturnedKind(const fs::path &Dir, const BootOutcome &Run, const Variables &Left) const {
    const bool AsClean = Left == Ref.Clean && ReadFile(Dir / "boot" / "dsdt.aml") == Ref.Dsdt &&
                         StoredFileMisfit(Dir, false).empty();
    return std::string(AsClean ? "absorbed" : "clean error") +
           (WaitedLonger(StallCounts(Run.Log), Ref.CleanStalls) ? " after a bounded wait" : "");
  }

  // The failing boot, then a normal boot on the files it left.
  std::string Classify(const fs::path &Dir, const std::vector<std::string> &Arguments, uint64_t &LongestNs) {
    PlaceSeed(Dir);
    const BootOutcome Run = Boot(S, Dir / "boot", Arguments, Ref.BootLimit);
    if (std::string Problem = ProcessProblem(Run); !Problem.empty()) {
      return Problem;
    }
    LongestNs = std::max(LongestNs, VirtualTimeNs(Run));
    if (Contains(Run.Log, " never fired")) {
      return "FAIL the sweep asked for a fault the boot never reached";
    }
    if (Run.ExitCode == kExitHalted && !HaltAllowed(HaltText(Run.Log))) {
      return "FAIL halted: " + HaltText(Run.Log);
    }
    auto Left = LoadVariables(Dir / kStoreFile);
    if (!Left || !OldOrNew(*Left, Ref.Seed, Ref.Clean)) {
      return "FAIL store neither old nor as a normal boot leaves it";
    }
    if (std::string Misfit = StoredFileMisfit(Dir, true); !Misfit.empty()) {
      return "FAIL " + Misfit + " neither as it was nor as a normal boot leaves it";
    }
    const std::string Kind =
        Run.ExitCode == 0 ? ReturnedKind(Dir, Run, *Left) : "halted: " + HaltText(Run.Log);
    // Boots are deterministic: a following boot on the files an earlier run left ends as its did.
    std::string StartsFrom = ReadFile(Dir / kStoreFile);
    for (const auto &[Option, Seed] : Seeds) {
      StartsFrom += ReadFile(Dir / Option);
    }
    auto Known = Following.find(StartsFrom);
    if (Known == Following.end()) {
      Known = Following.emplace(StartsFrom, FollowingBoot(Dir)).first;
    }
    return Known->second.empty() ? Kind : Known->second;
  }

  // A normal boot on the files a failing boot left: empty when it reaches the clean boot's DSDT,
  // variables, files and screen.
  std::string FollowingBoot(const fs::path &Dir) {
    const BootOutcome Next = Boot(S, Dir / "next", {}, Ref.BootLimit);
    if (std::string Problem = ProcessProblem(Next); !Problem.empty() || Next.ExitCode != 0) {
      return "FAIL following boot: " + (Problem.empty() ? "halted: " + HaltText(Next.Log) : Problem);
    }
    auto Final = LoadVariables(Dir / kStoreFile);
    if (!Final || *Final != Ref.Clean || ReadFile(Dir / "next" / "dsdt.aml") != Ref.Dsdt ||
        ReadFile(Dir / "next" / kScreenFile) != Ref.Screen || !StoredFileMisfit(Dir, false).empty()) {
      return "FAIL following boot does not reach the clean boot's DSDT, variables, files and screen";
    }
    return {};
  }

  void PrintFigures(const Walk &Each, const std::map<std::string, uint64_t> &Outcomes, uint64_t LongestNs,
                    size_t FollowingBoots) const {
    uint64_t Swept = 0;
    for (const auto &[Kind, Count] : Outcomes) {
      Swept += Count;
    }
    const auto &[Events, What] = Ref.Counts.at(Each.Name);
    std::cout << Each.Name << " sweep from " << (S.StartBooted ? "a booted" : "an empty")
              << " store: " << Events << " "
              << (What.empty() ? Each.CountLine.substr(0, Each.CountLine.find(':')) : What)
              << " in a clean boot, " << Swept << " swept; virtual time " << Ref.VirtualNs / kNsPerUs
              << " us clean, at most " << LongestNs / kNsPerUs << " us with a failure; " << FollowingBoots
              << " following boots (one per set of files the runs left)\n";
    for (const auto &[Kind, Count] : Outcomes) {
      std::cout << "  " << Count << " " << Kind << "\n";
    }
  }

  // The walk's wall time and the processor time of its boots, and what a walk of every event
  // would take at the same pace on one machine, one boot at a time (the following boots
  // included, as the runs needed them). On a busy machine the processor time is the steadier
  // figure.
  void PrintWallTime(const Walk &Each, const std::map<std::string, uint64_t> &Outcomes,
                     const Pace &Start) const {
    uint64_t Swept = 0;
    for (const auto &[Kind, Count] : Outcomes) {
      Swept += Count;
    }
    const Pace Now = Pace::Now();
    const double Wall = Now.WallSeconds - Start.WallSeconds, Cpu = Now.CpuSeconds - Start.CpuSeconds;
    const uint64_t Events = Ref.Counts.at(Each.Name).first;
    std::cout << std::fixed << std::setprecision(1) << "  wall time " << Wall << " s, boots' processor time "
              << Cpu << " s";
    if (S.Part.Count > 1) {
      std::cout << " (shard " << S.Part.Index << "/" << S.Part.Count << ")";
    }
    if (Swept > 0) {
      std::cout << std::setprecision(2) << "; per event " << Wall / Swept << " s wall, " << Cpu / Swept
                << " s processor; all " << Events << " events: about " << std::setprecision(0)
                << Wall / Swept * Events / kSecondsPerMinute << " min wall, "
                << Cpu / Swept * Events / kSecondsPerMinute << " min processor";
    }
    std::cout << std::defaultfloat << "\n";
  }

  const Settings &S;
  std::map<std::string, fs::path> Seeds; // stored files as every run starts with them
  fs::path SeedFile;
  Reference Ref;
  std::map<std::string, std::string> Following; // files a following boot starts from -> its verdict
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

// "NAME=VALUE" split at the first '='; false without one.
bool SplitAssignment(const std::string &Text, std::string &Name, std::string &Value) {
  const size_t Equals = Text.find('=');
  if (Equals == std::string::npos || Equals == 0) {
    return false;
  }
  Name = Text.substr(0, Equals);
  Value = Text.substr(Equals + 1);
  return true;
}

} // namespace

std::optional<Shard> ParseShard(const std::string &Text) {
  const size_t Slash = Text.find('/');
  if (Slash == std::string::npos) {
    return std::nullopt;
  }
  const std::optional<uint64_t> Index = host::ParseNumber(Text.substr(0, Slash));
  const std::optional<uint64_t> Count = host::ParseNumber(Text.substr(Slash + 1));
  if (!Index || !Count || *Index < 1 || *Index > *Count) {
    return std::nullopt;
  }
  return Shard{*Index, *Count};
}

std::vector<uint64_t> ChosenEvents(uint64_t Events, uint64_t Steps, Shard Part) {
  std::vector<uint64_t> Chosen;
  if (Steps == 0 || Steps >= Events) {
    for (uint64_t Event = 1; Event <= Events; Event++) {
      Chosen.push_back(Event);
    }
  } else {
    for (uint64_t Index = 0; Index < Steps; Index++) {
      const uint64_t Event = Steps == 1 ? 1 : 1 + Index * (Events - 1) / (Steps - 1);
      if (Chosen.empty() || Chosen.back() != Event) {
        Chosen.push_back(Event);
      }
    }
  }
  std::vector<uint64_t> Result;
  for (size_t Position = Part.Index - 1; Position < Chosen.size(); Position += Part.Count) {
    Result.push_back(Chosen[Position]);
  }
  return Result;
}

bool ParseSettings(int argc, char **argv, Settings &S,
                   std::vector<std::pair<std::string, std::string>> &Rest) {
  if (argc % 2 != 1) {
    return false;
  }
  for (int Index = 1; Index + 1 < argc; Index += 2) {
    const std::string Flag = argv[Index];
    const std::string Value = argv[Index + 1];
    std::string Name, Assigned;
    std::optional<uint64_t> Number;
    if (Flag == "--boardsim") {
      S.Boardsim = Value;
    } else if (Flag == "--work") {
      S.Work = Value;
    } else if (Flag == "--steps" && (Number = host::ParseNumber(Value))) {
      S.Steps = *Number;
    } else if (Flag == "--shard" && ParseShard(Value)) {
      S.Part = *ParseShard(Value);
    } else if (Flag == "--start" && (Value == "empty" || Value == "booted")) {
      S.StartBooted = Value == "booted";
    } else if (Flag == "--stored-file" && SplitAssignment(Value, Name, Assigned)) {
      S.StoredFiles[Name] = Assigned;
    } else if (Flag == "--records" && SplitAssignment(Value, Name, Assigned) &&
               (Number = host::ParseNumber(Assigned))) {
      S.RecordBytes[Name] = *Number;
    } else if (Flag == "--boot-option") {
      S.BootOptions.push_back(Value);
    } else if (Flag == "--allowed-halts") {
      S.AllowedHalts = ReadAllowedHalts(Value);
    } else {
      Rest.emplace_back(Flag, Value);
    }
  }
  const char *Full = std::getenv("SWEEP_FULL");
  if (Full != nullptr && std::string(Full) == "1") {
    S.Steps = 0;
  }
  const char *FromEnvironment = std::getenv("SWEEP_SHARD");
  if (FromEnvironment != nullptr && *FromEnvironment != '\0') {
    const std::optional<Shard> Part = ParseShard(FromEnvironment);
    if (!Part) {
      return false;
    }
    S.Part = *Part;
  }
  if (S.Part.Count > 1) {
    S.Work += "-shard-" + std::to_string(S.Part.Index) + "-of-" + std::to_string(S.Part.Count);
  }
  return !S.Boardsim.empty() && !S.Work.empty();
}

bool RunSweep(const Settings &S, const std::vector<Walk> &Walks) {
  return Sweep(S).Run(Walks);
}

} // namespace sweep

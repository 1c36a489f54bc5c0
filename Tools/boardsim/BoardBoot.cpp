// `boardsim boot`: one boot of the board that Board::Build assembles from the options (the
// components' options and fault knobs), its modules in dispatch order, the controllers
// connected and the hand-over to the OS.
#include "BoardOptions.h"
#include "Commands.h"

#include <Board.h>
#include <HostFiles.h>
#include <HostPlatform.h>
#include <HostText.h>
#include <I2cMailbox/I2cMailbox.h>
#include <VariableStore.h>

#include <cstdint>
#include <fstream>
#include <iostream>
#include <optional>

namespace {

constexpr int kExitOk = 0;
constexpr int kExitUsage = 2;
constexpr int kExitHalted = 3;
constexpr int kExitBootErrors = 4; // the boot recorded errors (firmware misuse, model protocol errors)
constexpr char kDefaultOutDir[] = "boardsim-out";
constexpr char kLogFile[] = "board.log";
constexpr char kNvramFile[] = "nvram.bin";
constexpr char kFaultOption[] = "--fault";
constexpr unsigned long long kNsPerMs = 1'000'000;
constexpr unsigned long long kNsPerUs = 1000;
// The longest watchdogs: the core counts virtual time in 64-bit nanoseconds, the wall clock in
// signed 64-bit ones.
constexpr uint64_t kMostWatchdogMs = UINT64_MAX / kNsPerMs;
constexpr uint64_t kMostProgressMs = INT64_MAX / kNsPerMs;

// The options of the boot itself; the board's own follow from its components.
std::vector<OptionSpec> BootOptions() {
  return {
      {"--out", "DIR", std::string("artifacts folder (default ") + kDefaultOutDir + ")"},
      {"--nvram", "FILE", "non-volatile variables persist in FILE from boot to boot"},
      ModuleDirOption(),
      {"--modules", "NAME,...", "dispatch these modules in this order instead of the board's"},
      ImagesOption(),
      ExceptionLevelOption(),
      {"--watchdog-ms", "MS",
       "virtual time one call into firmware may take before it halts (default 30000; 0: never)"},
      {"--progress-watchdog-ms", "MS",
       "wall time firmware may run without moving the virtual clock before it halts (default 5000; 0: "
       "never, for a debugger)"},
      {"--no-exit-boot-services", "", "stop before the hand-over to the OS"},
      {"--virtual-offset", "VALUE",
       "after ExitBootServices, SetVirtualAddressMap moving every address by VALUE"},
      {"--quiet", "", "do not print the board log while booting"},
      {"--no-screen", "", "do not draw the board log on the display nor save screen.png"},
      {kFaultOption, "NAME[=VALUE]", "inject a fault (knobs below); may be given more than once"},
  };
}

std::vector<OptionSpec> AsOptionSpecs(const std::vector<host::BoardOptionSpec> &Specs,
                                      const std::string &Prefix) {
  std::vector<OptionSpec> Result;
  for (const host::BoardOptionSpec &Spec : Specs) {
    Result.push_back({Prefix + Spec.Name, Spec.Argument, Spec.Help});
  }
  return Result;
}

std::vector<OptionSpec> BoardSettings() {
  std::vector<OptionSpec> Result;
  for (const host::BoardComponent &Component : host::BoardComponents()) {
    std::vector<OptionSpec> More = AsOptionSpecs(Component.Options, "--");
    Result.insert(Result.end(), More.begin(), More.end());
  }
  return Result;
}

std::vector<OptionSpec> FaultKnobs() {
  std::vector<OptionSpec> Result;
  for (const host::BoardComponent &Component : host::BoardComponents()) {
    for (const host::BoardOptionSpec &Knob : Component.Faults) {
      Result.push_back({Knob.Name + (Knob.Argument.empty() ? "" : "=" + Knob.Argument), "", Knob.Help});
    }
  }
  return Result;
}

std::vector<OptionSpec> AllOptions() {
  std::vector<OptionSpec> Result = BootOptions();
  std::vector<OptionSpec> Board = BoardSettings();
  Result.insert(Result.end(), Board.begin(), Board.end());
  return Result;
}

void PrintUsage(std::ostream &Out) {
  Out << "usage: boardsim boot [options]\n\n"
         "Boots the emulated board: installs the producers, dispatches the board's modules,\n"
         "connects the controllers and hands over to the OS; prints the board log and writes\n"
         "board.log, nvram.bin, the DSDT (dsdt.aml, dsdt.dsl), the serial console (serial.txt)\n"
         "and the display at the hand-over (screen.png, the board log drawn on it as a text\n"
         "console) into the artifacts folder.\n"
         "Exit status: 0 booted, 2 usage error, 3 firmware halted, 4 the boot recorded errors\n"
         "(firmware misuse the core caught, protocol errors of the models; listed in "
         "board.log).\n\noptions:\n";
  OptionSet(BootOptions()).PrintOptions(Out);
  Out << "\nboard options:\n";
  PrintOptionTable(Out, BoardSettings());
  Out << "\nfault knobs (" << kFaultOption << " NAME[=VALUE]):\n";
  PrintOptionTable(Out, FaultKnobs());
}

std::vector<std::string> SplitList(const std::string &List) {
  std::vector<std::string> Items;
  for (size_t Start = 0; Start <= List.size();) {
    size_t End = List.find(',', Start);
    End = End == std::string::npos ? List.size() : End;
    if (End > Start) {
      Items.push_back(List.substr(Start, End - Start));
    }
    Start = End + 1;
  }
  return Items;
}

// The board's options from the command line: every component option given, every fault knob.
host::BoardOptions ToBoardOptions(const OptionSet &Options, const std::filesystem::path &OutDir) {
  host::BoardOptions Board;
  Board.NvramFile = Options.Value("--nvram");
  Board.OutDir = OutDir;
  for (const OptionSpec &Spec : BoardSettings()) {
    if (Options.Has(Spec.Flag)) {
      Board.Settings[Spec.Flag.substr(2)] = Spec.ValueName.empty() ? "" : Options.Value(Spec.Flag);
    }
  }
  for (const std::string &Knob : Options.Values(kFaultOption)) {
    const size_t Equals = Knob.find('=');
    Board.Faults[Knob.substr(0, Equals)] = Equals == std::string::npos ? "" : Knob.substr(Equals + 1);
  }
  Board.Modules = SplitList(Options.Value("--modules"));
  Board.Screen.Capture = Board.Screen.Console = !Options.Has("--no-screen");
  return Board;
}

void Note(host::Platform &Core, const std::string &Text) {
  Core.Log().Append("boardsim", Text + "\n", Core.VirtualTimeNs());
}

void HandOverToOs(host::Platform &Core, const OptionSet &Options) {
  if (Options.Has("--no-exit-boot-services")) {
    return;
  }
  Note(Core, "ExitBootServices: " + host::StatusName(Core.ExitBootServices()));
  const std::optional<uint64_t> Offset =
      Options.Has("--virtual-offset") ? host::ParseNumber(Options.Value("--virtual-offset")) : std::nullopt;
  if (Offset) {
    Note(Core, "SetVirtualAddressMap: " +
                   host::StatusName(Core.SetVirtualAddressMap(static_cast<int64_t>(*Offset))));
  }
}

// The boot after the board is built; true when firmware halted.
bool Boot(host::Board &Board, const OptionSet &Options) {
  host::Platform &Core = Board.Core();
  for (const host::ImageResult &Result : Board.Dispatch()) {
    if (Result.Halted) {
      Note(Core, "the board halted while dispatching");
      return true;
    }
  }
  host::LogManagementFirmwareReport(Board);
  Note(Core, "connect controllers");
  if (!Board.ConnectAllControllers()) {
    Note(Core, "the board halted while connecting controllers");
    return true;
  }
  Note(Core, "hand-over");
  HandOverToOs(Core, Options);
  return false;
}

std::string Microseconds(uint64_t Nanoseconds) {
  return std::to_string(Nanoseconds / kNsPerUs) + " us";
}

// Where each module's virtual time went: the stalls its code asked for, by length, its
// register accesses, its waits for events and the services that took time for it; then what
// no account holds, which is zero when every step of the clock was charged.
void LogTimeAccounts(host::Platform &Core) {
  uint64_t AccountedNs = 0;
  for (const auto &[Module, Account] : Core.TimeAccounts()) {
    std::string Stalls;
    for (const auto &[Length, Times] : Account.StallsByUs) {
      Stalls += (Stalls.empty() ? "" : ", ") + std::to_string(Times) + " x " + std::to_string(Length) + " us";
    }
    Note(Core, "virtual time of " + Module + ": " + Microseconds(Account.TotalNs()) + " = stalls " +
                   Microseconds(Account.StallNs) + (Stalls.empty() ? "" : " (" + Stalls + ")") + " + " +
                   std::to_string(Account.RegisterAccesses) + " register accesses " +
                   Microseconds(Account.RegisterNs) + " + waits " + Microseconds(Account.WaitNs) +
                   " + services " + Microseconds(Account.ServiceNs));
    AccountedNs += Account.TotalNs();
  }
  Note(Core, "virtual time unaccounted: " + std::to_string(Core.VirtualTimeNs() - AccountedNs) + " ns");
}

bool WriteText(const std::filesystem::path &File, const std::string &Text) {
  std::ofstream Out(File, std::ios::binary);
  Out << Text;
  return static_cast<bool>(Out);
}

// Every path the boot reads or replaces, checked before anything is created or written, so that
// a bad one changes no file: the first problem as one line, or empty.
std::string CheckPaths(const OptionSet &Options, const host::BoardOptions &Board) {
  if (Options.Has("--module-dir")) {
    if (std::string Problem = host::FolderProblem(Options.Value("--module-dir")); !Problem.empty()) {
      return host::PathMessage("--module-dir", Options.Value("--module-dir"), Problem);
    }
  }
  if (Options.Has("--nvram")) {
    if (std::string Problem = host::FileProblem(Board.NvramFile, true, true); !Problem.empty()) {
      return host::PathMessage("--nvram", Board.NvramFile, Problem);
    }
  }
  return host::Board::CheckFiles(Board);
}

// --modules names modules the core can load: a name without its file is a typo, which would
// otherwise boot without the module and exit as booted.
std::string CheckModules(const OptionSet &Options, const host::BoardOptions &Board,
                         const host::PlatformOptions &Settings) {
  if (!Options.Has("--modules")) {
    return "";
  }
  if (Board.Modules.empty()) {
    return "--modules names no module";
  }
  for (const std::string &Name : Board.Modules) {
    if (const std::filesystem::path File = Settings.ModuleFile(Name);
        !std::filesystem::is_regular_file(File)) {
      return "--modules: no module " + Name + " (" + File.string() + ")";
    }
  }
  return "";
}

// The AArch64 images the boot dispatches, each loaded as the core would, into scratch memory:
// a broken one is refused before the boot, as a bad file (the first problem, or empty).
std::string CheckImages(const host::BoardOptions &Board, const host::PlatformOptions &Settings) {
  for (const std::string &Name : Board.Modules.empty() ? host::DefaultDispatchOrder() : Board.Modules) {
    if (std::string Problem = host::ModuleImageProblem(Settings, Name); !Problem.empty()) {
      return Problem;
    }
  }
  return "";
}

int UsageError(const std::string &Text) {
  std::cerr << "boardsim boot: " << Text << "\n";
  PrintUsage(std::cerr);
  return kExitUsage;
}

} // namespace

int RunBootCommand(int argc, char **argv) {
  OptionSet Options(AllOptions());
  std::string Error;
  if (!Options.Parse(argc, argv, Error) || !Options.Positionals().empty()) {
    return UsageError(Error.empty() ? "unexpected " + Options.Positionals().front() : Error);
  }
  if (Options.HelpRequested()) {
    PrintUsage(std::cout);
    return kExitOk;
  }
  host::PlatformOptions Settings;
  Settings.NvramFile = Options.Value("--nvram");
  Settings.Echo = Options.Has("--quiet") ? nullptr : &std::cout;
  if (const std::string Problem =
          ApplyImagesOption(Options, Settings, BOARDSIM_MODULE_DIR, BOARDSIM_IMAGE_DIR);
      !Problem.empty()) {
    return UsageError(Problem);
  }
  if (Options.Has("--watchdog-ms")) {
    const std::optional<uint64_t> WatchdogMs = host::ParseNumber(Options.Value("--watchdog-ms"));
    if (!WatchdogMs || *WatchdogMs > kMostWatchdogMs) {
      return UsageError("--watchdog-ms needs a number up to " + std::to_string(kMostWatchdogMs));
    }
    Settings.WatchdogNs = *WatchdogMs * kNsPerMs;
  }
  if (Options.Has("--progress-watchdog-ms")) {
    const std::optional<uint64_t> LimitMs = host::ParseNumber(Options.Value("--progress-watchdog-ms"));
    if (!LimitMs || *LimitMs > kMostProgressMs) {
      return UsageError("--progress-watchdog-ms needs a number up to " + std::to_string(kMostProgressMs));
    }
    Settings.ProgressLimitMs = *LimitMs;
  }
  const std::filesystem::path OutDir = Options.Value("--out", kDefaultOutDir);
  const host::BoardOptions BoardSettings = ToBoardOptions(Options, OutDir);
  if (std::string Problem = host::Board::Check(BoardSettings); !Problem.empty()) {
    return UsageError(Problem);
  }
  if (std::string Problem = CheckModules(Options, BoardSettings, Settings); !Problem.empty()) {
    return UsageError(Problem);
  }
  if (std::string Problem = CheckImages(BoardSettings, Settings); !Problem.empty()) {
    return ReportBadPath("boot", Problem);
  }
  if (std::string Problem = CheckPaths(Options, BoardSettings); !Problem.empty()) {
    return ReportBadPath("boot", Problem);
  }
  if (std::string Problem = host::CreateFolder(OutDir); !Problem.empty()) {
    return ReportBadPath("boot", host::PathMessage("--out", OutDir, Problem));
  }
  // The folders the stored files are replaced in, checked above.
  for (const std::filesystem::path &Stored :
       {BoardSettings.NvramFile, std::filesystem::path(Options.Value("--eeprom"))}) {
    if (Stored.has_parent_path()) {
      host::CreateFolder(Stored.parent_path());
    }
  }

  host::Platform Core(Settings);
  std::unique_ptr<host::Board> Board;
  try {
    Board = host::Board::Build(Core, BoardSettings);
  } catch (const host::PathError &Problem) {
    return ReportBadPath("boot", Problem.what());
  } catch (const std::invalid_argument &Problem) {
    return UsageError(Problem.what());
  }
  const bool Halted = Boot(*Board, Options);
  Board->Finish();
  Note(Core, "boot ends at " + std::to_string(Core.VirtualTimeNs()) + " ns of virtual time");
  LogTimeAccounts(Core);
  host::LogI2cBusyPolls(*Board);

  if (!Core.Variables().Save(OutDir / kNvramFile, &Error)) {
    std::cerr << "boardsim boot: " << Error << "\n";
  }
  if (!WriteText(OutDir / kLogFile, Core.Log().Text())) {
    std::cerr << "boardsim boot: cannot write " << (OutDir / kLogFile) << "\n";
  }
  if (Halted) {
    return kExitHalted;
  }
  const std::vector<std::string> Errors = Board->UnexpectedErrors();
  if (!Errors.empty()) {
    std::cerr << "boardsim boot: the boot recorded " << Errors.size() << " error(s); see "
              << (OutDir / kLogFile) << "\n";
    return kExitBootErrors;
  }
  return kExitOk;
}

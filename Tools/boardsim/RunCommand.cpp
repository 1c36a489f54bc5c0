// `boardsim run <app>`: runs an application module the way the shell starts it, on the board
// with its display driver dispatched and connected, prints what it wrote to the console and its
// exit status, and saves the display's picture.
#include "BoardOptions.h"
#include "Commands.h"

#include <Board.h>
#include <HostFiles.h>
#include <HostPlatform.h>
#include <Vga/VgaScreen.h>

#include <algorithm>
#include <cctype>
#include <iostream>
#include <map>
#include <stdexcept>

namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;
constexpr int kExitHalted = 3;
// Written next to each module by the build: "DRIVER" or "APPLICATION".
constexpr char kKindSuffix[] = ".kind";
constexpr char kApplicationKind[] = "APPLICATION";
constexpr char kShellDriver[] = "Vidframe"; // the one driver the shell's board dispatches

std::vector<OptionSpec> RunOptions() {
  return {
      {"--nvram", "FILE", "non-volatile variables persist in FILE"},
      {"--ipmi-bmc-base", "VALUE",
       "the BMC memory base the IPMI information protocol reports (default 0xF0000000)"},
      {"--no-ipmi", "", "do not install the IPMI information protocol"},
      ModuleDirOption(),
      {"--log", "", "print the board log to standard error"},
      {"--out", "DIR", "save the display's picture as DIR/screen.png after the application"},
      ImagesOption(),
      ExceptionLevelOption(),
  };
}

// The shell's board: the display driver dispatched and every controller connected, so that the
// application finds Graphics Output. False when firmware halted on the way.
bool PrepareShell(host::Board &Built) {
  for (const host::ImageResult &Result : Built.Dispatch()) {
    if (Result.Halted) {
      return false;
    }
  }
  return Built.ConnectAllControllers();
}

void PrintUsage(std::ostream &Out, const OptionSet &Options) {
  Out << "usage: boardsim run <app> [options]\n\n"
         "Runs the application module <app> in the shell environment (Vidframe dispatched and\n"
         "connected), prints its console output and \"<app> exited: <status>\".\n\noptions:\n";
  Options.PrintOptions(Out);
}

std::string Lower(std::string Text) {
  std::transform(Text.begin(), Text.end(), Text.begin(), [](unsigned char C) { return std::tolower(C); });
  return Text;
}

// The application modules of ModuleDir (each <Name>.kind the build writes beside <Name>.so or .efi) by
// the names `run` takes ("mgmtprobe" for Mgmtprobe), each with its file name as built.
std::map<std::string, std::string> Applications(const std::filesystem::path &ModuleDir) {
  std::map<std::string, std::string> Found;
  std::error_code Failure;
  for (const auto &Entry : std::filesystem::directory_iterator(ModuleDir, Failure)) {
    std::string Problem;
    const std::optional<std::vector<uint8_t>> Kind =
        Entry.path().extension() == kKindSuffix ? host::ReadFileBytes(Entry.path(), Problem) : std::nullopt;
    if (Kind && std::string(Kind->begin(), Kind->end()).rfind(kApplicationKind, 0) == 0) {
      Found[Lower(Entry.path().stem().string())] = Entry.path().stem().string();
    }
  }
  return Found;
}

std::string NameList(const std::map<std::string, std::string> &Applications) {
  std::string List;
  for (const auto &[Name, File] : Applications) {
    List += (List.empty() ? "" : ", ") + Name;
  }
  return List.empty() ? "none" : List;
}

// The paths the run reads or replaces, checked before anything is written: the first problem
// as one line, or empty.
std::string CheckPaths(const OptionSet &Options) {
  std::string Problem;
  if (Options.Has("--module-dir") &&
      !(Problem = host::FolderProblem(Options.Value("--module-dir"))).empty()) {
    return host::PathMessage("--module-dir", Options.Value("--module-dir"), Problem);
  }
  if (Options.Has("--nvram") &&
      !(Problem = host::FileProblem(Options.Value("--nvram"), true, true)).empty()) {
    return host::PathMessage("--nvram", Options.Value("--nvram"), Problem);
  }
  return "";
}

} // namespace

int RunRunCommand(int argc, char **argv) {
  OptionSet Options(RunOptions());
  std::string Error;
  if (!Options.Parse(argc, argv, Error)) {
    std::cerr << "boardsim run: " << Error << "\n";
    PrintUsage(std::cerr, Options);
    return kExitUsage;
  }
  if (Options.HelpRequested()) {
    PrintUsage(std::cout, Options);
    return kExitOk;
  }
  if (Options.Positionals().size() != 1) {
    std::cerr << "boardsim run: name one application\n";
    PrintUsage(std::cerr, Options);
    return kExitUsage;
  }

  if (std::string Problem = CheckPaths(Options); !Problem.empty()) {
    return ReportBadPath("run", Problem);
  }
  host::PlatformOptions Settings;
  if (const std::string Problem =
          ApplyImagesOption(Options, Settings, BOARDSIM_MODULE_DIR, BOARDSIM_IMAGE_DIR);
      !Problem.empty()) {
    std::cerr << "boardsim run: " << Problem << "\n";
    return kExitUsage;
  }
  const std::map<std::string, std::string> Known = Applications(Settings.ModuleFolder());
  const auto Chosen = Known.find(Lower(Options.Positionals().front()));
  if (Chosen == Known.end()) {
    std::cerr << "boardsim run: no application " << Options.Positionals().front() << " in "
              << Settings.ModuleFolder().string() << "; applications: " << NameList(Known) << "\n";
    return kExitUsage;
  }
  const std::string App = Chosen->second;
  for (const std::string &Name : {std::string(kShellDriver), App}) {
    if (std::string Problem = host::ModuleImageProblem(Settings, Name); !Problem.empty()) {
      return ReportBadPath("run", Problem);
    }
  }
  const std::filesystem::path OutDir = Options.Value("--out");
  if (std::string Problem = OutDir.empty() ? "" : host::CreateFolder(OutDir); !Problem.empty()) {
    return ReportBadPath("run", host::PathMessage("--out", OutDir, Problem));
  }
  if (const std::filesystem::path Nvram = Options.Value("--nvram"); Nvram.has_parent_path()) {
    host::CreateFolder(Nvram.parent_path()); // checked above
  }
  Settings.NvramFile = Options.Value("--nvram");
  Settings.Echo = Options.Has("--log") ? &std::cerr : nullptr;
  // The shell runs on the board as built by default, with the IPMI choices of the command line.
  host::BoardOptions BoardSettings;
  BoardSettings.NvramFile = Settings.NvramFile;
  BoardSettings.Modules = {kShellDriver};
  BoardSettings.Screen.Capture = true;
  for (const char *Flag : {"--ipmi-bmc-base", "--no-ipmi"}) {
    if (Options.Has(Flag)) {
      BoardSettings.Settings[Flag + 2] = Flag == std::string("--no-ipmi") ? "" : Options.Value(Flag);
    }
  }
  host::Platform Board(Settings);
  std::unique_ptr<host::Board> Built;
  try {
    Built = host::Board::Build(Board, BoardSettings);
  } catch (const std::invalid_argument &Problem) {
    std::cerr << "boardsim run: " << Problem.what() << "\n";
    return kExitUsage;
  }

  if (!PrepareShell(*Built)) {
    std::cout << host::Utf16ToUtf8(Board.StdErrText()) << "the board halted before the shell\n";
    return kExitHalted;
  }
  host::ImageResult Result = Board.RunModule(App);
  std::cout << host::Utf16ToUtf8(Board.ConsoleText());
  if (!OutDir.empty()) {
    std::cout << Built->Producer<host::vga::Screen>("vga-screen")->Save(OutDir) << "\n";
  }
  if (Result.Halted) {
    std::cout << App << " halted: " << Result.Halted->Reason << "\n";
    return kExitHalted;
  }
  std::cout << App << " exited: " << host::StatusName(Result.Status) << "\n";
  return Result.Status == EFI_SUCCESS ? kExitOk : kExitFailed;
}

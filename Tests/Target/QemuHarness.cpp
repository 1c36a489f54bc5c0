// QEMU harness: builds the run-uefi-shell command line and parses the console it leaves.
#include "QemuHarness.h"

#include <sys/wait.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

namespace target {
namespace {

namespace fs = std::filesystem;

constexpr char SHELL_PROMPT[] = "Shell> ";

// Single-quoted for /bin/sh.
std::string Quote(const std::string &Text) {
  std::string Quoted = "'";
  for (char Each : Text) {
    Quoted += Each == '\'' ? std::string("'\\''") : std::string(1, Each);
  }
  return Quoted + "'";
}

std::vector<std::string> Lines(const std::string &Text) {
  std::vector<std::string> Result;
  std::stringstream Stream(Text);
  std::string Line;
  while (std::getline(Stream, Line)) {
    Result.push_back(Line);
  }
  return Result;
}

bool IsPrompt(const std::string &Line) {
  return Line.rfind(SHELL_PROMPT, 0) == 0;
}

std::string ReadFile(const fs::path &Path) {
  std::ifstream File(Path, std::ios::binary);
  std::stringstream Text;
  Text << File.rdbuf();
  return Text.str();
}

} // namespace

std::vector<std::string> ShellRun::OutputOf(const std::string &Command, size_t Occurrence) const {
  std::vector<std::string> All = Lines(Console);
  std::string PromptLine = SHELL_PROMPT + Command;
  for (size_t Index = 0; Index < All.size(); Index++) {
    if (All[Index] != PromptLine) {
      continue;
    }
    if (Occurrence-- > 0) {
      continue;
    }
    std::vector<std::string> Output;
    for (size_t Next = Index + 1; Next < All.size() && !IsPrompt(All[Next]); Next++) {
      Output.push_back(All[Next]);
    }
    return Output;
  }
  return {};
}

bool ShellRun::Ran(const std::string &Command) const {
  for (const std::string &Line : Lines(Console)) {
    if (Line == SHELL_PROMPT + Command) {
      return true;
    }
  }
  return false;
}

fs::path ImageDir() {
  const char *FromEnvironment = std::getenv("UEFI_IMAGE_DIR");
  return fs::path(FromEnvironment != nullptr && *FromEnvironment != '\0' ? FromEnvironment
                                                                         : UEFI_IMAGE_DIR_DEFAULT);
}

fs::path ImagePath(const std::string &Name) {
  return ImageDir() / (Name + ".efi");
}

fs::path WorkDirFor(const std::string &TestName) {
  fs::path Dir = fs::path(TARGET_WORK_ROOT) / TestName;
  fs::remove_all(Dir);
  fs::create_directories(Dir);
  return Dir;
}

ShellRun RunUefiShell(const std::string &TestName, const ShellRunOptions &Options) {
  ShellRun Run;
  Run.WorkDir = WorkDirFor(TestName);
  fs::path Log = Run.WorkDir / "console.log";
  std::string Command = Quote(RUN_UEFI_SHELL) + " --work " + Quote(Run.WorkDir.string()) + " --log " +
                        Quote(Log.string()) + " --timeout " + std::to_string(Options.TimeoutSeconds);
  if (!Options.Vars.empty()) {
    Command += " --vars " + Quote(Options.Vars.string());
  }
  if (!Options.Disk.empty()) {
    Command += " --disk " + Quote(Options.Disk.string());
  }
  for (const std::string &Device : Options.Devices) {
    Command += " --device " + Quote(Device);
  }
  for (const std::string &Line : Options.Commands) {
    Command += " --command " + Quote(Line);
  }
  for (const fs::path &File : Options.Files) {
    Command += " " + Quote(File.string());
  }
  Command += " 2>" + Quote((Run.WorkDir / "harness.err").string());
  int Raw = std::system(Command.c_str());
  Run.ExitStatus = WIFEXITED(Raw) ? WEXITSTATUS(Raw) : -1;
  Run.Console = ReadFile(Log);
  return Run;
}

} // namespace target

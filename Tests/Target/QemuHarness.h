// Runs UEFI shell commands in real AArch64 firmware under QEMU (Tools/qemu/run-uefi-shell)
// and splits the console into the output of each command.
//
//   target::ShellRunOptions Options;
//   Options.Files = {target::ImagePath("Mgmtprobe")};
//   Options.Commands = {"fs0:\\Mgmtprobe.efi", "echo %lasterror%"};
//   target::ShellRun Run = target::RunUefiShell("MyTest", Options);
//   Run.OutputOf("echo %lasterror%")  ->  {"0x0"}
//
// Give Vars a path to keep the variable store between runs (boot twice with one store), and
// Disk a path to read back what the shell wrote (mcopy -i Disk ::NAME DEST).
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace target {

struct ShellRunOptions {
  std::vector<std::filesystem::path> Files; // copied to fs0:\ by file name
  std::vector<std::string> Commands;        // shell lines, run in order, then `reset -s`
  std::filesystem::path Vars;               // empty: a fresh store for this run only
  std::filesystem::path Disk;               // empty: WorkDir/disk.img
  unsigned TimeoutSeconds = 180;
  std::vector<std::string> Devices; // further QEMU devices, e.g. "ramfb"
};

struct ShellRun {
  int ExitStatus = -1; // the script's: 0 after a normal power-off, 124 on timeout
  std::string Console; // cleaned serial console
  std::filesystem::path WorkDir;

  // Lines printed by the Occurrence-th run of Command (between its prompt and the next one).
  // Empty when the command never ran.
  std::vector<std::string> OutputOf(const std::string &Command, size_t Occurrence = 0) const;
  // Whether the shell ran Command (its prompt line is on the console).
  bool Ran(const std::string &Command) const;
};

// The folder of the built .efi images: $UEFI_IMAGE_DIR, else the build's setting.
std::filesystem::path ImageDir();
std::filesystem::path ImagePath(const std::string &Name); // ImageDir()/Name.efi
// The work folder of one test: <build>/Tests/Target/work/<TestName>, emptied first.
std::filesystem::path WorkDirFor(const std::string &TestName);

ShellRun RunUefiShell(const std::string &TestName, const ShellRunOptions &Options);

} // namespace target

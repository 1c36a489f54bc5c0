// A small registry of command-line options: each command lists its options once, with their
// help text, and asks for their values by flag; and how the commands report and load the
// files their options name.
#pragma once

#include <HostPlatform.h>
#include <VariableStore.h>

#include <map>
#include <ostream>
#include <string>
#include <vector>

struct OptionSpec {
  std::string Flag;      // "--nvram"
  std::string ValueName; // "FILE"; empty for a switch
  std::string Help;
};

class OptionSet {
public:
  explicit OptionSet(std::vector<OptionSpec> Specs) : Specs_(std::move(Specs)) {}

  // Parses argv[1..argc-1]. Words that are not options are collected as positionals.
  // Returns false with Error set on an unknown option or a missing value.
  bool Parse(int argc, char **argv, std::string &Error);

  bool Has(const std::string &Flag) const { return Values_.count(Flag) != 0; }
  // The value of an option (the last one when it was given more than once), and all of them.
  std::string Value(const std::string &Flag, const std::string &Default = {}) const;
  std::vector<std::string> Values(const std::string &Flag) const;
  const std::vector<std::string> &Positionals() const { return Positionals_; }
  bool HelpRequested() const { return Help_; }
  void PrintOptions(std::ostream &Out) const;

private:
  const OptionSpec *Find(const std::string &Flag) const;

  std::vector<OptionSpec> Specs_;
  std::map<std::string, std::vector<std::string>> Values_;
  std::vector<std::string> Positionals_;
  bool Help_ = false;
};

// --images host|aarch64: the modules' shared objects (the default) or every module and application
// as its shipped AArch64 image on the board's AArch64 processor.
OptionSpec ImagesOption();
// --exception-level 1|2: the level the AArch64 images run at.
OptionSpec ExceptionLevelOption();
// --module-dir DIR: where the modules are, as shared objects or as AArch64 images.
OptionSpec ModuleDirOption();
// Sets Settings from --module-dir, --images (the images in --module-dir, else in ImageDir) and
// --exception-level; the problem as one line, or empty.
std::string ApplyImagesOption(const OptionSet &Options, host::PlatformOptions &Settings,
                              const std::filesystem::path &ModuleDir, const std::filesystem::path &ImageDir);

// Prints one line per option: the option and its value name, then its help in one column.
void PrintOptionTable(std::ostream &Out, const std::vector<OptionSpec> &Specs);

// A path the user named that cannot serve: prints "boardsim <Command>: <Line>" (Line from
// host::PathMessage) on standard error and gives the usage exit status.
int ReportBadPath(const std::string &Command, const std::string &Line);

// Loads the NVRAM file of --nvram into Store. Returns the problem as one line, or empty: a
// folder, an unreadable or damaged file (left as it is), a missing one unless MayBeMissing, and
// when Replaced a folder that takes no new file.
std::string LoadNvramOption(host::VariableStore &Store, const std::filesystem::path &File, bool MayBeMissing,
                            bool Replaced);

// The option registry of the boardsim commands.
#include "BoardOptions.h"

#include <algorithm>
#include <iomanip>
#include <iostream>

const OptionSpec *OptionSet::Find(const std::string &Flag) const {
  for (const OptionSpec &Spec : Specs_) {
    if (Spec.Flag == Flag) {
      return &Spec;
    }
  }
  return nullptr;
}

bool OptionSet::Parse(int argc, char **argv, std::string &Error) {
  for (int Index = 1; Index < argc; Index++) {
    std::string Word = argv[Index];
    if (Word == "--help" || Word == "-h") {
      Help_ = true;
      continue;
    }
    if (Word.rfind("--", 0) != 0) {
      Positionals_.push_back(Word);
      continue;
    }
    std::string Inline;
    bool HasInline = false;
    if (size_t Equals = Word.find('='); Equals != std::string::npos) {
      Inline = Word.substr(Equals + 1);
      Word = Word.substr(0, Equals);
      HasInline = true;
    }
    const OptionSpec *Spec = Find(Word);
    if (Spec == nullptr) {
      Error = "unknown option " + Word;
      return false;
    }
    if (Spec->ValueName.empty()) {
      Values_[Word].push_back("1");
    } else if (HasInline) {
      Values_[Word].push_back(Inline);
    } else if (Index + 1 < argc) {
      Values_[Word].push_back(argv[++Index]);
    } else {
      Error = Word + " needs a value (" + Spec->ValueName + ")";
      return false;
    }
  }
  return true;
}

std::string OptionSet::Value(const std::string &Flag, const std::string &Default) const {
  auto Found = Values_.find(Flag);
  return Found != Values_.end() ? Found->second.back() : Default;
}

std::vector<std::string> OptionSet::Values(const std::string &Flag) const {
  auto Found = Values_.find(Flag);
  return Found != Values_.end() ? Found->second : std::vector<std::string>{};
}

namespace {
constexpr size_t kHelpColumn = 30; // where the help texts start, unless an option is longer
constexpr size_t kHelpGap = 2;     // blanks at least between an option and its help

std::string OptionWithValue(const OptionSpec &Spec) {
  return Spec.Flag + (Spec.ValueName.empty() ? "" : " " + Spec.ValueName);
}
} // namespace

void PrintOptionTable(std::ostream &Out, const std::vector<OptionSpec> &Specs) {
  // One column for every help text, wide enough that no option runs into its help.
  size_t Column = kHelpColumn;
  for (const OptionSpec &Spec : Specs) {
    Column = std::max(Column, OptionWithValue(Spec).size() + kHelpGap);
  }
  const int Width = static_cast<int>(Column);
  for (const OptionSpec &Spec : Specs) {
    Out << "  " << std::left << std::setw(Width) << OptionWithValue(Spec) << Spec.Help << "\n";
  }
}

void OptionSet::PrintOptions(std::ostream &Out) const {
  std::vector<OptionSpec> Listed = Specs_;
  Listed.push_back({"--help", "", "show this help"});
  PrintOptionTable(Out, Listed);
}

int ReportBadPath(const std::string &Command, const std::string &Line) {
  constexpr int kExitUsage = 2;
  std::cerr << "boardsim " << Command << ": " << Line << "\n";
  return kExitUsage;
}

std::string LoadNvramOption(host::VariableStore &Store, const std::filesystem::path &File, bool MayBeMissing,
                            bool Replaced) {
  constexpr char kOption[] = "--nvram";
  if (std::string Problem = host::FileProblem(File, MayBeMissing, Replaced); !Problem.empty()) {
    return host::PathMessage(kOption, File, Problem);
  }
  std::error_code Missing;
  if (!std::filesystem::exists(File, Missing)) {
    return "";
  }
  std::string Problem;
  const std::optional<std::vector<uint8_t>> Image = host::ReadFileBytes(File, Problem);
  if (!Image || !Store.LoadFromBytes(*Image, &Problem)) {
    return host::PathMessage(kOption, File, "not a usable NVRAM file (" + Problem + "); left as it is");
  }
  return "";
}

OptionSpec ImagesOption() {
  return {"--images", "host|aarch64",
          "run the modules' shared objects (default) or every module and application as its AArch64 image "
          "on the board's AArch64 processor"};
}

OptionSpec ModuleDirOption() {
  return {"--module-dir", "DIR",
          "where the modules are: their shared objects, or their AArch64 images with --images aarch64 "
          "(default: the build's)"};
}

std::string ApplyImagesOption(const OptionSet &Options, host::PlatformOptions &Settings,
                              const std::filesystem::path &ModuleDir, const std::filesystem::path &ImageDir) {
  const std::string Images = Options.Value("--images", "host");
  Settings.ModuleDir = Options.Value("--module-dir", ModuleDir);
  if (Images == "aarch64") {
    Settings.Aarch64Images = true;
    Settings.Aarch64ImageDir = Options.Value("--module-dir", ImageDir);
  } else if (Images != "host") {
    return "--images is host or aarch64, not " + Images;
  }
  if (const std::string Level = Options.Value("--exception-level", "2"); Level == "1" || Level == "2") {
    Settings.ExceptionLevel = Level == "1" ? 1 : 2;
  } else {
    return "--exception-level is 1 or 2, not " + Level;
  }
  return "";
}

OptionSpec ExceptionLevelOption() {
  return {"--exception-level", "1|2", "the exception level AArch64 images run at (default 2)"};
}

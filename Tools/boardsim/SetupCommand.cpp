// boardsim setup: what the board's setup screen changes in the platform's "Setup" variable
// between boots: the AHCI controllers #2 and #3, on or off.
#include "BoardOptions.h"
#include "Commands.h"

#include <Pci/PlatformSetup.h>
#include <VariableStore.h>

#include <iostream>

namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

void PrintUsage(std::ostream &Out, const OptionSet &Options) {
  Out << "usage: boardsim setup --nvram FILE [SWITCH on|off]...\n\n"
         "Changes the platform setup variable \"Setup\" in the NVRAM file for the next boot (creating\n"
         "it with 100 zero bytes when missing) and prints the switches. Switches:\n"
         "  ahci2   AHCI controller #2 (byte 8)\n"
         "  ahci3   AHCI controller #3 (byte 9)\n\noptions:\n";
  Options.PrintOptions(Out);
}

bool ParseState(const std::string &Text, bool &On) {
  if (Text == "on" || Text == "off") {
    On = Text == "on";
    return true;
  }
  return false;
}

} // namespace

int RunSetupCommand(int argc, char **argv) {
  OptionSet Options({{"--nvram", "FILE", "the NVRAM file of the emulated board"}});
  std::string Error;
  const bool Parsed = Options.Parse(argc, argv, Error);
  if (Parsed && Options.HelpRequested()) {
    PrintUsage(std::cout, Options);
    return kExitOk;
  }
  const std::vector<std::string> &Words = Options.Positionals();
  if (!Parsed || !Options.Has("--nvram") || Words.size() % 2 != 0) {
    std::cerr << "boardsim setup: " << (Error.empty() ? "give --nvram FILE and SWITCH on|off pairs" : Error)
              << "\n";
    PrintUsage(std::cerr, Options);
    return kExitUsage;
  }
  host::VariableStore Store;
  if (std::string Problem = LoadNvramOption(Store, Options.Value("--nvram"), true, true); !Problem.empty()) {
    return ReportBadPath("setup", Problem);
  }
  host::EnsurePlatformSetup(Store);
  for (size_t Index = 0; Index < Words.size(); Index += 2) {
    auto Byte = host::PlatformSetupSwitchByte(Words[Index]);
    bool On = false;
    if (!Byte || !ParseState(Words[Index + 1], On)) {
      std::cerr << "boardsim setup: unknown setting " << Words[Index] << " " << Words[Index + 1] << "\n";
      return kExitUsage;
    }
    if (EFI_ERROR(host::SetPlatformSetupSwitch(Store, *Byte, On))) {
      std::cerr << "boardsim setup: cannot store Setup\n";
      return kExitFailed;
    }
  }
  if (!Store.Save(Options.Value("--nvram"), &Error)) {
    std::cerr << "boardsim setup: " << Error << "\n";
    return kExitFailed;
  }
  const std::vector<uint8_t> Data = host::PlatformSetupData(Store).value_or(std::vector<uint8_t>{});
  for (const std::string &Name : host::PlatformSetupSwitchNames()) {
    const UINTN Byte = *host::PlatformSetupSwitchByte(Name);
    std::cout << Name << " " << (Byte < Data.size() && Data[Byte] != 0 ? "on" : "off") << "\n";
  }
  return kExitOk;
}

// boardsim: the emulated board on the host.
#include "Commands.h"

#include <cstring>
#include <exception>
#include <iostream>

namespace {

struct Command {
  const char *Name;
  int (*Run)(int argc, char **argv);
  const char *Summary;
};

constexpr Command kCommands[] = {
    {"boot", RunBootCommand, "boot the board: producers, the board's modules, hand-over to the OS"},
    {"run", RunRunCommand, "run an application module in the shell environment"},
    {"vars", RunVarsCommand, "list, show, set and delete variables in an NVRAM file"},
    {"setup", RunSetupCommand, "switch the AHCI controllers on or off in the Setup variable"},
    {"eeprom", RunEepromCommand, "show and edit the board EEPROM's image file"},
};

void PrintUsage(std::ostream &Out) {
  Out << "usage: boardsim <command> [options]\n\ncommands:\n";
  for (const Command &Entry : kCommands) {
    Out << "  " << Entry.Name << std::string(8 - std::strlen(Entry.Name), ' ') << Entry.Summary << "\n";
  }
  Out << "\n'boardsim <command> --help' describes a command's options.\n";
}

constexpr int kExitUsage = 2;
constexpr int kExitInternal = 70; // EX_SOFTWARE: something the tool did not foresee

int Dispatch(int argc, char **argv) {
  if (argc < 2 || std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0) {
    PrintUsage(argc < 2 ? std::cerr : std::cout);
    return argc < 2 ? kExitUsage : 0;
  }
  for (const Command &Entry : kCommands) {
    if (std::strcmp(argv[1], Entry.Name) == 0) {
      return Entry.Run(argc - 1, argv + 1);
    }
  }
  std::cerr << "boardsim: unknown command " << argv[1] << "\n";
  PrintUsage(std::cerr);
  return kExitUsage;
}

} // namespace

// The last resort: whatever escapes a command ends the tool with a message, never an abort.
int main(int argc, char **argv) {
  try {
    return Dispatch(argc, argv);
  } catch (const std::exception &Failure) {
    std::cerr << "boardsim: internal error: " << Failure.what() << "\n";
  } catch (...) {
    std::cerr << "boardsim: internal error of an unknown kind\n";
  }
  return kExitInternal;
}

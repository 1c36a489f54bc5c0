// `boardsim boot`: the board's boot as a table of steps (producers, modules in dispatch
// order, hand-over to the OS) and a table of options. Adding a producer, a module or an
// option is one line in the tables below.
#include "BoardOptions.h"
#include "Commands.h"

#include <AcpiTables.h>
#include <DebugOutput.h>
#include <EepromMacStub.h>
#include <HostPlatform.h>
#include <StatusCodeListener.h>
#include <VariableStore.h>

#include <fstream>
#include <functional>
#include <iostream>
#include <map>

namespace {

constexpr int kExitOk = 0;
constexpr int kExitUsage = 2;
constexpr int kExitHalted = 3;
constexpr char kDefaultOutDir[] = "boardsim-out";
constexpr char kLogFile[] = "board.log";
constexpr char kNvramFile[] = "nvram.bin";
constexpr char kDsdtFile[] = "dsdt.aml";
constexpr unsigned long long kNsPerMs = 1'000'000;

struct BootContext {
  host::Platform &Board;
  const OptionSet &Options;
  std::filesystem::path OutDir;
  bool Halted = false;
  host::AcpiTablesProducer *Acpi = nullptr;
};

using StepFunction = std::function<void(BootContext &)>;

struct BootStep {
  std::string Name;
  StepFunction Run;
};

// What other firmware would have installed before the board's modules run.
BootStep Producer(std::string Name, StepFunction Install) {
  return {"producer " + Name, std::move(Install)};
}

// A producer installed only when its command-line switch is given.
BootStep OptionalProducer(std::string Name, std::string Flag, StepFunction Install) {
  return {"producer " + Name, [Flag, Install](BootContext &Context) {
            if (Context.Options.Has(Flag)) {
              Install(Context);
            } else {
              Context.Board.Log().Append("boardsim", "  not installed (no " + Flag + ")\n",
                                         Context.Board.VirtualTimeNs());
            }
          }};
}

// A module dispatched by the DXE dispatcher: loaded and started; unloaded when its entry fails.
BootStep Module(std::string Name) {
  return {"module " + Name, [Name](BootContext &Context) {
            host::ImageResult Result = Context.Board.RunModule(Name);
            Context.Halted |= Result.Halted.has_value();
          }};
}

BootStep Phase(std::string Name, StepFunction Run) {
  return {std::move(Name), std::move(Run)};
}

// What the boot manager does before it boots: connect every controller, recursively.
void ConnectAllControllers(BootContext &Context) {
  EFI_BOOT_SERVICES *BootServices = Context.Board.BootServices();
  UINTN Count = 0;
  EFI_HANDLE *Handles = nullptr;
  if (EFI_ERROR(BootServices->LocateHandleBuffer(AllHandles, nullptr, nullptr, &Count, &Handles))) {
    return;
  }
  std::vector<EFI_HANDLE> All(Handles, Handles + Count);
  BootServices->FreePool(Handles);
  for (EFI_HANDLE Handle : All) {
    auto Halted =
        Context.Board.Guard([&] { BootServices->ConnectController(Handle, nullptr, nullptr, TRUE); });
    Context.Halted |= Halted.has_value();
  }
}

void HandOverToOs(BootContext &Context) {
  if (Context.Options.Has("--no-exit-boot-services")) {
    return;
  }
  EFI_STATUS Status = Context.Board.ExitBootServices();
  Context.Board.Log().Append("boardsim", "ExitBootServices: " + host::StatusName(Status) + "\n",
                             Context.Board.VirtualTimeNs());
  unsigned long long Offset = 0;
  if (Context.Options.Has("--virtual-offset") &&
      ParseNumber(Context.Options.Value("--virtual-offset"), Offset)) {
    Status = Context.Board.SetVirtualAddressMap(static_cast<int64_t>(Offset));
    Context.Board.Log().Append("boardsim", "SetVirtualAddressMap: " + host::StatusName(Status) + "\n",
                               Context.Board.VirtualTimeNs());
  }
}

// The test EEPROM MAC producer, with the slots of --eeprom-mac-slots when given.
void InstallEepromMacStub(BootContext &Context) {
  host::EepromMacStub &Stub = host::InstallEepromMacStub(Context.Board);
  if (!Context.Options.Has("--eeprom-mac-slots")) {
    return;
  }
  std::map<unsigned, std::string> Slots;
  std::string List = Context.Options.Value("--eeprom-mac-slots");
  for (size_t Start = 0; Start <= List.size();) {
    size_t End = List.find(',', Start);
    End = End == std::string::npos ? List.size() : End;
    if (auto Slot = host::EepromMacStub::ParseSlotSpec(List.substr(Start, End - Start))) {
      Slots[Slot->first] = Slot->second;
    } else {
      Context.Board.Log().Append("boardsim",
                                 "ignored --eeprom-mac-slots entry " + List.substr(Start, End - Start) + "\n",
                                 Context.Board.VirtualTimeNs());
    }
    Start = End + 1;
  }
  Stub.SetSlots(Slots);
}

// The DSDT as the OS would find it, as dsdt.aml and iasl's disassembly dsdt.dsl.
void WriteDsdt(BootContext &Context) {
  if (Context.Acpi == nullptr || Context.Acpi->Dsdt().empty()) {
    return;
  }
  host::AmlDisassembly Listing =
      host::WriteAndDisassembleAml(Context.Acpi->Dsdt(), Context.OutDir / kDsdtFile);
  std::string Outcome = !Listing.Ran              ? "iasl -d failed"
                        : Listing.ChecksumProblem ? "iasl reports a checksum problem"
                                                  : "checksum valid";
  Context.Board.Log().Append("boardsim",
                             "DSDT written to " + Listing.AmlFile.string() + " and " +
                                 Listing.DslFile.string() + " (" + Outcome + ")\n",
                             Context.Board.VirtualTimeNs());
}

// The options of `boardsim boot`.
std::vector<OptionSpec> BootOptions() {
  return {
      {"--out", "DIR", std::string("artifacts folder (default ") + kDefaultOutDir + ")"},
      {"--nvram", "FILE", "non-volatile variables persist in FILE from boot to boot"},
      {"--module-dir", "DIR", "where the module shared objects are (default: the build's)"},
      {"--watchdog-ms", "MS", "virtual time one call into firmware may take before it halts"},
      {"--no-exit-boot-services", "", "stop before the hand-over to the OS"},
      {"--virtual-offset", "VALUE",
       "after ExitBootServices, SetVirtualAddressMap moving every address by VALUE"},
      {"--quiet", "", "do not print the board log while booting"},
      {"--eeprom-mac-stub", "", "install the test EEPROM MAC producer (fixed addresses in slots 1, 2, 5, 6)"},
      {"--eeprom-mac-slots", "SLOT=TEXT,...",
       "with --eeprom-mac-stub: the MAC texts it writes instead, by slot"},
  };
}

// The board's boot, in order.
std::vector<BootStep> BootSteps() {
  return {
      Producer("debug-output", [](BootContext &Context) { host::InstallDebugOutputProducer(Context.Board); }),
      Producer("status-code-listener",
               [](BootContext &Context) { host::InstallStatusCodeListener(Context.Board); }),
      Producer("acpi-tables",
               [](BootContext &Context) { Context.Acpi = &host::InstallAcpiTables(Context.Board); }),
      OptionalProducer("eeprom-mac-stub", "--eeprom-mac-stub", InstallEepromMacStub),
      Module("Nicpatch"),
      Phase("connect controllers", ConnectAllControllers),
      Phase("hand-over", HandOverToOs),
  };
}

void PrintUsage(std::ostream &Out, const OptionSet &Options) {
  Out << "usage: boardsim boot [options]\n\n"
         "Boots the emulated board: installs the producers, dispatches the board's modules,\n"
         "connects the controllers and hands over to the OS; prints the board log and writes\n"
         "board.log, nvram.bin and the DSDT (dsdt.aml, dsdt.dsl) into the artifacts folder.\n\noptions:\n";
  Options.PrintOptions(Out);
}

bool WriteText(const std::filesystem::path &File, const std::string &Text) {
  std::ofstream Out(File, std::ios::binary);
  Out << Text;
  return static_cast<bool>(Out);
}

} // namespace

int RunBootCommand(int argc, char **argv) {
  OptionSet Options(BootOptions());
  std::string Error;
  if (!Options.Parse(argc, argv, Error) || !Options.Positionals().empty()) {
    std::cerr << "boardsim boot: " << (Error.empty() ? "unexpected " + Options.Positionals().front() : Error)
              << "\n";
    PrintUsage(std::cerr, Options);
    return kExitUsage;
  }
  if (Options.HelpRequested()) {
    PrintUsage(std::cout, Options);
    return kExitOk;
  }
  host::PlatformOptions Settings;
  Settings.ModuleDir = Options.Value("--module-dir", BOARDSIM_MODULE_DIR);
  Settings.NvramFile = Options.Value("--nvram");
  Settings.Echo = Options.Has("--quiet") ? nullptr : &std::cout;
  unsigned long long WatchdogMs = 0;
  if (Options.Has("--watchdog-ms")) {
    if (!ParseNumber(Options.Value("--watchdog-ms"), WatchdogMs)) {
      std::cerr << "boardsim boot: --watchdog-ms needs a number\n";
      return kExitUsage;
    }
    Settings.WatchdogNs = WatchdogMs * kNsPerMs;
  }
  std::filesystem::path OutDir = Options.Value("--out", kDefaultOutDir);
  std::error_code Failure;
  std::filesystem::create_directories(OutDir, Failure);
  if (Failure) {
    std::cerr << "boardsim boot: cannot create " << OutDir << ": " << Failure.message() << "\n";
    return kExitUsage;
  }

  host::Platform Board(Settings);
  BootContext Context{Board, Options, OutDir};
  for (const BootStep &Step : BootSteps()) {
    Board.Log().Append("boardsim", Step.Name + "\n", Board.VirtualTimeNs());
    Step.Run(Context);
    if (Context.Halted) {
      Board.Log().Append("boardsim", "the board halted during " + Step.Name + "\n", Board.VirtualTimeNs());
      break;
    }
  }
  WriteDsdt(Context);
  Board.Log().Append("boardsim",
                     "boot ends at " + std::to_string(Board.VirtualTimeNs()) + " ns of virtual time\n",
                     Board.VirtualTimeNs());

  if (!Board.Variables().Save(OutDir / kNvramFile, &Error)) {
    std::cerr << "boardsim boot: " << Error << "\n";
  }
  if (!WriteText(OutDir / kLogFile, Board.Log().Text())) {
    std::cerr << "boardsim boot: cannot write " << (OutDir / kLogFile) << "\n";
  }
  return Context.Halted ? kExitHalted : kExitOk;
}

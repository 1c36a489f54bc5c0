// Board::Build: the GCD map seeded from the SoC map, models by name, options checked against
// the components, the CPU architectural protocol, the virtual-clock hook, and the help of
// `boardsim boot`.
#include "ScratchFiles.h"
#include <Board.h>
#include <CpuArch.h>
#include <EepromMacStub.h>
#include <GcdMap.h>
#include <IpmiInformation.h>

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <set>

#include <sys/wait.h>

namespace {

using host::Board;
using host::BoardOptions;

EFI_GCD_MEMORY_SPACE_DESCRIPTOR Descriptor(host::GcdMap &Gcd, uint64_t Address) {
  EFI_GCD_MEMORY_SPACE_DESCRIPTOR Found{};
  EXPECT_EQ(Gcd.GetMemorySpaceDescriptor(Address, &Found), EFI_SUCCESS);
  return Found;
}

TEST(Board, SocMapRowsSeedTheGcdMap) {
  // The rule, on rows of every kind.
  const std::vector<host::SocRegion> Rows = {
      {"ram", 0x40000000, 0x100000, EfiGcdMemoryTypeSystemMemory, false},
      {"timer", 0x10000000, 0x1000, EfiGcdMemoryTypeMemoryMappedIo, false},
      {"rtc", 0x10001000, 0x1000, EfiGcdMemoryTypeMemoryMappedIo, true},
      {"claimed-by-firmware", 0x10002000, 0x1000, EfiGcdMemoryTypeNonExistent, false},
  };
  struct Expected {
    EFI_GCD_MEMORY_TYPE Type;
    uint64_t Attributes;
  };
  const std::array<Expected, 4> Seeded = {{
      {EfiGcdMemoryTypeSystemMemory, EFI_MEMORY_WB},
      {EfiGcdMemoryTypeMemoryMappedIo, EFI_MEMORY_UC},
      {EfiGcdMemoryTypeMemoryMappedIo, EFI_MEMORY_UC | EFI_MEMORY_RUNTIME},
      {EfiGcdMemoryTypeNonExistent, 0},
  }};
  host::GcdMap Gcd;
  host::SeedGcdMap(Gcd, Rows);
  for (size_t Row = 0; Row < Rows.size(); Row++) {
    EFI_GCD_MEMORY_SPACE_DESCRIPTOR Found = Descriptor(Gcd, Rows[Row].Base);
    EXPECT_EQ(Found.GcdMemoryType, Seeded[Row].Type) << Rows[Row].Name;
    EXPECT_EQ(Found.Attributes, Seeded[Row].Attributes) << Rows[Row].Name;
    EXPECT_EQ(Found.ImageHandle, nullptr) << Rows[Row].Name << " is declared, not allocated";
  }
  EXPECT_THROW(host::SeedGcdMap(Gcd, {Rows[1]}), std::logic_error) << "a row declared twice";

  // The board's own map, row by row.
  host::Platform Core;
  std::unique_ptr<Board> Built = Board::Build(Core, {});
  size_t Count = 0;
  for (const host::BoardComponent &Component : host::BoardComponents()) {
    for (const host::SocRegion &Row : Component.Regions) {
      Count++;
      EFI_GCD_MEMORY_SPACE_DESCRIPTOR Found = Descriptor(Core.Gcd(), Row.Base);
      EXPECT_EQ(Found.GcdMemoryType, Row.GcdType) << Row.Name;
      // An undeclared row lies in a gap of the map; a declared one is a descriptor of its own.
      if (Row.GcdType != EfiGcdMemoryTypeNonExistent) {
        EXPECT_LE(Found.BaseAddress + Found.Length, Row.Base + Row.Size) << Row.Name << " stands alone";
      }
      EXPECT_EQ((Found.Attributes & EFI_MEMORY_RUNTIME) != 0, Row.Runtime) << Row.Name;
      EXPECT_EQ(&Board::Region(Row.Name), &Row);
    }
  }
  EXPECT_GT(Count, 0u);
  EXPECT_EQ(Descriptor(Core.Gcd(), Board::Region("dram").Base).GcdMemoryType, EfiGcdMemoryTypeSystemMemory);
}

class Probe : public host::DeviceModel {
public:
  using DeviceModel::DeviceModel;
  uint64_t Read(uint64_t Offset, unsigned Width) override {
    CheckAccess(Offset, Width, 4);
    return Value;
  }
  void Write(uint64_t Offset, unsigned Width, uint64_t Data) override {
    if (CheckAccess(Offset, Width, 4)) {
      Value = Data;
    }
  }
  void Reset() override { Value = 0; }
  void SetLater(uint64_t DelayNs, uint64_t Data) {
    After(DelayNs, [this, Data] { Value = Data; });
  }
  uint64_t Value = 0;
};

TEST(Board, ModelsAreReachableByRegionNameAndReportTheirErrors) {
  host::Platform Core;
  std::unique_ptr<Board> Built = Board::Build(Core, {});
  auto Model = std::make_shared<Probe>("probe");
  Built->Attach("dram", Model);
  EXPECT_EQ(&Built->Model<Probe>("dram"), Model.get());
  EXPECT_THROW(Built->Attach("dram", std::make_shared<Probe>("again")), std::invalid_argument);
  EXPECT_THROW(Built->Attach("no-such-row", std::make_shared<Probe>("x")), std::out_of_range);
  EXPECT_THROW(Built->Model<Probe>("no-such-row"), std::out_of_range);
  EXPECT_THROW(Built->Model<host::DeviceModel>("no-such-row"), std::out_of_range);

  Model->Write(0, 4, 7);
  Model->SetLater(100, 9);
  Built->ResetModels();
  EXPECT_EQ(Model->Value, 0u);
  Core.AdvanceTime(200);
  EXPECT_EQ(Model->Value, 0u) << "work scheduled before the reset does not complete after it";
  Model->SetLater(100, 9);
  Core.AdvanceTime(100);
  EXPECT_EQ(Model->Value, 9u);
  EXPECT_TRUE(Built->UnexpectedErrors().empty());
  Model->Read(2, 2);
  Built->AddErrorSource([] { return std::vector<std::string>{"bus: a stop without a start"}; });
  EXPECT_EQ(Built->Errors().size(), 2u);
  EXPECT_EQ(Built->UnexpectedErrors({"2-byte access"}),
            std::vector<std::string>{"bus: a stop without a start"});
  EXPECT_TRUE(Built->UnexpectedErrors({"2-byte access", "without a start"}).empty());
}

TEST(Board, OptionsAndFaultKnobsAreCheckedAgainstTheComponents) {
  struct Case {
    std::map<std::string, std::string> Settings;
    std::map<std::string, std::string> Faults;
    std::string Problem;
  };
  const Case Cases[] = {
      {{}, {}, ""},
      {{{"eeprom-mac-stub", ""}}, {{"eeprom-mac-stub-status", "EFI_DEVICE_ERROR"}}, ""},
      {{}, {{"eeprom-nak", ""}}, "unknown fault knob eeprom-nak"},
      {{{"no-such-option", ""}}, {}, "unknown option no-such-option"},
      {{{"no-ipmi", "1"}}, {}, "option no-ipmi takes no value"},
      {{{"dsdt", ""}}, {}, "option dsdt needs a value (FILE)"},
  };
  for (const Case &Each : Cases) {
    BoardOptions Options;
    Options.Settings = Each.Settings;
    Options.Faults = Each.Faults;
    EXPECT_EQ(Board::Check(Options), Each.Problem);
    host::Platform Core;
    if (Each.Problem.empty()) {
      EXPECT_NO_THROW(Board::Build(Core, Options));
    } else {
      EXPECT_THROW(Board::Build(Core, Options), std::invalid_argument) << Each.Problem;
    }
  }
  // Knobs are named "<block>-<fault>": lower case words joined by dashes, each listed once.
  std::set<std::string> Names;
  for (const host::BoardComponent &Component : host::BoardComponents()) {
    for (const host::BoardOptionSpec &Knob : Component.Faults) {
      EXPECT_TRUE(Names.insert(Knob.Name).second) << Knob.Name;
      EXPECT_NE(Knob.Name.find('-'), std::string::npos) << Knob.Name;
      EXPECT_EQ(Knob.Name.find_first_not_of("abcdefghijklmnopqrstuvwxyz0123456789-"), std::string::npos);
    }
  }
}

TEST(Board, CoreProducersFollowTheOptions) {
  auto Core = std::make_unique<host::Platform>();
  BoardOptions Options;
  Options.Settings = {{"eeprom-mac-slots", "1=02:00:00:00:00:01"}, {"no-ipmi", ""}};
  Options.Faults = {{"eeprom-mac-stub-status", "EFI_DEVICE_ERROR"}};
  std::unique_ptr<Board> Built = Board::Build(*Core, Options);
  ASSERT_NE(Built->Producer<host::EepromMacStub>("eeprom-mac-stub"), nullptr);
  EXPECT_EQ(Built->Producer<host::EepromMacStub>("eeprom-mac-stub")->Slots().size(), 1u);
  ASSERT_NE(Built->Producer<host::AcpiTablesProducer>("acpi-tables"), nullptr);
  EXPECT_EQ(Built->Producer<host::AcpiTablesProducer>("acpi-tables")->InstallStatus(), EFI_SUCCESS);
  EXPECT_EQ(Built->Producer<host::AcpiTablesProducer>("no-such-producer"), nullptr);
  VOID *Interface = nullptr;
  EFI_GUID Ipmi = OEM_IPMI_INFORMATION_PROTOCOL_GUID;
  EXPECT_EQ(Core->BootServices()->LocateProtocol(&Ipmi, nullptr, &Interface), EFI_NOT_FOUND);

  Built.reset();
  Core.reset();
  Core = std::make_unique<host::Platform>();
  Options.Settings = {{"ipmi-bmc-base", "lots"}};
  Options.Faults = {};
  EXPECT_THROW(Board::Build(*Core, Options), std::invalid_argument);

  // Variables persist in the options' NVRAM file.
  const board_test::Scratch Nvram("board-nvram");
  Options.Settings = {};
  Options.NvramFile = Nvram;
  Core.reset();
  Core = std::make_unique<host::Platform>();
  Built = Board::Build(*Core, Options);
  const EFI_GUID Vendor = {0x1, 0x2, 0x3, {4, 5, 6, 7, 8, 9, 10, 11}};
  UINT8 Byte = 1;
  EXPECT_EQ(Core->RuntimeServices()->SetVariable(
                const_cast<CHAR16 *>(u"Kept"), const_cast<EFI_GUID *>(&Vendor),
                EFI_VARIABLE_NON_VOLATILE | EFI_VARIABLE_BOOTSERVICE_ACCESS, 1, &Byte),
            EFI_SUCCESS);
  EXPECT_TRUE(std::filesystem::exists(Nvram));
  Options.NvramFile = Nvram.Path().string() + ".other";
  EXPECT_THROW(Board::Build(*Core, Options), std::invalid_argument) << "the platform keeps its file";
}

// A counting knob or allocation failure beyond what the boot has: the log says it never fired.
TEST(Board, FaultsBeyondTheBootSayTheyNeverFired) {
  host::Platform Core;
  BoardOptions Options;
  Options.Settings = {{"fail-alloc", "1000"}};
  Options.Faults = {{"i2c1-nack", "1000"}, {"vga-memory-test-fails", "1"}};
  std::unique_ptr<Board> Built = Board::Build(Core, Options);
  Built->Finish();
  const std::string Log = Core.Log().Text();
  EXPECT_NE(Log.find("fail-alloc: allocation 1000 never fired: the boot made 0"), std::string::npos) << Log;
  EXPECT_NE(Log.find("i2c1-nack=1000 never fired: the boot had "), std::string::npos) << Log;
  EXPECT_NE(Log.find("vga-memory-test-fails=1 never fired"), std::string::npos) << Log;
}

TEST(Board, CpuArchitecturalProtocol) {
  host::Platform Core;
  std::unique_ptr<Board> Built = Board::Build(Core, {});
  EFI_CPU_ARCH_PROTOCOL *Cpu = nullptr;
  ASSERT_EQ(
      Core.BootServices()->LocateProtocol(&gEfiCpuArchProtocolGuid, nullptr, reinterpret_cast<VOID **>(&Cpu)),
      EFI_SUCCESS);
  host::CpuArchProducer &Producer = *Built->Producer<host::CpuArchProducer>("cpu");

  BOOLEAN State = TRUE;
  EXPECT_EQ(Cpu->DisableInterrupt(Cpu), EFI_SUCCESS);
  EXPECT_EQ(Cpu->GetInterruptState(Cpu, &State), EFI_SUCCESS);
  EXPECT_FALSE(State);
  EXPECT_FALSE(Core.InterruptsEnabled());
  EXPECT_EQ(Cpu->EnableInterrupt(Cpu), EFI_SUCCESS);
  EXPECT_TRUE(Core.InterruptsEnabled());
  EXPECT_EQ(Cpu->GetInterruptState(Cpu, nullptr), EFI_INVALID_PARAMETER);

  UINT64 Before = 0, After = 0, Period = 0;
  EXPECT_EQ(Cpu->GetTimerValue(Cpu, 0, &Before, &Period), EFI_SUCCESS);
  Core.AdvanceTime(5000);
  EXPECT_EQ(Cpu->GetTimerValue(Cpu, 0, &After, nullptr), EFI_SUCCESS);
  EXPECT_EQ(After - Before, 5000u);
  EXPECT_EQ(Period, 1'000'000u) << "femtoseconds per tick";
  EXPECT_EQ(Cpu->GetTimerValue(Cpu, Cpu->NumberOfTimers, &After, nullptr), EFI_INVALID_PARAMETER);

  EXPECT_EQ(Cpu->SetMemoryAttributes(Cpu, 0x10000000, 0x1000, EFI_MEMORY_UC | EFI_MEMORY_RUNTIME),
            EFI_SUCCESS);
  EXPECT_EQ(Cpu->SetMemoryAttributes(Cpu, 0x10000000, 0, EFI_MEMORY_UC), EFI_INVALID_PARAMETER);
  ASSERT_EQ(Producer.AttributeCalls().size(), 1u);
  EXPECT_EQ(Producer.AttributeCalls()[0].Attributes, EFI_MEMORY_UC | EFI_MEMORY_RUNTIME);
  EXPECT_EQ(Cpu->FlushDataCache(Cpu, 0x1000, 64, EfiCpuFlushTypeWriteBack), EFI_SUCCESS);
  EXPECT_EQ(Cpu->FlushDataCache(Cpu, 0x1000, 64, EfiCpuMaxFlushType), EFI_UNSUPPORTED);
  EXPECT_EQ(Producer.Flushes().size(), 1u);

  auto Handler = [](EFI_EXCEPTION_TYPE, EFI_SYSTEM_CONTEXT) {};
  EXPECT_EQ(Cpu->RegisterInterruptHandler(Cpu, EXCEPT_AARCH64_IRQ, nullptr), EFI_INVALID_PARAMETER);
  EXPECT_EQ(Cpu->RegisterInterruptHandler(Cpu, EXCEPT_AARCH64_IRQ, Handler), EFI_SUCCESS);
  EXPECT_EQ(Cpu->RegisterInterruptHandler(Cpu, EXCEPT_AARCH64_IRQ, Handler), EFI_ALREADY_STARTED);
  EXPECT_EQ(Cpu->RegisterInterruptHandler(Cpu, EXCEPT_AARCH64_IRQ, nullptr), EFI_SUCCESS);
  EXPECT_EQ(Cpu->RegisterInterruptHandler(Cpu, EXCEPT_AARCH64_SERROR + 1, Handler), EFI_UNSUPPORTED);
  EXPECT_EQ(Cpu->EnableInterrupt(nullptr), EFI_INVALID_PARAMETER);
}

TEST(Board, WorkScheduledOnTheVirtualClockRunsWhenItIsDue) {
  host::Platform Core;
  std::vector<std::string> Ran;
  const uint64_t Start = Core.VirtualTimeNs();
  Core.After(100, [&] { Ran.push_back("late@" + std::to_string(Core.VirtualTimeNs() - Start)); });
  Core.After(50, [&] {
    Ran.push_back("first");
    Core.After(0, [&] { Ran.push_back("scheduled by a work"); });
  });
  Core.After(50, [&] { Ran.push_back("second"); });
  Core.AdvanceTime(49);
  EXPECT_TRUE(Ran.empty());
  Core.AdvanceTime(1);
  EXPECT_EQ(Ran, (std::vector<std::string>{"first", "second", "scheduled by a work"}))
      << "due works run in the order scheduled, a work scheduled by a due work in the same step";
  Core.AdvanceTime(1);
  Core.AdvanceTime(60);
  EXPECT_EQ(Ran, (std::vector<std::string>{"first", "second", "scheduled by a work", "late@100"}));
}

TEST(Board, BoardsimHelpListsEveryOptionAndFaultKnob) {
  std::string Help;
  FILE *Pipe = popen((std::string("'") + BOARDSIM + "' boot --help").c_str(), "r");
  ASSERT_NE(Pipe, nullptr);
  char Buffer[4096];
  for (size_t Read; (Read = fread(Buffer, 1, sizeof(Buffer), Pipe)) > 0;) {
    Help.append(Buffer, Read);
  }
  EXPECT_EQ(pclose(Pipe), 0);
  for (const host::BoardComponent &Component : host::BoardComponents()) {
    for (const host::BoardOptionSpec &Option : Component.Options) {
      EXPECT_NE(Help.find("  --" + Option.Name + (Option.Argument.empty() ? "" : " " + Option.Argument)),
                std::string::npos)
          << Option.Name;
    }
    for (const host::BoardOptionSpec &Knob : Component.Faults) {
      EXPECT_NE(Help.find("  " + Knob.Name), std::string::npos) << Knob.Name;
    }
  }
  const std::string Unknown =
      std::string("'") + BOARDSIM + "' boot --quiet --fault no-such-knob > /dev/null 2>&1";
  EXPECT_EQ(WEXITSTATUS(std::system(Unknown.c_str())), 2);
}

} // namespace

// The processor on RAM of its own and a fake board: system instructions, faults, services
// behind trap stubs, nested calls and the call helper.
#include "FirmwareCall.h"
#include "GuestVaList.h"
#include "ImageFiles.h"

#include <Protocol/OemIpmiInformation.h>
#include <Uefi.h>

#include <gtest/gtest.h>

#include <sys/mman.h>

#include <chrono>
#include <cstdarg>
#include <cstring>
#include <map>
#include <stdexcept>
#include <thread>
#include <vector>

namespace cpu {
namespace {

constexpr uint64_t RamBase = 0x50000000, RamBytes = 0x100000;
constexpr uint64_t Code = RamBase + 0x10000, Data = RamBase + 0x20000, Traps = RamBase + 0x30000;
constexpr uint64_t AnySize = ~uint64_t(0); // images loaded here are not limited by size
constexpr uint64_t StackBottom = RamBase + 0x41000, StackTop = RamBase + 0x50000;
constexpr uint64_t Device = 0x10000000, RefusedDevice = 0x10001000;
constexpr uint32_t Ret = 0xD65F03C0;

struct FakeBoard : Bus {
  std::map<uint64_t, uint64_t> Registers;
  std::vector<std::pair<DataCacheOp, uint64_t>> CacheOps;
  const Aarch64Cpu *Cpu = nullptr; // set: each read records the image running (Readers)
  std::vector<uint64_t> Readers;
  bool Read(uint64_t Address, unsigned, uint64_t &Value) override {
    if (Cpu != nullptr) {
      Readers.push_back(Cpu->RunningImage());
    }
    Value = Registers[Address];
    return Address != RefusedDevice;
  }
  bool Write(uint64_t Address, unsigned, uint64_t Value) override {
    Registers[Address] = Value;
    return Address != RefusedDevice;
  }
  void DataCache(DataCacheOp Op, uint64_t Operand) override { CacheOps.push_back({Op, Operand}); }
  uint64_t CounterTicks(bool) override { return 777; }
  // The operations recorded, and the interrupt mask they leave, as the board keeps them.
  std::vector<std::string> Operations;
  std::vector<std::string> Errors;
  bool Enabled = true;
  void Operation(const std::string &Name) override {
    Operations.push_back(Name);
    Enabled = Name == "ArmEnableInterrupts" || (Enabled && Name != "ArmDisableInterrupts");
  }
  bool InterruptsEnabled() override { return Enabled; }
  void Error(const std::string &Text) override { Errors.push_back(Text); }
};

ProcessorDescription Board() {
  ProcessorDescription Processor;
  Processor.Midr = 0x410FD0C1;
  Processor.Ccsidr[2] = 0x701FE01A;
  Processor.Sctlr = SctlrMmuEnable | SctlrDataCache | SctlrInstructionCache;
  Processor.Cntfrq = 100000000;
  Processor.Clidr = (1 << 24) | 2;                // one level: a data cache
  Processor.Ccsidr[0] = (1 << 13) | (1 << 3) | 2; // 2 sets, 2 ways, 64-byte lines
  return Processor;
}

class Processor : public testing::Test {
protected:
  void SetUp() override {
    void *Ram = mmap(reinterpret_cast<void *>(RamBase), RamBytes, PROT_READ | PROT_WRITE,
                     MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED_NOREPLACE, -1, 0);
    ASSERT_EQ(Ram, reinterpret_cast<void *>(RamBase));
    Cpu.Ram().MapRam(RamBase, RamBytes, static_cast<uint8_t *>(Ram));
    Cpu.SetTrapPage(Traps);
    Cpu.SetStack(StackBottom, StackTop);
  }
  void TearDown() override { munmap(reinterpret_cast<void *>(RamBase), RamBytes); }
  // Guest code at At (a page made executable) followed by ret.
  uint64_t Put(std::vector<uint32_t> Words, uint64_t At = Code) {
    Words.push_back(Ret);
    std::memcpy(reinterpret_cast<void *>(At), Words.data(), Words.size() * 4);
    Cpu.SetAccess(At & ~0xFFFull, 0x1000, PageAccess::ReadExecute);
    return At;
  }
  FakeBoard Fake;
  Aarch64Cpu Cpu{Fake, Board()};
};

struct Row {
  const char *What;
  std::vector<uint32_t> Code;
  std::vector<uint64_t> Arguments;
  std::optional<FaultKind> Fault; // or the value of X0:
  uint64_t Result;
};

TEST_F(Processor, RunsSystemInstructionsAndFaultsAsTheBoard) {
  const Row Rows[] = {
      {"mrs midr_el1", {0xD5380000}, {}, {}, 0x410FD0C1},
      {"mrs CurrentEL: EL2", {0xD5384240}, {}, {}, 2 << 2},
      {"msr csselr_el1 then mrs ccsidr_el1", {0xD51A0001, 0xD5390000}, {0, 2}, {}, 0x701FE01A},
      {"msr daifset #2 then mrs daif", {0xD50342DF, 0xD53B4220}, {}, {}, 0x80},
      {"tlbi alle2", {0xD50C871F}, {9}, {}, 9},
      {"mrs cntpct_el0", {0xD53BE020}, {}, {}, 777},
      {"mrs cntfrq_el0", {0xD53BE000}, {}, {}, 100000000},
      {"device load", {0xB9400020}, {0, Device + 4}, {}, 0x1234},
      {"unaligned RAM load with the MMU on", {0xF9400020}, {0, Data + 1}, {}, 0},
      {"mrs sctlr_el3 at EL2", {0xD53E1000}, {}, FaultKind::UndefinedInstruction, 0},
      {"udf", {0x00000000}, {}, FaultKind::UndefinedInstruction, 0},
      {"hvc #0", {0xD4000002}, {}, FaultKind::ForbiddenException, 0},
      {"smc #0", {0xD4000003}, {}, FaultKind::ForbiddenException, 0},
      {"svc #5 from an image", {0xD40000A1}, {}, FaultKind::ForbiddenException, 0},
      {"brk #1", {0xD4200020}, {}, FaultKind::ForbiddenException, 0},
      {"brk #0xf000: the halt", {0xD43E0000}, {}, FaultKind::Breakpoint, 0},
      {"wfi: the dead loop's wait", {0xD503207F}, {}, FaultKind::DeadLoop, 0},
      {"unaligned device load", {0xF9400020}, {0, Device + 4}, FaultKind::AlignmentFault, 0},
      {"unaligned RAM load with the MMU off",
       {0xD51C101F, 0xF9400020},
       {0, Data + 1},
       FaultKind::AlignmentFault,
       0},
      {"device the board refuses", {0xB9400020}, {0, RefusedDevice}, FaultKind::BusError, 0},
      {"store to code", {0xF9000020}, {0, Code}, FaultKind::WriteToCode, 0},
      {"jump into data", {0xD61F0020}, {0, Data}, FaultKind::ExecuteData, 0},
      {"return to a corrupted address", {0xD280001E}, {}, FaultKind::ExecuteData, 0}, // mov x30, #0
      {"stack overflow", {0xF81F0FE0, 0x17FFFFFF}, {}, FaultKind::StackOverflow, 0},
  };
  Fake.Registers[Device + 4] = 0x1234;
  for (const Row &Each : Rows) {
    SCOPED_TRACE(Each.What);
    Cpu.Registers() = SystemRegisters(Board()); // each row from the reset state
    const uint64_t Function = Put(Each.Code);
    try {
      const uint64_t Result = Cpu.CallGuest(Function, Each.Arguments);
      EXPECT_FALSE(Each.Fault) << "no fault; X0 " << Result;
      EXPECT_EQ(Result, Each.Result);
    } catch (const GuestFault &Fault) {
      ASSERT_TRUE(Each.Fault) << Fault.what();
      EXPECT_EQ(Fault.Kind, *Each.Fault) << Fault.what();
    }
  }
}

// What the instructions do is recorded under the host build's ArmLib names: masking, the cache and
// MMU enables of the running level, IC IALLU, a set/way walk once it has covered every line (an
// incomplete one is an error), DC by address over consecutive lines once.
TEST_F(Processor, InstructionsRecordTheOperationsOfTheHostSeam) {
  constexpr uint32_t DcCsw = 0xD5087A40, DcCisw = 0xD5087E40, DcCvac = 0xD50B7A20; // Xt = x0 + n
  const struct {
    const char *What;
    std::vector<uint32_t> Code;
    std::vector<uint64_t> Arguments;
    std::vector<std::string> Operations;
    std::string Error = ""; // what the error of an incomplete walk says it missed
  } Rows[] = {
      {"daifset #2, daifset #1, daifclr #2",
       {0xD50342DF, 0xD50341DF, 0xD50342FF},
       {},
       {"ArmDisableInterrupts", "ArmDisableFiq", "ArmEnableInterrupts"}},
      {"msr sctlr_el2: C off",
       {0xD51C1000},
       {SctlrMmuEnable | SctlrInstructionCache},
       {"ArmDisableDataCache"}},
      {"msr sctlr_el2: all off",
       {0xD51C1000},
       {0},
       {"ArmDisableDataCache", "ArmDisableInstructionCache", "ArmDisableMmu"}},
      {"msr sctlr_el1 at EL2: not the running level's", {0xD5181000}, {0}, {}},
      {"ic iallu", {0xD508751F}, {}, {"ArmInvalidateInstructionCache"}},
      {"dc csw over every set and way",
       {DcCsw, DcCsw + 1, DcCsw + 2, DcCsw + 3},
       {0, 0x40, 0x80000000, 0x80000040},
       {"ArmCleanDataCache"}},
      {"dc csw missing way 1 of set 1, then dc cisw",
       {DcCsw, DcCsw + 1, DcCsw + 2, DcCisw, DcCisw + 1, DcCisw + 2, DcCisw + 3},
       {0, 0x40, 0x80000000, 0x80000040},
       {"ArmCleanDataCache (incomplete)", "ArmCleanInvalidateDataCache"},
       "L1: 1 of 4 lines (first: way 1, set 1)"},
      {"dc csw stopped by the end of the call",
       {DcCsw},
       {0},
       {"ArmCleanDataCache (incomplete)"},
       "L1: 3 of 4 lines (first: way 0, set 1)"},
      {"dc cvac over three lines, then one elsewhere",
       {DcCvac, DcCvac + 1, DcCvac + 2, DcCvac + 3},
       {Data, Data + 0x40, Data + 0x80, Data + 0x1000},
       {"ArmCleanDataCacheRange", "ArmCleanDataCacheRange"}},
  };
  for (const auto &Each : Rows) {
    SCOPED_TRACE(Each.What);
    Cpu.Registers() = SystemRegisters(Board());
    Fake.Operations.clear();
    Fake.Errors.clear();
    Cpu.CallGuest(Put(Each.Code), Each.Arguments);
    EXPECT_EQ(Fake.Operations, Each.Operations);
    ASSERT_EQ(Fake.Errors.size(), Each.Error.empty() ? 0u : 1u);
    if (!Each.Error.empty()) {
      EXPECT_NE(Fake.Errors[0].find(Each.Error), std::string::npos) << Fake.Errors[0];
    }
  }
  EXPECT_TRUE(Fake.Enabled);
}

// G(x0, stub x1) calls the stub with x0; the service calls H(x0 + 1) = 2 * (x0 + 1) in the guest.
TEST_F(Processor, ServicesAndGuestCallsNest) {
  const uint64_t H = Put({0x8B000000}, Code + 0x100); // add x0, x0, x0
  // stp x29, x30, [sp, #-16]!; mov x29, sp; blr x1; ldp x29, x30, [sp], #16
  const uint64_t G = Put({0xA9BF7BFD, 0x910003FD, 0xD63F0020, 0xA8C17BFD}, Code + 0x200);
  const uint64_t Twice = Cpu.AddService("Twice", [&](const GuestFrame &Frame) {
    const uint64_t Argument[] = {Frame.Argument(0) + 1};
    return Frame.Cpu().CallGuest(H, Argument);
  });
  const uint64_t Boom =
      Cpu.AddService("Boom", [](const GuestFrame &) -> uint64_t { throw std::runtime_error("boom"); });
  const uint64_t Fault = Cpu.AddService("Fault", [&](const GuestFrame &Frame) {
    const uint64_t None[] = {0};
    return Frame.Cpu().CallGuest(Data, None); // into data: the fault reaches the outermost caller
  });
  EXPECT_EQ(Cpu.CallGuest(G, std::vector<uint64_t>{5, Twice}), 12u);
  EXPECT_THROW(Cpu.CallGuest(G, std::vector<uint64_t>{5, Boom}), std::runtime_error);
  EXPECT_THROW(Cpu.CallGuest(G, std::vector<uint64_t>{5, Fault}), GuestFault);
  // The tenth argument goes on the stack: ldr x0, [sp, #8]
  EXPECT_EQ(
      Cpu.CallGuest(Put({0xF94007E0}, Code + 0x300), std::vector<uint64_t>{0, 1, 2, 3, 4, 5, 6, 7, 8, 99}),
      99u);
  EXPECT_EQ(Cpu.CallGuest(G, std::vector<uint64_t>{1, Twice}), 4u) << "a fault leaves the processor usable";
}

// A calls B, which calls C; each reads the device after its call returns. Each read is made by
// the image whose code runs, through the JITs going from image to image and back.
TEST_F(Processor, EachImagesCodeRunsAsThatImage) {
  const uint64_t A = Code, B = Code + 0x1000, C = Code + 0x2000; // x1: the device, x2: B, x3: C
  // stp x29, x30, [sp, #-16]!; blr x2 (B) or blr x3 (C); ldr w0, [x1]; ldp x29, x30, [sp], #16
  for (const auto &[Image, Call] : {std::pair{A, 0xD63F0040u}, {B, 0xD63F0060u}}) {
    Put({0xA9BF7BFD, Call, 0xB9400020, 0xA8C17BFD}, Image);
  }
  Put({0xB9400020}, C);
  for (const uint64_t Image : {A, B, C}) {
    Cpu.AddImage("Image", LoadedImage{Image, 0x1000, Image, 0, {{"code", Image, 0x1000, true, false}}});
  }
  Fake.Cpu = &Cpu;
  Cpu.CallGuest(A, std::vector<uint64_t>{0, Device, B, C});
  EXPECT_EQ(Fake.Readers, (std::vector<uint64_t>{C, B, A}));
}

// TrapProbe.efi, built by the AArch64 tool chain, commits the fault its image handle selects.
TEST_F(Processor, ImageFaultsNameTheImageAndOffset) {
  const std::vector<uint8_t> File = ImageFile("TrapProbe.efi");
  if (File.empty()) {
    GTEST_SKIP() << "TrapProbe.efi not built (Tools/scripts/build uefi-aarch64)";
  }
  std::string Error;
  const std::optional<LoadedImage> Image = LoadPeImage(
      File, AnySize,
      [](uint64_t, uint16_t) {
        return std::optional<GuestPages>({Code, reinterpret_cast<uint8_t *>(Code)});
      },
      Error);
  ASSERT_TRUE(Image) << Error;
  Cpu.AddImage("TrapProbe.efi", *Image);
  const std::optional<FaultKind> Classes[] = {
      {},
      FaultKind::UndefinedInstruction,
      FaultKind::ForbiddenException,
      FaultKind::ForbiddenException,
      FaultKind::ForbiddenException,
      FaultKind::ForbiddenException,
      FaultKind::WriteToCode,
      FaultKind::ExecuteData,
      FaultKind::StackOverflow,
  };
  for (uint64_t Class = 0; Class < std::size(Classes); Class++) {
    SCOPED_TRACE(Class);
    const std::vector<uint64_t> Arguments = {Class, Data}; // a zeroed system table at Data
    try {
      EXPECT_EQ(Cpu.CallGuest(Image->Entry, Arguments), 0u);
      EXPECT_FALSE(Classes[Class]);
    } catch (const GuestFault &Fault) {
      EXPECT_EQ(Classes[Class], Fault.Kind) << Fault.what();
      EXPECT_NE(std::string(Fault.what()).find("at TrapProbe.efi+0x"), std::string::npos) << Fault.what();
    }
  }
}

// A spin that never calls the host ends when the board interrupts it from another thread.
TEST_F(Processor, InterruptStopsASpin) {
  const uint64_t Spin = Put({0x14000000}); // b .
  std::thread Watchdog([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    Cpu.Interrupt();
  });
  try {
    Cpu.CallGuest(Spin, {});
    ADD_FAILURE() << "the spin returned";
  } catch (const GuestFault &Fault) {
    EXPECT_EQ(Fault.Kind, FaultKind::Interrupted) << Fault.what();
    EXPECT_EQ(Fault.Pc, Spin);
  }
  Watchdog.join();
  EXPECT_EQ(Cpu.CallGuest(Put({0xD2800540}), {}), 42u) << "the next call runs"; // mov x0, #42
}

uint64_t NativeAdd(uint64_t A, uint32_t B) {
  return A + B;
}

// The pairs of a NULL-terminated list, times 100, plus the first argument.
uint64_t CountPairs(uint64_t First, ...) {
  va_list List;
  va_start(List, First);
  uint64_t Pairs = 0;
  while (va_arg(List, void *) != nullptr) {
    va_arg(List, void *);
    Pairs++;
  }
  va_end(List);
  return Pairs * 100 + First;
}

TEST_F(Processor, CallHelperRunsHostCodeNativelyAndGuestCodeOnTheProcessor) {
  using Function = uint64_t (*)(uint64_t, uint32_t);
  // add x0, x0, w1, uxtw
  const Function Guest = reinterpret_cast<Function>(Put({0x8B214000}));
  EXPECT_EQ(CallFirmware(&Cpu, Guest, uint64_t{40}, 2u), 42u);
  EXPECT_EQ(CallFirmware(&Cpu, &NativeAdd, uint64_t{40}, 2u), 42u);
  // A guest call of a native service through its stub, typed.
  const uint64_t Stub = Cpu.AddService("NativeAdd", Native(&NativeAdd));
  const uint64_t Caller = Put({0xA9BF7BFD, 0x910003FD, 0xD63F0040, 0xA8C17BFD}, Code + 0x400); // blr x2
  EXPECT_EQ(Cpu.CallGuest(Caller, std::vector<uint64_t>{40, 0x500000002, Stub}), 42u);
  // Exported host functions: one stub each; the variadic list runs past the registers.
  const auto Exported = ExportFunction(&Cpu, "NativeAdd", &NativeAdd);
  EXPECT_EQ(Exported, ExportFunction(&Cpu, "NativeAdd again", &NativeAdd));
  EXPECT_EQ(ExportFunction(nullptr, "host build", &NativeAdd), &NativeAdd);
  EXPECT_EQ(CallFirmware(&Cpu, Exported, uint64_t{1}, 2u), 3u);
  const uint64_t Variadic = reinterpret_cast<uint64_t>(ExportFunction(&Cpu, "CountPairs", &CountPairs));
  EXPECT_EQ(Cpu.CallGuest(Variadic, std::vector<uint64_t>{7, 1, 2, 3, 4, 5, 6, 7, 8, 0}), 407u);
}

// A va_list record as the procedure-call standard lays it out, walked from guest RAM: saved
// registers below __gr_top while __gr_offs is negative, then the stacked slots.
TEST_F(Processor, WalksTheGuestsArgumentList) {
  constexpr uint64_t Record = Data + 0x100, GrTop = Data + 0x200, Stack = Data + 0x300;
  struct VaRow {
    const char *What;
    int32_t GrOffs;
    uint64_t StackAt;
    std::vector<uint64_t> Expected;
    bool EndsOutsideRam; // the next slot is not in RAM
  };
  const VaRow Rows[] = {
      {"all in stacked slots, as the images make it", 0, Stack, {0x30, 0x31, 0x32}, false},
      {"two saved registers, then the stack", -16, Stack, {0x21, 0x22, 0x30, 0x31, 0x32}, false},
      {"the saved registers used up", 0, Stack + 16, {0x32}, false},
      {"a stacked slot outside RAM ends the walk", -8, RamBase + RamBytes, {0x22}, true},
  };
  const uint64_t Saved[] = {0x21, 0x22}, Slots[] = {0x30, 0x31, 0x32};
  std::memcpy(reinterpret_cast<void *>(GrTop - sizeof(Saved)), Saved, sizeof(Saved));
  std::memcpy(reinterpret_cast<void *>(Stack), Slots, sizeof(Slots));
  for (const VaRow &Row : Rows) {
    SCOPED_TRACE(Row.What);
    const uint64_t Fields[4] = {Row.StackAt, GrTop, 0, static_cast<uint32_t>(Row.GrOffs)};
    std::memcpy(reinterpret_cast<void *>(Record), Fields, sizeof(Fields));
    std::optional<GuestVaList> List = GuestVaList::At(Cpu.Ram(), Record);
    ASSERT_TRUE(List.has_value());
    for (const uint64_t Expected : Row.Expected) {
      EXPECT_EQ(List->Next(), std::optional<uint64_t>(Expected));
    }
    if (Row.EndsOutsideRam) {
      EXPECT_EQ(List->Next(), std::nullopt);
    }
  }
  EXPECT_FALSE(GuestVaList::At(Cpu.Ram(), RamBase + RamBytes - 8).has_value()) << "a record outside RAM";
}

// Mgmtprobe.efi as it ships, on tables of its own in guest RAM whose services are host functions.
std::u16string ConsoleText;
EFI_STATUS OutputString(EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL *, CHAR16 *Text) {
  ConsoleText += Text;
  return EFI_SUCCESS;
}
constexpr uint64_t IpmiRecord = Data + 0x3000;
EFI_STATUS LocateProtocol(EFI_GUID *Protocol, VOID *, VOID **Interface) {
  const EFI_GUID Ipmi = OEM_IPMI_INFORMATION_PROTOCOL_GUID;
  *Interface =
      std::memcmp(Protocol, &Ipmi, sizeof(Ipmi)) == 0 ? reinterpret_cast<VOID *>(IpmiRecord) : nullptr;
  return *Interface != nullptr ? EFI_SUCCESS : EFI_NOT_FOUND;
}

TEST_F(Processor, RunsTheShippedMgmtprobeImage) {
  const std::vector<uint8_t> File = ImageFile("Mgmtprobe.efi");
  if (File.empty()) {
    GTEST_SKIP() << "Mgmtprobe.efi not built (Tools/scripts/build uefi-aarch64)";
  }
  constexpr uint64_t ImageBase = RamBase + 0x60000;
  std::string Error;
  const std::optional<LoadedImage> Image = LoadPeImage(
      File, AnySize,
      [](uint64_t, uint16_t) {
        return std::optional<GuestPages>({ImageBase, reinterpret_cast<uint8_t *>(ImageBase)});
      },
      Error);
  ASSERT_TRUE(Image) << Error;
  Cpu.AddImage("Mgmtprobe.efi", *Image);
  auto *System = reinterpret_cast<EFI_SYSTEM_TABLE *>(Data);
  auto *Boot = reinterpret_cast<EFI_BOOT_SERVICES *>(Data + 0x1000);
  auto *ConOut = reinterpret_cast<EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL *>(Data + 0x2000);
  System->BootServices = Boot;
  System->RuntimeServices = reinterpret_cast<EFI_RUNTIME_SERVICES *>(Data + 0x2800);
  System->ConOut = ConOut;
  Boot->LocateProtocol = ExportFunction(&Cpu, "LocateProtocol", &LocateProtocol);
  ConOut->OutputString = ExportFunction(&Cpu, "OutputString", &OutputString);
  reinterpret_cast<OEM_IPMI_INFORMATION_PROTOCOL *>(IpmiRecord)->BmcMemoryBase = 0xC0DE0000;
  ConsoleText.clear();
  const auto Entry = reinterpret_cast<EFI_IMAGE_ENTRY_POINT>(Image->Entry);
  EXPECT_EQ(CallFirmware(&Cpu, Entry, reinterpret_cast<EFI_HANDLE>(1), System), EFI_SUCCESS);
  EXPECT_EQ(ConsoleText, u"Get BMC base memory tool initial. \nBMC_memory = 00000000C0DE0000\n");
}

} // namespace
} // namespace cpu

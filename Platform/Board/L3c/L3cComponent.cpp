// The board's L3 sizing blocks and console UART: the efuse register, control blocks A and B,
// the L3 cache controller and the UART whose output is the board's serial console, plus the
// processor's identification registers. At the end of the boot the serial console goes to
// serial.txt and into the log, with the processor operations firmware recorded.
#include "Board.h"
#include "GcdMap.h"
#include "L3cModels.h"

#include <fstream>

namespace host {

namespace {

constexpr uint64_t kEfuseBase = 0x1054A000;
constexpr uint64_t kEfuseSize = 0x1000;
constexpr uint64_t kControlABase = 0x7E000000;
constexpr uint64_t kControlBBase = 0x7E200000;
constexpr uint64_t kCacheBase = 0x7E600000;
constexpr uint64_t kBlockSize = 0x10000;
constexpr uint64_t kUartBase = 0x1C020000;
constexpr uint64_t kUartSize = 0x1000;
constexpr char kSerialFile[] = "serial.txt";
constexpr uint32_t kDefaultHardwareSizeMb = 8;
constexpr uint32_t kMaxHardwareSizeMb = 0x3F;

uint32_t Number(const std::string &Name, const std::string &Text, uint32_t Max) {
  return static_cast<uint32_t>(OptionNumber(Name, Text, Max));
}

void Note(Board &B, const std::string &Text) {
  const bool Ended = !Text.empty() && Text.back() == '\n';
  B.Core().Log().Append("board", Ended ? Text : Text + "\n", B.Core().VirtualTimeNs());
}

void L3cInstall(Board &B) {
  const std::string Revision = B.Setting("cpu-revision", kDefaultCpuRevision);
  const std::optional<CpuRevision> Cpu = ParseCpuRevision(Revision);
  if (!Cpu) {
    throw std::invalid_argument("cpu-revision needs rVpR[:REVIDR], not \"" + Revision + "\"");
  }
  B.Core().SetSystemRegister("MIDR_EL1", Cpu->Midr);
  B.Core().SetSystemRegister("REVIDR_EL1", Cpu->Revidr);

  auto Log = std::make_shared<L3cAccessLog>();
  B.Attach("efuse", std::make_shared<EfuseModel>(Log, Number("efuse", B.Setting("efuse", "0"), UINT32_MAX)));
  B.Attach("l3c-control-a", std::make_shared<L3cControlBlockA>(Log));
  B.Attach("l3c-control-b", std::make_shared<L3cControlBlockB>(Log));
  const uint32_t HardwareSizeMb =
      Number("l3c-size", B.Setting("l3c-size", std::to_string(kDefaultHardwareSizeMb)), kMaxHardwareSizeMb);
  B.Attach("l3c", std::make_shared<L3CacheController>(Log, HardwareSizeMb, B.Fault("l3c-stuck-busy")));
  B.Attach("uart0", std::make_shared<ConsoleUart>(Log, B.Fault("uart0-not-ready")));
  // The models hold the log: it lives as long as the board.
  B.Provide(kL3cAccessLog, Log.get());
}

// After Regionhold: the memory space map with the owner of each range.
void L3cAfterModule(Board &B, const std::string &Module) {
  if (Module != "Regionhold") {
    return;
  }
  Platform &Core = B.Core();
  Note(B, Core.Gcd().Dump([&Core](EFI_HANDLE Image) { return Core.ImageName(Image); }));
}

// The serial console as the OS loader left it, and the processor operations of the boot.
void L3cFinish(Board &B) {
  const std::string &Serial = B.Model<ConsoleUart>("uart0").Output();
  std::string Operations;
  for (const std::string &Operation : B.Core().CpuOperations()) {
    Operations += (Operations.empty() ? "" : ", ") + Operation;
  }
  Note(B, "processor operations: " + (Operations.empty() ? std::string("none") : Operations));
  if (!B.Options().OutDir.empty()) {
    std::ofstream(B.Options().OutDir / kSerialFile, std::ios::binary) << Serial;
    Note(B, "serial console written to " + (B.Options().OutDir / kSerialFile).string());
  }
  Note(B, "serial console:\n" + (Serial.empty() ? std::string("(nothing)\n") : Serial));
}

} // namespace

BoardComponent L3cComponent() {
  static_assert(kDefaultHardwareSizeMb == 8, "the l3c-size help text names it");
  BoardComponent Component{
      "l3c",
      {
          {"efuse", kEfuseBase, kEfuseSize, EfiGcdMemoryTypeMemoryMappedIo, false},
          {"l3c-control-a", kControlABase, kBlockSize, EfiGcdMemoryTypeMemoryMappedIo, false},
          {"l3c-control-b", kControlBBase, kBlockSize, EfiGcdMemoryTypeMemoryMappedIo, false},
          {"l3c", kCacheBase, kBlockSize, EfiGcdMemoryTypeMemoryMappedIo, false},
          // Not declared by the platform: Regionhold adds it as runtime MMIO.
          {"uart0", kUartBase, kUartSize, EfiGcdMemoryTypeNonExistent, false},
      },
      {
          {"efuse", "VALUE", "the efuse register (bits 8..11 set each take 2 MB of L3 away; default 0)"},
          {"l3c-size", "MB", "the L3 size the cache controller reports (default 8)"},
          {"cpu-revision", "rVpR[:REVIDR]",
           "the processor's variant and revision, and REVIDR (default r1p0; r0p0:1 is early silicon)"},
      },
      {
          {"l3c-stuck-busy", "", "the L3 cache controller never finishes a resize"},
          {"uart0-not-ready", "", "the console UART never takes a byte"},
      },
      L3cInstall,
      L3cFinish,
  };
  Component.AfterModule = L3cAfterModule;
  return Component;
}

} // namespace host

// The BMC's VGA function on the board: the chip model in its PCI memory window and the PCI I/O
// the platform's PCI bus driver would install for it, with the chip's straps, BMC state, data
// eyes and fault knobs as board options.
#include "Board.h"
#include "VgaChip.h"
#include "VgaScreen.h"

#include <EdidOverride.h>
#include <HostFiles.h>

#include <sstream>

namespace host {
namespace {

using vga::EyeWindow;
using vga::VgaChip;
using vga::VgaChipConfig;

constexpr PciLocation VgaLocation = {0, 0, 1, 0};
constexpr char kNoMonitor[] = "none";
constexpr size_t kEdidBlockBytes = 128;
constexpr size_t kOverrideEdidMax = 256 * kEdidBlockBytes; // a base block and 255 extension blocks

unsigned Number(const std::string &Name, const std::string &Text, unsigned Low, unsigned High) {
  const uint64_t Value = OptionNumber(Name, Text, High);
  if (Value < Low) {
    throw std::invalid_argument(Name + ": " + std::to_string(Low) + " to " + std::to_string(High) +
                                ", not \"" + Text + "\"");
  }
  return static_cast<unsigned>(Value);
}

std::vector<std::string> Split(const std::string &Text, char Separator) {
  std::vector<std::string> Parts;
  std::stringstream In(Text);
  for (std::string Part; std::getline(In, Part, Separator);) {
    Parts.push_back(Part);
  }
  return Parts;
}

// "LO-HI": the delay settings that pass.
EyeWindow Window(const std::string &Name, const std::string &Text) {
  const auto Ends = Split(Text, '-');
  if (Ends.size() != 2) {
    throw std::invalid_argument(Name + ": LO-HI, not \"" + Text + "\"");
  }
  return {static_cast<uint8_t>(Number(Name, Ends[0], 0, 255)),
          static_cast<uint8_t>(Number(Name, Ends[1], 0, 255))};
}

VgaChipConfig ChipConfig(const Board &B) {
  VgaChipConfig Config = VgaChipConfig::Default();
  Config.BmcInitialised = B.Has("vga-bmc");
  Config.HalfWidth = B.Has("vga-half-width");
  Config.Reference14MHz = B.Has("vga-reference-14mhz");
  if (B.Has("vga-memory")) {
    const std::string Type = B.Setting("vga-memory");
    if (Type != "DDR2" && Type != "DDR3") {
      throw std::invalid_argument("vga-memory: DDR2 or DDR3, not \"" + Type + "\"");
    }
    Config.Ddr2 = Type == "DDR2";
  }
  if (B.Has("vga-size-code")) {
    Config.SizeCode = Number("vga-size-code", B.Setting("vga-size-code"), 1, 4);
  }
  if (B.Has("vga-timing-strap")) {
    Config.TimingStrap = Number("vga-timing-strap", B.Setting("vga-timing-strap"), 0, 3);
  }
  if (B.Has("vga-framebuffer")) {
    Config.FrameBufferMiB = Number("vga-framebuffer", B.Setting("vga-framebuffer"), 8, 64);
  }
  if (B.Has("vga-dll-lock-step")) {
    Config.DllLockStep =
        static_cast<uint8_t>(Number("vga-dll-lock-step", B.Setting("vga-dll-lock-step"), 0, 255));
  }
  if (B.Has("vga-memory-pll")) {
    Config.MemoryPll =
        static_cast<uint16_t>(Number("vga-memory-pll", B.Setting("vga-memory-pll"), 0, 0xFFFF));
  }
  if (B.Has("vga-dll-status")) {
    const auto Values = Split(B.Setting("vga-dll-status"), ',');
    if (Values.size() != 2) {
      throw std::invalid_argument("vga-dll-status: LOCKED,UNLOCKED, not \"" + B.Setting("vga-dll-status") +
                                  "\"");
    }
    Config.DllStatusLocked = static_cast<uint8_t>(Number("vga-dll-status", Values[0], 0, 255));
    Config.DllStatusUnlocked = static_cast<uint8_t>(Number("vga-dll-status", Values[1], 0, 255));
  }
  if (B.Has("vga-strobe-eye")) {
    Config.StrobeEye = {};
    for (const std::string &Entry : Split(B.Setting("vga-strobe-eye"), ',')) {
      const auto Parts = Split(Entry, '=');
      const auto Setting = Parts.size() == 2 ? Split(Parts[0], '.') : std::vector<std::string>{};
      if (Setting.size() != 2) {
        throw std::invalid_argument("vga-strobe-eye: PHASE.HALF=LO-HI, not \"" + Entry + "\"");
      }
      Config.StrobeEye[Number("vga-strobe-eye", Setting[0], 0, 31)]
                      [Number("vga-strobe-eye", Setting[1], 0, 1)] = Window("vga-strobe-eye", Parts[1]);
    }
  }
  if (B.Has("vga-line-eye")) {
    const auto Lines = Split(B.Setting("vga-line-eye"), ',');
    if (Lines.size() != 1 && Lines.size() != vga::DataLines) {
      throw std::invalid_argument("vga-line-eye: one LO-HI for every line or sixteen");
    }
    for (unsigned Line = 0; Line < vga::DataLines; Line++) {
      Config.LineEye[Line] = Window("vga-line-eye", Lines[Lines.size() == 1 ? 0 : Line]);
    }
  }
  Config.MemoryNeverReady = B.Fault("vga-memory-never-ready");
  Config.DllNeverLocks = B.Fault("vga-dll-never-locks");
  Config.TestEngineStuck = B.Fault("vga-test-engine-stuck");
  Config.NoEye = B.Fault("vga-no-eye");
  Config.EngineStuck = B.Fault("vga-engine-stuck");
  Config.FailingTest = B.FaultStep("vga-memory-test-fails");
  return Config;
}

// What is wrong with an EDID file (empty: nothing): unreadable, empty or longer than Limit.
// Edid gets the bytes when nothing is.
std::string EdidProblem(const std::string &Path, size_t Limit, std::vector<uint8_t> *Edid = nullptr) {
  std::string Problem;
  std::optional<std::vector<uint8_t>> Bytes = ReadFileBytes(Path, Problem);
  if (Bytes && (Bytes->empty() || Bytes->size() > Limit)) {
    Problem = (Bytes->empty() ? std::string("is empty") : "is " + std::to_string(Bytes->size()) + " bytes") +
              "; an EDID here has 1 to " + std::to_string(Limit) + " bytes";
  }
  if (Problem.empty() && Edid != nullptr) {
    *Edid = std::move(*Bytes);
  }
  return Problem;
}

std::vector<uint8_t> EdidFile(const std::string &Option, const std::string &Path, size_t Limit) {
  std::vector<uint8_t> Edid;
  if (std::string Problem = EdidProblem(Path, Limit, &Edid); !Problem.empty()) {
    throw PathError("--" + Option, Path, Problem);
  }
  return Edid;
}

std::string MonitorPathProblem(const std::string &Value) {
  return Value == kNoMonitor ? "" : EdidProblem(Value, vga::DdcMonitor::MaxEdidBytes);
}

std::string OverridePathProblem(const std::string &Value) {
  return EdidProblem(Value, kOverrideEdidMax);
}

// The display on the VGA port: the board's monitor, the --monitor file, or none.
vga::DdcMonitorConfig MonitorConfig(const Board &B) {
  vga::DdcMonitorConfig Config;
  const std::string File = B.Setting("monitor", BOARD_MONITOR_EDID);
  if (File != kNoMonitor) {
    Config.Edid = EdidFile("monitor", File, vga::DdcMonitor::MaxEdidBytes);
  }
  Config.PullUps = !B.Fault("monitor-no-pullups");
  Config.NoAck = B.Fault("monitor-no-ack");
  Config.NoisyLines = B.Fault("monitor-noisy-lines");
  return Config;
}

// The producer and the screen live as long as the board that installed them.
std::unique_ptr<PciIoProducer> &InstalledProducer() {
  static std::unique_ptr<PciIoProducer> Producer;
  return Producer;
}
std::unique_ptr<vga::Screen> &InstalledScreen() {
  static std::unique_ptr<vga::Screen> Screen;
  return Screen;
}

void VgaInstall(Board &B) {
  auto Chip = std::make_shared<VgaChip>(ChipConfig(B));
  auto Monitor = std::make_shared<vga::DdcMonitor>(MonitorConfig(B));
  Chip->ConnectMonitor(Monitor);
  B.Attach("vga", Chip);
  B.AddErrorSource([Chip] { return Chip->Function().ProtocolErrors(); });
  B.AddErrorSource([Monitor] { return Monitor->ProtocolErrors(); });
  if (B.Has("edid-override")) {
    B.Provide("edid-override",
              &InstallEdidOverride(B.Core(),
                                   EdidFile("edid-override", B.Setting("edid-override"), kOverrideEdidMax)));
  }
  auto &Producer = InstalledProducer();
  Producer = std::make_unique<PciIoProducer>(B.Core(), Chip, VgaLocation);
  if (EFI_ERROR(Producer->Install())) {
    throw std::logic_error("vga: PCI I/O could not be installed");
  }
  B.Provide("vga-pci-io", Producer.get());
  std::ostringstream Line;
  Line << "BMC VGA function " << std::hex << VgaChip::VendorId << ":" << VgaChip::DeviceId
       << " at PciRoot(0x0)/Pci(0x1,0x0), frame buffer " << std::dec << Chip->Config().FrameBufferMiB
       << " MiB, memory " << (Chip->Config().Ddr2 ? "DDR2" : "DDR3") << ", "
       << (Chip->Config().BmcInitialised ? "set up by the BMC" : "not set up by the BMC") << ", "
       << (Monitor->Config().Edid.empty() ? std::string("no monitor")
                                          : "monitor " + B.Setting("monitor", "of the board"))
       << (B.Has("edid-override") ? ", EDID override " + B.Setting("edid-override") : "") << "\n";
  B.Core().Log().Append("vga", Line.str(), B.Core().VirtualTimeNs());
  auto &Screen = InstalledScreen();
  Screen.reset();
  const BoardOptions::ScreenOptions &Wanted = B.Options().Screen;
  if (Wanted.Capture || Wanted.Console) {
    Screen = std::make_unique<vga::Screen>(B, Chip, Wanted.Console);
    B.Provide("vga-screen", Screen.get());
  }
}

// The console draws what the module logged once it has returned.
void VgaAfterModule(Board &B, const std::string &Module) {
  if (vga::Screen *Screen = B.Producer<vga::Screen>("vga-screen")) {
    Screen->DrawPending();
  }
}

void VgaFinish(Board &B) {
  vga::Screen *Screen = B.Producer<vga::Screen>("vga-screen");
  if (Screen != nullptr && B.Options().Screen.Capture && !B.Options().OutDir.empty()) {
    Screen->Save(B.Options().OutDir);
  }
  B.LogFaultSteps("vga-memory-test-fails", B.Model<VgaChip>("vga").MemoryTests(), "chip memory tests");
}

} // namespace

BoardComponent VgaComponent() {
  return {
      "vga",
      {{"vga", VgaChipConfig::WindowBase, VgaChipConfig::WindowSize, EfiGcdMemoryTypeMemoryMappedIo, false}},
      {
          {"vga-bmc", "", "the BMC firmware has set up the VGA chip's memory (CRD0 bit 7)"},
          {"vga-memory", "DDR2|DDR3", "the VGA chip's memory type strap (default DDR3)"},
          {"vga-size-code", "1-4", "the VGA chip's memory size strap (default 1)"},
          {"vga-timing-strap", "0-3", "the VGA chip's memory timing strap (default 0)"},
          {"vga-framebuffer", "MIB", "the VGA frame buffer: 8, 16, 32 or 64 MiB (default 16)"},
          {"vga-half-width", "", "the BMC set the chip's memory up with a 16-bit bus"},
          {"vga-reference-14mhz", "", "the chip's memory PLL runs from 14.318 MHz instead of 12 MHz"},
          {"vga-dll-lock-step", "N", "the chip's DLL locks at this setting (default 0x54)"},
          {"vga-memory-pll", "WORD", "the memory PLL word a BMC set-up leaves in MCR120 (default 0x5040)"},
          {"vga-dll-status", "LOCKED,UNLOCKED",
           "MCR1C bits 8-15 with the chip's DLL locked and not locked (default 6,9)"},
          {"vga-strobe-eye", "P.H=LO-HI,...",
           "the strobe settings whose burst tests pass (replaces the board's)"},
          {"vga-line-eye", "LO-HI[,...]", "the delays at which each data line passes (one for all, or 16)"},
          {"monitor", "FILE|none",
           "the EDID the display on the VGA port serves (default: the board's monitor)", MonitorPathProblem},
          {"edid-override", "FILE", "the platform supplies this EDID for the display (EDID override)",
           OverridePathProblem},
      },
      {
          {"vga-memory-never-ready", "", "the chip's memory never reports ready (CRD0 bit 6, MCR1C bit 27)"},
          {"vga-dll-never-locks", "", "the chip's memory DLL never locks"},
          {"vga-test-engine-stuck", "", "the chip's memory test engine never finishes"},
          {"vga-no-eye", "", "every memory test fails at every delay setting"},
          {"monitor-no-pullups", "", "the DDC lines have no pull-ups: both read low"},
          {"monitor-no-ack", "", "the display never acknowledges its DDC address"},
          {"monitor-noisy-lines", "", "the DDC line levels change between every two reads"},
          {"vga-engine-stuck", "", "the chip's 2D engine never finishes a copy (status stays busy)"},
          {"vga-memory-test-fails", "N", "the chip's N-th memory test fails on every data line"},
      },
      VgaInstall,
      VgaFinish,
      VgaAfterModule,
  };
}

} // namespace host

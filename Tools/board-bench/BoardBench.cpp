// board-bench: the emulated board's speed and the images' sizes, each figure beside its yardstick
// measured in the same run, so that the ratios hold on a busy machine too:
//   - a whole-board boot with the display up (boardsim boot, a child process, best of five);
//   - the board script's two boots and `boardsim run mgmtprobe`, with the host build and with the
//     AArch64 images (best and median of five, interleaved), their ratio against the goal, and
//     where the AArch64 run's wall time goes (the JIT, the trap crossings, the models, the counter);
//   - one emulated register access: the 1920x1200 clear through the VGA chip's bus window (best
//     of five), beside a plain loop of volatile loads and stores;
//   - the clear beside a memset of the same bytes, a full-screen Blt from a buffer (Graphics
//     Output, BufferToVideo) beside a memcpy of the same bytes, the transfer and its yardstick
//     taking turns (best of fifteen each);
//   - the AArch64 images against their flash budget.
// Vidframe's chip code runs on a board whose chip memory the BMC has not set up, so the bring-up
// runs the whole memory set-up and calibration first. Prints; asserts nothing. The exit status
// is 1 when something did not run as it should (a failed boot, a Blt that did not draw).
#include <Board.h>
#include <ImageBudget.h>
#include <Library/UefiBootServicesTableLib.h>
#include <PciIo.h>
#include <Vga/VgaChip.h>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "VantorGraphics.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr UINTN kModeRow = 15; // 1920 x 1200
constexpr uint32_t kWidth = 1920, kHeight = 1200;
constexpr uint32_t kScreenBytes = kWidth * kHeight * 4;
constexpr int kRounds = 5; // every wall figure is the best of this many runs
// The transfers of a few milliseconds, each run in turn with its yardstick: on a busy machine a
// run that short is often cut by another process, and the two bests should see the same machine.
constexpr int kPairedRounds = 15;
constexpr int kExitFailed = 1;

// The goals the figures are read against.
constexpr double kBootGoalMs = 500;
constexpr double kAccessGoalNs = 20;
constexpr double kClearGoalMs = 140;
constexpr double kBltGoalOfMemcpy = 0.5; // of memcpy's bandwidth
constexpr double kAarch64GoalOfHost = 3; // the AArch64 images' wall time against the host build's

double Ms(Clock::duration Duration) {
  return std::chrono::duration<double, std::milli>(Duration).count();
}

double BestMs(const std::function<void()> &Work, int Rounds = kRounds) {
  double Best = 1e12;
  for (int Round = 0; Round < Rounds; Round++) {
    const auto Start = Clock::now();
    Work();
    Best = std::min(Best, Ms(Clock::now() - Start));
  }
  return Best;
}

struct Figure {
  double WallMs = 1e12;
  double VirtualMs = 0;
  uint64_t Accesses = 0; // emulated register accesses
};

uint64_t RegisterAccesses(host::Platform &Core) {
  uint64_t Total = 0;
  for (const auto &[Module, Account] : Core.TimeAccounts()) {
    Total += Account.RegisterAccesses;
  }
  return Total;
}

// Work run once as a call into firmware.
Figure Measure(host::Platform &Core, const std::function<void()> &Work) {
  const uint64_t Virtual = Core.VirtualTimeNs();
  const uint64_t Accesses = RegisterAccesses(Core);
  const auto Start = Clock::now();
  auto Halted = Core.Guard(Work);
  const double WallMs = Ms(Clock::now() - Start);
  if (Halted) {
    std::fprintf(stderr, "halted: %s\n", Halted->Text.c_str());
  }
  return {WallMs, (Core.VirtualTimeNs() - Virtual) / 1e6, RegisterAccesses(Core) - Accesses};
}

Figure BestOf(host::Platform &Core, const std::function<void()> &Work) {
  Figure Best;
  for (int Round = 0; Round < kRounds; Round++) {
    const Figure One = Measure(Core, Work);
    Best = One.WallMs < Best.WallMs ? One : Best;
  }
  return Best;
}

// The yardsticks, on host memory of the same size (touched before: no page faults timed).
void Memcpy(std::vector<uint8_t> &To, const std::vector<uint8_t> &From) {
  std::memcpy(To.data(), From.data(), kScreenBytes);
  asm volatile("" : : "r"(To.data()) : "memory");
}

void Memset(std::vector<uint8_t> &Memory) {
  std::memset(Memory.data(), Memory[0] + 1, kScreenBytes);
  asm volatile("" : : "r"(Memory.data()) : "memory");
}

// Work and its yardstick in alternating rounds: the best of each.
struct Paired {
  Figure Work;
  double YardstickMs = 1e12;
};

Paired BestPaired(host::Platform &Core, const std::function<void()> &Work,
                  const std::function<void()> &Yardstick) {
  Paired Best;
  for (int Round = 0; Round < kPairedRounds; Round++) {
    const Figure One = Measure(Core, Work);
    Best.Work = One.WallMs < Best.Work.WallMs ? One : Best.Work;
    Best.YardstickMs = std::min(Best.YardstickMs, BestMs(Yardstick, 1));
  }
  return Best;
}

// A plain loop of volatile 32-bit loads and stores over a screen's words: ns per access.
double VolatileAccessNs(std::vector<uint32_t> &Words) {
  volatile uint32_t *Word = Words.data();
  const double Best = BestMs([&] {
    for (size_t Index = 0; Index < Words.size(); Index++) {
      Word[Index] = Word[Index] + 1;
    }
  });
  return Best * 1e6 / (2.0 * Words.size());
}

// One whole-board boot in a boardsim process from an empty NVRAM store: wall ms, or a negative
// figure when the boot failed or left no display.
double BootMs(const fs::path &Out) {
  fs::remove_all(Out);
  fs::create_directories(Out);
  const auto Start = Clock::now();
  const pid_t Child = fork();
  if (Child == 0) {
    const std::string Dir = Out.string(), Nvram = (Out / "nvram.bin").string();
    execl(BOARDSIM_PATH, BOARDSIM_PATH, "boot", "--quiet", "--out", Dir.c_str(), "--nvram", Nvram.c_str(),
          static_cast<char *>(nullptr));
    _exit(127);
  }
  int Status = 0;
  waitpid(Child, &Status, 0);
  const double Wall = Ms(Clock::now() - Start);
  const bool Booted = WIFEXITED(Status) && WEXITSTATUS(Status) == 0 && fs::exists(Out / "screen.png");
  return Booted ? Wall : -1;
}

void PrintRow(const char *What, const std::string &Figure, const std::string &Yardstick) {
  std::printf("  %-56s %-26s %s\n", What, Figure.c_str(), Yardstick.c_str());
}

std::string Text(const char *Format, double A, double B = 0, double C = 0) {
  char Buffer[160];
  std::snprintf(Buffer, sizeof(Buffer), Format, A, B, C);
  return Buffer;
}

bool PrintBoot() {
  const fs::path Out = fs::temp_directory_path() / ("board-bench-" + std::to_string(getpid()));
  double Best = 1e12;
  for (int Round = 0; Round < kRounds; Round++) {
    const double One = BootMs(Out);
    if (One < 0) {
      std::printf("whole-board boot FAILED: see %s\n", Out.c_str());
      return false;
    }
    Best = std::min(Best, One);
  }
  fs::remove_all(Out);
  std::printf("Whole board (boardsim boot, empty NVRAM, display up), best of %d:\n", kRounds);
  PrintRow("boot wall time", Text("%.0f ms", Best), Text("goal <= %.0f ms", kBootGoalMs));
  return true;
}

// boardsim with Arguments in a child process, its output in Output: exit status (-1: it did not
// exit) and wall ms. With Profile, the AArch64 processor writes where its time went there.
struct Outcome {
  int Status = -1;
  double Ms = 0;
};

Outcome Boardsim(std::vector<std::string> Arguments, const fs::path &Output, const fs::path &Profile = {}) {
  std::vector<char *> Argv{const_cast<char *>(BOARDSIM_PATH)};
  for (std::string &Each : Arguments) {
    Argv.push_back(Each.data());
  }
  Argv.push_back(nullptr);
  const auto Start = Clock::now();
  const pid_t Child = fork();
  if (Child == 0) {
    const int Out = open(Output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(Out, STDOUT_FILENO);
    dup2(Out, STDERR_FILENO);
    if (!Profile.empty()) {
      setenv("BOARDSIM_CPU_PROFILE", Profile.c_str(), 1);
    }
    execv(BOARDSIM_PATH, Argv.data());
    _exit(127);
  }
  int Status = 0;
  waitpid(Child, &Status, 0);
  return {WIFEXITED(Status) ? WEXITSTATUS(Status) : -1, Ms(Clock::now() - Start)};
}

// Wall ms of one run both ways is measured; the AArch64 run's processor time by part is summed
// from the profile files its processes wrote (ns).
struct Sample {
  double Ms = 0;
  std::string Failure; // why it did not run as it should
};

std::string FirstLine(const fs::path &File) {
  std::ifstream In(File);
  std::string Line;
  std::getline(In, Line);
  return Line;
}

// Runs one boardsim command of a timed sequence; a failure names the command and its first line.
bool Step(Sample &Into, std::vector<std::string> Arguments, const fs::path &Dir, bool Timed, bool Aarch64,
          const fs::path &Profile = {}) {
  if (Aarch64 && (Arguments[0] == "boot" || Arguments[0] == "run")) {
    Arguments.insert(Arguments.end(), {"--images", "aarch64"});
  }
  const std::string Command = "boardsim " + Arguments[0] + (Aarch64 ? " --images aarch64" : "");
  const Outcome Done = Boardsim(Arguments, Dir / "output.txt", Profile);
  Into.Ms += Timed ? Done.Ms : 0;
  if (Done.Status != 0 && Into.Failure.empty()) {
    Into.Failure =
        Command + " exited with " + std::to_string(Done.Status) + ": " + FirstLine(Dir / "output.txt");
  }
  return Done.Status == 0;
}

// Tools/scripts/board's two boots in Dir (the commands between them untimed).
Sample BoardScriptBoots(const fs::path &Dir, bool Aarch64, bool Profiled) {
  fs::remove_all(Dir);
  fs::create_directories(Dir);
  const std::string Nvram = (Dir / "nvram.bin").string(), Eeprom = (Dir / "eeprom.bin").string();
  const auto Boot = [&](const char *Out) {
    return std::vector<std::string>{"boot",    "--quiet", "--out",    (Dir / Out).string(),
                                    "--nvram", Nvram,     "--eeprom", Eeprom};
  };
  Sample Result;
  Step(Result, Boot("boot1"), Dir, true, Aarch64, Profiled ? Dir / "profile1.txt" : "") &&
      Step(Result,
           {"vars", "--nvram", Nvram, "set", "NicpatchSetupSwitchVar", "--guid", "nicpatch-switch", "--u8",
            "1", "--attrs", "nv,bs,rt"},
           Dir, false, false) &&
      Step(Result, {"setup", "--nvram", Nvram, "ahci2", "on", "ahci3", "on"}, Dir, false, false) &&
      Step(Result, {"eeprom", "--file", Eeprom, "set-mac", "0", "00:1b:21:0a:0b:0c"}, Dir, false, false) &&
      Step(Result, Boot("boot2"), Dir, true, Aarch64, Profiled ? Dir / "profile2.txt" : "");
  return Result;
}

Sample MgmtprobeRun(const fs::path &Dir, bool Aarch64, bool Profiled) {
  fs::remove_all(Dir);
  fs::create_directories(Dir);
  Sample Result;
  Step(Result, {"run", "mgmtprobe"}, Dir, true, Aarch64, Profiled ? Dir / "profile1.txt" : "");
  return Result;
}

// "jit 123 4" lines of the profile files in Dir, summed by part.
std::map<std::string, double> ProfileNs(const fs::path &Dir) {
  std::map<std::string, double> Ns;
  for (const char *File : {"profile1.txt", "profile2.txt"}) {
    std::ifstream In(Dir / File);
    std::string Part;
    double PartNs = 0, Entries = 0;
    while (In >> Part >> PartNs >> Entries) {
      Ns[Part] += PartNs;
    }
  }
  return Ns;
}

// Best and median of kRounds runs of What both ways, interleaved so that a busy spell hits both,
// then one profiled AArch64 run for its shares. False when a run failed.
bool PrintBothWays(const char *Title, const std::function<Sample(const fs::path &, bool, bool)> &What) {
  const fs::path Dir = fs::temp_directory_path() / ("board-bench-both-" + std::to_string(getpid()));
  std::vector<double> Wall[2];
  std::string Failure[2];
  for (int Round = 0; Round < kRounds; Round++) {
    for (const bool Aarch64 : {false, true}) {
      const Sample One = Failure[Aarch64].empty() ? What(Dir, Aarch64, false) : Sample{};
      if (Failure[Aarch64].empty() && !One.Failure.empty()) {
        Failure[Aarch64] = One.Failure;
      }
      Wall[Aarch64].push_back(One.Ms);
    }
  }
  std::printf("%s, host build and AArch64 images, best and median of %d:\n", Title, kRounds);
  double Best[2] = {};
  for (const bool Aarch64 : {false, true}) {
    const char *Build = Aarch64 ? "AArch64 images (.efi on the JIT)" : "host build (.so)";
    if (!Failure[Aarch64].empty()) {
      PrintRow(Build, "unavailable", Failure[Aarch64]);
      continue;
    }
    std::sort(Wall[Aarch64].begin(), Wall[Aarch64].end());
    Best[Aarch64] = Wall[Aarch64].front();
    PrintRow(Build, Text("best %.0f ms, median %.0f ms", Best[Aarch64], Wall[Aarch64][kRounds / 2]),
             Aarch64 && Failure[0].empty()
                 ? Text("%.2fx the host build; goal <= %.0fx", Best[1] / Best[0], kAarch64GoalOfHost)
                 : "");
  }
  if (Failure[1].empty()) {
    const Sample Profiled = What(Dir, true, true);
    const std::map<std::string, double> Ns = ProfileNs(Dir);
    const auto Share = [&](const char *Part) {
      const auto Found = Ns.find(Part);
      return Found == Ns.end() ? 0.0 : 100 * Found->second / 1e6 / Profiled.Ms;
    };
    const double Rest = 100 - Share("jit") - Share("services") - Share("models") - Share("counter");
    PrintRow("  AArch64 wall time (one profiled run)",
             Text("%.0f%% JIT, %.0f%% trap crossings,", Share("jit"), Share("services")),
             Text("%.0f%% models (the images' bus accesses), %.0f%% counter reads, %.0f%% the rest",
                  Share("models"), Share("counter"), Rest));
  }
  fs::remove_all(Dir);
  return Failure[0].empty() && Failure[1].empty();
}

// The chip brought up and set to 1920x1200, its Graphics Output constructed: the register-access,
// clear and Blt figures.
bool PrintDisplay() {
  host::Platform Core;
  host::BoardOptions Options;
  Options.Settings["vga-framebuffer"] = "16";
  auto Built = host::Board::Build(Core, Options);
  auto &Chip = Built->Model<host::vga::VgaChip>("vga");
  EFI_PCI_IO_PROTOCOL *Io = Built->Producer<host::PciIoProducer>("vga-pci-io")->Interface();
  UefiBootServicesTableLibConstructor(Core.FirmwareHandle(), Core.SystemTable());
  Io->Attributes(Io, EfiPciIoAttributeOperationEnable, EFI_PCI_IO_ATTRIBUTE_MEMORY, nullptr);
  VANTOR_PRIVATE_DATA Private = {};
  Private.Signature = VANTOR_PRIVATE_DATA_SIGNATURE;
  Private.PciIo = Io;

  EFI_STATUS Status = EFI_NOT_READY;
  const Figure BringUp = Measure(Core, [&] { Status = VantorInitController(&Private); });
  const Figure ModeSet = Measure(Core, [&] { VantorProgramMode(&Private, kModeRow); });
  const Figure Clear = BestOf(Core, [&] { VantorClearFrameBuffer(&Private, kScreenBytes); });
  std::vector<uint8_t> Plain(kScreenBytes), Copy(kScreenBytes);
  uint32_t Colour = 0;
  const Paired Fill = BestPaired(
      Core,
      [&] {
        Colour++;
        Io->Mem.Write(Io, EfiPciIoWidthFillUint32, VANTOR_FRAME_BUFFER_BAR, 0, kWidth * kHeight, &Colour);
      },
      [&] { Memset(Plain); });

  // Graphics Output with the one mode 1920x1200; its construction sets that mode.
  const VANTOR_VIDEO_MODE &Row = gVantorVideoModes[kModeRow];
  Private.ModeCount = 1;
  Private.ModeList[0] = {kModeRow, Row.Width, Row.Height, Row.BitsPerPixel, Row.RefreshRate};
  Measure(Core, [&] { Status = VantorGraphicsOutputConstructor(&Private); });
  EFI_GRAPHICS_OUTPUT_PROTOCOL *Gop = &Private.GraphicsOutput;
  std::vector<uint8_t> Picture(kScreenBytes);
  for (size_t Index = 0; Index < Picture.size(); Index++) {
    Picture[Index] = static_cast<uint8_t>(Index * 7);
  }
  EFI_STATUS BltStatus = EFI_NOT_READY;
  const Paired Blt = BestPaired(
      Core,
      [&] {
        BltStatus = Gop->Blt(Gop, reinterpret_cast<EFI_GRAPHICS_OUTPUT_BLT_PIXEL *>(Picture.data()),
                             EfiBltBufferToVideo, 0, 0, 0, 0, kWidth, kHeight, 0);
      },
      [&] { Memcpy(Copy, Picture); });
  // The last pixel on the screen as the picture has it (the reserved byte is not drawn).
  const bool Drawn = std::memcmp(&Chip.FrameBuffer()[kScreenBytes - 4], &Picture[kScreenBytes - 4], 3) == 0;
  Measure(Core, [&] { VantorGraphicsOutputDestructor(&Private); });

  const double MemsetMs = Fill.YardstickMs, MemcpyMs = Blt.YardstickMs;
  std::vector<uint32_t> Words(kWidth * kHeight);
  const double VolatileNs = VolatileAccessNs(Words);

  std::printf("Vidframe on the emulated VGA chip (wall time; virtual time in brackets):\n");
  PrintRow("bring-up with memory calibration", Text("%.1f ms (%.1f ms)", BringUp.WallMs, BringUp.VirtualMs),
           "");
  PrintRow("mode set 1920x1200, with its clear", Text("%.1f ms (%.1f ms)", ModeSet.WallMs, ModeSet.VirtualMs),
           "");
  const double AccessNs = Clear.WallMs * 1e6 / std::max<uint64_t>(Clear.Accesses, 1);
  PrintRow(("register access (" + std::to_string(Clear.Accesses) + " in the clear below), best of 5").c_str(),
           Text("%.1f ns", AccessNs),
           Text("volatile load/store %.2f ns: %.0fx; goal <= %.0f ns", VolatileNs, AccessNs / VolatileNs,
                kAccessGoalNs));
  PrintRow("clear 1920x1200 through the bus window", Text("%.1f ms (%.1f ms)", Clear.WallMs, Clear.VirtualMs),
           Text("memset %.2f ms: %.0fx; goal <= %.0f ms", MemsetMs, Clear.WallMs / MemsetMs, kClearGoalMs));
  PrintRow("fill 1920x1200 through PCI I/O (BAR 0), best of 15",
           Text("%.2f ms (%.1f ms)", Fill.Work.WallMs, Fill.Work.VirtualMs),
           Text("memset %.2f ms: %.1fx", MemsetMs, Fill.Work.WallMs / MemsetMs));
  const double MemcpyShare = MemcpyMs / Blt.Work.WallMs;
  PrintRow(
      "Blt BufferToVideo 1920x1200, best of 15",
      Text("%.2f ms (%.1f ms)", Blt.Work.WallMs, Blt.Work.VirtualMs),
      Text("memcpy %.2f ms: %.2f of its bandwidth; goal >= %.1f", MemcpyMs, MemcpyShare, kBltGoalOfMemcpy));
  std::printf("  bring-up %s, %u memory tests; Blt %s, %s\n", host::StatusName(Status).c_str(),
              Chip.MemoryTests(), host::StatusName(BltStatus).c_str(), Drawn ? "drawn" : "NOT DRAWN");
  return Status == EFI_SUCCESS && BltStatus == EFI_SUCCESS && Drawn;
}

fs::path ImageDir() {
  const char *FromEnvironment = std::getenv("UEFI_IMAGE_DIR");
  return fs::path(FromEnvironment != nullptr && *FromEnvironment != '\0' ? FromEnvironment
                                                                         : UEFI_IMAGE_DIR_DEFAULT);
}

void PrintImageSizes() {
  std::printf("AArch64 images in %s against the flash budget:\n", ImageDir().c_str());
  uint64_t Total = 0;
  std::stringstream Modules(BOARD_MODULES);
  for (std::string Name; std::getline(Modules, Name, ',');) {
    std::error_code Error;
    const uint64_t Bytes = fs::file_size(ImageDir() / (Name + ".efi"), Error);
    if (Error) {
      std::printf("  %s.efi not built (Tools/scripts/build uefi-aarch64)\n", Name.c_str());
      continue;
    }
    Total += Bytes;
    auto Cap = std::find_if(std::begin(images::kImageCaps), std::end(images::kImageCaps),
                            [&](const images::ImageCap &Each) { return Each.Name == Name; });
    PrintRow((Name + ".efi").c_str(), Text("%.0f B", Bytes),
             Cap != std::end(images::kImageCaps) ? Text("cap %.0f B", Cap->Bytes) : "");
  }
  PrintRow("all together", Text("%.0f B", Total), Text("cap %.0f B", images::kModulesCapBytes));
}

} // namespace

int main() {
  const bool Booted = PrintBoot();
  const bool ScriptBoots = PrintBothWays("Board script's two boots (Tools/scripts/board)", BoardScriptBoots);
  const bool Mgmtprobe = PrintBothWays("boardsim run mgmtprobe", MgmtprobeRun);
  const bool Displayed = PrintDisplay();
  PrintImageSizes();
  return Booted && ScriptBoots && Mgmtprobe && Displayed ? 0 : kExitFailed;
}

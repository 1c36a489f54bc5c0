// The board's screen end to end: the board log drawn on the display as it appears, the picture
// kept at the hand-over and saved as screen.png, which must hold the frame buffer's pixels and
// show a known log line where the console put it. The display is Vidframe's Graphics Output
// after the board's boot, or (for the screen alone) a double drawing into the chip's frame
// buffer.
#include "ScratchFiles.h"
#include <BoardCheck.h>
#include <Protocol/DriverBinding.h>
#include <Vga/VgaScreen.h>

#include <gtest/gtest.h>
#include <png.h>

#include <filesystem>
#include <memory>

#include "GopDouble.h"
#include "ScreenText.h"

namespace {

constexpr char kKnownLine[] = "the display shows this line";

struct Picture {
  uint32_t Width = 0, Height = 0;
  std::vector<uint32_t> Pixels; // red << 16 | green << 8 | blue
};

Picture ReadPng(const std::filesystem::path &File) {
  png_image Image{};
  Image.version = PNG_IMAGE_VERSION;
  Picture Result;
  if (!png_image_begin_read_from_file(&Image, File.c_str())) {
    ADD_FAILURE() << File << ": " << Image.message;
    return Result;
  }
  Image.format = PNG_FORMAT_RGB;
  std::vector<png_byte> Rgb(PNG_IMAGE_SIZE(Image));
  EXPECT_TRUE(png_image_finish_read(&Image, nullptr, Rgb.data(), 0, nullptr)) << Image.message;
  Result.Width = Image.width;
  Result.Height = Image.height;
  for (size_t At = 0; At + 2 < Rgb.size(); At += 3) {
    Result.Pixels.push_back(uint32_t(Rgb[At]) << 16 | uint32_t(Rgb[At + 1]) << 8 | Rgb[At + 2]);
  }
  return Result;
}

class ScreenBoard {
public:
  ScreenBoard(std::map<std::string, std::string> Settings = {}) {
    Out_ = board_test::ScratchPath("screen");
    std::filesystem::remove_all(Out_);
    std::filesystem::create_directories(Out_);
    host::BoardOptions Options;
    Options.OutDir = Out_;
    Options.Settings = std::move(Settings);
    Options.Screen = {true, true};
    Built_ = host::Board::Build(Core_, Options);
  }
  ~ScreenBoard() {
    board_test::ExpectNoUnexpectedErrors(*Built_);
    if (!testing::Test::HasFailure()) { // a failed test leaves its pictures to look at
      std::error_code Ignored;
      std::filesystem::remove_all(Out_, Ignored);
    }
  }
  host::Platform &Core() { return Core_; }
  host::Board &Built() { return *Built_; }
  host::vga::VgaChip &Chip() { return Built_->Model<host::vga::VgaChip>("vga"); }
  host::vga::Screen &Screen() { return *Built_->Producer<host::vga::Screen>("vga-screen"); }
  std::filesystem::path Png() const { return Out_ / "screen.png"; }
  // A known line, then the hand-over and the end of the boot.
  void HandOver() {
    Core_.Log().Append("test", std::string(kKnownLine) + "\n", Core_.VirtualTimeNs());
    EXPECT_EQ(Core_.ExitBootServices(), EFI_SUCCESS);
    Built_->Finish();
  }
  // screen.png holds the frame buffer (Pitch pixels per line) and shows the known line above the
  // cursor, on a row of its own, and the first row shows text too.
  void ExpectPictureOfTheConsole(uint32_t Pitch) {
    const Picture Saved = ReadPng(Png());
    const host::vga::ScreenPicture &Kept = *Screen().Picture();
    ASSERT_EQ(Saved.Width, Kept.Width);
    ASSERT_EQ(Saved.Height, Kept.Height);
    const auto *Frame = reinterpret_cast<const uint32_t *>(Chip().FrameBuffer().data());
    for (uint32_t Y = 0; Y < Saved.Height; Y++) {
      for (uint32_t X = 0; X < Saved.Width; X++) {
        ASSERT_EQ(Saved.Pixels[Y * Saved.Width + X], Frame[Y * Pitch + X] & 0xFFFFFF) << X << "," << Y;
      }
    }
    const host::GraphicsConsole &Console = *Screen().Console();
    ASSERT_GE(Console.Row(), 2u);
    std::u16string Expected = u"[test] " + host::Utf8ToUtf16(kKnownLine);
    Expected.resize(Console.Columns(), u' ');
    bool Found = false;
    for (uint32_t Row = 0; Row < Console.Row() && !Found; Row++) {
      Found = screen_test::RowText(Saved.Pixels.data(), Saved.Width, Console.Columns(), Row) == Expected;
    }
    EXPECT_TRUE(Found) << "the known line is on no row above the cursor";
    EXPECT_NE(screen_test::RowText(Saved.Pixels.data(), Saved.Width, Console.Columns(), 0),
              std::u16string(Console.Columns(), u' '));
  }

private:
  host::Platform Core_;
  std::unique_ptr<host::Board> Built_;
  std::filesystem::path Out_;
};

TEST(Screen, ConsoleAndPictureOnADisplayDouble) {
  constexpr uint32_t Width = 640, Height = 480;
  ScreenBoard Board;
  host::PciIoProducer &PciIo = *Board.Built().Producer<host::PciIoProducer>("vga-pci-io");
  ASSERT_EQ(PciIo.Interface()->Attributes(PciIo.Interface(), EfiPciIoAttributeOperationEnable,
                                          EFI_PCI_IO_ATTRIBUTE_MEMORY, nullptr),
            EFI_SUCCESS);
  screen_test::GopDouble Output(reinterpret_cast<UINT32 *>(Board.Chip().FrameBuffer().data()), Width, Height,
                                Width, Board.Chip().Bar(0).Base);
  EFI_HANDLE Handle = nullptr;
  ASSERT_EQ(Board.Core().BootServices()->InstallProtocolInterface(&Handle, &gEfiGraphicsOutputProtocolGuid,
                                                                  EFI_NATIVE_INTERFACE, Output.Protocol()),
            EFI_SUCCESS);
  EXPECT_TRUE(Board.Core().Log().Contains("mode 0: 640x480, set"));
  EXPECT_TRUE(Board.Core().Log().Contains("EDID source: none"));
  Board.HandOver();
  Board.ExpectPictureOfTheConsole(Width);
}

TEST(Screen, NoGraphicsOutputNoPicture) {
  ScreenBoard Board;
  Board.HandOver();
  EXPECT_FALSE(std::filesystem::exists(Board.Png()));
  EXPECT_TRUE(Board.Core().Log().Contains("no screen.png: no Graphics Output was installed"));
}

bool VidframeIsDriverModel(host::Platform &Core) {
  UINTN Count = 0;
  EFI_HANDLE *Handles = nullptr;
  if (EFI_ERROR(Core.BootServices()->LocateHandleBuffer(ByProtocol, &gEfiDriverBindingProtocolGuid, nullptr,
                                                        &Count, &Handles))) {
    return false;
  }
  bool Found = false;
  for (UINTN Index = 0; Index < Count; Index++) {
    Found = Found || Core.ImageName(Handles[Index]) == "Vidframe";
  }
  Core.BootServices()->FreePool(Handles);
  return Found;
}

// The board's own boot: Vidframe brings the chip up (its memory calibrated, or set up by the
// BMC), reads the monitor's EDID (or the override's), is connected, and its Graphics Output
// carries the console.
TEST(Screen, BoardBootShowsItsLog) {
  const std::string Fixtures = EDID_FIXTURES;
  struct Case {
    const char *Name;
    std::map<std::string, std::string> Settings;
    const char *EdidSource;
  };
  const Case Cases[] = {
      {"calibrated memory, the board's monitor", {}, "EDID source: monitor"},
      {"BMC memory, a 1280x1024 monitor",
       {{"vga-bmc", ""}, {"monitor", Fixtures + "/square-1280x1024.edid"}},
       "EDID source: monitor"},
      {"BMC memory, no monitor", {{"vga-bmc", ""}, {"monitor", "none"}}, "EDID source: none"},
      {"a monitor whose EDID fails its checksum",
       {{"monitor", Fixtures + "/bad-checksum.edid"}},
       "EDID source: bad checksum"},
      {"an EDID override",
       {{"vga-bmc", ""}, {"edid-override", Fixtures + "/wide-1920x1200.edid"}},
       "EDID source: override"},
  };
  for (const Case &C : Cases) {
    SCOPED_TRACE(C.Name);
    ScreenBoard Board(C.Settings);
    for (const host::ImageResult &Result : Board.Built().Dispatch()) {
      ASSERT_FALSE(Result.Halted) << Result.Halted->Text;
    }
    ASSERT_TRUE(Board.Built().ConnectAllControllers());
    if (!VidframeIsDriverModel(Board.Core())) {
      GTEST_SKIP() << "Vidframe installs no Driver Binding in this build";
    }
    ASSERT_NE(Board.Screen().Output(), nullptr);
    EXPECT_EQ(Board.Chip().MemoryTests() != 0, C.Settings.count("vga-bmc") == 0);
    EXPECT_TRUE(Board.Core().Log().Contains(C.EdidSource));
    EXPECT_TRUE(Board.Core().Log().Contains("mode 0: ")) << "the modes are listed";
    Board.HandOver();
    Board.ExpectPictureOfTheConsole(Board.Screen().Output()->Mode->Info->PixelsPerScanLine);
  }
}

} // namespace

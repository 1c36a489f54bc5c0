// The crossings between host code and the AArch64 images: one boot of the board with every
// module as its image, where each row names a crossing and the text only that crossing leaves
// in the board log; and the debug path's argument lists, past the argument registers.
#include <Board.h>
#include <BoardCheck.h>
#include <HostPlatform.h>
#include <Library/PrintLib.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

namespace {

constexpr char kImageDir[] = UEFI_IMAGE_DIR_DEFAULT;

host::PlatformOptions Aarch64Boot() {
  host::PlatformOptions Options;
  Options.Aarch64Images = true;
  Options.Aarch64ImageDir = kImageDir;
  return Options;
}

bool Built(const char *Image) {
  return std::filesystem::exists(std::string(kImageDir) + "/" + Image + ".efi");
}

TEST(Crossings, EveryCrossingOfTheBoardsBoot) {
  if (!Built("Vidframe") || !Built("Slabsize")) {
    GTEST_SKIP() << "the AArch64 images are not built (Tools/scripts/build uefi-aarch64)";
  }
  host::Platform Core(Aarch64Boot());
  host::BoardOptions Settings;
  Settings.Screen.Capture = Settings.Screen.Console = true;
  std::unique_ptr<host::Board> Board = host::Board::Build(Core, Settings);
  for (const host::ImageResult &Result : Board->Dispatch()) {
    ASSERT_FALSE(Result.Halted.has_value()) << Result.Halted->what();
  }
  ASSERT_TRUE(Board->ConnectAllControllers());
  ASSERT_EQ(Core.ExitBootServices(), EFI_SUCCESS);
  Board->Finish();
  const struct {
    const char *Crossing;
    const char *Text;
  } Rows[] = {
      {"an image's entry, called by the core", "[core] Regionhold returned EFI_SUCCESS"},
      {"the DXE services' stubs, found through the image's configuration table",
       "[Regionhold] GCD: AllocMemSpace B=10510000, L=3000, i=1, S=EFI_SUCCESS"},
      {"a producer's member called by the core on an image's behalf (CPU architectural)",
       "[cpu] SetMemoryAttributes 0x10510000 length 0x3000"},
      {"the PCI enumerator calling the root bridge members of an image", "[Bridgemimic] PciEm:"},
      {"Driver Binding Supported and Start in an image, called by the core",
       "connect: Vidframe Start on handle"},
      {"nested: inside Vidframe's install the screen's notify function calls its QueryMode",
       "[screen]   mode 0: 640x480"},
      {"the screen's console drawing through Vidframe's Blt", "console on the display: 80x30"},
      {"an image's notify function, signalled at ExitBootServices", "L3c Cache: 8MB"},
  };
  const std::string Log = Core.Log().Text();
  for (const auto &Row : Rows) {
    EXPECT_NE(Log.find(Row.Text), std::string::npos) << Row.Crossing << ": no \"" << Row.Text << "\"";
  }
  EXPECT_EQ(Log.find("halt"), std::string::npos);
  board_test::ExpectNoUnexpectedErrors(*Board);
}

// DebugPrintProbe's messages as its image hands them to the debug output producer (an AAPCS64
// argument list, fourteen arguments in one of them) read as the host's formatter makes them of
// the same arguments; its last line comes through the console.
TEST(Crossings, DebugPrintArgumentListsReachTheFormatterWhole) {
  if (!Built("DebugPrintProbe")) {
    GTEST_SKIP() << "DebugPrintProbe.efi is not built (Tools/scripts/build uefi-aarch64)";
  }
  CHAR8 Expected[3][256];
  AsciiSPrint(Expected[0], sizeof(Expected[0]), "DebugPrintProbe: no arguments\n");
  AsciiSPrint(Expected[1], sizeof(Expected[1]), "DebugPrintProbe: a=%a d=%d x=%x lx=%lx r=%r\n", "text", -42,
              0xBEEFu, 0x123456789ABCDEF0ull, EFI_NOT_FOUND);
  AsciiSPrint(Expected[2], sizeof(Expected[2]),
              "DebugPrintProbe: %a %d %x %lx %r %a %d %x %lx %r %08x [%*d] %c\n", "one", 1, 0x2u,
              0x300000004ull, EFI_SUCCESS, "six", -7, 0xFFFFFFFFu, 0xFEDCBA9876543210ull, EFI_UNSUPPORTED,
              0xABu, 6, 42, 'z');
  host::Platform Core(Aarch64Boot());
  std::unique_ptr<host::Board> Board = host::Board::Build(Core, {});
  const host::ImageResult Result = Core.RunModule("DebugPrintProbe");
  ASSERT_FALSE(Result.Halted.has_value()) << Result.Halted->what();
  EXPECT_EQ(Result.Status, EFI_SUCCESS);
  std::string Printed;
  for (const host::LogLine &Line : Core.Log().Lines()) {
    if (Line.Source == "DebugPrintProbe") {
      Printed += Line.Text + "\n";
    }
  }
  EXPECT_EQ(Printed, std::string(Expected[0]) + Expected[1] + Expected[2] + "DebugPrintProbe: done\n");
  board_test::ExpectNoUnexpectedErrors(*Board);
}

} // namespace

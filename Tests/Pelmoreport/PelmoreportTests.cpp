// Pelmoreport run as the shell runs it: it reads the management processor's blocks only once
// the platform has declared them, prints the report with its tabs expanded, and returns the
// library's status when there is no usable firmware.
#include <Board.h>
#include <BoardCheck.h>
#include <HostPlatform.h>

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(Pelmoreport, PrintsTheReportOnlyFromDeclaredBlocksAndUsableFirmware) {
  const struct Case {
    const char *Name;
    bool Claimed;            // Regionhold has declared the blocks
    const char *StatusWords; // the status region's words ("" for the board's)
    EFI_STATUS Status;
    std::u16string Console; // what ConOut shows first
  } Cases[] = {
      {"blocks not declared", false, "", EFI_NOT_READY,
       u"no management-processor firmware report: its blocks are not in the memory-space map\r\n"},
      {"no usable firmware", true, "0x1360=0x04000013", EFI_UNSUPPORTED, u""},
      {"report", true, "", EFI_SUCCESS, u"Pelmo FW:\n\r  Ver: 1.3 (build "},
  };
  for (const Case &C : Cases) {
    SCOPED_TRACE(C.Name);
    host::Platform Core;
    host::BoardOptions Options;
    if (*C.StatusWords != '\0') {
      Options.Settings["pelmo-status"] = C.StatusWords;
    }
    std::unique_ptr<host::Board> Built = host::Board::Build(Core, Options);
    if (C.Claimed) {
      ASSERT_EQ(Core.RunModule("Regionhold").Status, EFI_SUCCESS);
    }
    EXPECT_EQ(Core.RunModule("Pelmoreport").Status, C.Status);
    const std::u16string Console = Core.ConsoleText();
    EXPECT_EQ(Console.substr(0, C.Console.size()), C.Console);
    EXPECT_EQ(C.Console.empty(), Console.empty());
    EXPECT_EQ(Console.find(u'\t'), std::u16string::npos) << "a text console has no tab stops";
    board_test::ExpectNoUnexpectedErrors(*Built);
  }
}

} // namespace

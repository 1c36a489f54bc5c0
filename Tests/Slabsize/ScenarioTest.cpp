// End to end on the emulated board: `boardsim boot` shows the memory-space map after
// Regionhold, and the serial console after the hand-over shows the L3 size that the efuse
// option allows.
#include "ScratchFiles.h"
#include "TextFiles.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

using board_test::Count;
using board_test::ReadFile;

TEST(RegionslabScenario, BootShowsTheClaimedRangesAndTheL3Report) {
  struct Case {
    std::string Options;
    std::string Serial;
  };
  const board_test::Scratch Root("regionslab-scenario");
  fs::create_directories(Root.Path());
  const fs::path Dir = Root.Path() / "boot";
  for (const Case &Test :
       {Case{"", "L3c Cache: 8MB\n"}, Case{"--efuse 0xC00 --cpu-revision r0p0:1", "L3c Cache: 4MB\n"}}) {
    SCOPED_TRACE(Test.Options);
    fs::remove_all(Dir);
    ASSERT_EQ(board_test::RunToFile(BOARDSIM, "boot --quiet --out '" + Dir.string() + "' " + Test.Options,
                                    Dir.string() + ".txt"),
              0)
        << ReadFile(Dir.string() + ".txt");
    const std::string Log = ReadFile(Dir / "board.log");
    const size_t Map = Log.find("GCD memory space map:");
    ASSERT_NE(Map, std::string::npos) << Log;
    EXPECT_LT(Log.find("[core] Regionhold returned EFI_SUCCESS"), Map);
    // Six rows, of which 3 and 4 touch: five descriptors owned by the driver, runtime MMIO.
    EXPECT_EQ(Count(Log, "MMIO         800000000000100D 8000000000000000 Regionhold"), 5u) << Log;
    EXPECT_NE(Log.find("processor operations: ArmDisableInterrupts, ArmDisableFiq, ArmCleanDataCache, "
                       "ArmDisableDataCache, ArmInvalidateDataCache, ArmDisableInstructionCache, "
                       "ArmInvalidateInstructionCache, ArmDisableMmu"),
              std::string::npos)
        << Log;
    EXPECT_EQ(ReadFile(Dir / "serial.txt"), Test.Serial);
    EXPECT_NE(Log.find("serial console:\n[board] " + Test.Serial), std::string::npos) << Log;
  }
}

} // namespace

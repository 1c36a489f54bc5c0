// Fault knobs of the chip: every wait that would otherwise never end runs out at its bound in
// virtual time, and the bring-up reports EFI_DEVICE_ERROR with a message on StdErr.
#include "VidframeTestBoard.h"

#include <gtest/gtest.h>

namespace vidframe_test {
namespace {

TEST(VidframeFaults, EachStuckWaitEndsWithDeviceErrorAtItsBound) {
  constexpr uint64_t Ms = 1'000'000;
  struct Case {
    const char *Name;
    Knobs Settings, Faults;
    const char *Message;
    uint64_t AtLeastNs, AtMostNs; // virtual time of the bring-up
  } Cases[] = {
      // 100000 polls of CRD0, each an indexed read with its 10 us stall.
      {"BMC memory never ready",
       {{"vga-bmc", ""}},
       {{"vga-memory-never-ready", ""}},
       "did not report the chip memory ready",
       1000 * Ms,
       1200 * Ms},
      // 100000 reads of MCR1C through the bus window (300 ns each).
      {"controller never settles",
       {},
       {{"vga-memory-never-ready", ""}},
       "memory controller did not settle",
       30 * Ms,
       40 * Ms},
      // The memory tests fail everywhere: 16 sweeps of the data-line scan.
      {"DLL never locks",
       {},
       {{"vga-dll-never-locks", ""}},
       "no usable data-line delay window",
       0,
       30'000 * Ms},
      {"no passing setting", {}, {{"vga-no-eye", ""}}, "no usable data-line delay window", 0, 30'000 * Ms},
      // The first test polls 5000001 times, then the set-up gives up.
      {"test engine never finishes",
       {},
       {{"vga-test-engine-stuck", ""}},
       "memory test engine does not finish",
       1500 * Ms,
       1600 * Ms},
  };
  for (const Case &C : Cases) {
    SCOPED_TRACE(C.Name);
    ChipBoard Board(C.Settings, C.Faults);
    Board.ExpectErrors({"memory test started before"});
    const uint64_t Start = Board.Core().VirtualTimeNs();
    EXPECT_EQ(Board.InitController(), EFI_DEVICE_ERROR);
    const uint64_t Elapsed = Board.Core().VirtualTimeNs() - Start;
    EXPECT_GE(Elapsed, C.AtLeastNs);
    EXPECT_LE(Elapsed, C.AtMostNs);
    EXPECT_NE(Board.StdErr().find(C.Message), std::string::npos) << Board.StdErr();
    EXPECT_NE(Board.StdErr().find("bring-up failed: EFI_DEVICE_ERROR"), std::string::npos) << Board.StdErr();
    // Nothing after the failure: the BMC is not told the memory is ready.
    EXPECT_EQ(Board.Chip().Scu(0x40) & 0x40, 0u);
  }
}

// One memory test failing anywhere in the set-up (the calibration's first, its last, and
// points between) ends in a set-up that works around it or in a reported device error, within
// the bounds of a clean set-up's tests.
TEST(VidframeFaults, OneFailedMemoryTestEndsCleanly) {
  uint64_t Tests = 0;
  {
    ChipBoard Clean;
    ASSERT_EQ(Clean.InitController(), EFI_SUCCESS);
    Tests = Clean.Chip().MemoryTests();
  }
  ASSERT_GT(Tests, 1u);
  constexpr uint64_t Points = 8;
  for (uint64_t Point = 0; Point < Points; Point++) {
    const uint64_t Failing = 1 + Point * (Tests - 1) / (Points - 1);
    SCOPED_TRACE(Failing);
    ChipBoard Board({}, {{"vga-memory-test-fails", std::to_string(Failing)}});
    const EFI_STATUS Status = Board.InitController();
    EXPECT_TRUE(Status == EFI_SUCCESS || Status == EFI_DEVICE_ERROR) << Status;
    EXPECT_EQ(Status == EFI_DEVICE_ERROR, Board.StdErr().find("bring-up failed") != std::string::npos)
        << Board.StdErr();
    EXPECT_LE(Board.Chip().MemoryTests(), 2 * Tests);
  }
}

} // namespace
} // namespace vidframe_test

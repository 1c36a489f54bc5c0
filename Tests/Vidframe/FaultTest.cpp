// Fault knobs of the chip: every wait that would otherwise never end runs out at its bound in
// virtual time, and the bring-up reports EFI_DEVICE_ERROR with a message on StdErr.
#include "VidframeTestBoard.h"

#include <gtest/gtest.h>

namespace vidframe_test {
namespace {

using host::vga::VgaChipConfig;

TEST(VidframeFaults, EachStuckWaitEndsWithDeviceErrorAtItsBound) {
  constexpr uint64_t Ms = 1'000'000;
  struct Case {
    const char *Name;
    std::function<void(VgaChipConfig &)> Knob;
    const char *Message;
    uint64_t AtLeastNs, AtMostNs; // virtual time of the bring-up
  } Cases[] = {
      // 100000 polls of CRD0, each an indexed read with its 10 us stall.
      {"BMC memory never ready",
       [](VgaChipConfig &C) {
         C.BmcInitialised = true;
         C.MemoryNeverReady = true;
       },
       "did not report the chip memory ready", 1000 * Ms, 1200 * Ms},
      // 100000 reads of MCR1C through the bus window (300 ns each).
      {"controller never settles", [](VgaChipConfig &C) { C.MemoryNeverReady = true; },
       "memory controller did not settle", 30 * Ms, 40 * Ms},
      // The memory tests fail everywhere: 16 sweeps of the data-line scan.
      {"DLL never locks", [](VgaChipConfig &C) { C.DllNeverLocks = true; },
       "no usable data-line delay window", 0, 30'000 * Ms},
      {"no passing setting", [](VgaChipConfig &C) { C.NoEye = true; }, "no usable data-line delay window", 0,
       30'000 * Ms},
      // The first test polls 5000001 times, then the set-up gives up.
      {"test engine never finishes", [](VgaChipConfig &C) { C.TestEngineStuck = true; },
       "memory test engine does not finish", 1500 * Ms, 1600 * Ms},
  };
  for (const Case &C : Cases) {
    SCOPED_TRACE(C.Name);
    VgaChipConfig Config = VgaChipConfig::Default();
    C.Knob(Config);
    ChipBoard Board(Config);
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

} // namespace
} // namespace vidframe_test

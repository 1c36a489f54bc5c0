// The chip-memory set-up against the model: strap decoding and the power-up sequence of each
// memory type, the DLL lock, and the calibration's choices against the eyes the test sets.
#include "VidframeTestBoard.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace vidframe_test {
namespace {

using host::vga::VgaChipConfig;

std::vector<uint32_t> First(std::vector<uint32_t> Values, size_t Count) {
  Values.resize(std::min(Values.size(), Count));
  return Values;
}

// Position of the first (offset, value) log entry that matches, or the log size.
size_t Position(const host::vga::VgaChip &Chip, const std::function<bool(uint32_t, uint32_t)> &Match,
                bool Last = false) {
  const auto &Log = Chip.McrLog();
  size_t Found = Log.size();
  for (size_t Index = 0; Index < Log.size(); Index++) {
    if (Match(Log[Index].first, Log[Index].second)) {
      Found = Index;
      if (!Last) {
        break;
      }
    }
  }
  return Found;
}

TEST(VidframeDram, StrapsSelectTheParametersAndThePowerUpSequence) {
  struct Case {
    bool Ddr2;
    unsigned SizeCode, FrameBufferMiB, TimingStrap;
    uint32_t Configuration, Timing2;
    std::vector<uint32_t> ModeRegister, ExtendedModeRegister, PowerControl;
    uint32_t Termination;
  } Cases[] = {
      // DDR2: the off-chip driver calibration (0x380) and the final 0x7FFF5C01.
      {true,
       1,
       8,
       0,
       0x100,
       0xCC11B016,
       {0xD42, 0xC42},
       {0x40, 0x3C0, 0x40},
       {0x00, 0x5C08, 0x7FFF5C01},
       0x503},
      {true,
       1,
       64,
       0,
       0x10C,
       0xCC11B016,
       {0xD42, 0xC42},
       {0x40, 0x3C0, 0x40},
       {0x00, 0x5C08, 0x7FFF5C01},
       0x503},
      {true,
       3,
       32,
       2,
       0x12A,
       0xCC33B02B,
       {0xD62, 0xC62},
       {0x40, 0x3C0, 0x40},
       {0x00, 0x5C08, 0x7FFF5C01},
       0x503},
      {false, 1, 8, 0, 0x130, 0xCC329617, {0x4001710, 0x4001610}, {0x0}, {0x40, 0x5C08, 0x5C01}, 0x303},
      {false, 2, 8, 0, 0x131, 0xCC329617, {0x4001710, 0x4001610}, {0x0}, {0x40, 0x5C08, 0x5C01}, 0x303},
      {false, 3, 8, 0, 0x132, 0xCC329622, {0x4001710, 0x4001610}, {0x0}, {0x40, 0x5C08, 0x5C01}, 0x303},
      {false, 1, 16, 1, 0x134, 0xCC339617, {0x4001720, 0x4001620}, {0x0}, {0x40, 0x5C08, 0x5C01}, 0x303},
      {false, 4, 64, 3, 0x13F, 0xCC45963F, {0x4081740, 0x4081640}, {0x0}, {0x40, 0x5C08, 0x5C01}, 0x303},
  };
  for (const Case &C : Cases) {
    SCOPED_TRACE(testing::Message() << (C.Ddr2 ? "DDR2" : "DDR3") << " size " << C.SizeCode << " fb "
                                    << C.FrameBufferMiB << " t " << C.TimingStrap);
    ChipBoard Board(Knobs{{"vga-memory", C.Ddr2 ? "DDR2" : "DDR3"},
                          {"vga-size-code", std::to_string(C.SizeCode)},
                          {"vga-framebuffer", std::to_string(C.FrameBufferMiB)},
                          {"vga-timing-strap", std::to_string(C.TimingStrap)}});
    ASSERT_EQ(Board.InitController(), EFI_SUCCESS);
    const host::vga::VgaChip &Chip = Board.Chip();
    EXPECT_EQ(Chip.Scu(0x20), 0x3F1u); // 396 MHz
    EXPECT_EQ(Chip.McrWrites(0x04), std::vector<uint32_t>{C.Configuration});
    EXPECT_EQ(Chip.McrWrites(0x14), std::vector<uint32_t>{C.Timing2});
    EXPECT_EQ(Chip.McrWrites(0x10), std::vector<uint32_t>{C.Ddr2 ? 0x33302714u : 0x33302825u});
    EXPECT_EQ(Chip.McrWrites(0x2C), C.ModeRegister);
    EXPECT_EQ(Chip.McrWrites(0x30), C.ExtendedModeRegister);
    EXPECT_EQ(Chip.McrWrites(0x28), (std::vector<uint32_t>(C.Ddr2 ? std::vector<uint32_t>{5, 7, 3, 1, 1, 3, 3}
                                                                  : std::vector<uint32_t>{5, 7, 3, 1, 1})));
    EXPECT_EQ(First(Chip.McrWrites(0x0C), 3), C.PowerControl);
    EXPECT_EQ(Chip.McrWrites(0x34).back(), C.Termination);
    EXPECT_EQ(Chip.McrWrites(0x18).front(), 0x100u);
    EXPECT_EQ(Chip.McrWrites(0x18)[1], C.Ddr2 ? 0x4040A130u : 0x4040A170u);
    // The PLL word goes in before the calibration for DDR2, after it for DDR3.
    const size_t Pll = Position(Chip, [](uint32_t At, uint32_t) { return At == 0x120; });
    const size_t FirstTest = Position(Chip, [](uint32_t At, uint32_t V) { return At == 0x70 && V != 0; });
    const size_t LastTest = Position(
        Chip, [](uint32_t At, uint32_t V) { return At == 0x70 && V != 0; }, true);
    EXPECT_EQ(Chip.McrWrites(0x120), std::vector<uint32_t>{0x5040});
    EXPECT_TRUE(C.Ddr2 ? Pll < FirstTest : Pll > LastTest);
    // The blocks of the power-up sequence, each in its order.
    const auto &Log = Chip.McrLog();
    for (const std::vector<uint32_t> &Block :
         {std::vector<uint32_t>{0x64, 0x34, 0x18, 0x24, 0x64, 0x68, 0x64},
          std::vector<uint32_t>{0x04, 0x08, 0x10, 0x14, 0x20, 0x80, 0x84, 0x88, 0x18, 0x18},
          std::vector<uint32_t>{0x38, 0x40, 0x44, 0x48, 0x4C, 0x50, 0x50, 0x54, 0x60, 0x6C, 0x70, 0x74, 0x78,
                                0x7C}}) {
      const size_t At = Position(Chip, [&](uint32_t Offset, uint32_t) { return Offset == Block[0]; });
      std::vector<uint32_t> Offsets;
      for (size_t Index = At; Index < std::min(Log.size(), At + Block.size()); Index++) {
        Offsets.push_back(Log[Index].first);
      }
      EXPECT_EQ(Offsets, Block);
    }
  }
}

TEST(VidframeDram, TheDllStepsUntilItLocksOrReachesTheStepLimit) {
  struct Case {
    uint8_t LockStep;
    bool NeverLocks;
    std::vector<uint8_t> Steps; // low bytes of MCR64 the loop tries, from the start value 0x4C
    uint32_t Recorded;          // MCR68 & 0xFFFF: bits 8-15 = step / 4 + 5 of the last step
    const char *Status = "6,9"; // MCR1C bits 8-15 locked and not locked
  } Cases[] = {
      {0x4C, false, {}, 0x1800},
      {0x54, false, {0x50, 0x54}, (0x54 / 4 + 5) << 8},
      {0x60, false, {0x50, 0x54, 0x58, 0x5C, 0x60}, (0x60 / 4 + 5) << 8},
      {0x54, true, {0x50, 0x54, 0x58, 0x5C, 0x60}, (0x60 / 4 + 5) << 8}, // 0x64 would pass the limit of 96
      // Status values at each edge of the lock test: bit 3 clear, bits 0-2 at least 2, at least 4.
      {0x54, false, {0x50, 0x54}, (0x54 / 4 + 5) << 8, "4,0x0E"},
      {0x54, false, {0x50, 0x54}, (0x54 / 4 + 5) << 8, "0x12,0x11"},
      {0x54, false, {0x50, 0x54}, (0x54 / 4 + 5) << 8, "6,3"},
  };
  for (const Case &C : Cases) {
    SCOPED_TRACE(testing::Message() << "lock at " << int(C.LockStep) << (C.NeverLocks ? " never" : ""));
    ChipBoard Board(Knobs{{"vga-dll-lock-step", std::to_string(C.LockStep)}, {"vga-dll-status", C.Status}},
                    C.NeverLocks ? Knobs{{"vga-dll-never-locks", ""}} : Knobs{});
    Board.ExpectErrors({"memory test started before the controller settled and its DLL locked"});
    // A DLL that does not lock leaves memory the tests cannot use: the set-up fails.
    EXPECT_EQ(Board.InitController(), C.NeverLocks ? EFI_DEVICE_ERROR : EFI_SUCCESS);
    std::vector<uint8_t> Steps;
    for (uint32_t Value : Board.Chip().McrWrites(0x64)) {
      if ((Value & 0xC0000) == 0 && (Value & 0xFF) > 0x4C) {
        Steps.push_back(static_cast<uint8_t>(Value));
      }
    }
    EXPECT_EQ(Steps, C.Steps);
    EXPECT_EQ(Board.Chip().Sram(0x58), C.Recorded);
  }
}

// The settings a delay scan finds: the window of each data line, and per byte lane the settings
// where all eight of its lines pass.
struct LaneWindow {
  uint32_t Lo, Hi;
  uint32_t Recorded() const { return Lo | (Hi << 8) | (((Lo + Hi) / 2) << 16); }
};

LaneWindow ExpectedLane(const VgaChipConfig &Config, unsigned Lane) {
  LaneWindow Window{0, 255};
  for (unsigned Line = 8 * Lane; Line < 8 * Lane + 8; Line++) {
    Window.Lo = std::max<uint32_t>(Window.Lo, Config.LineEye[Line].Lo);
    Window.Hi = std::min<uint32_t>(Window.Hi, Config.LineEye[Line].Hi);
  }
  return Window;
}

TEST(VidframeDram, CalibrationChoosesWhatTheEyesPredict) {
  struct Case {
    const char *Name;
    Knobs Eyes;
    unsigned Phase, Half;
    std::vector<unsigned> PhasesNotTried;
  } Cases[] = {
      // Phases 0, 2 find nothing and skip 1, 3; phase 4 half 1 is the only window; 5 skips 6.
      {"one window", {{"vga-strobe-eye", "4.1=20-50"}}, 4, 1, {1, 3, 6}},
      // The board's eyes: windows narrow away from phase 9, passes accumulate over all phases;
      // phase 6 has 10 passing settings beyond its window on each side, more than any other.
      {"board eyes", {}, 6, 0, {1, 3, 5, 14}},
      // Phase 2 finds nothing, so phase 3 with the only window is never tried.
      {"skipped phase", {{"vga-strobe-eye", "3.0=20-50"}}, 0, 0, {1, 3}},
      {"equal lines", {{"vga-line-eye", "10-40"}}, 6, 0, {}},
      // The high lane passes from 30 only: from 10 to 29 the lane scan gives 1 (low lane only).
      {"lanes apart",
       {{"vga-line-eye", "10-40,10-40,10-40,10-40,10-40,10-40,10-40,10-40,"
                         "30-60,30-60,30-60,30-60,30-60,30-60,30-60,30-60"}},
       6,
       0,
       {}},
  };
  for (const Case &C : Cases) {
    SCOPED_TRACE(C.Name);
    ChipBoard Board(C.Eyes);
    ASSERT_EQ(Board.InitController(), EFI_SUCCESS) << Board.StdErr();
    const host::vga::VgaChip &Chip = Board.Chip();
    const VgaChipConfig &Config = Chip.Config();
    EXPECT_EQ((Chip.Mcr(0x18) >> 16) & 0x1F, C.Phase);
    EXPECT_EQ((Chip.Mcr(0x18) >> 23) & 1, C.Half);
    for (unsigned Phase : C.PhasesNotTried) {
      for (const auto &[Tried, Half] : Chip.StrobeSettings()) {
        EXPECT_NE(Tried, Phase);
      }
    }
    for (unsigned Line = 0; Line < host::vga::DataLines; Line++) {
      EXPECT_EQ(Chip.Sram(0x10 + 4 * Line), Config.LineEye[Line].Lo | (Config.LineEye[Line].Hi << 8)) << Line;
    }
    const LaneWindow Low = ExpectedLane(Config, 0), High = ExpectedLane(Config, 1);
    EXPECT_EQ(Chip.Sram(0x08), Low.Recorded());
    EXPECT_EQ(Chip.Sram(0x0C), High.Recorded());
    const uint32_t Centres = ((High.Lo + High.Hi) / 2 << 8) + (Low.Lo + Low.Hi) / 2;
    EXPECT_EQ(Chip.Mcr(0x68), Chip.Sram(0x58) | (Centres << 16));
  }
}

TEST(VidframeDram, LineAdjustmentsFollowTheAverageLowEnd) {
  // Every line opening at the same setting: low lines need no adjustment, high lines take the
  // code 7 (one step back), the value the register holds after reset.
  {
    ChipBoard Board(Knobs{{"vga-line-eye", "10-40"}});
    ASSERT_EQ(Board.InitController(), EFI_SUCCESS);
    EXPECT_EQ(Board.Chip().Mcr(0x80), 0u);
    EXPECT_EQ(Board.Chip().Mcr(0x84), 0x00FFFFFFu);
  }

  // Line 0 opening 16 settings late moves the average low end to 11: line 0 is 15 above it
  // and takes the largest step back (-4, code 4); line 8, one below, keeps code 7.
  std::string Lines = "26-40";
  for (int Line = 1; Line < 16; Line++) {
    Lines += ",10-40";
  }
  ChipBoard Skewed(Knobs{{"vga-line-eye", Lines}});
  ASSERT_EQ(Skewed.InitController(), EFI_SUCCESS);
  EXPECT_EQ(Skewed.Chip().Mcr(0x80) & 7, 4u);
  EXPECT_EQ(Skewed.Chip().Mcr(0x84) & 7, 7u);
}

} // namespace
} // namespace vidframe_test

// Controller bring-up: the memory hand-shake with the BMC, the extended register defaults, the
// register access sequences and the bandwidth figure.
#include "VidframeTestBoard.h"

#include <gtest/gtest.h>

namespace vidframe_test {
namespace {

using host::vga::RegisterAccess;

constexpr uint32_t Scu(uint32_t Offset) {
  return 0x1E6E2000 + Offset;
}

void ExpectExtendedDefaults(host::vga::VgaChip &Chip) {
  EXPECT_EQ(Chip.Crtc(0x80), 0xA8);
  EXPECT_EQ(Chip.Crtc(0xA0), 0x0F);
  EXPECT_EQ(Chip.Crtc(0xA1), 0x04);
  EXPECT_EQ(Chip.Crtc(0xA2), 0x1F);
  EXPECT_EQ(Chip.Crtc(0x8C), 0x01);
  EXPECT_EQ(Chip.Crtc(0x90), 0x08);
  EXPECT_EQ(Chip.Crtc(0xB7), 0xF0);
  EXPECT_EQ(Chip.Crtc(0xB6) & 0x24, 0x24);
  EXPECT_EQ(Chip.Crtc(0xA4) & 0x01, 0x01);
  EXPECT_EQ(Chip.Engine(0x8044), 0xF2000000u);
  EXPECT_EQ(Chip.MiscOutput(), 0x23);
}

TEST(VidframeBringUp, BmcInitialisedOrNotTheMemoryIsReadyOnceAndTheFigureFollowsTheClock) {
  struct Case {
    bool Bmc;
    bool HalfWidth;
    bool Reference14MHz;
    uint8_t Cr98; // bandwidth figure: 2 transfers x bus bytes x MHz x 40 % / 8, from M = 396 or 472 MHz
    const char *Pll = nullptr; // the PLL word the BMC left (default 0x5040)
  } Cases[] = {
      {true, false, false, 158}, // 12 MHz x 132 / 4000 = 396 MHz; 32-bit: 3168 x 0.4 = 1267 / 8
      {true, true, false, 79},   // 16-bit: 1584 x 0.4 = 633 / 8
      {true, false, true, 188},  // 14.318 MHz x 132 / 4000 = 472 MHz; 3776 x 0.4 = 1510 / 8
      {true, true, true, 94},
      {false, false, false, 158}, // the memory set-up programs the PLL word 0x5040 itself
      // Each post divider (PLL bits 14-15: 1, 2, 2, 4) and a denominator.
      {true, true, false, 158, "0x1040"},  // 12 MHz x 132 / 2000 = 792 MHz; 16-bit: 3168 x 0.4 = 1267 / 8
      {true, false, false, 158, "0x9040"}, // 396 MHz
      {true, false, false, 79, "0xD040"},  // 12 MHz x 132 / 8000 = 198 MHz; 1584 x 0.4 = 633 / 8
      {true, false, false, 105, "0x5041"}, // 12 MHz x 132 / (2 x 3000) = 264 MHz; 2112 x 0.4 = 844 / 8
  };
  for (const Case &C : Cases) {
    SCOPED_TRACE(testing::Message() << "bmc " << C.Bmc << " half " << C.HalfWidth << " 14MHz "
                                    << C.Reference14MHz << " PLL " << (C.Pll ? C.Pll : "0x5040"));
    Knobs Settings;
    for (auto [Flag, Name] : {std::pair{C.Bmc, "vga-bmc"},
                              {C.HalfWidth, "vga-half-width"},
                              {C.Reference14MHz, "vga-reference-14mhz"}}) {
      if (Flag) {
        Settings[Name] = "";
      }
    }
    if (C.Pll != nullptr) {
      Settings["vga-memory-pll"] = C.Pll;
    }
    ChipBoard Board(Settings);
    ASSERT_EQ(Board.InitController(), EFI_SUCCESS);
    host::vga::VgaChip &Chip = Board.Chip();
    EXPECT_EQ(Chip.Crtc(0x98), C.Cr98);
    ExpectExtendedDefaults(Chip);
    // The memory set-up runs exactly when the BMC has not done it, and tells the BMC.
    EXPECT_EQ(Chip.ConfigurationWrites(), C.Bmc ? 0u : 1u);
    EXPECT_EQ(Chip.MemoryTests() > 0, !C.Bmc);
    EXPECT_EQ(Chip.Scu(0x40) & 0x40, C.Bmc ? 0u : 0x40u);
    EXPECT_EQ(Chip.Scu(0x08) & 0x73, C.Bmc ? 0u : 0x73u);
    EXPECT_EQ(Board.StdErr(), "");
    // A second bring-up of the same chip repeats the set-up once more, no more.
    ASSERT_EQ(Board.InitController(), EFI_SUCCESS);
    EXPECT_EQ(Chip.ConfigurationWrites(), C.Bmc ? 0u : 2u);
  }
}

TEST(VidframeBringUp, RegisterOperationsMakeTheirAccessSequences) {
  ChipBoard Board(Knobs{{"vga-bmc", ""}});
  VANTOR_PRIVATE_DATA *Private = Board.Private();
  Board.Run([&] { VantorCrtcWrite(Private, 0x80, 0xA8); }); // extended registers writable
  struct Case {
    const char *Name;
    std::function<void()> Call;
    std::vector<RegisterAccess> Expected;
  } Cases[] = {
      {"bus writes to neighbouring words each set the window again",
       [&] {
         VantorSocWrite(Private, 0x1E720010, 0x11);
         VantorSocWrite(Private, 0x1E720014, 0x22);
       },
       {{true, 0xF004, 4, 0x1E720000},
        {true, 0xF000, 4, 1},
        {true, 0x10010, 4, 0x11},
        {true, 0xF004, 4, 0x1E720000},
        {true, 0xF000, 4, 1},
        {true, 0x10014, 4, 0x22}}},
      {"bus read",
       [&] { EXPECT_EQ(VantorSocRead(Private, 0x1E720014), 0x22u); },
       {{true, 0xF004, 4, 0x1E720000}, {true, 0xF000, 4, 1}, {false, 0x10014, 4, 0x22}}},
      {"indexed write is one 16-bit write",
       [&] { VantorIndexWrite(Private, 0x3D4, 0x93, 0x55); },
       {{true, 0x3D4, 2, 0x5593}}},
      {"indexed read",
       [&] { EXPECT_EQ(VantorIndexRead(Private, 0x3D4, 0x93), 0x55); },
       {{true, 0x3D4, 1, 0x93}, {false, 0x3D5, 1, 0x55}}},
      {"indexed modify",
       [&] { VantorIndexModify(Private, 0x3D4, 0x93, 0x0F, 0xA0); },
       {{true, 0x3D4, 1, 0x93}, {false, 0x3D5, 1, 0x55}, {true, 0x3D5, 1, 0xA5}}},
  };
  for (const Case &C : Cases) {
    SCOPED_TRACE(C.Name);
    Board.Chip().Trace(true);
    const uint64_t Before = Board.Core().VirtualTimeNs();
    Board.Run(C.Call);
    EXPECT_EQ(Board.Chip().Accesses(), C.Expected);
    if (C.Expected.front().Offset == 0x3D4 && C.Expected.size() > 1) {
      EXPECT_GE(Board.Core().VirtualTimeNs() - Before, 10'000u); // the index settles 10 us
    }
  }
  Board.Chip().Trace(false);
}

} // namespace
} // namespace vidframe_test

namespace vidframe_test {
namespace {

TEST(VidframeBoard, ChipOptionsOutsideTheirRangeAreRefused) {
  const Knobs Bad[] = {{{"vga-memory", "DDR4"}},         {{"vga-size-code", "5"}},
                       {{"vga-framebuffer", "12"}},      {{"vga-timing-strap", "x"}},
                       {{"vga-strobe-eye", "32.0=1-2"}}, {{"vga-strobe-eye", "1=1-2"}},
                       {{"vga-line-eye", "1-2,3-4"}},    {{"vga-line-eye", "10"}}};
  for (const Knobs &Settings : Bad) {
    host::Platform Core;
    host::BoardOptions Options;
    Options.Settings = Settings;
    EXPECT_THROW(host::Board::Build(Core, Options), std::invalid_argument) << Settings.begin()->second;
  }
}

} // namespace
} // namespace vidframe_test

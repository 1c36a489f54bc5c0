// Mode programming for every row of the mode table: the CRTC, sequencer, attribute, graphics
// and extended registers read back from the chip and decoded into a timing, which must be the
// row's timing; the pixel clock; the mode facts for the BMC; the frame-buffer clear.
#include "VidframeTestBoard.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace vidframe_test {
namespace {

using host::vga::VgaChip;

unsigned B(uint8_t Value, unsigned Bit) {
  return (Value >> Bit) & 1;
}

// The timing the CRTC registers describe, in pixels and lines.
struct DecodedTiming {
  unsigned HorizontalTotal, HorizontalDisplay, HorizontalBlankStart, HorizontalRetraceStart;
  unsigned HorizontalBlankEnd7, HorizontalRetraceEnd6; // character counters, low bits only
  unsigned VerticalTotal, VerticalDisplay, VerticalBlankStart, VerticalRetraceStart;
  unsigned VerticalBlankEnd9, VerticalRetraceEnd6;
  unsigned PitchBytes;
};

DecodedTiming Decode(const VgaChip &Chip) {
  auto C = [&](uint8_t Index) { return Chip.Crtc(Index); };
  DecodedTiming T{};
  T.HorizontalTotal = (C(0x00) + (B(C(0xAC), 0) << 8) + 5) * 8;
  T.HorizontalDisplay = (C(0x01) + (B(C(0xAC), 2) << 8) + 1) * 8;
  T.HorizontalBlankStart = (C(0x02) + (B(C(0xAC), 4) << 8) + 1) * 8;
  T.HorizontalRetraceStart = (C(0x04) + (B(C(0xAC), 6) << 8) + 1) * 8;
  T.HorizontalBlankEnd7 = (C(0x03) & 0x1F) | (B(C(0x05), 7) << 5) | (B(C(0xAD), 0) << 6);
  T.HorizontalRetraceEnd6 = (C(0x05) & 0x1F) | (B(C(0xAD), 2) << 5);
  T.VerticalTotal = C(0x06) + (B(C(0x07), 0) << 8) + (B(C(0x07), 5) << 9) + (B(C(0xAE), 0) << 10) + 2;
  T.VerticalDisplay = C(0x12) + (B(C(0x07), 1) << 8) + (B(C(0x07), 6) << 9) + (B(C(0xAE), 1) << 10) + 1;
  T.VerticalBlankStart = C(0x15) + (B(C(0x07), 3) << 8) + (B(C(0x09), 5) << 9) + (B(C(0xAE), 2) << 10);
  T.VerticalRetraceStart = C(0x10) + (B(C(0x07), 2) << 8) + (B(C(0x07), 7) << 9) + (B(C(0xAE), 3) << 10);
  T.VerticalBlankEnd9 = C(0x16) | (B(C(0xAE), 4) << 8);
  T.VerticalRetraceEnd6 = (C(0x11) & 0x0F) | (((C(0xAE) >> 5) & 3) << 4);
  T.PitchBytes = (C(0x13) | ((C(0xB0) & 0x3F) << 8)) * 8;
  return T;
}

// What the row's timing asks for: borders of 8 pixels/lines inside the blanking when flagged;
// horizontal positions on the 8-pixel character grid; counters that end one before the
// position where the next phase begins.
void ExpectTiming(const VgaChip &Chip, const VANTOR_CRTC_TIMING &Row) {
  const unsigned Hb = (Row.TimingFlags & 0x20) ? 8 : 0, Vb = (Row.TimingFlags & 0x10) ? 8 : 0;
  auto Grid = [](unsigned Pixels) { return Pixels / 8 * 8; };
  const DecodedTiming T = Decode(Chip);
  EXPECT_EQ(T.HorizontalTotal, Grid(Row.HorizontalTotal));
  EXPECT_EQ(T.HorizontalDisplay, Grid(Row.HorizontalDisplayEnd));
  EXPECT_EQ(T.HorizontalBlankStart, Grid(Row.HorizontalDisplayEnd + Hb));
  EXPECT_EQ(T.HorizontalRetraceStart, Grid(Row.HorizontalDisplayEnd + Row.HorizontalFrontPorch + Hb));
  EXPECT_EQ(T.HorizontalBlankEnd7, (Grid(Row.HorizontalTotal - Hb) / 8 - 1) & 0x7F);
  EXPECT_EQ(
      T.HorizontalRetraceEnd6,
      (Grid(Row.HorizontalDisplayEnd + Row.HorizontalFrontPorch + Row.HorizontalSyncWidth + Hb) / 8 - 1) &
          0x3F);
  EXPECT_EQ(T.VerticalTotal, Row.VerticalTotal);
  EXPECT_EQ(T.VerticalDisplay, Row.VerticalDisplayEnd);
  EXPECT_EQ(T.VerticalBlankStart + 1, Row.VerticalDisplayEnd + Vb);
  EXPECT_EQ(T.VerticalRetraceStart + 1, Row.VerticalDisplayEnd + Row.VerticalFrontPorch + Vb);
  EXPECT_EQ(T.VerticalBlankEnd9, (Row.VerticalTotal - 1 - Vb) % 512);
  EXPECT_EQ(T.VerticalRetraceEnd6,
            (Row.VerticalDisplayEnd + Row.VerticalFrontPorch + Row.VerticalSyncWidth - 1 + Vb) % 64);
  // One scan line of 32-bit pixels at a pitch of whole 8-pixel groups.
  EXPECT_EQ(T.PitchBytes, (Row.HorizontalDisplayEnd + 7) / 8 * 8 * 4);
}

void ExpectStandardRegisters(const VgaChip &Chip) {
  const uint8_t Sequencer[] = {0x03, 0x01, 0x0F, 0x00, 0x0E};
  for (uint8_t Index = 0; Index < 5; Index++) {
    EXPECT_EQ(Chip.Sequencer(Index), Sequencer[Index]) << "SR" << int(Index); // screen on again
  }
  for (uint8_t Index = 0; Index < 16; Index++) {
    EXPECT_EQ(Chip.Attribute(Index), Index);
  }
  EXPECT_EQ(Chip.Attribute(0x10), 0x01);
  EXPECT_EQ(Chip.Attribute(0x14), 0x00);
  const uint8_t Graphics[] = {0, 0, 0, 0, 0, 0, 0x05, 0x0F, 0xFF};
  for (uint8_t Index = 0; Index < 9; Index++) {
    EXPECT_EQ(Chip.Graphics(Index), Graphics[Index]) << "GR" << int(Index);
  }
}

// One board for all rows: each mode starts from what the previous one left, as SetMode does.
TEST(VidframeModes, EveryRowProgramsItsTimingClockFactsAndClearsItsFrameBuffer) {
  ChipBoard Board(Knobs{{"vga-bmc", ""}, {"vga-framebuffer", "16"}});
  ASSERT_EQ(Board.InitController(), EFI_SUCCESS);
  VgaChip &Chip = Board.Chip();
  for (UINTN Row = 0; Row < VANTOR_MODE_TABLE_ROWS; Row++) {
    const VANTOR_VIDEO_MODE &Mode = gVantorVideoModes[Row];
    const VANTOR_CRTC_TIMING &Timing = gVantorCrtcTimings[Row];
    SCOPED_TRACE(testing::Message() << "row " << Row << ": " << Mode.Width << "x" << Mode.Height);
    std::fill(Chip.FrameBuffer().begin(), Chip.FrameBuffer().end(), 0x5A);
    Board.Run([&] { VantorProgramMode(Board.Private(), Row); });

    ExpectTiming(Chip, Timing);
    ExpectStandardRegisters(Chip);
    EXPECT_EQ(Chip.MiscOutput(), 0x2F | (Timing.TimingFlags & 0xC0));
    EXPECT_EQ(Chip.Crtc(0xAE) >> 7, (Timing.TimingFlags >> 3) & 1);
    const VANTOR_PIXEL_CLOCK &Clock = gVantorPixelClocks[Timing.ClockIndex];
    EXPECT_EQ(Chip.Crtc(0xC0), Clock.Crc0);
    EXPECT_EQ(Chip.Crtc(0xC1), Clock.Crc1);
    EXPECT_EQ(Chip.Crtc(0xBB) & 0xF0, (Clock.Crbb & 0xC0) | ((Clock.Crbb & 0x03) << 4));
    EXPECT_EQ(Chip.Crtc(0xA3), 0x08);
    EXPECT_EQ(Chip.Crtc(0xA0) & 0x70, 0x70);
    const uint8_t Facts[] = {0x40,
                             Mode.RefreshIndex,
                             static_cast<uint8_t>(Mode.ModeId),
                             0,
                             0,
                             0xA8,
                             32,
                             static_cast<uint8_t>(Mode.PixelClockMhz),
                             static_cast<uint8_t>(Mode.Width),
                             static_cast<uint8_t>(Mode.Width >> 8),
                             static_cast<uint8_t>(Mode.Height),
                             static_cast<uint8_t>(Mode.Height >> 8)};
    for (uint8_t Index = 0; Index < sizeof(Facts); Index++) {
      if (Index != 3 && Index != 4) {
        EXPECT_EQ(Chip.Crtc(0x8C + Index), Facts[Index]) << "CR" << std::hex << 0x8C + Index;
      }
    }
    // The visible area at its 8-pixel pitch is zero, and not a byte more is touched.
    const size_t Visible = size_t((Mode.Width + 7) / 8 * 8) * 4 * Mode.Height;
    const auto &Memory = Chip.FrameBuffer();
    EXPECT_EQ(std::count(Memory.begin(), Memory.begin() + Visible, 0), static_cast<long>(Visible));
    EXPECT_EQ(Memory[Visible], 0x5A);
  }
}

TEST(VidframeModes, WorkedExamples) {
  ChipBoard Board(Knobs{{"vga-bmc", ""}});
  ASSERT_EQ(Board.InitController(), EFI_SUCCESS);
  VgaChip &Chip = Board.Chip();
  auto Program = [&](UINTN Row) { Board.Run([&] { VantorProgramMode(Board.Private(), Row); }); };

  Program(0); // 640x480: both borders, negative syncs
  EXPECT_EQ(Chip.Crtc(0x02), 80);
  EXPECT_EQ((Chip.Crtc(0x03) & 0x1F) | (B(Chip.Crtc(0x05), 7) << 5) | (B(Chip.Crtc(0xAD), 0) << 6), 98u);
  EXPECT_EQ(Decode(Chip).VerticalBlankStart, 487u);
  EXPECT_EQ(Decode(Chip).VerticalBlankEnd9, 4u);
  EXPECT_EQ(Chip.MiscOutput(), 0xEF);

  Program(1); // 800x600: positive syncs, refresh index 2
  EXPECT_EQ(Chip.MiscOutput(), 0x2F);
  EXPECT_EQ(Chip.Crtc(0x8D), 2);

  Program(5); // 1366x768: pitch 1368
  EXPECT_EQ(Chip.Crtc(0x13) | (Chip.Crtc(0xB0) << 8), 684);
  EXPECT_EQ(Chip.FrameBuffer()[1368 * 4 * 768 - 1], 0);

  Program(6); // reduced blanking
  EXPECT_EQ(Chip.MiscOutput(), 0xAF);
  EXPECT_EQ(Chip.Crtc(0xAE) & 0x80, 0x80);
}

} // namespace
} // namespace vidframe_test

// Mode programming for every row of the mode table: the CRTC, sequencer, attribute, graphics
// and extended registers read back from the chip and decoded into a timing, which must be the
// row's timing; the pixel clock; the mode facts for the BMC; the frame-buffer clear.
#include "VidframeTestBoard.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

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

// The mode table as written down for the chip, typed here as literals: width, height, refresh,
// pixel clock, mode ID, refresh index, mode flags; HT, HDE, HFP, HSW, VT, VDE, VFP, VSW, clock
// index, CRC0, CRC1, CRBB byte, timing flags.
TEST(VidframeModes, TheTablesAreTheWrittenTable) {
  const uint32_t Written[16][20] = {
      {640, 480, 60, 25, 0x2E, 1, 0x00, 800, 640, 8, 96, 525, 480, 2, 2, 0, 0x2C, 0xE7, 0x03, 0x0F1},
      {800, 600, 60, 40, 0x30, 2, 0x00, 1056, 800, 40, 128, 628, 600, 1, 4, 4, 0xEE, 0x67, 0x01, 0x001},
      {1024, 768, 60, 65, 0x31, 1, 0x00, 1344, 1024, 24, 136, 806, 768, 3, 6, 8, 0x80, 0x64, 0x00, 0x0C1},
      {1280, 1024, 60,   108, 0x32, 1,  0x00, 1688, 1280, 48,
       112,  1066, 1024, 1,   3,    12, 0x8E, 0x62, 0x00, 0x009},
      {1600, 1200, 60,   162, 0x33, 1,  0x00, 2160, 1600, 64,
       192,  1250, 1200, 1,   3,    15, 0x6A, 0x22, 0x00, 0x009},
      {1366, 768, 60, 85, 0x39, 1, 0x04, 1792, 1366, 64, 112, 795, 768, 3, 6, 24, 0x32, 0x67, 0x80, 0x009},
      {1600, 900, 60, 97, 0x3A, 1, 0x0C, 1760, 1600, 48, 32, 926, 900, 3, 5, 25, 0x6A, 0x6D, 0x80, 0x389},
      {1600, 900, 60, 118, 0x3A, 2, 0x14, 2112, 1600, 88, 168, 934, 900, 3, 5, 26, 0x3B, 0x2C, 0x81, 0x049},
      {1920, 1080, 60, 148, 0x38, 1, 0x04, 2200, 1920, 88, 44, 1125, 1080, 4, 5, 20, 0x1F, 0x45, 0x80, 0x309},
      {1280, 800, 60, 84, 0x35, 1, 0x0C, 1440, 1280, 48, 32, 823, 800, 3, 6, 21, 0x47, 0x6C, 0x80, 0x389},
      {1280, 800, 60, 71, 0x35, 2, 0x14, 1680, 1280, 72, 128, 831, 800, 3, 6, 17, 0x90, 0x77, 0x80, 0x049},
      {1440, 900, 60, 89, 0x36, 1, 0x0C, 1600, 1440, 48, 32, 926, 900, 3, 6, 22, 0x25, 0x65, 0x80, 0x389},
      {1440, 900, 60, 107, 0x36, 2, 0x14, 1904, 1440, 80, 152, 934, 900, 3, 6, 18, 0x28, 0x49, 0x80, 0x049},
      {1680, 1050, 60, 119, 0x37, 1, 0x0C, 1840, 1680, 48, 32, 1080, 1050, 3, 6, 23, 0x77, 0x58, 0x80, 0x389},
      {1680, 1050, 60,   147, 0x37, 2,  0x14, 2240, 1680, 104,
       176,  1089, 1050, 3,   6,    19, 0x37, 0x49, 0x80, 0x049},
      {1920, 1200, 60, 154, 0x34, 1, 0x04, 2080, 1920, 48, 32, 1235, 1200, 3, 6, 16, 0x4D, 0x4C, 0x80, 0x389},
  };
  std::vector<bool> ClockRowUsed(VANTOR_PIXEL_CLOCK_ROWS);
  for (UINTN Row = 0; Row < VANTOR_MODE_TABLE_ROWS; Row++) {
    SCOPED_TRACE(Row);
    const uint32_t *W = Written[Row];
    const VANTOR_VIDEO_MODE &M = gVantorVideoModes[Row];
    const VANTOR_CRTC_TIMING &T = gVantorCrtcTimings[Row];
    EXPECT_EQ((std::vector<uint32_t>{M.Width, M.Height, M.BitsPerPixel, M.RefreshRate, M.PixelClockMhz,
                                     M.ModeId, M.RefreshIndex, M.ModeFlags}),
              (std::vector<uint32_t>{W[0], W[1], 32, W[2], W[3], W[4], W[5], W[6]}));
    EXPECT_EQ((std::vector<uint32_t>{T.HorizontalTotal, T.HorizontalDisplayEnd, T.HorizontalFrontPorch,
                                     T.HorizontalSyncWidth, T.VerticalTotal, T.VerticalDisplayEnd,
                                     T.VerticalFrontPorch, T.VerticalSyncWidth, T.ClockIndex, T.TimingFlags}),
              (std::vector<uint32_t>{W[7], W[8], W[9], W[10], W[11], W[12], W[13], W[14], W[15], W[19]}));
    ASSERT_LT(W[15], VANTOR_PIXEL_CLOCK_ROWS);
    const VANTOR_PIXEL_CLOCK &C = gVantorPixelClocks[W[15]];
    EXPECT_EQ((std::vector<uint32_t>{C.Crc0, C.Crc1, C.Crbb}), (std::vector<uint32_t>{W[16], W[17], W[18]}));
    ClockRowUsed[W[15]] = true;
  }
  for (UINTN Row = 0; Row < VANTOR_PIXEL_CLOCK_ROWS; Row++) { // rows no mode selects are zero
    const VANTOR_PIXEL_CLOCK &C = gVantorPixelClocks[Row];
    EXPECT_TRUE(ClockRowUsed[Row] || (C.Crc0 | C.Crc1 | C.Crbb) == 0) << "clock row " << Row;
  }
}

// The board's monitor with each frame-buffer strap: a mode is listed only when its frame buffer
// fits; with 8 MiB the largest listed is set and cleared inside the chip's memory (the model
// records an access beyond it).
TEST(VidframeModes, ListedModesFitTheFrameBufferOfEveryStrap) {
  struct Case {
    const char *MiB;
    unsigned LargestRow;
  } Cases[] = {{"8", 8}, {"16", 15}, {"32", 15}, {"64", 15}}; // 1920x1080 or 1920x1200
  for (const Case &C : Cases) {
    SCOPED_TRACE(C.MiB);
    ChipBoard Board(Knobs{{"vga-bmc", ""}, {"vga-framebuffer", C.MiB}});
    ASSERT_EQ(Board.InitController(), EFI_SUCCESS);
    EFI_STATUS Status = EFI_NOT_READY;
    Board.Run([&] { Status = VantorBuildModeList(Board.Private()); });
    ASSERT_EQ(Status, EFI_SUCCESS);
    const VANTOR_PRIVATE_DATA &P = *Board.Private();
    unsigned Largest = 0;
    uint64_t LargestBytes = 0;
    for (UINTN Mode = 0; Mode < P.ModeCount; Mode++) {
      const VANTOR_MODE_ENTRY &E = P.ModeList[Mode];
      const uint64_t Bytes = uint64_t((E.HorizontalResolution + 7) / 8 * 8) * 4 * E.VerticalResolution;
      if (Bytes > LargestBytes) {
        LargestBytes = Bytes;
        Largest = E.ModeTableIndex;
      }
    }
    EXPECT_EQ(Largest, C.LargestRow);
    EXPECT_LE(LargestBytes, std::stoull(C.MiB) << 20);
    if (C.LargestRow != 15) { // the strap that drops a mode: its largest mode set and cleared
      Board.Run([&] { VantorProgramMode(Board.Private(), Largest); });
    }
  }
}

} // namespace
} // namespace vidframe_test

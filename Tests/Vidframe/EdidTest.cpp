// The display limits derived from an EDID block and the mode-table rows they accept, over the
// fixture displays and edits of them; and the fixtures themselves, checked by edid-decode.
#include "EdidFixtures.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <cstring>
#include <memory>

namespace vidframe_test {
namespace {

struct Decoded {
  int Status;
  std::string Output;
};

Decoded EdidDecode(const std::string &Path) {
  std::string Output;
  FILE *Pipe = popen(("edid-decode --check '" + Path + "' 2>&1").c_str(), "r");
  if (Pipe == nullptr) {
    return {-1, "edid-decode did not start"};
  }
  std::array<char, 4096> Chunk{};
  for (size_t Read; (Read = fread(Chunk.data(), 1, Chunk.size(), Pipe)) > 0;) {
    Output.append(Chunk.data(), Read);
  }
  return {pclose(Pipe), Output};
}

TEST(VidframeEdid, FixturesAreValidOrBrokenAsIntended) {
  struct Case {
    const char *File;
    bool Conforming;
    const char *Expect;
  } Cases[] = {
      {"board-monitor.edid", true, "1920x1200   59.950"},
      {"square-1280x1024.edid", true, "1280x1024   60.019"},
      {"wide-1920x1200.edid", true, "1920x1200   59.88"},
      {"panel-1680x1050-rb.edid", true, "1680x1050   59.88"},
      {"panel-280hz.edid", true, "48-280 Hz V, 100-317 kHz H"},
      {"panel-240hz.edid", true, "1920x1080  240.000000 Hz"},
      {"bad-checksum.edid", false, "Invalid checksum"},
      {"no-header.edid", false, "No EDID header found"},
  };
  for (const Case &C : Cases) {
    SCOPED_TRACE(C.File);
    const Decoded Result = EdidDecode(FixturePath(C.File));
    EXPECT_EQ(Result.Status == 0, C.Conforming) << Result.Output;
    if (C.Conforming) {
      EXPECT_NE(Result.Output.find("EDID conformity: PASS"), std::string::npos) << Result.Output;
    }
    EXPECT_NE(Result.Output.find(C.Expect), std::string::npos) << Result.Output;
  }
}

// A detailed timing: clock in 10 kHz, active and blanking sizes, sync flags.
std::vector<uint8_t> Timing(unsigned Clock, unsigned A, unsigned B, unsigned V, unsigned Vb, uint8_t Sync) {
  std::vector<uint8_t> D(18, 0);
  D[0] = Clock & 0xFF;
  D[1] = Clock >> 8;
  D[2] = A & 0xFF;
  D[3] = B & 0xFF;
  D[4] = static_cast<uint8_t>(((A >> 8) << 4) | (B >> 8));
  D[5] = V & 0xFF;
  D[6] = Vb & 0xFF;
  D[7] = static_cast<uint8_t>(((V >> 8) << 4) | (Vb >> 8));
  D[17] = Sync;
  return D;
}

std::vector<uint8_t> RangeLimits(uint8_t Flags, uint8_t MaxV, uint8_t MaxH, uint8_t Clock10Mhz) {
  return {0, 0, 0, 0xFD, Flags, 50, MaxV, 30, MaxH, Clock10Mhz, 0, 0x0A, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20};
}

TEST(VidframeEdid, LimitsAndRowsOfEachDisplay) {
  const Edid Square = LoadFixture("square-1280x1024.edid");
  const Edid Wide = LoadFixture("wide-1920x1200.edid");
  struct Case {
    const char *Name;
    Edid Block; // empty: NULL
    UINTN Used;
    VANTOR_DISPLAY_LIMITS Limits;
    std::vector<unsigned> Rows;
  } Cases[] = {
      {"no block", {}, 0, {1024, 768, 65, 50, 60, 0, 0}, kDefaultRows},
      {"checksum error", LoadFixture("bad-checksum.edid"), 0, {1024, 768, 65, 50, 60, 0, 0}, kDefaultRows},
      {"block without header", LoadFixture("no-header.edid"), 0, {1024, 768, 65, 50, 60, 0, 0}, kDefaultRows},
      {"all-zero block", Edid(128, 0), 0, {1024, 768, 65, 50, 60, 0, 0}, kDefaultRows},
      // 4:3 timings only: no wide-screen row; the range limits set the rates.
      {"4:3 monitor", Square, 1, {1280, 1024, 140, 82, 75, 0, 0}, kSquareRows},
      // Wide with normal blanking: the twins (0x10) stay, the reduced-blanking rows go.
      {"wide monitor", Wide, 1, {1920, 1200, 200, 94, 76, 1, 0}, {0, 1, 2, 3, 4, 5, 7, 8, 10, 12, 14, 15}},
      // Wide with sync 0x1A: the reduced-blanking rows stay, their twins go.
      {"board monitor", LoadFixture("board-monitor.edid"), 1, {1920, 1200, 170, 94, 76, 1, 1}, kBoardRows},
      {"reduced-blanking panel",
       LoadFixture("panel-1680x1050-rb.edid"),
       1,
       {1680, 1050, 119, 65, 61, 1, 1},
       {0, 1, 2, 3, 5, 6, 9, 11, 13}},
      // Range limits with the EDID 1.4 offsets: 280 Hz and 317 kHz, saturated in a byte.
      {"280 Hz panel", LoadFixture("panel-280hz.edid"), 1, {1920, 1080, 640, 255, 255, 1, 1}, kFastPanelRows},
      // A line rate of 272 kHz: the refresh (241 Hz) comes from the full rate.
      {"240 Hz panel", LoadFixture("panel-240hz.edid"), 1, {1920, 1080, 542, 255, 241, 1, 1}, kFastPanelRows},
      // Range limits after the timing replace its rates even when lower.
      {"lower range limits",
       WithDescriptor(Square, 1, RangeLimits(0, 59, 40, 11)),
       1,
       {1280, 1024, 110, 40, 59, 0, 0},
       {}},
      // Only the maximum offsets count (bits 0 and 2 offset the minimum rates).
      {"minimum offsets",
       WithDescriptor(Square, 1, RangeLimits(0x05, 70, 80, 11)),
       1,
       {1280, 1024, 110, 80, 70, 0, 0},
       kSquareRows},
      // In an EDID 1.3 block the flags byte is reserved: stray offset bits add nothing.
      {"offset flags in a 1.3 block",
       WithDescriptor(Square, 1, RangeLimits(0x0A, 70, 80, 11)),
       1,
       {1280, 1024, 110, 80, 70, 0, 0},
       kSquareRows},
      // An exact 4:3 timing (1600x1200) is not wide-screen, whatever its sync.
      {"exact 4:3 timing",
       WithDescriptor(Square, 0, Timing(16200, 1600, 560, 1200, 50, 0x1A)),
       1,
       {1600, 1200, 162, 82, 75, 0, 0},
       {0, 1, 2, 3, 4}},
      // A timing taller than wide is not wide-screen.
      {"portrait timing",
       WithDescriptor(Wide, 0, Timing(19325, 1200, 45, 1920, 672, 0x1A)),
       1,
       {1200, 1920, 200, 94, 76, 0, 0},
       {0, 1, 2}},
      // A clock with a zero total is skipped, whichever total is zero.
      {"zero horizontal total",
       WithDescriptor(Square, 0, Timing(10800, 0, 0, 1024, 42, 0x1E)),
       1,
       {0, 0, 140, 82, 75, 0, 0},
       {}},
      {"zero vertical total",
       WithDescriptor(Square, 0, Timing(10800, 1280, 408, 0, 0, 0x1E)),
       1,
       {0, 0, 140, 82, 75, 0, 0},
       {}},
      // Nothing describes the display: every limit 0.
      {"no timing, no range limits",
       WithDescriptor(WithDescriptor(Square, 0, kDummyDescriptor), 1, kDummyDescriptor),
       1,
       {0, 0, 0, 0, 0, 0, 0},
       {}},
  };
  for (const Case &C : Cases) {
    SCOPED_TRACE(C.Name);
    VANTOR_DISPLAY_LIMITS Limits;
    std::memset(&Limits, 0xCC, sizeof(Limits));
    EXPECT_EQ(VantorParseEdid(C.Block.empty() ? nullptr : C.Block.data(), &Limits), C.Used);
    EXPECT_EQ(std::memcmp(&Limits, &C.Limits, sizeof(Limits)), 0)
        << Limits.MaxWidth << "x" << Limits.MaxHeight << " " << Limits.MaxPixelClockMhz << " MHz "
        << unsigned(Limits.MaxHorizontalKhz) << " kHz " << unsigned(Limits.MaxVerticalHz) << " Hz wide "
        << unsigned(Limits.WideScreen) << " rb " << unsigned(Limits.ReducedBlanking);
    EXPECT_EQ(FittingRows(Limits), C.Rows);
  }
}

} // namespace
} // namespace vidframe_test

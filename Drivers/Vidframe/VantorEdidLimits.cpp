// The display limits an EDID base block describes, and whether a mode-table row fits them.
#include <Library/BaseMemoryLib.h>

#include "VantorGraphics.h"

namespace {

constexpr VANTOR_DISPLAY_LIMITS DEFAULT_LIMITS = {1024, 768, 65, 50, 60, 0, 0};

constexpr UINTN EDID_DESCRIPTOR_FIRST = 54;
constexpr UINTN EDID_DESCRIPTOR_SIZE = 18;
constexpr UINTN EDID_DESCRIPTORS = 4;
constexpr UINT8 EDID_RANGE_LIMITS_TAG = 0xFD;
constexpr UINT8 RANGE_FLAGS = 4;
constexpr UINT8 RANGE_MAX_VERTICAL = 6;
constexpr UINT8 RANGE_MAX_HORIZONTAL = 8;
constexpr UINT8 RANGE_MAX_CLOCK = 9; // in 10 MHz
constexpr UINT8 RANGE_MAX_VERTICAL_PLUS_255 = 0x02;
constexpr UINT8 RANGE_MAX_HORIZONTAL_PLUS_255 = 0x08;
constexpr UINT32 RANGE_OFFSET = 255;
// The offset flags mean something from EDID 1.4 on; before, the flags byte is reserved.
constexpr UINTN EDID_VERSION = 18;
constexpr UINTN EDID_REVISION = 19;
constexpr UINT8 OFFSET_FLAGS_VERSION = 1;
constexpr UINT8 OFFSET_FLAGS_REVISION = 4;
constexpr UINT8 TIMING_SYNC_FLAGS = 17;
constexpr UINT8 SYNC_MASK = 0x1E;
constexpr UINT8 SYNC_DIGITAL_SEPARATE_VNEG_HPOS = 0x1A;
constexpr UINT32 BYTE_MAX = 0xFF;

struct EDID_ACCUMULATORS {
  UINT32 Width, Height, ClockMhz, HorizontalKhz, VerticalHz;
};

UINT32 Max(UINT32 A, UINT32 B) {
  return A > B ? A : B;
}

constexpr UINT8 Saturate(UINT32 Value) {
  return static_cast<UINT8>(Value > BYTE_MAX ? BYTE_MAX : Value);
}

// Line rate in kHz and refresh in Hz of a detailed timing, in full width (one is added to each
// so that a rate just below a whole number still counts as reaching it).
constexpr UINT32 LineRateKhz(UINT32 ClockMhz, UINT32 HorizontalTotal) {
  return (ClockMhz * 1000) / HorizontalTotal + 1;
}
constexpr UINT32 RefreshHz(UINT32 LineKhz, UINT32 VerticalTotal) {
  return (LineKhz * 1000) / VerticalTotal + 1;
}
// 1920 x 1080 at 240 Hz (542.4 MHz, totals 2000 x 1130): 272 kHz does not fit a byte, the
// refresh comes from the full rate, and the stored line rate saturates.
static_assert(LineRateKhz(542, 2000) == 272 && RefreshHz(272, 1130) == 241 && Saturate(272) == 255);
// The same rate kept as a byte (16 kHz) would give 15 Hz.
static_assert(RefreshHz(static_cast<UINT8>(272), 1130) == 15);
// 1280 x 1024 at 60 Hz (108 MHz, totals 1688 x 1066).
static_assert(LineRateKhz(108, 1688) == 64 && RefreshHz(64, 1066) == 61);

BOOLEAN Sums(const UINT8 *Edid) {
  UINT8 Sum = 0;
  for (UINTN Index = 0; Index < VANTOR_EDID_BLOCK_SIZE; Index++) {
    Sum = static_cast<UINT8>(Sum + Edid[Index]);
  }
  return Sum == 0;
}

VOID ParseDetailedTiming(const UINT8 *D, EDID_ACCUMULATORS *Acc, VANTOR_DISPLAY_LIMITS *Limits) {
  const UINT32 Clock = D[0] | (UINT32(D[1]) << 8);
  const UINT32 Active = D[2] | (UINT32(D[4] >> 4) << 8);
  const UINT32 Blank = D[3] | (UINT32(D[4] & 0x0F) << 8);
  const UINT32 Lines = D[5] | (UINT32(D[7] >> 4) << 8);
  const UINT32 VerticalBlank = D[6] | (UINT32(D[7] & 0x0F) << 8);
  if (Active + Blank == 0 || Lines + VerticalBlank == 0) {
    return; // no total to divide by: not a usable timing
  }
  const UINT32 Mhz = Clock / 100;
  const UINT32 LineKhz = LineRateKhz(Mhz, Active + Blank);
  const UINT32 Refresh = RefreshHz(LineKhz, Lines + VerticalBlank);
  Acc->Width = Max(Acc->Width, Active);
  Acc->Height = Max(Acc->Height, Lines);
  Acc->ClockMhz = Max(Acc->ClockMhz, Mhz);
  Acc->HorizontalKhz = Max(Acc->HorizontalKhz, LineKhz);
  Acc->VerticalHz = Max(Acc->VerticalHz, Refresh);
  const INT32 SignedActive = static_cast<INT32>(Active);
  if (SignedActive - static_cast<INT32>(Lines) > SignedActive / 4) {
    Limits->WideScreen = 1;
    if ((D[TIMING_SYNC_FLAGS] & SYNC_MASK) == SYNC_DIGITAL_SEPARATE_VNEG_HPOS) {
      Limits->ReducedBlanking = 1;
    }
  }
}

// A maximum rate with its EDID 1.4 offset flag: 255 more.
constexpr UINT32 MaximumRate(UINT8 Rate, UINT8 Flags, UINT8 OffsetFlag) {
  return Rate + ((Flags & OffsetFlag) != 0 ? RANGE_OFFSET : 0);
}
// A 280 Hz panel stores 25 with the flag; the limit byte saturates.
static_assert(MaximumRate(25, 0x02, RANGE_MAX_VERTICAL_PLUS_255) == 280 && Saturate(280) == 255);
static_assert(MaximumRate(25, 0x01, RANGE_MAX_VERTICAL_PLUS_255) == 25); // a minimum offset only

BOOLEAN OffsetFlagsApply(const UINT8 *Edid) {
  return Edid[EDID_VERSION] == OFFSET_FLAGS_VERSION && Edid[EDID_REVISION] >= OFFSET_FLAGS_REVISION;
}

VOID ParseRangeLimits(const UINT8 *D, BOOLEAN OffsetFlags, EDID_ACCUMULATORS *Acc) {
  const UINT8 Flags = OffsetFlags ? D[RANGE_FLAGS] : 0;
  Acc->ClockMhz = Max(Acc->ClockMhz, D[RANGE_MAX_CLOCK] * 10u);
  Acc->VerticalHz = MaximumRate(D[RANGE_MAX_VERTICAL], Flags, RANGE_MAX_VERTICAL_PLUS_255);
  Acc->HorizontalKhz = MaximumRate(D[RANGE_MAX_HORIZONTAL], Flags, RANGE_MAX_HORIZONTAL_PLUS_255);
}

} // namespace

UINTN VantorParseEdid(const UINT8 *Edid, VANTOR_DISPLAY_LIMITS *Limits) {
  *Limits = DEFAULT_LIMITS;
  // A block without the header is not an EDID (an all-zero block would pass the sum).
  if (Edid == NULL || !Sums(Edid) || CompareMem(Edid, VANTOR_EDID_HEADER, sizeof(VANTOR_EDID_HEADER)) != 0) {
    return 0;
  }
  EDID_ACCUMULATORS Acc = {0, 0, 0, 0, 0};
  for (UINTN Index = 0; Index < EDID_DESCRIPTORS; Index++) {
    const UINT8 *D = Edid + EDID_DESCRIPTOR_FIRST + Index * EDID_DESCRIPTOR_SIZE;
    if (D[0] != 0 || D[1] != 0) {
      ParseDetailedTiming(D, &Acc, Limits);
    } else if (D[3] == EDID_RANGE_LIMITS_TAG) {
      ParseRangeLimits(D, OffsetFlagsApply(Edid), &Acc);
    }
  }
  Limits->MaxWidth = static_cast<UINT16>(Acc.Width);
  Limits->MaxHeight = static_cast<UINT16>(Acc.Height);
  Limits->MaxPixelClockMhz = static_cast<UINT16>(Acc.ClockMhz);
  Limits->MaxHorizontalKhz = Saturate(Acc.HorizontalKhz);
  Limits->MaxVerticalHz = Saturate(Acc.VerticalHz);
  return 1;
}

UINTN VantorModeFits(const VANTOR_DISPLAY_LIMITS *Limits, const VANTOR_VIDEO_MODE *Mode) {
  if (Mode->Width > Limits->MaxWidth || Mode->Height > Limits->MaxHeight ||
      Mode->RefreshRate > Limits->MaxVerticalHz) {
    return 0;
  }
  if ((Mode->ModeFlags & VANTOR_MODE_WIDE) != 0 && Limits->WideScreen != 1) {
    return 0;
  }
  if ((Mode->ModeFlags & VANTOR_MODE_REDUCED_BLANKING) != 0 && Limits->ReducedBlanking != 1) {
    return 0;
  }
  if ((Mode->ModeFlags & VANTOR_MODE_NORMAL_BLANKING_TWIN) != 0 && Limits->ReducedBlanking == 1) {
    return 0;
  }
  return 1;
}

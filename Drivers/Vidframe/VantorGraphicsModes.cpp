// The static mode table, the standard VGA register set every mode starts from, and the
// programming of one mode: CRTC timing, pixel clock, extended registers, the mode facts the
// BMC reads, and the clear of the visible frame buffer.
#include <IndustryStandard/Pci.h>

#include "VantorGraphics.h"

// Width, height, bpp, refresh, pixel clock, mode ID, refresh index, mode flags.
const VANTOR_VIDEO_MODE gVantorVideoModes[VANTOR_MODE_TABLE_ROWS] = {
    {640, 480, 32, 60, 25, 0x2E, 1, 0x00},    {800, 600, 32, 60, 40, 0x30, 2, 0x00},
    {1024, 768, 32, 60, 65, 0x31, 1, 0x00},   {1280, 1024, 32, 60, 108, 0x32, 1, 0x00},
    {1600, 1200, 32, 60, 162, 0x33, 1, 0x00}, {1366, 768, 32, 60, 85, 0x39, 1, 0x04},
    {1600, 900, 32, 60, 97, 0x3A, 1, 0x0C},   {1600, 900, 32, 60, 118, 0x3A, 2, 0x14},
    {1920, 1080, 32, 60, 148, 0x38, 1, 0x04}, {1280, 800, 32, 60, 84, 0x35, 1, 0x0C},
    {1280, 800, 32, 60, 71, 0x35, 2, 0x14},   {1440, 900, 32, 60, 89, 0x36, 1, 0x0C},
    {1440, 900, 32, 60, 107, 0x36, 2, 0x14},  {1680, 1050, 32, 60, 119, 0x37, 1, 0x0C},
    {1680, 1050, 32, 60, 147, 0x37, 2, 0x14}, {1920, 1200, 32, 60, 154, 0x34, 1, 0x04},
};

// HT, HDE, HFP, HSW, VT, VDE, VFP, VSW, clock index, timing flags.
const VANTOR_CRTC_TIMING gVantorCrtcTimings[VANTOR_MODE_TABLE_ROWS] = {
    {800, 640, 8, 96, 525, 480, 2, 2, 0, 0x0F1},         {1056, 800, 40, 128, 628, 600, 1, 4, 4, 0x001},
    {1344, 1024, 24, 136, 806, 768, 3, 6, 8, 0x0C1},     {1688, 1280, 48, 112, 1066, 1024, 1, 3, 12, 0x009},
    {2160, 1600, 64, 192, 1250, 1200, 1, 3, 15, 0x009},  {1792, 1366, 64, 112, 795, 768, 3, 6, 24, 0x009},
    {1760, 1600, 48, 32, 926, 900, 3, 5, 25, 0x389},     {2112, 1600, 88, 168, 934, 900, 3, 5, 26, 0x049},
    {2200, 1920, 88, 44, 1125, 1080, 4, 5, 20, 0x309},   {1440, 1280, 48, 32, 823, 800, 3, 6, 21, 0x389},
    {1680, 1280, 72, 128, 831, 800, 3, 6, 17, 0x049},    {1600, 1440, 48, 32, 926, 900, 3, 6, 22, 0x389},
    {1904, 1440, 80, 152, 934, 900, 3, 6, 18, 0x049},    {1840, 1680, 48, 32, 1080, 1050, 3, 6, 23, 0x389},
    {2240, 1680, 104, 176, 1089, 1050, 3, 6, 19, 0x049}, {2080, 1920, 48, 32, 1235, 1200, 3, 6, 16, 0x389},
};

// CRC0, CRC1, CRBB source byte. Rows that no mode of the table selects are zero.
const VANTOR_PIXEL_CLOCK gVantorPixelClocks[VANTOR_PIXEL_CLOCK_ROWS] = {
    {0x2C, 0xE7, 0x03}, {0, 0, 0},          {0, 0, 0},          {0, 0, 0},          {0xEE, 0x67, 0x01},
    {0, 0, 0},          {0, 0, 0},          {0, 0, 0},          {0x80, 0x64, 0x00}, {0, 0, 0},
    {0, 0, 0},          {0, 0, 0},          {0x8E, 0x62, 0x00}, {0, 0, 0},          {0, 0, 0},
    {0x6A, 0x22, 0x00}, {0x4D, 0x4C, 0x80}, {0x90, 0x77, 0x80}, {0x28, 0x49, 0x80}, {0x37, 0x49, 0x80},
    {0x1F, 0x45, 0x80}, {0x47, 0x6C, 0x80}, {0x25, 0x65, 0x80}, {0x77, 0x58, 0x80}, {0x32, 0x67, 0x80},
    {0x6A, 0x6D, 0x80}, {0x3B, 0x2C, 0x81},
};

namespace {

// ---- The standard register set for 32 bits per pixel --------------------------------------

constexpr UINT8 STD_MISC_OUTPUT = 0x23;
constexpr UINT8 STD_SEQUENCER[4] = {0x01, 0x0F, 0x00, 0x0E}; // SR01..SR04
constexpr UINT8 STD_CRTC[25] = {0x5F, 0x4F, 0x50, 0x82, 0x54, 0x80, 0x0B, 0x3E, 0x00, 0x40, 0x00, 0x00, 0x00,
                                0x00, 0x00, 0x00, 0xEA, 0x8C, 0xDF, 0x28, 0x40, 0xE7, 0x04, 0xA3, 0xFF};
constexpr UINT8 STD_ATTRIBUTE[20] = {0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09,
                                     0x0A, 0x0B, 0x0C, 0x0D, 0x0E, 0x0F, 0x01, 0x00, 0x00, 0x00};
constexpr UINT8 STD_GRAPHICS[9] = {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x05, 0x0F, 0xFF};
static_assert(1 + sizeof(STD_SEQUENCER) + sizeof(STD_CRTC) + sizeof(STD_ATTRIBUTE) + sizeof(STD_GRAPHICS) ==
              59);

constexpr UINT8 SR_RESET = 0x00;
constexpr UINT8 SR_CLOCKING = 0x01;
constexpr UINT8 SR_RESET_RUN = 0x03;
constexpr UINT8 SR01_SCREEN_OFF = 0x20;
constexpr UINT8 CR_VERTICAL_RETRACE_END = 0x11;
constexpr UINT8 CR11_PROTECT = 0x80;
constexpr UINT8 ATTRIBUTE_COLOUR_SELECT = 0x14;
constexpr UINT8 ATTRIBUTE_PALETTE_SOURCE = 0x20;
constexpr UINT8 MISC_OUTPUT_BASE = 0x2F;
constexpr UINT32 SYNC_POLARITY_FLAGS = VANTOR_TIMING_NEGATIVE_HSYNC | VANTOR_TIMING_NEGATIVE_VSYNC;

constexpr UINT8 CR_OVERFLOW_H = 0xAC;
constexpr UINT8 CR_OVERFLOW_H2 = 0xAD;
constexpr UINT8 CR_OVERFLOW_V = 0xAE;
constexpr UINT8 CR_OFFSET_HIGH = 0xB0;
constexpr UINT8 CR_CLOCK_0 = 0xC0;
constexpr UINT8 CR_CLOCK_1 = 0xC1;
constexpr UINT8 CR_CLOCK_2 = 0xBB;
constexpr UINT8 CR_MODE_EXTENDED = 0xA0;
constexpr UINT8 CR_COLOUR_DEPTH = 0xA3;
constexpr UINT8 CR_CONTROL_A6 = 0xA6;
constexpr UINT8 CR_CONTROL_A7 = 0xA7;
constexpr UINT8 CR_CONTROL_A8 = 0xA8;
constexpr UINT8 CR_BMC_COLOUR = 0x8C;
constexpr UINT8 CR_BMC_REFRESH_INDEX = 0x8D;
constexpr UINT8 CR_BMC_MODE_ID = 0x8E;
constexpr UINT8 CR_BMC_91 = 0x91;
constexpr UINT8 CR_BMC_BPP = 0x92;
constexpr UINT8 CR_BMC_PIXEL_CLOCK = 0x93;
constexpr UINT8 CR_BMC_WIDTH_LOW = 0x94;

constexpr UINT32 DEVICE_ID_OFFSET = 2;
constexpr UINTN ASSERT_LINE_DEVICE_ID = 1425;

// ---- CRTC timing ----------------------------------------------------------------------------

struct CRTC_FIELDS {
  UINT32 Htv, Hdev, Hbs, Hbe, Hrs, Hre;
  UINT32 Vtv, Vdev, Vbs, Vbe, Vrs, Vre;
  UINT32 Ofs;
};

constexpr CRTC_FIELDS ComputeFields(const VANTOR_CRTC_TIMING &T) {
  const UINT32 Hb = (T.TimingFlags & VANTOR_TIMING_HORIZONTAL_BORDER) ? 8 : 0;
  const UINT32 Vb = (T.TimingFlags & VANTOR_TIMING_VERTICAL_BORDER) ? 8 : 0;
  CRTC_FIELDS F = {};
  F.Htv = T.HorizontalTotal / 8 - 5;
  F.Hdev = T.HorizontalDisplayEnd / 8 - 1;
  F.Hbs = (T.HorizontalDisplayEnd + Hb) / 8 - 1;
  F.Hbe = (T.HorizontalTotal - Hb) / 8 - 1;
  F.Hrs = (T.HorizontalDisplayEnd + T.HorizontalFrontPorch + Hb) / 8 - 1;
  F.Hre = (T.HorizontalDisplayEnd + T.HorizontalFrontPorch + T.HorizontalSyncWidth + Hb) / 8 - 1;
  F.Vtv = T.VerticalTotal - 2;
  F.Vdev = T.VerticalDisplayEnd - 1;
  F.Vbs = T.VerticalDisplayEnd - 1 + Vb;
  F.Vbe = (T.VerticalTotal - 1 - Vb) & 0x1FF;
  F.Vrs = T.VerticalDisplayEnd + T.VerticalFrontPorch - 1 + Vb;
  F.Vre = (T.VerticalDisplayEnd + T.VerticalFrontPorch + T.VerticalSyncWidth - 1 + Vb) & 0x3F;
  F.Ofs = 4 * ((T.HorizontalDisplayEnd + 7) / 8);
  return F;
}
static_assert(ComputeFields({800, 640, 8, 96, 525, 480, 2, 2, 0, 0x0F1}).Hbs == 80);
static_assert(ComputeFields({800, 640, 8, 96, 525, 480, 2, 2, 0, 0x0F1}).Hbe == 98);
static_assert(ComputeFields({800, 640, 8, 96, 525, 480, 2, 2, 0, 0x0F1}).Vbs == 487);
static_assert(ComputeFields({800, 640, 8, 96, 525, 480, 2, 2, 0, 0x0F1}).Vbe == 4);
static_assert(ComputeFields({1792, 1366, 64, 112, 795, 768, 3, 6, 24, 0x009}).Ofs == 684);

constexpr UINT32 Bit(UINT32 Value, UINT32 From, UINT32 To) {
  return ((Value >> From) & 1) << To;
}

// Places the fields into the standard CRTC registers; bits not named keep their value.
VOID PlaceStandardFields(UINT8 (&Cr)[25], const CRTC_FIELDS &F) {
  Cr[0x00] = static_cast<UINT8>(F.Htv);
  Cr[0x01] = static_cast<UINT8>(F.Hdev);
  Cr[0x02] = static_cast<UINT8>(F.Hbs);
  Cr[0x03] = static_cast<UINT8>((Cr[0x03] & 0xE0) | (F.Hbe & 0x1F));
  Cr[0x04] = static_cast<UINT8>(F.Hrs);
  Cr[0x05] = static_cast<UINT8>((Cr[0x05] & 0x60) | (F.Hre & 0x1F) | Bit(F.Hbe, 5, 7));
  Cr[0x06] = static_cast<UINT8>(F.Vtv);
  Cr[0x07] = static_cast<UINT8>(Bit(F.Vtv, 8, 0) | Bit(F.Vdev, 8, 1) | Bit(F.Vrs, 8, 2) | Bit(F.Vbs, 8, 3) |
                                (Cr[0x07] & 0x10) | Bit(F.Vtv, 9, 5) | Bit(F.Vdev, 9, 6) | Bit(F.Vrs, 9, 7));
  Cr[0x09] = static_cast<UINT8>((Cr[0x09] & ~0x20) | Bit(F.Vbs, 9, 5));
  Cr[0x10] = static_cast<UINT8>(F.Vrs);
  Cr[0x11] = static_cast<UINT8>((Cr[0x11] & 0xF0) | (F.Vre & 0x0F));
  Cr[0x12] = static_cast<UINT8>(F.Vdev);
  Cr[0x13] = static_cast<UINT8>(F.Ofs);
  Cr[0x15] = static_cast<UINT8>(F.Vbs);
  Cr[0x16] = static_cast<UINT8>(F.Vbe);
}

VOID WriteOverflowRegisters(VANTOR_PRIVATE_DATA *Private, const CRTC_FIELDS &F, UINT32 TimingFlags) {
  VantorCrtcWrite(
      Private, CR_OVERFLOW_H,
      static_cast<UINT8>(Bit(F.Htv, 8, 0) | Bit(F.Hdev, 8, 2) | Bit(F.Hbs, 8, 4) | Bit(F.Hrs, 8, 6)));
  VantorCrtcWrite(Private, CR_OVERFLOW_H2, static_cast<UINT8>(Bit(F.Hbe, 6, 0) | Bit(F.Hre, 5, 2)));
  VantorCrtcWrite(Private, CR_OVERFLOW_V,
                  static_cast<UINT8>(Bit(F.Vtv, 10, 0) | Bit(F.Vdev, 10, 1) | Bit(F.Vbs, 10, 2) |
                                     Bit(F.Vrs, 10, 3) | Bit(F.Vbe, 8, 4) | (((F.Vre >> 4) & 3) << 5) |
                                     ((TimingFlags & VANTOR_TIMING_REDUCED_BLANKING) ? 0x80 : 0)));
  VantorCrtcWrite(Private, CR_OFFSET_HIGH, static_cast<UINT8>((F.Ofs >> 8) & 0x3F));
}

VOID ProgramTiming(VANTOR_PRIVATE_DATA *Private, const VANTOR_CRTC_TIMING &Timing) {
  const CRTC_FIELDS Fields = ComputeFields(Timing);
  UINT8 Cr[sizeof(STD_CRTC)];
  for (UINT8 Index = 0; Index < sizeof(Cr); Index++) {
    Cr[Index] = VantorCrtcRead(Private, Index);
  }
  PlaceStandardFields(Cr, Fields);
  VantorPortWrite(Private, VANTOR_PORT_MISC_OUTPUT,
                  static_cast<UINT8>((Timing.TimingFlags & SYNC_POLARITY_FLAGS) | MISC_OUTPUT_BASE));
  VantorIndexModify(Private, VANTOR_PORT_CRTC, CR_VERTICAL_RETRACE_END, static_cast<UINT8>(~CR11_PROTECT), 0);
  for (UINT8 Index = 0; Index < sizeof(Cr); Index++) {
    VantorCrtcWrite(Private, Index, Cr[Index]);
  }
  WriteOverflowRegisters(Private, Fields, Timing.TimingFlags);
}

// ---- Standard registers ---------------------------------------------------------------------

VOID ProgramStandardRegisters(VANTOR_PRIVATE_DATA *Private) {
  VantorPortWrite(Private, VANTOR_PORT_MISC_OUTPUT, STD_MISC_OUTPUT);
  VantorIndexWrite(Private, VANTOR_PORT_SEQUENCER, SR_RESET, SR_RESET_RUN);
  for (UINT8 Index = 0; Index < sizeof(STD_SEQUENCER); Index++) {
    const UINT8 Extra = Index == 0 ? SR01_SCREEN_OFF : 0;
    VantorIndexWrite(Private, VANTOR_PORT_SEQUENCER, Index + 1, STD_SEQUENCER[Index] | Extra);
  }
  VantorIndexModify(Private, VANTOR_PORT_CRTC, CR_VERTICAL_RETRACE_END, static_cast<UINT8>(~CR11_PROTECT), 0);
  for (UINT8 Index = 0; Index < sizeof(STD_CRTC); Index++) {
    VantorCrtcWrite(Private, Index, STD_CRTC[Index]);
  }
  VantorPortRead(Private, VANTOR_PORT_INPUT_STATUS1); // attribute port back to "index"
  for (UINT8 Index = 0; Index < sizeof(STD_ATTRIBUTE); Index++) {
    VantorPortWrite(Private, VANTOR_PORT_ATTRIBUTE, Index);
    VantorPortWrite(Private, VANTOR_PORT_ATTRIBUTE, STD_ATTRIBUTE[Index]);
  }
  VantorPortWrite(Private, VANTOR_PORT_ATTRIBUTE, ATTRIBUTE_COLOUR_SELECT);
  VantorPortWrite(Private, VANTOR_PORT_ATTRIBUTE, 0x00);
  VantorPortRead(Private, VANTOR_PORT_INPUT_STATUS1);
  VantorPortWrite(Private, VANTOR_PORT_ATTRIBUTE, ATTRIBUTE_PALETTE_SOURCE);
  for (UINT8 Index = 0; Index < sizeof(STD_GRAPHICS); Index++) {
    VantorIndexWrite(Private, VANTOR_PORT_GRAPHICS, Index, STD_GRAPHICS[Index]);
  }
}

VOID ProgramClock(VANTOR_PRIVATE_DATA *Private, const VANTOR_PIXEL_CLOCK &Clock) {
  VantorCrtcWrite(Private, CR_CLOCK_0, Clock.Crc0);
  VantorCrtcWrite(Private, CR_CLOCK_1, Clock.Crc1);
  VantorIndexModify(Private, VANTOR_PORT_CRTC, CR_CLOCK_2, 0x0F,
                    static_cast<UINT8>((Clock.Crbb & 0xC0) | ((Clock.Crbb & 0x03) << 4)));
}

VOID ProgramExtendedMode(VANTOR_PRIVATE_DATA *Private) {
  VantorIndexModify(Private, VANTOR_PORT_CRTC, CR_MODE_EXTENDED, 0x8F, 0x70);
  VantorIndexModify(Private, VANTOR_PORT_CRTC, CR_CONTROL_A8, 0xFD, 0x00);
  VantorCrtcWrite(Private, CR_COLOUR_DEPTH, 0x08); // 32-bit colour
  VantorCrtcWrite(Private, CR_CONTROL_A7, 0x6F);
  VantorCrtcWrite(Private, CR_CONTROL_A6, 0x3F);
}

VOID PublishModeFacts(VANTOR_PRIVATE_DATA *Private, const VANTOR_VIDEO_MODE &Mode) {
  VantorCrtcWrite(Private, CR_BMC_COLOUR, 0x40); // 32-bit colour
  VantorCrtcWrite(Private, CR_BMC_REFRESH_INDEX, Mode.RefreshIndex);
  VantorCrtcWrite(Private, CR_BMC_MODE_ID, static_cast<UINT8>(Mode.ModeId));
  VantorCrtcWrite(Private, CR_BMC_91, 0xA8);
  VantorCrtcWrite(Private, CR_BMC_BPP, static_cast<UINT8>(Mode.BitsPerPixel));
  VantorCrtcWrite(Private, CR_BMC_PIXEL_CLOCK, static_cast<UINT8>(Mode.PixelClockMhz));
  const UINT16 Facts[2] = {Mode.Width, Mode.Height};
  for (UINT8 Index = 0; Index < 4; Index++) {
    VantorCrtcWrite(Private, CR_BMC_WIDTH_LOW + Index,
                    static_cast<UINT8>(Facts[Index / 2] >> (8 * (Index % 2))));
  }
}

} // namespace

VOID VantorProgramMode(VANTOR_PRIVATE_DATA *Private, UINTN Row) {
  const VANTOR_VIDEO_MODE &Mode = gVantorVideoModes[Row];
  const VANTOR_CRTC_TIMING &Timing = gVantorCrtcTimings[Row];
  UINT16 DeviceId = 0;
  EFI_STATUS Status =
      Private->PciIo->Pci.Read(Private->PciIo, EfiPciIoWidthUint16, DEVICE_ID_OFFSET, 1, &DeviceId);
  if (EFI_ERROR(Status)) {
    VantorAssertEfiError("VantorGraphicsModes", ASSERT_LINE_DEVICE_ID, Status);
  }
  VantorIndexModify(Private, VANTOR_PORT_SEQUENCER, SR_CLOCKING, 0xFF, SR01_SCREEN_OFF);
  ProgramStandardRegisters(Private);
  VantorCrtcWrite(Private, CR_UNLOCK, VANTOR_CRTC_UNLOCK);
  ProgramTiming(Private, Timing);
  ProgramClock(Private, gVantorPixelClocks[Timing.ClockIndex]);
  ProgramExtendedMode(Private);
  PublishModeFacts(Private, Mode);
  VantorClearFrameBuffer(Private, VantorPitch(Mode.Width) * 4 * Mode.Height);
  VantorIndexModify(Private, VANTOR_PORT_SEQUENCER, SR_CLOCKING, static_cast<UINT8>(~SR01_SCREEN_OFF), 0);
}

namespace {
constexpr UINT32 MEMORY_END[4] = {0x44000000, 0x48000000, 0x50000000, 0x60000000};
constexpr UINT32 FRAME_BUFFER_8MIB = 8 * 1024 * 1024;
} // namespace

VOID VantorClearFrameBuffer(VANTOR_PRIVATE_DATA *Private, UINT32 ByteCount) {
  const UINT32 Configuration = VantorSocRead(Private, Mcr(MCR_CONFIGURATION));
  const UINT32 Base = MEMORY_END[Configuration & 3] - (FRAME_BUFFER_8MIB << ((Configuration >> 2) & 3));
  for (UINT32 Offset = 0; Offset < ByteCount; Offset += 4) {
    VantorSocWrite(Private, Base + Offset, 0);
  }
}

// Vidframe: the BMC's VGA function. The per-controller record, the chip's register map and
// the register operations every unit of the driver uses, the bring-up, the chip-memory set-up
// and the mode programming.
#pragma once

#include <Protocol/ComponentName.h>
#include <Protocol/ComponentName2.h>
#include <Protocol/DevicePath.h>
#include <Protocol/DriverBinding.h>
#include <Protocol/EdidActive.h>
#include <Protocol/EdidDiscovered.h>
#include <Protocol/GraphicsOutput.h>
#include <Protocol/PciIo.h>
#include <Uefi.h>

// ---- Per-controller record --------------------------------------------------------------

constexpr UINT64 VANTOR_PRIVATE_DATA_SIGNATURE = SIGNATURE_32('V', 'T', 'R', '8');
constexpr UINTN VANTOR_MAX_MODES = 16;

struct VANTOR_MODE_ENTRY {
  UINT32 ModeTableIndex; // row of gVantorVideoModes
  UINT32 HorizontalResolution;
  UINT32 VerticalResolution;
  UINT32 ColorDepth;
  UINT32 RefreshRate;
};
static_assert(sizeof(VANTOR_MODE_ENTRY) == 20);

struct VANTOR_PRIVATE_DATA {
  UINT64 Signature;
  EFI_HANDLE Handle;
  EFI_PCI_IO_PROTOCOL *PciIo;
  UINT64 SavedPciAttributes;
  EFI_GRAPHICS_OUTPUT_PROTOCOL GraphicsOutput;
  EFI_EDID_DISCOVERED_PROTOCOL EdidDiscovered;
  EFI_EDID_ACTIVE_PROTOCOL EdidActive;
  EFI_DEVICE_PATH_PROTOCOL *ChildDevicePath;
  UINTN ModeCount;
  VANTOR_MODE_ENTRY ModeList[VANTOR_MAX_MODES];
  UINT8 *LineBuffer;
  BOOLEAN ModeNotSet;
  // The 2D engine's timeout is reported once, by a notification outside Blt (see Blt).
  BOOLEAN EngineTimeoutSeen;
  EFI_EVENT EngineTimeoutEvent;
};

// ---- The chip's protection values ------------------------------------------------------

constexpr UINT8 VANTOR_CRTC_UNLOCK = 0xA8;    // into CR80: extended CRTC registers writable
constexpr UINT32 VANTOR_SCU_KEY = 0x1688A8A8; // into SCU00: system control unit writable
constexpr UINT32 VANTOR_MCR_KEY = 0xFC600309; // into MCR00: memory controller writable

// ---- BAR 1: VGA ports at their legacy offsets, 2D engine, internal bus window -----------

constexpr UINT8 VANTOR_REGISTER_BAR = 1;
constexpr UINT8 VANTOR_FRAME_BUFFER_BAR = 0;

constexpr UINT32 VANTOR_PORT_ATTRIBUTE = 0x3C0;
constexpr UINT32 VANTOR_PORT_MISC_OUTPUT = 0x3C2;
constexpr UINT32 VANTOR_PORT_VGA_ENABLE = 0x3C3;
constexpr UINT32 VANTOR_PORT_SEQUENCER = 0x3C4; // index; data at +1
constexpr UINT32 VANTOR_PORT_GRAPHICS = 0x3CE;  // index; data at +1
constexpr UINT32 VANTOR_PORT_CRTC = 0x3D4;      // index; data at +1
constexpr UINT32 VANTOR_PORT_INPUT_STATUS1 = 0x3DA;

constexpr UINT32 VANTOR_ENGINE_MODE = 0x8044;
constexpr UINT32 VANTOR_ENGINE_REGISTER_COMMAND_MODE = 0xF2000000;

constexpr UINT32 VANTOR_BUS_WINDOW_ENABLE = 0xF000;
constexpr UINT32 VANTOR_BUS_WINDOW_BASE = 0xF004;
constexpr UINT32 VANTOR_BUS_WINDOW_DATA = 0x10000;
constexpr UINT32 VANTOR_BUS_WINDOW_ON = 1;
constexpr UINT32 VANTOR_BUS_WINDOW_MASK = 0xFFFF; // bus address bits the data port decodes

// ---- Internal bus: system control unit, memory controller, on-chip memory ---------------

constexpr UINT32 VANTOR_SCU = 0x1E6E2000;
constexpr UINT32 VANTOR_MCR = 0x1E6E0000;
constexpr UINT32 VANTOR_SRAM = 0x1E720000;

constexpr UINT32 Scu(UINT32 Offset) {
  return VANTOR_SCU + Offset;
}
constexpr UINT32 Mcr(UINT32 Offset) {
  return VANTOR_MCR + Offset;
}

// Registers this driver names (offsets from the unit's base).
constexpr UINT32 SCU_PROTECTION = 0x00;
constexpr UINT32 SCU_CLOCK_SELECT = 0x08;
constexpr UINT32 SCU_CLOCK_STOP = 0x0C;
constexpr UINT32 SCU_MEMORY_PLL = 0x20;
constexpr UINT32 SCU_MISC_CONTROL = 0x2C;
constexpr UINT32 SCU_HANDSHAKE = 0x40;
constexpr UINT32 SCU_STRAP = 0x70;
constexpr UINT32 MCR_PROTECTION = 0x00;
constexpr UINT32 MCR_CONFIGURATION = 0x04;
constexpr UINT32 MCR_STATUS = 0x1C;
constexpr UINT32 MCR_PLL_PARAMETER = 0x120;
constexpr UINT32 MCR_CLOCK_SOURCE = 0x170;

// On-chip memory words where the memory set-up leaves its results for the BMC.
constexpr UINT32 VANTOR_SRAM_LANE0_WINDOW = VANTOR_SRAM + 0x08;
constexpr UINT32 VANTOR_SRAM_LANE1_WINDOW = VANTOR_SRAM + 0x0C;
constexpr UINT32 VANTOR_SRAM_LINE_WINDOWS = VANTOR_SRAM + 0x10; // 16 words
constexpr UINT32 VANTOR_SRAM_DLL_SETTING = VANTOR_SRAM + 0x58;

// ---- CRTC registers used here ------------------------------------------------------------

constexpr UINT8 CR_UNLOCK = 0x80;
constexpr UINT8 CR_BANDWIDTH = 0x98;
constexpr UINT8 CR_DDC = 0xB7;
constexpr UINT8 CR_MEMORY_STATE = 0xD0;
constexpr UINT8 CRD0_BMC_MEMORY_SET_UP = 0x80; // the BMC firmware set the chip's memory up
constexpr UINT8 CRD0_MEMORY_READY = 0x40;

// ---- Bounds of the waits (each wait that would otherwise never end) ----------------------

// CRD0 bit 6 after a BMC set-up: every poll is an indexed read with its 10 us stall, so
// 100000 polls allow one second.
constexpr UINTN VANTOR_MEMORY_READY_POLLS = 100000;
// MCR1C bit 27 (memory controller settled): 100000 bus reads, some 30 ms.
constexpr UINTN VANTOR_DRAM_STATUS_POLLS = 100000;
// Calibration sweeps repeated until every window is usable: 16 attempts.
constexpr UINTN VANTOR_CALIBRATION_SWEEPS = 16;
// A DDC line level is taken once the first and the sixth of six CRB7 reads agree; a line that
// keeps changing between them (noise, a floating line) gets 1000 attempts, some 60 ms of
// indexed reads, and the EDID read then fails as if no display were attached.
constexpr UINTN VANTOR_DDC_LEVEL_ATTEMPTS = 1000;
// The 2D engine going idle after a copy: each round is six status reads of at least 1 us on
// the bus, so 200000 rounds allow more than a second, some fifty full-screen copies.
constexpr UINTN VANTOR_ENGINE_WAIT_ROUNDS = 200000;

// ---- Register operations -----------------------------------------------------------------

UINT8 VantorPortRead(VANTOR_PRIVATE_DATA *Private, UINT32 Port);
VOID VantorPortWrite(VANTOR_PRIVATE_DATA *Private, UINT32 Port, UINT8 Value);
UINT32 VantorMmioRead32(VANTOR_PRIVATE_DATA *Private, UINT32 Offset);
VOID VantorMmioWrite32(VANTOR_PRIVATE_DATA *Private, UINT32 Offset, UINT32 Value);
UINT8 VantorIndexRead(VANTOR_PRIVATE_DATA *Private, UINT32 IndexPort, UINT8 Index);
VOID VantorIndexWrite(VANTOR_PRIVATE_DATA *Private, UINT32 IndexPort, UINT8 Index, UINT8 Value);
VOID VantorIndexModify(VANTOR_PRIVATE_DATA *Private, UINT32 IndexPort, UINT8 Index, UINT8 AndMask,
                       UINT8 OrBits);
UINT32 VantorSocRead(VANTOR_PRIVATE_DATA *Private, UINT32 Address);
VOID VantorSocWrite(VANTOR_PRIVATE_DATA *Private, UINT32 Address, UINT32 Value);

inline UINT8 VantorCrtcRead(VANTOR_PRIVATE_DATA *Private, UINT8 Index) {
  return VantorIndexRead(Private, VANTOR_PORT_CRTC, Index);
}
inline VOID VantorCrtcWrite(VANTOR_PRIVATE_DATA *Private, UINT8 Index, UINT8 Value) {
  VantorIndexWrite(Private, VANTOR_PORT_CRTC, Index, Value);
}

// ---- Diagnostics on the standard-error console --------------------------------------------

constexpr UINTN VANTOR_DEBUG_ERROR = 0x80000000;
constexpr UINTN VANTOR_DEBUG_INFO = 0x00000040;
constexpr UINTN VANTOR_DEBUG_LEVELS = 0x80000042; // levels that are printed

VOID VantorDebugPrint(UINTN Level, const CHAR8 *Format, ...);
// Prints the failed status and the assertion (unit, line, expression), then halts.
VOID VantorAssertEfiError(const CHAR8 *Unit, UINTN Line, EFI_STATUS Status);
// Prints the assertion (unit, line, description), then halts.
VOID VantorAssert(const CHAR8 *Unit, UINTN Line, const CHAR8 *Description);

// ---- Bring-up and chip memory -------------------------------------------------------------

// Returns EFI_DEVICE_ERROR (with a message on StdErr) when a wait runs out.
EFI_STATUS VantorInitController(VANTOR_PRIVATE_DATA *Private);
EFI_STATUS VantorInitDram(VANTOR_PRIVATE_DATA *Private);

// The frame buffer's size in bytes from the strap word (SCU70 bits 2-3: 8, 16, 32 or 64 MiB).
constexpr UINT32 VantorStrapFrameBufferSize(UINT32 Strap) {
  return (8u * 1024 * 1024) << ((Strap >> 2) & 3);
}
static_assert(VantorStrapFrameBufferSize(0xC) == 64u * 1024 * 1024);

// Memory clock in MHz from the PLL parameter word and the reference clock in kHz.
constexpr UINT32 VantorMemoryClock(UINT32 Pll, UINT32 ReferenceKhz) {
  const UINT32 Numerator = (Pll >> 5) & 0x1FF;
  const UINT32 Denominator = Pll & 0x1F;
  constexpr UINT32 PostDivider[4] = {1, 2, 2, 4};
  return ReferenceKhz * (Numerator + 2) / (PostDivider[(Pll >> 14) & 3] * ((Denominator * 1000) + 2000));
}
// The memory bandwidth figure the BMC reads from CR98.
constexpr UINT8 VantorBandwidthFigure(UINT32 BusWidth, UINT32 MemoryClockMhz) {
  return static_cast<UINT8>(((((2 * BusWidth * MemoryClockMhz) >> 3) * 400 / 1000) >> 3));
}
static_assert(VantorMemoryClock(0x5040, 12000) == 396);
static_assert(VantorBandwidthFigure(32, 396) == 158);
static_assert(VantorBandwidthFigure(16, 396) == 79);

// ---- Mode table and mode programming --------------------------------------------------------

constexpr UINT32 VANTOR_MODE_WIDE = 0x04;
constexpr UINT32 VANTOR_MODE_REDUCED_BLANKING = 0x08;
constexpr UINT32 VANTOR_MODE_NORMAL_BLANKING_TWIN = 0x10;

struct VANTOR_VIDEO_MODE {
  UINT16 Width;
  UINT16 Height;
  UINT16 BitsPerPixel;
  UINT32 RefreshRate;
  UINT32 PixelClockMhz;
  UINT32 ModeId;
  UINT8 RefreshIndex;
  UINT32 ModeFlags;
};

struct VANTOR_CRTC_TIMING {
  UINT32 HorizontalTotal;
  UINT32 HorizontalDisplayEnd;
  UINT32 HorizontalFrontPorch;
  UINT32 HorizontalSyncWidth;
  UINT32 VerticalTotal;
  UINT32 VerticalDisplayEnd;
  UINT32 VerticalFrontPorch;
  UINT32 VerticalSyncWidth;
  UINT32 ClockIndex;
  UINT32 TimingFlags;
};

struct VANTOR_PIXEL_CLOCK {
  UINT8 Crc0;
  UINT8 Crc1;
  UINT8 Crbb; // CRBB is formed from bits 0-1 and 6-7
};

constexpr UINT32 VANTOR_TIMING_REDUCED_BLANKING = 0x08;
constexpr UINT32 VANTOR_TIMING_VERTICAL_BORDER = 0x10;
constexpr UINT32 VANTOR_TIMING_HORIZONTAL_BORDER = 0x20;
constexpr UINT32 VANTOR_TIMING_NEGATIVE_HSYNC = 0x40;
constexpr UINT32 VANTOR_TIMING_NEGATIVE_VSYNC = 0x80;

constexpr UINTN VANTOR_MODE_TABLE_ROWS = 16;
constexpr UINTN VANTOR_PIXEL_CLOCK_ROWS = 27;
extern const VANTOR_VIDEO_MODE gVantorVideoModes[VANTOR_MODE_TABLE_ROWS];
extern const VANTOR_CRTC_TIMING gVantorCrtcTimings[VANTOR_MODE_TABLE_ROWS];
extern const VANTOR_PIXEL_CLOCK gVantorPixelClocks[VANTOR_PIXEL_CLOCK_ROWS];

// Pitch in pixels of a mode of the given width.
constexpr UINT32 VantorPitch(UINT32 Width) {
  return (Width + 7) & ~7u;
}

VOID VantorProgramMode(VANTOR_PRIVATE_DATA *Private, UINTN Row);
VOID VantorClearFrameBuffer(VANTOR_PRIVATE_DATA *Private, UINT32 ByteCount);

// ---- Display identification and mode list ------------------------------------------------

// What the attached display accepts, as derived from its EDID (or the defaults without one).
struct VANTOR_DISPLAY_LIMITS {
  UINT16 MaxWidth;
  UINT16 MaxHeight;
  UINT16 MaxPixelClockMhz;
  UINT8 MaxHorizontalKhz;
  UINT8 MaxVerticalHz;
  UINT8 WideScreen;      // 0 or 1
  UINT8 ReducedBlanking; // 0 or 1
};
static_assert(sizeof(VANTOR_DISPLAY_LIMITS) == 10);

constexpr UINTN VANTOR_EDID_BLOCK_SIZE = 128;
constexpr UINT8 VANTOR_EDID_HEADER[8] = {0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00};

// Fills ModeList and the two EDID interfaces; EFI_DEVICE_ERROR when an EDID copy cannot be made.
EFI_STATUS VantorBuildModeList(VANTOR_PRIVATE_DATA *Private);
// Reads the display's EDID over DDC into a 128-byte pool copy.
EFI_STATUS VantorReadEdid(VANTOR_PRIVATE_DATA *Private, UINT8 **Edid, UINTN *EdidSize);
// Writes the defaults, then the limits of a usable 128-byte block; 1 when the block was used.
UINTN VantorParseEdid(const UINT8 *Edid, VANTOR_DISPLAY_LIMITS *Limits);
// 1 when the mode-table row fits the limits.
UINTN VantorModeFits(const VANTOR_DISPLAY_LIMITS *Limits, const VANTOR_VIDEO_MODE *Mode);

// ---- Graphics Output ------------------------------------------------------------------------

// BAR 0's first address-space descriptor: the frame buffer's bus address and its length.
// EFI_DEVICE_ERROR when the list does not start with a whole address-space descriptor.
EFI_STATUS VantorFrameBufferBar(VANTOR_PRIVATE_DATA *Private, EFI_PHYSICAL_ADDRESS *Base, UINT64 *Length);

// Sets up GraphicsOutput in the record and sets mode 0; Start publishes it on the child.
EFI_STATUS VantorGraphicsOutputConstructor(VANTOR_PRIVATE_DATA *Private);
// Releases what the constructor and SetMode allocated.
EFI_STATUS VantorGraphicsOutputDestructor(VANTOR_PRIVATE_DATA *Private);

// ---- Driver model ---------------------------------------------------------------------------

extern EFI_DRIVER_BINDING_PROTOCOL gVantorDriverBinding;
extern EFI_COMPONENT_NAME_PROTOCOL gVantorComponentName;
extern EFI_COMPONENT_NAME2_PROTOCOL gVantorComponentName2;

// Graphics Output on the chip model: the checks a UEFI test suite makes of QueryMode, SetMode
// and Blt (parameter checks in their order, the mode record, each operation reading back what
// it wrote), the transfers Blt chooses (seen through a PCI I/O that records them), the 2D
// engine's overlapping copies against a reference copy, and the failures Blt and SetMode
// report. The chip model itself refuses engine commands written while it is busy.
#include "VidframeTestBoard.h"

#include <Library/UefiBootServicesTableLib.h>

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace vidframe_test {
namespace {

using Pixel = EFI_GRAPHICS_OUTPUT_BLT_PIXEL;

// A PCI I/O in front of the board's that records frame-buffer writes and can refuse
// GetBarAttributes; its other members are the producer's (an instance of the producer's own
// layout).
struct Transfer {
  EFI_PCI_IO_PROTOCOL_WIDTH Width;
  UINT64 Offset;
  UINTN Count;
};
struct PciIoSpy {
  host::PciIoProducer::Instance Instance;
  EFI_PCI_IO_PROTOCOL *Real;
  std::vector<Transfer> Writes;
  EFI_STATUS BarStatus = EFI_SUCCESS; // not EFI_SUCCESS: GetBarAttributes fails with it
  bool NoBarList = false;             // GetBarAttributes succeeds without a list
  bool EndTagOnly = false;            // GetBarAttributes gives a list of its end tag alone
  unsigned Transfers = 0, FailAt = 0; // memory transfer FailAt (counted from 1) fails, not made
};
PciIoSpy *gSpy = nullptr;

uint32_t PixelValue(const Pixel &P) {
  return uint32_t(P.Red) << 16 | uint32_t(P.Green) << 8 | P.Blue;
}

EFI_STATUS EFIAPI SpyMemWrite(EFI_PCI_IO_PROTOCOL *, EFI_PCI_IO_PROTOCOL_WIDTH Width, UINT8 Bar,
                              UINT64 Offset, UINTN Count, VOID *Buffer) {
  if (++gSpy->Transfers == gSpy->FailAt) {
    return EFI_UNSUPPORTED;
  }
  if (Bar == VANTOR_FRAME_BUFFER_BAR) {
    gSpy->Writes.push_back({Width, Offset, Count});
  }
  return gSpy->Real->Mem.Write(gSpy->Real, Width, Bar, Offset, Count, Buffer);
}
EFI_STATUS EFIAPI SpyMemRead(EFI_PCI_IO_PROTOCOL *, EFI_PCI_IO_PROTOCOL_WIDTH Width, UINT8 Bar, UINT64 Offset,
                             UINTN Count, VOID *Buffer) {
  if (++gSpy->Transfers == gSpy->FailAt) {
    return EFI_UNSUPPORTED;
  }
  return gSpy->Real->Mem.Read(gSpy->Real, Width, Bar, Offset, Count, Buffer);
}
EFI_STATUS EFIAPI SpyGetBarAttributes(EFI_PCI_IO_PROTOCOL *, UINT8 Bar, UINT64 *Supports, VOID **Resources) {
  if (gSpy->NoBarList) {
    return EFI_SUCCESS;
  }
  if (gSpy->EndTagOnly) {
    EXPECT_EQ(gBS->AllocatePool(EfiBootServicesData, 2, Resources), EFI_SUCCESS);
    static_cast<UINT8 *>(*Resources)[0] = 0x79;
    static_cast<UINT8 *>(*Resources)[1] = 0;
    return EFI_SUCCESS;
  }
  return gSpy->BarStatus != EFI_SUCCESS ? gSpy->BarStatus
                                        : gSpy->Real->GetBarAttributes(gSpy->Real, Bar, Supports, Resources);
}

// The chip brought up (memory set up by the BMC), a mode list of 640x480, 1366x768 and
// 1024x768, and the Graphics Output constructed on the record (which sets mode 0).
class GraphicsOutput : public ::testing::Test {
protected:
  explicit GraphicsOutput(const Knobs &Faults = {}) : Board({{"vga-bmc", ""}}, Faults) {
    EXPECT_EQ(Board.InitController(), EFI_SUCCESS);
    Spy.Instance = {*Board.PciIo(), &Board.Producer()};
    Spy.Real = Board.PciIo();
    Spy.Instance.Protocol.Mem.Write = SpyMemWrite;
    Spy.Instance.Protocol.Mem.Read = SpyMemRead;
    Spy.Instance.Protocol.GetBarAttributes = SpyGetBarAttributes;
    gSpy = &Spy;
    Board.Private()->PciIo = &Spy.Instance.Protocol;
  }
  ~GraphicsOutput() override {
    Board.Run([&] { VantorGraphicsOutputDestructor(Board.Private()); });
    gSpy = nullptr;
  }
  void Construct(std::vector<UINT32> Rows = {0, 5, 2}) {
    VANTOR_PRIVATE_DATA *Private = Board.Private();
    Private->ModeCount = Rows.size();
    for (size_t Index = 0; Index < Rows.size(); Index++) {
      const VANTOR_VIDEO_MODE &Row = gVantorVideoModes[Rows[Index]];
      Private->ModeList[Index] = {Rows[Index], Row.Width, Row.Height, Row.BitsPerPixel, Row.RefreshRate};
    }
    Board.Run([&] { EXPECT_EQ(VantorGraphicsOutputConstructor(Private), EFI_SUCCESS); });
  }
  EFI_STATUS Blt(Pixel *Buffer, EFI_GRAPHICS_OUTPUT_BLT_OPERATION Operation, UINTN Sx, UINTN Sy, UINTN Dx,
                 UINTN Dy, UINTN W, UINTN H, UINTN Delta = 0) {
    EFI_STATUS Status = EFI_NOT_READY;
    Board.Run([&] { Status = Gop()->Blt(Gop(), Buffer, Operation, Sx, Sy, Dx, Dy, W, H, Delta); });
    return Status;
  }
  EFI_STATUS SetMode(UINT32 Mode) {
    EFI_STATUS Status = EFI_NOT_READY;
    Board.Run([&] { Status = Gop()->SetMode(Gop(), Mode); });
    return Status;
  }
  EFI_GRAPHICS_OUTPUT_PROTOCOL *Gop() { return &Board.Private()->GraphicsOutput; }
  uint32_t Pitch() { return Gop()->Mode->Info->PixelsPerScanLine; }
  uint32_t &Screen(uint32_t X, uint32_t Y) {
    return *reinterpret_cast<uint32_t *>(&Board.Chip().FrameBuffer()[(X + Y * Pitch()) * 4]);
  }
  // A screen with a different value in every pixel.
  void Pattern() {
    for (uint32_t Y = 0; Y < Gop()->Mode->Info->VerticalResolution; Y++) {
      for (uint32_t X = 0; X < Pitch(); X++) {
        Screen(X, Y) = (Y << 12) | X;
      }
    }
  }

  ChipBoard Board;
  PciIoSpy Spy{};
};

class StuckEngine : public GraphicsOutput {
protected:
  StuckEngine() : GraphicsOutput({{"vga-engine-stuck", ""}}) {}
};

TEST_F(GraphicsOutput, ModeRecordQueryModeAndSetModeChecks) {
  Construct();
  EFI_GRAPHICS_OUTPUT_PROTOCOL_MODE *Mode = Gop()->Mode;
  EXPECT_EQ(Mode->MaxMode, 3u);
  EXPECT_EQ(Mode->Mode, 0u);
  EXPECT_EQ(Mode->SizeOfInfo, 36u);
  EXPECT_EQ(Mode->FrameBufferBase, host::vga::VgaChipConfig::FrameBufferBase);
  EXPECT_EQ(Mode->FrameBufferSize, 640u * 4 * 480);
  EXPECT_EQ(Mode->Info->PixelFormat, PixelBlueGreenRedReserved8BitPerColor);

  UINTN Size = 0;
  EFI_GRAPHICS_OUTPUT_MODE_INFORMATION *Info = nullptr;
  auto Query = [&](UINT32 Number, UINTN *S, EFI_GRAPHICS_OUTPUT_MODE_INFORMATION **I) {
    EFI_STATUS Status = EFI_NOT_READY;
    Board.Run([&] { Status = Gop()->QueryMode(Gop(), Number, S, I); });
    return Status;
  };
  EXPECT_EQ(Query(0, &Size, nullptr), EFI_INVALID_PARAMETER);
  EXPECT_EQ(Query(0, nullptr, &Info), EFI_INVALID_PARAMETER);
  EXPECT_EQ(Query(3, &Size, &Info), EFI_INVALID_PARAMETER);
  EXPECT_EQ(SetMode(3), EFI_UNSUPPORTED);
  const uint32_t Expected[][3] = {{640, 480, 640}, {1366, 768, 1368}, {1024, 768, 1024}};
  for (UINT32 Number = 0; Number < 3; Number++) {
    ASSERT_EQ(Query(Number, &Size, &Info), EFI_SUCCESS);
    EXPECT_EQ(Size, 36u);
    EXPECT_EQ(Info->HorizontalResolution, Expected[Number][0]);
    EXPECT_EQ(Info->VerticalResolution, Expected[Number][1]);
    EXPECT_EQ(Info->PixelsPerScanLine, Expected[Number][2]);
    EXPECT_EQ(Info->PixelFormat, PixelBlueGreenRedReserved8BitPerColor);
    Board.Core().BootServices()->FreePool(Info);
  }
  ASSERT_EQ(SetMode(1), EFI_SUCCESS);
  EXPECT_EQ(Mode->Mode, 1u);
  EXPECT_EQ(Mode->Info->HorizontalResolution, 1366u);
  EXPECT_EQ(Mode->FrameBufferSize, 1368u * 4 * 768);
}

TEST_F(GraphicsOutput, FailedSetModesChangeNothingAndWithoutAModeNothingIsDrawn) {
  Construct();
  for (int Case = 0; Case < 3; Case++) {
    SCOPED_TRACE(Case);
    Spy.BarStatus = Case == 0 ? EFI_UNSUPPORTED : EFI_SUCCESS;
    Spy.NoBarList = Case == 1;
    Spy.EndTagOnly = Case == 2; // nothing is read past the end tag
    EXPECT_EQ(SetMode(1), Case == 0 ? EFI_UNSUPPORTED : EFI_DEVICE_ERROR);
    EXPECT_EQ(Gop()->Mode->Mode, 0u);
    EXPECT_EQ(Gop()->Mode->Info->HorizontalResolution, 640u);
    EXPECT_EQ(Gop()->Mode->FrameBufferBase, host::vga::VgaChipConfig::FrameBufferBase);
    EXPECT_FALSE(Board.Private()->ModeNotSet);
  }
  // Without a mode set (the first SetMode failed, or no mode at all): QueryMode is not
  // started, Blt a device error that draws nothing and reads no mode entry.
  for (const std::vector<UINT32> &Rows : {std::vector<UINT32>{0, 5, 2}, std::vector<UINT32>{}}) {
    Board.Run([&] { VantorGraphicsOutputDestructor(Board.Private()); });
    Spy.BarStatus = EFI_UNSUPPORTED;
    Spy.NoBarList = Spy.EndTagOnly = false;
    Spy.Writes.clear();
    Construct(Rows);
    EXPECT_TRUE(Board.Private()->ModeNotSet);
    EXPECT_EQ(Gop()->Mode->Mode, 0xFFFFu);
    UINTN Size = 0;
    EFI_GRAPHICS_OUTPUT_MODE_INFORMATION *Info = nullptr;
    Board.Run([&] { EXPECT_EQ(Gop()->QueryMode(Gop(), 0, &Size, &Info), EFI_NOT_STARTED); });
    Pixel Colour = {1, 2, 3, 0};
    EXPECT_EQ(Blt(&Colour, EfiBltVideoFill, 0, 0, 0, 0, 1, 1), EFI_DEVICE_ERROR);
    EXPECT_TRUE(Spy.Writes.empty());
  }
}

TEST_F(GraphicsOutput, BltParameterChecksInTheirOrder) {
  Construct();
  Pattern();
  const std::vector<uint8_t> Before = Board.Chip().FrameBuffer();
  std::vector<Pixel> Buffer(16);
  const UINTN Huge = ~UINTN(0);
  struct Case {
    const char *Name;
    Pixel *Buffer;
    UINT32 Operation;
    UINTN Sx, Sy, Dx, Dy, W, H, Delta;
  } Cases[] = {
      {"operation 4", Buffer.data(), 4, 0, 0, 0, 0, 1, 1, 0},
      {"width 0", Buffer.data(), EfiBltVideoFill, 0, 0, 0, 0, 0, 1, 0},
      {"height 0", Buffer.data(), EfiBltBufferToVideo, 0, 0, 0, 0, 1, 0, 0},
      {"no buffer", nullptr, EfiBltVideoFill, 0, 0, 0, 0, 1, 1, 0},
      {"fill past the right edge", Buffer.data(), EfiBltVideoFill, 0, 0, 630, 0, 11, 1, 0},
      {"fill past the bottom", Buffer.data(), EfiBltVideoFill, 0, 0, 0, 470, 1, 11, 0},
      {"write with a wrapping x", Buffer.data(), EfiBltBufferToVideo, 0, 0, Huge - 2, 0, 4, 1, 0},
      {"write with a wrapping y", Buffer.data(), EfiBltBufferToVideo, 0, 0, 0, Huge, 1, 2, 0},
      {"read past the right edge", Buffer.data(), EfiBltVideoToBltBuffer, 637, 0, 0, 0, 4, 1, 0},
      {"read with a wrapping y", Buffer.data(), EfiBltVideoToBltBuffer, 0, Huge, 0, 0, 1, 2, 0},
      {"copy from past the bottom", nullptr, EfiBltVideoToVideo, 0, 479, 0, 0, 1, 2, 0},
      {"copy from a wrapping x", nullptr, EfiBltVideoToVideo, Huge, 0, 0, 0, 2, 1, 0},
      {"copy to past the right edge", nullptr, EfiBltVideoToVideo, 0, 0, 639, 0, 2, 1, 0},
      {"caller's rows beyond the address space", Buffer.data(), EfiBltBufferToVideo, 0, Huge / 8, 0, 0, 1, 2,
       64},
  };
  for (const Case &C : Cases) {
    SCOPED_TRACE(C.Name);
    EXPECT_EQ(Blt(C.Buffer, static_cast<EFI_GRAPHICS_OUTPUT_BLT_OPERATION>(C.Operation), C.Sx, C.Sy, C.Dx,
                  C.Dy, C.W, C.H, C.Delta),
              EFI_INVALID_PARAMETER);
  }
  EXPECT_TRUE(Spy.Writes.empty());
  EXPECT_TRUE(Board.Chip().EngineCommands().empty());
  EXPECT_EQ(Board.Chip().FrameBuffer(), Before);
}

// Writes a rectangle from a larger buffer (Delta), reads it back into another place of a
// buffer, and checks the screen, the transfer widths and the untouched reserved bytes.
TEST_F(GraphicsOutput, BufferToVideoAndBackWithADeltaAndTheWidthChoice) {
  Construct();
  struct Case {
    UINTN W;
    EFI_PCI_IO_PROTOCOL_WIDTH Width;
    UINTN Count;
  } Cases[] = {{1, EfiPciIoWidthUint8, 4},  {2, EfiPciIoWidthUint16, 4},  {3, EfiPciIoWidthUint8, 12},
               {4, EfiPciIoWidthUint32, 4}, {6, EfiPciIoWidthUint16, 12}, {640, EfiPciIoWidthUint32, 640}};
  for (const Case &C : Cases) {
    SCOPED_TRACE(C.W);
    constexpr UINTN Rows = 3, Columns = 700, Sx = 5, Sy = 1;
    std::vector<Pixel> Source(Columns * (Rows + Sy));
    for (size_t Index = 0; Index < Source.size(); Index++) {
      Source[Index] = {uint8_t(Index), uint8_t(Index >> 8), uint8_t(Index * 7), 0xEE};
    }
    const UINTN Dx = 640 - C.W, Dy = 100;
    Spy.Writes.clear();
    ASSERT_EQ(Blt(Source.data(), EfiBltBufferToVideo, Sx, Sy, Dx, Dy, C.W, Rows, Columns * 4), EFI_SUCCESS);
    ASSERT_EQ(Spy.Writes.size(), Rows);
    for (UINTN Row = 0; Row < Rows; Row++) {
      EXPECT_EQ(Spy.Writes[Row].Width, C.Width);
      EXPECT_EQ(Spy.Writes[Row].Count, C.Count);
      EXPECT_EQ(Spy.Writes[Row].Offset, (Dx + (Dy + Row) * 640) * 4);
      for (UINTN X = 0; X < C.W; X++) {
        EXPECT_EQ(Screen(Dx + X, Dy + Row), PixelValue(Source[(Sy + Row) * Columns + Sx + X]));
      }
    }
    std::vector<Pixel> Back(2 * C.W * (Rows + 2), Pixel{9, 9, 9, 0x77});
    ASSERT_EQ(Blt(Back.data(), EfiBltVideoToBltBuffer, Dx, Dy, 1, 2, C.W, Rows, 2 * C.W * 4), EFI_SUCCESS);
    for (UINTN Row = 0; Row < Rows; Row++) {
      for (UINTN X = 0; X < C.W; X++) {
        const Pixel &In = Source[(Sy + Row) * Columns + Sx + X], &Out = Back[(2 + Row) * 2 * C.W + 1 + X];
        EXPECT_EQ(PixelValue(Out), PixelValue(In));
        EXPECT_EQ(Out.Reserved, 0x77); // left as it was
      }
    }
  }
}

TEST_F(GraphicsOutput, FillsOfPartialAndFullWidth) {
  Construct();
  ASSERT_EQ(SetMode(1), EFI_SUCCESS); // 1366 x 768, pitch 1368
  Pattern();
  Pixel Colour = {0x30, 0x20, 0x10, 0xFF};
  Spy.Writes.clear();
  ASSERT_EQ(Blt(&Colour, EfiBltVideoFill, 0, 0, 0, 0, 1366, 768), EFI_SUCCESS);
  ASSERT_EQ(Spy.Writes.size(), 1u); // every row, padding included, in one transfer
  EXPECT_EQ(Spy.Writes[0].Width, EfiPciIoWidthFillUint32);
  EXPECT_EQ(Spy.Writes[0].Count, 1368u * 768);
  for (uint32_t Y : {0u, 767u}) {
    for (uint32_t X : {0u, 1365u, 1367u}) {
      EXPECT_EQ(Screen(X, Y), 0x102030u);
    }
  }
  // A partial width: one transfer per row, nothing beside the rectangle.
  Pattern();
  Spy.Writes.clear();
  ASSERT_EQ(Blt(&Colour, EfiBltVideoFill, 99, 99, 10, 20, 5, 3), EFI_SUCCESS);
  EXPECT_EQ(Spy.Writes.size(), 3u);
  for (uint32_t Y = 19; Y <= 23; Y++) {
    for (uint32_t X = 9; X <= 15; X++) {
      const bool Inside = X >= 10 && X < 15 && Y >= 20 && Y < 23;
      EXPECT_EQ(Screen(X, Y), Inside ? 0x102030u : (Y << 12 | X)) << X << "," << Y;
    }
  }
}

// Overlapping copies in the four directions: the screen must equal a copy made through a
// separate buffer, which the engine only achieves when the driver picked the right direction.
TEST_F(GraphicsOutput, OverlappingEngineCopiesInEveryDirection) {
  Construct();
  struct Case {
    UINTN Sx, Sy, Dx, Dy;
    uint32_t Command;
  } Cases[] = {{10, 10, 13, 12, 0x30CC20},
               {13, 12, 10, 10, 0xCC20},
               {13, 10, 10, 12, 0x10CC20},
               {10, 12, 13, 10, 0x20CC20},
               {0, 0, 0, 0, 0xCC20}};
  constexpr UINTN W = 40, H = 30;
  for (const Case &C : Cases) {
    SCOPED_TRACE(C.Command);
    Pattern();
    std::vector<uint32_t> Expected(W * H);
    for (UINTN Y = 0; Y < H; Y++) {
      for (UINTN X = 0; X < W; X++) {
        Expected[Y * W + X] = Screen(C.Sx + X, C.Sy + Y);
      }
    }
    ASSERT_EQ(Blt(nullptr, EfiBltVideoToVideo, C.Sx, C.Sy, C.Dx, C.Dy, W, H), EFI_SUCCESS);
    EXPECT_EQ(Board.Chip().EngineCommands().back(), C.Command);
    EXPECT_FALSE(Board.Chip().EngineBusy());
    for (UINTN Y = 0; Y < H; Y++) {
      for (UINTN X = 0; X < W; X++) {
        ASSERT_EQ(Screen(C.Dx + X, C.Dy + Y), Expected[Y * W + X]) << X << "," << Y;
      }
    }
    EXPECT_EQ(Screen(C.Dx + W, C.Dy), (C.Dy << 12) | (C.Dx + W)); // beside the rectangle
  }
}

TEST_F(StuckEngine, ACopyThatNeverFinishesIsADeviceErrorAtTheBound) {
  Construct();
  const uint64_t Start = Board.Core().VirtualTimeNs();
  EXPECT_EQ(Blt(nullptr, EfiBltVideoToVideo, 0, 0, 8, 8, 8, 8), EFI_DEVICE_ERROR);
  EXPECT_GE(Board.Core().VirtualTimeNs() - Start, VANTOR_ENGINE_WAIT_ROUNDS * 6 * 100);
  EXPECT_NE(Board.StdErr().find("the 2D engine did not finish a copy"), std::string::npos);
}

// A timer callback that draws must not run in the middle of a Blt.
TEST_F(GraphicsOutput, BltRunsAtNotifyLevel) {
  Construct();
  struct Seen {
    const uint32_t *LastRowPixel;
    int Fired = 0;
    uint32_t LastRow = 0;
  } Watch{&Screen(0, 99)};
  EFI_EVENT Timer = nullptr;
  EFI_BOOT_SERVICES *BS = Board.Core().BootServices();
  auto Notify = [](EFI_EVENT, VOID *Context) {
    auto *W = static_cast<Seen *>(Context);
    W->Fired++;
    W->LastRow = *W->LastRowPixel;
  };
  ASSERT_EQ(BS->CreateEvent(EVT_TIMER | EVT_NOTIFY_SIGNAL, TPL_CALLBACK, Notify, &Watch, &Timer),
            EFI_SUCCESS);
  ASSERT_EQ(BS->SetTimer(Timer, TimerRelative, 1), EFI_SUCCESS);
  Pixel Colour = {0x11, 0x22, 0x33, 0};
  ASSERT_EQ(Blt(&Colour, EfiBltVideoFill, 0, 0, 0, 0, 8, 100), EFI_SUCCESS);
  EXPECT_EQ(Watch.Fired, 1);
  EXPECT_EQ(Watch.LastRow, 0x332211u); // the whole fill was done when the callback ran
  BS->CloseEvent(Timer);
}

// Every transfer's status counts: the first that fails ends the operation with a device error
// and nothing more is transferred.
TEST_F(GraphicsOutput, BltReportsTheFirstFailedTransfer) {
  Construct();
  std::vector<Pixel> Buffer(640 * 3);
  struct Case {
    const char *Name;
    Pixel *Buffer;
    EFI_GRAPHICS_OUTPUT_BLT_OPERATION Operation;
    UINTN Sx, Sy, Dx, Dy, W, H;
    unsigned FailAt;
  } Cases[] = {
      {"full-width fill", Buffer.data(), EfiBltVideoFill, 0, 0, 0, 0, 640, 3, 1},
      {"second row of a fill", Buffer.data(), EfiBltVideoFill, 0, 0, 8, 0, 16, 3, 2},
      {"last row of a write", Buffer.data(), EfiBltBufferToVideo, 0, 0, 0, 0, 640, 3, 3},
      {"first row of a read", Buffer.data(), EfiBltVideoToBltBuffer, 0, 0, 0, 0, 640, 3, 1},
      {"copy: an engine register", nullptr, EfiBltVideoToVideo, 0, 0, 0, 8, 8, 8, 4},
      {"copy: the command", nullptr, EfiBltVideoToVideo, 0, 0, 0, 8, 8, 8, 8},
      {"copy: a status read", nullptr, EfiBltVideoToVideo, 0, 0, 0, 8, 8, 8, 11},
  };
  for (const Case &C : Cases) {
    SCOPED_TRACE(C.Name);
    Board.Core().AdvanceTime(1'000'000); // a copy left running has finished
    Spy.Transfers = 0;
    Spy.FailAt = C.FailAt;
    EXPECT_EQ(Blt(C.Buffer, C.Operation, C.Sx, C.Sy, C.Dx, C.Dy, C.W, C.H), EFI_DEVICE_ERROR);
    EXPECT_EQ(Spy.Transfers, C.FailAt);
  }
  Spy.FailAt = 0;
}

// A timer callback draws a full row of the mode in force (read and written back) throughout
// SetModes to smaller and larger modes: it never sees a line buffer shorter than that mode's
// rows (under the sanitizers an overflow ends the test), and each SetMode comes into force whole.
TEST_F(GraphicsOutput, SetModeAgainstADrawingCallback) {
  Construct(); // 640x480, 1366x768, 1024x768
  struct Drawer {
    EFI_GRAPHICS_OUTPUT_PROTOCOL *Gop;
    std::vector<Pixel> Row = std::vector<Pixel>(1366);
    unsigned Draws = 0;
    EFI_STATUS Status = EFI_SUCCESS;
  } D{Gop()};
  auto Notify = [](EFI_EVENT, VOID *Context) {
    auto *Self = static_cast<Drawer *>(Context);
    const UINTN Width = Self->Gop->Mode->Info->HorizontalResolution;
    for (auto Operation : {EfiBltVideoToBltBuffer, EfiBltBufferToVideo}) {
      const EFI_STATUS Status =
          Self->Gop->Blt(Self->Gop, Self->Row.data(), Operation, 0, 0, 0, 0, Width, 1, 0);
      Self->Status = EFI_ERROR(Status) ? Status : Self->Status;
    }
    Self->Draws++;
  };
  EFI_BOOT_SERVICES *BS = Board.Core().BootServices();
  EFI_EVENT Timer = nullptr;
  ASSERT_EQ(BS->CreateEvent(EVT_TIMER | EVT_NOTIFY_SIGNAL, TPL_CALLBACK, Notify, &D, &Timer), EFI_SUCCESS);
  ASSERT_EQ(BS->SetTimer(Timer, TimerPeriodic, 10'000), EFI_SUCCESS); // every millisecond
  for (UINT32 Mode : {1u, 0u, 2u, 1u, 2u}) {
    SCOPED_TRACE(Mode);
    D.Draws = 0;
    ASSERT_EQ(SetMode(Mode), EFI_SUCCESS);
    EXPECT_GT(D.Draws, 10u);
    EXPECT_EQ(D.Status, EFI_SUCCESS);
    EXPECT_EQ(Gop()->Mode->Mode, Mode);
  }
  BS->CloseEvent(Timer);
}

// The engine's status: busy, then the write-back counted down in bits 18-27 with the pixels not
// yet in memory, then a status that stays put with the copy done; registers written before then
// are refused.
TEST_F(GraphicsOutput, EngineStatusCountsTheWriteBackDown) {
  Construct();
  Pattern();
  host::vga::VgaChip &Chip = Board.Chip();
  auto Status = [&] { return static_cast<uint32_t>(Chip.RegisterRead(0x804C, 4)); };
  const uint32_t Writes[][2] = {
      {0x8000, 0}, {0x8004, 2560u << 16},    {0x8008, 0},     {0x800C, (2560u << 16) | 480}, {0x8010, 8},
      {0x8014, 0}, {0x8018, (8u << 16) | 1}, {0x803C, 0xCC20}};
  for (const auto &W : Writes) {
    Chip.RegisterWrite(W[0], 4, W[1]);
  }
  EXPECT_EQ(Status() & 0x10000000u, 0x10000000u);
  Board.Core().AdvanceTime(1100); // the copy of 8 pixels is done: busy clears, the write-back runs
  const uint32_t Early = Status();
  EXPECT_EQ(Early & 0x10000000u, 0u);
  EXPECT_NE(Early & 0x0FFC0000u, 0u);
  EXPECT_NE(Screen(0, 8), Screen(0, 0)); // not in memory yet
  Board.ExpectErrors({"written while the engine is busy"});
  Chip.RegisterWrite(0x8000, 4, 0);
  Board.Core().AdvanceTime(500);
  EXPECT_LT(Status() & 0x0FFC0000u, Early & 0x0FFC0000u);
  Board.Core().AdvanceTime(2000);
  EXPECT_EQ(Status(), 0u);
  EXPECT_EQ(Screen(0, 8), Screen(0, 0));
}

// A console on this display as StdErr: it draws at TPL_NOTIFY as consoles do, scrolling with
// the 2D engine. The engine never finishes: the timeout is printed once, after the console's
// Blt, never from inside it.
TEST_F(StuckEngine, TheTimeoutIsPrintedOnceAndNeverFromInsideTheConsolesBlt) {
  Construct();
  Board.ExpectErrors({"written while the engine is busy"}); // the copies after the first
  struct Console {
    EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL Protocol{};
    EFI_GRAPHICS_OUTPUT_PROTOCOL *Gop = nullptr;
    bool InBlt = false, ReEntered = false;
    std::vector<std::u16string> Lines;
  };
  static Console *gConsole = nullptr;
  Console Screen;
  Screen.Gop = Gop();
  gConsole = &Screen;
  Screen.Protocol.OutputString = [](EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL *, CHAR16 *Text) -> EFI_STATUS {
    Console &C = *gConsole;
    C.Lines.emplace_back(reinterpret_cast<const char16_t *>(Text));
    if (C.InBlt) {
      C.ReEntered = true;
      return EFI_SUCCESS;
    }
    const EFI_TPL Old = gBS->RaiseTPL(TPL_NOTIFY);
    C.InBlt = true;
    C.Gop->Blt(C.Gop, nullptr, EfiBltVideoToVideo, 0, 16, 0, 0, 640, 464, 0); // scroll a text row
    C.InBlt = false;
    gBS->RestoreTPL(Old);
    return EFI_SUCCESS;
  };
  EFI_SYSTEM_TABLE *System = Board.Core().SystemTable();
  EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL *StdErr = System->StdErr;
  System->StdErr = &Screen.Protocol;
  for (int Line = 0; Line < 2; Line++) {
    CHAR16 Text[] = u"line\n";
    Board.Run([&] { Screen.Protocol.OutputString(&Screen.Protocol, Text); });
  }
  System->StdErr = StdErr;
  EXPECT_FALSE(Screen.ReEntered);
  const auto Timeouts = std::count_if(Screen.Lines.begin(), Screen.Lines.end(), [](const std::u16string &L) {
    return L.find(u"2D engine did not finish") != std::u16string::npos;
  });
  EXPECT_EQ(Timeouts, 1);
  gConsole = nullptr;
}

} // namespace
} // namespace vidframe_test

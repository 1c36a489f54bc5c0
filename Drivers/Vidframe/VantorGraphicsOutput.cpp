// The Graphics Output interface of a controller: its modes are the entries of ModeList, drawing
// goes to the frame buffer through PCI I/O on BAR 0, screen-to-screen copies through the chip's
// 2D engine on BAR 1. Every mode is 32 bits per pixel, blue in the lowest byte.
#include <IndustryStandard/Acpi.h>
#include <Library/BaseMemoryLib.h>
#include <Library/UefiBootServicesTableLib.h>

#include "VantorGraphics.h"

namespace {

constexpr const CHAR8 *UNIT = "VantorGraphicsOutput";
constexpr UINTN ASSERT_LINE_QUERY_MODE = 135;
constexpr UINTN ASSERT_LINE_SET_MODE = 189;
constexpr UINTN ASSERT_LINE_BLT = 284;
constexpr const CHAR8 *BAD_SIGNATURE = "CR has Bad Signature";

constexpr UINT32 MODE_NOT_SET = 0xFFFF;
constexpr UINTN BYTES_PER_PIXEL = 4;
constexpr UINTN INFO_SIZE = sizeof(EFI_GRAPHICS_OUTPUT_MODE_INFORMATION);
static_assert(INFO_SIZE == 36);

// 2D engine registers (BAR 1).
constexpr UINT32 ENGINE_SOURCE_BASE = 0x8000;
constexpr UINT32 ENGINE_SOURCE_PITCH = 0x8004;
constexpr UINT32 ENGINE_DESTINATION_BASE = 0x8008;
constexpr UINT32 ENGINE_DESTINATION_PITCH = 0x800C;
constexpr UINT32 ENGINE_DESTINATION_START = 0x8010;
constexpr UINT32 ENGINE_SOURCE_START = 0x8014;
constexpr UINT32 ENGINE_RECTANGLE = 0x8018;
constexpr UINT32 ENGINE_COMMAND = 0x803C;
constexpr UINT32 ENGINE_STATUS = 0x804C;
constexpr UINT32 ENGINE_STATUS_BUSY = 1u << 28;
constexpr UINT32 ENGINE_STATUS_STABLE_BITS = 0xFFFC0000;
constexpr UINTN ENGINE_STATUS_REREADS = 5;
// Raster operation 0xCC (source copy) at 32 bits per pixel; the direction bits.
constexpr UINT32 ENGINE_COPY = 0xCC20;
constexpr UINT32 ENGINE_X_DECREASING = 0x200000;
constexpr UINT32 ENGINE_Y_DECREASING = 0x100000;
static_assert((ENGINE_COPY | ENGINE_X_DECREASING | ENGINE_Y_DECREASING) == 0x30CC20);

VANTOR_PRIVATE_DATA *FromGraphicsOutput(EFI_GRAPHICS_OUTPUT_PROTOCOL *This, UINTN Line) {
  VANTOR_PRIVATE_DATA *Private = BASE_CR(This, VANTOR_PRIVATE_DATA, GraphicsOutput);
  if (Private->Signature != VANTOR_PRIVATE_DATA_SIGNATURE) {
    VantorAssert(UNIT, Line, BAD_SIGNATURE);
  }
  return Private;
}

VOID FillModeInformation(const VANTOR_MODE_ENTRY &Entry, EFI_GRAPHICS_OUTPUT_MODE_INFORMATION *Info) {
  ZeroMem(Info, INFO_SIZE);
  Info->Version = 0;
  Info->HorizontalResolution = Entry.HorizontalResolution;
  Info->VerticalResolution = Entry.VerticalResolution;
  Info->PixelFormat = PixelBlueGreenRedReserved8BitPerColor;
  Info->PixelsPerScanLine = VantorPitch(Entry.HorizontalResolution);
}

// True when [Start, Start + Length) lies within [0, Limit), computed without a wrap.
BOOLEAN Inside(UINTN Start, UINTN Length, UINTN Limit) {
  return Length <= Limit && Start <= Limit - Length;
}

// True when the caller's rectangle at (X, Y) of Width x Height rows of Delta bytes can be
// addressed without a wrap.
BOOLEAN BufferAddressable(UINTN X, UINTN Y, UINTN Width, UINTN Height, UINTN Delta) {
  const UINTN Max = ~static_cast<UINTN>(0);
  if (X > Max / BYTES_PER_PIXEL - Width || Y > Max - (Height - 1)) {
    return FALSE;
  }
  const UINTN LastRow = Y + Height - 1;
  const UINTN RowEnd = (X + Width) * BYTES_PER_PIXEL;
  return Delta == 0 || LastRow <= (Max - RowEnd) / Delta;
}

struct BLT_RECT {
  EFI_GRAPHICS_OUTPUT_BLT_PIXEL *Buffer;
  UINTN SourceX, SourceY, DestinationX, DestinationY, Width, Height, Delta;
  UINT32 Pitch; // frame buffer pitch in pixels
};

UINT64 ScreenOffset(const BLT_RECT &R, UINTN X, UINTN Y) {
  return (static_cast<UINT64>(X) + static_cast<UINT64>(Y) * R.Pitch) * BYTES_PER_PIXEL;
}

EFI_GRAPHICS_OUTPUT_BLT_PIXEL *BufferPixel(const BLT_RECT &R, UINTN X, UINTN Y) {
  return reinterpret_cast<EFI_GRAPHICS_OUTPUT_BLT_PIXEL *>(reinterpret_cast<UINT8 *>(R.Buffer) + Y * R.Delta +
                                                           X * BYTES_PER_PIXEL);
}

// The screen's word for a pixel: Blue, Green and Red are the low three bytes of the little-endian
// pixel, the reserved byte is not drawn. One load and a mask, so a row converts at memory speed.
constexpr UINT32 PIXEL_COLOUR_MASK = 0x00FFFFFF;
static_assert(sizeof(EFI_GRAPHICS_OUTPUT_BLT_PIXEL) == sizeof(UINT32), "a Blt pixel is one word");

UINT32 PixelValue(const EFI_GRAPHICS_OUTPUT_BLT_PIXEL &Pixel) {
  UINT32 Word;
  __builtin_memcpy(&Word, &Pixel, sizeof(Word));
  return Word & PIXEL_COLOUR_MASK;
}

// Any failed transfer fails the operation: the rest is not attempted.
EFI_STATUS Transferred(EFI_STATUS Status) {
  return EFI_ERROR(Status) ? EFI_DEVICE_ERROR : EFI_SUCCESS;
}

EFI_STATUS VideoFill(VANTOR_PRIVATE_DATA *Private, const BLT_RECT &R, UINT32 HorizontalResolution) {
  UINT32 Value = PixelValue(R.Buffer[0]);
  EFI_PCI_IO_PROTOCOL *PciIo = Private->PciIo;
  if (R.DestinationX == 0 && R.Width == HorizontalResolution) {
    // Whole rows: one transfer over every pitch-wide row.
    return Transferred(PciIo->Mem.Write(PciIo, EfiPciIoWidthFillUint32, VANTOR_FRAME_BUFFER_BAR,
                                        ScreenOffset(R, 0, R.DestinationY), R.Height * R.Pitch, &Value));
  }
  EFI_STATUS Status = EFI_SUCCESS;
  for (UINTN Row = 0; Row < R.Height && !EFI_ERROR(Status); Row++) {
    Status =
        Transferred(PciIo->Mem.Write(PciIo, EfiPciIoWidthFillUint32, VANTOR_FRAME_BUFFER_BAR,
                                     ScreenOffset(R, R.DestinationX, R.DestinationY + Row), R.Width, &Value));
  }
  return Status;
}

EFI_STATUS VideoToBuffer(VANTOR_PRIVATE_DATA *Private, const BLT_RECT &R) {
  const UINT32 *Line = reinterpret_cast<const UINT32 *>(Private->LineBuffer);
  for (UINTN Row = 0; Row < R.Height; Row++) {
    EFI_STATUS Status =
        Private->PciIo->Mem.Read(Private->PciIo, EfiPciIoWidthUint32, VANTOR_FRAME_BUFFER_BAR,
                                 ScreenOffset(R, R.SourceX, R.SourceY + Row), R.Width, Private->LineBuffer);
    if (EFI_ERROR(Status)) {
      return Transferred(Status);
    }
    for (UINTN Column = 0; Column < R.Width; Column++) {
      EFI_GRAPHICS_OUTPUT_BLT_PIXEL *Pixel = BufferPixel(R, R.DestinationX + Column, R.DestinationY + Row);
      Pixel->Blue = static_cast<UINT8>(Line[Column]);
      Pixel->Green = static_cast<UINT8>(Line[Column] >> 8);
      Pixel->Red = static_cast<UINT8>(Line[Column] >> 16);
    }
  }
  return EFI_SUCCESS;
}

EFI_STATUS BufferToVideo(VANTOR_PRIVATE_DATA *Private, const BLT_RECT &R) {
  UINT32 *Line = reinterpret_cast<UINT32 *>(Private->LineBuffer);
  for (UINTN Row = 0; Row < R.Height; Row++) {
    for (UINTN Column = 0; Column < R.Width; Column++) {
      Line[Column] = PixelValue(*BufferPixel(R, R.SourceX + Column, R.SourceY + Row));
    }
    const UINT64 Offset = ScreenOffset(R, R.DestinationX, R.DestinationY + Row);
    // The widest access that the row's length and start allow.
    const UINT64 Alignment = R.Width | Offset;
    EFI_PCI_IO_PROTOCOL_WIDTH Width = EfiPciIoWidthUint32;
    UINTN Count = R.Width;
    if ((Alignment & 1) != 0) {
      Width = EfiPciIoWidthUint8;
      Count = R.Width * 4;
    } else if ((Alignment & 3) != 0) {
      Width = EfiPciIoWidthUint16;
      Count = R.Width * 2;
    }
    EFI_STATUS Status =
        Private->PciIo->Mem.Write(Private->PciIo, Width, VANTOR_FRAME_BUFFER_BAR, Offset, Count, Line);
    if (EFI_ERROR(Status)) {
      return Transferred(Status);
    }
  }
  return EFI_SUCCESS;
}

EFI_STATUS EngineRead(VANTOR_PRIVATE_DATA *Private, UINT32 Offset, UINT32 *Value) {
  return Transferred(
      Private->PciIo->Mem.Read(Private->PciIo, EfiPciIoWidthUint32, VANTOR_REGISTER_BAR, Offset, 1, Value));
}

// Prints the engine's timeout on StdErr. It runs as a notification at TPL_CALLBACK, never inside
// Blt: a console drawing on this display calls Blt at TPL_NOTIFY, so the message waits until the
// console has finished, and printing it does not re-enter the Blt that timed out.
VOID EFIAPI PrintEngineTimeout(EFI_EVENT Event, VOID *Context) {
  VantorDebugPrint(VANTOR_DEBUG_ERROR, "Vidframe: the 2D engine did not finish a copy\n");
}

// The first timeout of a display is reported, later ones only returned.
VOID ReportEngineTimeout(VANTOR_PRIVATE_DATA *Private) {
  if (Private->EngineTimeoutSeen) {
    return;
  }
  Private->EngineTimeoutSeen = TRUE;
  if (!EFI_ERROR(gBS->CreateEvent(EVT_NOTIFY_SIGNAL, TPL_CALLBACK, PrintEngineTimeout, NULL,
                                  &Private->EngineTimeoutEvent))) {
    gBS->SignalEvent(Private->EngineTimeoutEvent);
  }
}

// Waits until the engine reports idle with a status that stays put over five more reads.
EFI_STATUS WaitForEngine(VANTOR_PRIVATE_DATA *Private) {
  for (UINTN Round = 0; Round < VANTOR_ENGINE_WAIT_ROUNDS; Round++) {
    UINT32 Before = 0;
    EFI_STATUS Status = EngineRead(Private, ENGINE_STATUS, &Before);
    UINT32 After = Before;
    for (UINTN Read = 0; Read < ENGINE_STATUS_REREADS && !EFI_ERROR(Status); Read++) {
      Status = EngineRead(Private, ENGINE_STATUS, &After);
    }
    if (EFI_ERROR(Status)) {
      return Status;
    }
    if ((Before & ENGINE_STATUS_BUSY) == 0 &&
        (Before & ENGINE_STATUS_STABLE_BITS) == (After & ENGINE_STATUS_STABLE_BITS)) {
      return EFI_SUCCESS;
    }
  }
  ReportEngineTimeout(Private);
  return EFI_DEVICE_ERROR;
}

EFI_STATUS VideoToVideo(VANTOR_PRIVATE_DATA *Private, const BLT_RECT &R, UINT32 VerticalResolution) {
  const UINT32 PitchBytes = R.Pitch * BYTES_PER_PIXEL;
  // Copying towards higher coordinates starts at the far end, so that no source pixel is
  // overwritten before it has been read.
  UINT32 Command = ENGINE_COPY;
  UINTN Dx = 0, Dy = 0;
  if (R.SourceX < R.DestinationX) {
    Command |= ENGINE_X_DECREASING;
    Dx = R.Width - 1;
  }
  if (R.SourceY < R.DestinationY) {
    Command |= ENGINE_Y_DECREASING;
    Dy = R.Height - 1;
  }
  // In this order: the command, written last, starts the copy.
  UINT32 Writes[][2] = {
      {ENGINE_SOURCE_BASE, 0},
      {ENGINE_SOURCE_PITCH, PitchBytes << 16},
      {ENGINE_DESTINATION_BASE, 0},
      {ENGINE_DESTINATION_PITCH, (PitchBytes << 16) | VerticalResolution},
      {ENGINE_DESTINATION_START, static_cast<UINT32>((R.DestinationY + Dy) | ((R.DestinationX + Dx) << 16))},
      {ENGINE_SOURCE_START, static_cast<UINT32>((R.SourceY + Dy) | ((R.SourceX + Dx) << 16))},
      {ENGINE_RECTANGLE, static_cast<UINT32>(R.Height | (R.Width << 16))},
      {ENGINE_COMMAND, Command},
  };
  for (UINT32(&Write)[2] : Writes) {
    EFI_STATUS Status = Private->PciIo->Mem.Write(Private->PciIo, EfiPciIoWidthUint32, VANTOR_REGISTER_BAR,
                                                  Write[0], 1, &Write[1]);
    if (EFI_ERROR(Status)) {
      return Transferred(Status);
    }
  }
  return WaitForEngine(Private);
}

EFI_STATUS EFIAPI VantorQueryMode(EFI_GRAPHICS_OUTPUT_PROTOCOL *This, UINT32 ModeNumber, UINTN *SizeOfInfo,
                                  EFI_GRAPHICS_OUTPUT_MODE_INFORMATION **Info) {
  VANTOR_PRIVATE_DATA *Private = FromGraphicsOutput(This, ASSERT_LINE_QUERY_MODE);
  if (Private->ModeNotSet) {
    return EFI_NOT_STARTED;
  }
  if (Info == NULL || SizeOfInfo == NULL || ModeNumber >= This->Mode->MaxMode) {
    return EFI_INVALID_PARAMETER;
  }
  VOID *Record = NULL;
  if (EFI_ERROR(gBS->AllocatePool(EfiBootServicesData, INFO_SIZE, &Record))) {
    return EFI_OUT_OF_RESOURCES;
  }
  *Info = static_cast<EFI_GRAPHICS_OUTPUT_MODE_INFORMATION *>(Record);
  FillModeInformation(Private->ModeList[ModeNumber], *Info);
  *SizeOfInfo = INFO_SIZE;
  return EFI_SUCCESS;
}

// Nothing changes until the frame buffer's base is known and the new line buffer exists: a
// failing SetMode leaves the previous mode, its information and its line buffer in force. A
// callback that draws while the new mode is programmed and cleared still draws in the old
// mode with the old line buffer; the switch of line buffer, mode number, information and
// frame-buffer fields is one step at TPL_NOTIFY (the level Blt runs at), and the old line
// buffer is freed only after it.
EFI_STATUS EFIAPI VantorSetMode(EFI_GRAPHICS_OUTPUT_PROTOCOL *This, UINT32 ModeNumber) {
  VANTOR_PRIVATE_DATA *Private = FromGraphicsOutput(This, ASSERT_LINE_SET_MODE);
  if (ModeNumber >= This->Mode->MaxMode) {
    return EFI_UNSUPPORTED;
  }
  const VANTOR_MODE_ENTRY &Entry = Private->ModeList[ModeNumber];
  EFI_PHYSICAL_ADDRESS Base = 0;
  UINT64 Length = 0;
  EFI_STATUS Status = VantorFrameBufferBar(Private, &Base, &Length);
  if (EFI_ERROR(Status)) {
    VantorDebugPrint(VANTOR_DEBUG_ERROR, "Vidframe: no frame buffer address for mode %d: %r\n", ModeNumber,
                     Status);
    return Status;
  }
  VOID *LineBuffer = NULL;
  if (EFI_ERROR(gBS->AllocatePool(EfiBootServicesData, Entry.HorizontalResolution * BYTES_PER_PIXEL,
                                  &LineBuffer))) {
    return EFI_OUT_OF_RESOURCES;
  }

  VantorProgramMode(Private, Entry.ModeTableIndex);
  const EFI_TPL OldTpl = gBS->RaiseTPL(TPL_NOTIFY);
  UINT8 *OldLineBuffer = Private->LineBuffer;
  Private->LineBuffer = static_cast<UINT8 *>(LineBuffer);
  EFI_GRAPHICS_OUTPUT_PROTOCOL_MODE *Mode = This->Mode;
  Mode->Mode = ModeNumber;
  FillModeInformation(Entry, Mode->Info);
  Mode->SizeOfInfo = INFO_SIZE;
  Mode->FrameBufferBase = Base;
  Mode->FrameBufferSize = static_cast<UINTN>(VantorPitch(Entry.HorizontalResolution)) * BYTES_PER_PIXEL *
                          Entry.VerticalResolution;
  Private->ModeNotSet = FALSE;
  gBS->RestoreTPL(OldTpl);
  if (OldLineBuffer != NULL) {
    gBS->FreePool(OldLineBuffer);
  }
  return EFI_SUCCESS;
}

struct BLT_REQUEST {
  EFI_GRAPHICS_OUTPUT_BLT_PIXEL *Buffer;
  EFI_GRAPHICS_OUTPUT_BLT_OPERATION Operation;
  UINTN SourceX, SourceY, DestinationX, DestinationY, Width, Height, Delta;
};

// The checks against the mode and the operation, at TPL_NOTIFY: the mode, its line buffer and
// the rectangle's bounds cannot change under it.
EFI_STATUS BltInMode(VANTOR_PRIVATE_DATA *Private, const EFI_GRAPHICS_OUTPUT_PROTOCOL_MODE *Mode,
                     BLT_REQUEST Q) {
  // No mode set yet: there is no screen to draw on.
  const UINT32 ModeNumber = Mode->Mode;
  if (ModeNumber == MODE_NOT_SET || ModeNumber >= Private->ModeCount || Private->LineBuffer == NULL) {
    return EFI_DEVICE_ERROR;
  }
  const UINT32 H = Private->ModeList[ModeNumber].HorizontalResolution;
  const UINT32 V = Private->ModeList[ModeNumber].VerticalResolution;
  const BOOLEAN SourceOnScreen = Q.Operation == EfiBltVideoToBltBuffer || Q.Operation == EfiBltVideoToVideo;
  const BOOLEAN DestinationOnScreen = Q.Operation != EfiBltVideoToBltBuffer;
  if ((SourceOnScreen && (!Inside(Q.SourceX, Q.Width, H) || !Inside(Q.SourceY, Q.Height, V))) ||
      (DestinationOnScreen &&
       (!Inside(Q.DestinationX, Q.Width, H) || !Inside(Q.DestinationY, Q.Height, V)))) {
    return EFI_INVALID_PARAMETER;
  }
  if (Q.Delta == 0) {
    Q.Delta = Q.Width * BYTES_PER_PIXEL;
  }
  // The caller's side of a transfer must be addressable too.
  if ((Q.Operation == EfiBltVideoToBltBuffer &&
       !BufferAddressable(Q.DestinationX, Q.DestinationY, Q.Width, Q.Height, Q.Delta)) ||
      (Q.Operation == EfiBltBufferToVideo &&
       !BufferAddressable(Q.SourceX, Q.SourceY, Q.Width, Q.Height, Q.Delta))) {
    return EFI_INVALID_PARAMETER;
  }

  const BLT_RECT R = {Q.Buffer, Q.SourceX, Q.SourceY, Q.DestinationX, Q.DestinationY,
                      Q.Width,  Q.Height,  Q.Delta,   VantorPitch(H)};
  switch (Q.Operation) {
  case EfiBltVideoFill:
    return VideoFill(Private, R, H);
  case EfiBltVideoToBltBuffer:
    return VideoToBuffer(Private, R);
  case EfiBltBufferToVideo:
    return BufferToVideo(Private, R);
  default:
    return VideoToVideo(Private, R, V);
  }
}

// Every PCI I/O transfer is checked: the first that fails ends the operation with
// EFI_DEVICE_ERROR.
EFI_STATUS EFIAPI VantorBlt(EFI_GRAPHICS_OUTPUT_PROTOCOL *This, EFI_GRAPHICS_OUTPUT_BLT_PIXEL *BltBuffer,
                            EFI_GRAPHICS_OUTPUT_BLT_OPERATION BltOperation, UINTN SourceX, UINTN SourceY,
                            UINTN DestinationX, UINTN DestinationY, UINTN Width, UINTN Height, UINTN Delta) {
  VANTOR_PRIVATE_DATA *Private = FromGraphicsOutput(This, ASSERT_LINE_BLT);
  if (BltOperation >= EfiGraphicsOutputBltOperationMax || Width == 0 || Height == 0 ||
      (BltBuffer == NULL && BltOperation != EfiBltVideoToVideo)) {
    return EFI_INVALID_PARAMETER;
  }
  const EFI_TPL OldTpl = gBS->RaiseTPL(TPL_NOTIFY);
  const EFI_STATUS Status = BltInMode(
      Private, This->Mode,
      {BltBuffer, BltOperation, SourceX, SourceY, DestinationX, DestinationY, Width, Height, Delta});
  gBS->RestoreTPL(OldTpl);
  return Status;
}

} // namespace

EFI_STATUS VantorFrameBufferBar(VANTOR_PRIVATE_DATA *Private, EFI_PHYSICAL_ADDRESS *Base, UINT64 *Length) {
  VOID *Resources = NULL;
  EFI_STATUS Status =
      Private->PciIo->GetBarAttributes(Private->PciIo, VANTOR_FRAME_BUFFER_BAR, NULL, &Resources);
  if (EFI_ERROR(Status)) {
    return Status;
  }
  if (Resources == NULL) {
    return EFI_DEVICE_ERROR;
  }
  // The list may hold no more than its end tag: the descriptor's fields are read only after its
  // tag and length say that it is there whole.
  const auto *Descriptor = static_cast<const EFI_ACPI_ADDRESS_SPACE_DESCRIPTOR *>(Resources);
  Status = EFI_DEVICE_ERROR;
  if (Descriptor->Desc == ACPI_ADDRESS_SPACE_DESCRIPTOR &&
      Descriptor->Len >= EFI_ACPI_ADDRESS_SPACE_DESCRIPTOR_LENGTH) {
    *Base = Descriptor->AddrRangeMin;
    *Length = Descriptor->AddrLen;
    Status = EFI_SUCCESS;
  }
  gBS->FreePool(Resources);
  return Status;
}

EFI_STATUS VantorGraphicsOutputConstructor(VANTOR_PRIVATE_DATA *Private) {
  EFI_GRAPHICS_OUTPUT_PROTOCOL *GraphicsOutput = &Private->GraphicsOutput;
  GraphicsOutput->QueryMode = VantorQueryMode;
  GraphicsOutput->SetMode = VantorSetMode;
  GraphicsOutput->Blt = VantorBlt;

  VOID *Mode = NULL;
  EFI_STATUS Status =
      gBS->AllocatePool(EfiBootServicesData, sizeof(EFI_GRAPHICS_OUTPUT_PROTOCOL_MODE), &Mode);
  if (EFI_ERROR(Status)) {
    return Status;
  }
  ZeroMem(Mode, sizeof(EFI_GRAPHICS_OUTPUT_PROTOCOL_MODE));
  GraphicsOutput->Mode = static_cast<EFI_GRAPHICS_OUTPUT_PROTOCOL_MODE *>(Mode);
  VOID *Info = NULL;
  Status = gBS->AllocatePool(EfiBootServicesData, INFO_SIZE, &Info);
  if (EFI_ERROR(Status)) {
    gBS->FreePool(Mode);
    GraphicsOutput->Mode = NULL;
    return Status;
  }
  ZeroMem(Info, INFO_SIZE);
  GraphicsOutput->Mode->Info = static_cast<EFI_GRAPHICS_OUTPUT_MODE_INFORMATION *>(Info);

  GraphicsOutput->Mode->MaxMode = static_cast<UINT32>(Private->ModeCount);
  GraphicsOutput->Mode->Mode = MODE_NOT_SET;
  Private->ModeNotSet = TRUE;
  Private->LineBuffer = NULL;
  Private->EngineTimeoutSeen = FALSE;
  Private->EngineTimeoutEvent = NULL;
  GraphicsOutput->SetMode(GraphicsOutput, 0);
  return EFI_SUCCESS;
}

EFI_STATUS VantorGraphicsOutputDestructor(VANTOR_PRIVATE_DATA *Private) {
  EFI_GRAPHICS_OUTPUT_PROTOCOL_MODE *Mode = Private->GraphicsOutput.Mode;
  if (Mode != NULL) {
    if (Mode->Info != NULL) {
      gBS->FreePool(Mode->Info);
    }
    gBS->FreePool(Mode);
    Private->GraphicsOutput.Mode = NULL;
  }
  if (Private->LineBuffer != NULL) {
    gBS->FreePool(Private->LineBuffer);
    Private->LineBuffer = NULL;
  }
  if (Private->EngineTimeoutEvent != NULL) {
    gBS->CloseEvent(Private->EngineTimeoutEvent);
    Private->EngineTimeoutEvent = NULL;
  }
  return EFI_SUCCESS;
}

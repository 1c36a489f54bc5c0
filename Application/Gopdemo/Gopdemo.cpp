// Gopdemo entry: the screen in four bands. A background fill; eight colour bars across the top
// quarter (fills); a gradient block in the left half of the third quarter (drawn from a
// buffer); the block copied on the screen up into the right half of the second quarter (the
// display's 2D copy), then read back and compared with its source.
//
// The copy goes upwards. The AArch64 firmware's own Blt (QEMU's ramfb display) shifts a
// screen-to-screen copy whose destination starts below its source, or on the same rows to its
// right, by one row: it writes source rows SourceY + 1 to SourceY + Height into destination
// rows DestinationY + 1 to DestinationY + Height, so destination row DestinationY keeps what it
// held and the row just below the rectangle is overwritten. Nothing needs to be printed in
// between for this: the comparison, made straight after the copy, finds that first row wrong.
#include "Gopdemo.h"

#include <Library/BaseMemoryLib.h>
#include <Library/UefiBootServicesTableLib.h>
#include <Library/UefiLib.h>
#include <Protocol/GraphicsOutput.h>

namespace {

constexpr EFI_GRAPHICS_OUTPUT_BLT_PIXEL BACKGROUND = {0x40, 0x20, 0x20, 0}; // dark blue
constexpr UINTN BAR_COUNT = 8;
// White, yellow, cyan, green, magenta, red, blue, black (blue, green, red order).
constexpr EFI_GRAPHICS_OUTPUT_BLT_PIXEL BARS[BAR_COUNT] = {
    {0xFF, 0xFF, 0xFF, 0}, {0x00, 0xFF, 0xFF, 0}, {0xFF, 0xFF, 0x00, 0}, {0x00, 0xFF, 0x00, 0},
    {0xFF, 0x00, 0xFF, 0}, {0x00, 0x00, 0xFF, 0}, {0xFF, 0x00, 0x00, 0}, {0x00, 0x00, 0x00, 0}};
constexpr UINT8 GRADIENT_BLUE = 0x80;
constexpr UINTN MAX_COLOUR = 0xFF;

struct DEMO {
  EFI_GRAPHICS_OUTPUT_PROTOCOL *Output;
  UINTN Width;
  UINTN Height;
};

EFI_STATUS Fill(DEMO &Demo, EFI_GRAPHICS_OUTPUT_BLT_PIXEL Colour, UINTN X, UINTN Y, UINTN Width,
                UINTN Height) {
  return Demo.Output->Blt(Demo.Output, &Colour, EfiBltVideoFill, 0, 0, X, Y, Width, Height, 0);
}

EFI_STATUS DrawBars(DEMO &Demo) {
  const UINTN BarWidth = Demo.Width / BAR_COUNT;
  for (UINTN Bar = 0; Bar < BAR_COUNT; Bar++) {
    EFI_STATUS Status = Fill(Demo, BARS[Bar], Bar * BarWidth, 0, BarWidth, Demo.Height / 4);
    if (EFI_ERROR(Status)) {
      return Status;
    }
  }
  return EFI_SUCCESS;
}

// Red grows to the right, green downwards.
EFI_STATUS DrawGradient(DEMO &Demo, UINTN Width, UINTN Height) {
  EFI_GRAPHICS_OUTPUT_BLT_PIXEL *Block = NULL;
  EFI_STATUS Status = gBS->AllocatePool(EfiBootServicesData, Width * Height * sizeof(*Block),
                                        reinterpret_cast<VOID **>(&Block));
  if (EFI_ERROR(Status)) {
    return Status;
  }
  for (UINTN Y = 0; Y < Height; Y++) {
    for (UINTN X = 0; X < Width; X++) {
      Block[Y * Width + X] = {GRADIENT_BLUE, static_cast<UINT8>(Y * MAX_COLOUR / (Height - 1)),
                              static_cast<UINT8>(X * MAX_COLOUR / (Width - 1)), 0};
    }
  }
  Status =
      Demo.Output->Blt(Demo.Output, Block, EfiBltBufferToVideo, 0, 0, 0, Demo.Height / 2, Width, Height, 0);
  gBS->FreePool(Block);
  return Status;
}

// Reads both rectangles back: EFI_SUCCESS when they hold the same pixels, EFI_COMPROMISED_DATA
// when they differ.
EFI_STATUS CompareAreas(DEMO &Demo, UINTN SourceY, UINTN DestinationX, UINTN DestinationY, UINTN Width,
                        UINTN Height) {
  const UINTN Bytes = Width * Height * sizeof(EFI_GRAPHICS_OUTPUT_BLT_PIXEL);
  EFI_GRAPHICS_OUTPUT_BLT_PIXEL *Source = NULL, *Copy = NULL;
  EFI_STATUS Status = gBS->AllocatePool(EfiBootServicesData, Bytes, reinterpret_cast<VOID **>(&Source));
  if (EFI_ERROR(Status)) {
    return Status;
  }
  Status = gBS->AllocatePool(EfiBootServicesData, Bytes, reinterpret_cast<VOID **>(&Copy));
  if (!EFI_ERROR(Status)) {
    SetMem(Source, Bytes, 0);
    SetMem(Copy, Bytes, 0);
    Status =
        Demo.Output->Blt(Demo.Output, Source, EfiBltVideoToBltBuffer, 0, SourceY, 0, 0, Width, Height, 0);
    if (!EFI_ERROR(Status)) {
      Status = Demo.Output->Blt(Demo.Output, Copy, EfiBltVideoToBltBuffer, DestinationX, DestinationY, 0, 0,
                                Width, Height, 0);
    }
    if (!EFI_ERROR(Status) && CompareMem(Source, Copy, Bytes) != 0) {
      Status = EFI_COMPROMISED_DATA;
    }
    gBS->FreePool(Copy);
  }
  gBS->FreePool(Source);
  return Status;
}

EFI_STATUS Report(const CHAR16 *Step, EFI_STATUS Status) {
  Print(u"Gopdemo: %s: %r\n", Step, Status);
  return Status;
}

EFI_STATUS Draw(DEMO &Demo) {
  const UINTN BlockWidth = Demo.Width / 2, BlockHeight = Demo.Height / 4;
  EFI_STATUS Status = Report(u"background fill", Fill(Demo, BACKGROUND, 0, 0, Demo.Width, Demo.Height));
  if (!EFI_ERROR(Status)) {
    Status = Report(u"eight colour bars (fills)", DrawBars(Demo));
  }
  if (!EFI_ERROR(Status)) {
    Status = Report(u"gradient block (buffer to video)", DrawGradient(Demo, BlockWidth, BlockHeight));
  }
  if (EFI_ERROR(Status)) {
    return Status;
  }
  // Nothing is printed between the copy and its comparison: a console on this display would
  // draw (and scroll) over the areas being compared.
  Status = Demo.Output->Blt(Demo.Output, NULL, EfiBltVideoToVideo, 0, 2 * BlockHeight, BlockWidth,
                            BlockHeight, BlockWidth, BlockHeight, 0);
  const EFI_STATUS Compared = EFI_ERROR(Status) ? EFI_NOT_STARTED
                                                : CompareAreas(Demo, 2 * BlockHeight, BlockWidth, BlockHeight,
                                                               BlockWidth, BlockHeight);
  Report(u"block copied up to the right (video to video)", Status);
  if (EFI_ERROR(Status)) {
    return Status;
  }
  return Report(u"copy read back and compared with its source", Compared);
}

} // namespace

EFI_STATUS EFIAPI GopdemoMain(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable) {
  EFI_GRAPHICS_OUTPUT_PROTOCOL *Output = NULL;
  EFI_STATUS Status =
      gBS->LocateProtocol(&gEfiGraphicsOutputProtocolGuid, NULL, reinterpret_cast<VOID **>(&Output));
  if (EFI_ERROR(Status) || Output == NULL || Output->Mode == NULL || Output->Mode->Info == NULL) {
    Print(u"Gopdemo: no Graphics Output\n");
    return EFI_NOT_FOUND;
  }
  DEMO Demo = {Output, Output->Mode->Info->HorizontalResolution, Output->Mode->Info->VerticalResolution};
  Print(u"Gopdemo: mode %u of %u, %ux%u\n", Output->Mode->Mode, Output->Mode->MaxMode,
        static_cast<UINT32>(Demo.Width), static_cast<UINT32>(Demo.Height));
  if (Demo.Width < 2 * BAR_COUNT || Demo.Height < 8) {
    Print(u"Gopdemo: the mode is too small to draw on\n");
    return EFI_UNSUPPORTED;
  }
  return Draw(Demo);
}

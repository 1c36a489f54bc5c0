// The graphics console: text cells drawn through Graphics Output Blt.
#include "GraphicsConsole.h"

#include <FirmwareCall.h>

#include "ConsoleFont.h"

#include <algorithm>
#include <tuple>
#include <utility>

namespace host {

namespace {

// The columns and rows of the text grid on Output's current mode (0 x 0 without one).
std::pair<UINT32, UINT32> Grid(const EFI_GRAPHICS_OUTPUT_PROTOCOL *Output) {
  const EFI_GRAPHICS_OUTPUT_PROTOCOL_MODE *Mode = Output != nullptr ? Output->Mode : nullptr;
  if (Mode == nullptr || Mode->Info == nullptr || Mode->Mode >= Mode->MaxMode) {
    return {0, 0};
  }
  return {Mode->Info->HorizontalResolution / ConsoleFontWidth,
          Mode->Info->VerticalResolution / ConsoleFontHeight};
}

} // namespace

size_t GraphicsConsole::TransferPixels(const EFI_GRAPHICS_OUTPUT_PROTOCOL *Output) {
  return size_t(Grid(Output).first) * ConsoleFontWidth * ConsoleFontHeight + 1;
}

GraphicsConsole::GraphicsConsole(EFI_GRAPHICS_OUTPUT_PROTOCOL *Output,
                                 EFI_GRAPHICS_OUTPUT_BLT_PIXEL *Transfer, cpu::Aarch64Cpu *Processor)
    : Output_(Output), Processor_(Processor), Cells_(Transfer) {
  std::tie(Columns_, Rows_) = Grid(Output);
  if (Cells_ == nullptr) {
    OwnTransfer_.resize(TransferPixels(Output));
    Cells_ = OwnTransfer_.data();
  }
}

void GraphicsConsole::Clear() {
  Run_.clear();
  Column_ = Row_ = 0;
  Fill(0, 0, Columns_ * ConsoleFontWidth, Rows_ * ConsoleFontHeight);
}

void GraphicsConsole::Write(std::u16string_view Text) {
  if (Columns_ == 0 || Rows_ == 0) {
    return;
  }
  for (char16_t Character : Text) {
    switch (Character) {
    case u'\r':
      Flush();
      Column_ = 0;
      break;
    case u'\n':
      Flush();
      LineFeed();
      break;
    case u'\b':
      Flush();
      Column_ = Column_ > 0 ? Column_ - 1 : 0;
      break;
    default:
      if (Column_ == Columns_) { // the row is full: the text wraps
        Flush();
        Column_ = 0;
        LineFeed();
      }
      if (Run_.empty()) {
        RunColumn_ = Column_;
      }
      Run_ += Character;
      Column_++;
    }
  }
  Flush();
}

void GraphicsConsole::Flush() {
  if (Run_.empty()) {
    return;
  }
  const UINTN Width = Run_.size() * ConsoleFontWidth;
  std::fill(Cells_, Cells_ + Width * ConsoleFontHeight, Background);
  for (size_t Cell = 0; Cell < Run_.size(); Cell++) {
    const uint8_t *Glyph = ConsoleGlyph(Run_[Cell]);
    for (unsigned Y = 0; Y < ConsoleFontHeight; Y++) {
      for (unsigned X = 0; X < ConsoleFontWidth; X++) {
        if (Glyph[Y] & (0x80u >> X)) {
          Cells_[Y * Width + Cell * ConsoleFontWidth + X] = Foreground;
        }
      }
    }
  }
  Blt(Cells_, EfiBltBufferToVideo, 0, 0, RunColumn_ * ConsoleFontWidth, Row_ * ConsoleFontHeight, Width,
      ConsoleFontHeight);
  Run_.clear();
}

void GraphicsConsole::LineFeed() {
  if (Row_ + 1 < Rows_) {
    Row_++;
    return;
  }
  const UINTN Width = Columns_ * ConsoleFontWidth;
  if (Rows_ > 1) {
    Blt(nullptr, EfiBltVideoToVideo, 0, ConsoleFontHeight, 0, 0, Width, (Rows_ - 1) * ConsoleFontHeight);
  }
  Fill(0, Row_ * ConsoleFontHeight, Width, ConsoleFontHeight);
}

void GraphicsConsole::Fill(UINTN X, UINTN Y, UINTN Width, UINTN Height) {
  EFI_GRAPHICS_OUTPUT_BLT_PIXEL *Colour = Cells_ + size_t(Columns_) * ConsoleFontWidth * ConsoleFontHeight;
  *Colour = Background;
  Blt(Colour, EfiBltVideoFill, 0, 0, X, Y, Width, Height);
}

void GraphicsConsole::Blt(EFI_GRAPHICS_OUTPUT_BLT_PIXEL *Buffer, EFI_GRAPHICS_OUTPUT_BLT_OPERATION Operation,
                          UINTN SourceX, UINTN SourceY, UINTN DestinationX, UINTN DestinationY, UINTN Width,
                          UINTN Height) {
  if (Width == 0 || Height == 0) {
    return;
  }
  const EFI_STATUS Status = cpu::CallFirmware(Processor_, Output_->Blt, Output_, Buffer, Operation, SourceX,
                                              SourceY, DestinationX, DestinationY, Width, Height, UINTN{0});
  if (EFI_ERROR(Status) && !EFI_ERROR(Failure_)) {
    Failure_ = Status;
  }
}

} // namespace host

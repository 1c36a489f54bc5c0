// A text console on a Graphics Output, drawn as a graphics console driver draws: a grid of 8x16
// character cells over the current mode, text at the cursor through Blt BufferToVideo, one text
// row of scrolling through Blt VideoToVideo (the display's 2D copy) and a VideoFill of the new
// row; carriage return, line feed, backspace and wrap at the right edge.
#pragma once

#include <Protocol/GraphicsOutput.h>

#include <string>
#include <string_view>
#include <vector>

namespace cpu {
class Aarch64Cpu;
}

namespace host {

class GraphicsConsole {
public:
  // Light grey on black, as the text consoles' default attribute.
  static constexpr EFI_GRAPHICS_OUTPUT_BLT_PIXEL Foreground = {0xAA, 0xAA, 0xAA, 0};
  static constexpr EFI_GRAPHICS_OUTPUT_BLT_PIXEL Background = {0, 0, 0, 0};

  // The grid of Output's current mode; none (0 x 0, nothing drawn) when it has no mode set.
  // Transfer: the pixels Blt is handed (a row of cells and the fill colour), at least
  // TransferPixels(Output) of them, in memory the Graphics Output's firmware can reach; the
  // console keeps its own when none is given. Processor: the one Output's firmware runs on, if any.
  explicit GraphicsConsole(EFI_GRAPHICS_OUTPUT_PROTOCOL *Output,
                           EFI_GRAPHICS_OUTPUT_BLT_PIXEL *Transfer = nullptr,
                           cpu::Aarch64Cpu *Processor = nullptr);
  static size_t TransferPixels(const EFI_GRAPHICS_OUTPUT_PROTOCOL *Output);

  // Clears the screen and puts the cursor home.
  void Clear();
  void Write(std::u16string_view Text);

  UINT32 Columns() const { return Columns_; }
  UINT32 Rows() const { return Rows_; }
  UINT32 Column() const { return Column_; }
  UINT32 Row() const { return Row_; }
  // The first Blt that failed (EFI_SUCCESS while none has).
  EFI_STATUS Failure() const { return Failure_; }

private:
  void Flush(); // draws the characters collected at the cursor's row
  void LineFeed();
  void Fill(UINTN X, UINTN Y, UINTN Width, UINTN Height);
  void Blt(EFI_GRAPHICS_OUTPUT_BLT_PIXEL *Buffer, EFI_GRAPHICS_OUTPUT_BLT_OPERATION Operation, UINTN SourceX,
           UINTN SourceY, UINTN DestinationX, UINTN DestinationY, UINTN Width, UINTN Height);

  EFI_GRAPHICS_OUTPUT_PROTOCOL *Output_;
  cpu::Aarch64Cpu *Processor_;
  UINT32 Columns_ = 0, Rows_ = 0;
  UINT32 Column_ = 0, Row_ = 0;
  std::u16string Run_; // characters from RunColumn_ on, not drawn yet
  UINT32 RunColumn_ = 0;
  std::vector<EFI_GRAPHICS_OUTPUT_BLT_PIXEL> OwnTransfer_;
  EFI_GRAPHICS_OUTPUT_BLT_PIXEL *Cells_ = nullptr; // a row of cells, then the fill colour
  EFI_STATUS Failure_ = EFI_SUCCESS;
};

} // namespace host

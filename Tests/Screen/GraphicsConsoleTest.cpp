// The screen's text console on a Graphics Output double that keeps a frame buffer and the
// operations it was asked for: where glyphs land, how the cursor moves, how the screen scrolls.
#include <ConsoleFont.h>
#include <GraphicsConsole.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using host::ConsoleFontHeight;
using host::ConsoleFontWidth;
using host::GraphicsConsole;

// A display of Columns x Rows cells plus a margin the grid leaves unused.
class DisplayDouble {
public:
  static constexpr UINT32 Columns = 6, Rows = 3, Margin = 5;
  static constexpr UINT32 Width = Columns * ConsoleFontWidth + Margin;
  static constexpr UINT32 Height = Rows * ConsoleFontHeight + Margin;
  static constexpr UINT32 Unset = 0xFF00FF;

  DisplayDouble() : Pixels_(Width * Height, Unset) {
    Info_.HorizontalResolution = Width;
    Info_.VerticalResolution = Height;
    Info_.PixelsPerScanLine = Width;
    Mode_ = {1, 0, &Info_, sizeof(Info_), 0, 0};
    Protocol_ = {nullptr, nullptr, Blt, &Mode_};
    Current = this;
  }
  EFI_GRAPHICS_OUTPUT_PROTOCOL *Protocol() { return &Protocol_; }
  void NoMode() { Mode_.Mode = 0xFFFF; }
  const std::vector<EFI_GRAPHICS_OUTPUT_BLT_OPERATION> &Operations() const { return Operations_; }
  // The glyph drawn in a cell: the character whose glyph matches it pixel for pixel, else 0.
  char16_t CellText(UINT32 Column, UINT32 Row) const {
    for (char16_t Character = host::ConsoleFontFirst; Character <= host::ConsoleFontLast; Character++) {
      if (CellShows(Column, Row, host::ConsoleGlyph(Character))) {
        return Character;
      }
    }
    return 0;
  }
  std::u16string RowText(UINT32 Row) const {
    std::u16string Text;
    for (UINT32 Column = 0; Column < Columns; Column++) {
      Text += CellText(Column, Row) != 0 ? CellText(Column, Row) : u'#';
    }
    return Text;
  }

private:
  bool CellShows(UINT32 Column, UINT32 Row, const uint8_t *Glyph) const {
    for (UINT32 Y = 0; Y < ConsoleFontHeight; Y++) {
      for (UINT32 X = 0; X < ConsoleFontWidth; X++) {
        const bool On = Glyph[Y] & (0x80u >> X);
        const UINT32 Pixel = Pixels_[(Row * ConsoleFontHeight + Y) * Width + Column * ConsoleFontWidth + X];
        if (Pixel != (On ? Colour(GraphicsConsole::Foreground) : Colour(GraphicsConsole::Background))) {
          return false;
        }
      }
    }
    return true;
  }
  static UINT32 Colour(EFI_GRAPHICS_OUTPUT_BLT_PIXEL Pixel) {
    return Pixel.Red << 16 | Pixel.Green << 8 | Pixel.Blue;
  }
  // The Blt rules the console relies on: rectangles inside the mode, Delta 0 = Width x 4.
  static EFI_STATUS EFIAPI Blt(EFI_GRAPHICS_OUTPUT_PROTOCOL *This, EFI_GRAPHICS_OUTPUT_BLT_PIXEL *Buffer,
                               EFI_GRAPHICS_OUTPUT_BLT_OPERATION Operation, UINTN SourceX, UINTN SourceY,
                               UINTN DestinationX, UINTN DestinationY, UINTN Width, UINTN Height,
                               UINTN Delta) {
    DisplayDouble &Self = *Current;
    Self.Operations_.push_back(Operation);
    const bool FromVideo = Operation == EfiBltVideoToVideo;
    if (Width == 0 || Height == 0 || Delta != 0 || DestinationX + Width > DisplayDouble::Width ||
        DestinationY + Height > DisplayDouble::Height ||
        (FromVideo && (SourceX + Width > DisplayDouble::Width || SourceY + Height > DisplayDouble::Height))) {
      ADD_FAILURE() << "Blt outside the mode";
      return EFI_INVALID_PARAMETER;
    }
    std::vector<UINT32> Before = Self.Pixels_;
    for (UINTN Y = 0; Y < Height; Y++) {
      for (UINTN X = 0; X < Width; X++) {
        UINT32 &Pixel = Self.Pixels_[(DestinationY + Y) * DisplayDouble::Width + DestinationX + X];
        switch (Operation) {
        case EfiBltVideoFill:
          Pixel = Colour(Buffer[0]);
          break;
        case EfiBltBufferToVideo:
          Pixel = Colour(Buffer[(SourceY + Y) * Width + SourceX + X]);
          break;
        case EfiBltVideoToVideo:
          Pixel = Before[(SourceY + Y) * DisplayDouble::Width + SourceX + X];
          break;
        default:
          ADD_FAILURE() << "the console reads nothing back";
          return EFI_UNSUPPORTED;
        }
      }
    }
    return EFI_SUCCESS;
  }

  static inline DisplayDouble *Current = nullptr;
  EFI_GRAPHICS_OUTPUT_MODE_INFORMATION Info_{};
  EFI_GRAPHICS_OUTPUT_PROTOCOL_MODE Mode_{};
  EFI_GRAPHICS_OUTPUT_PROTOCOL Protocol_{};
  std::vector<UINT32> Pixels_;
  std::vector<EFI_GRAPHICS_OUTPUT_BLT_OPERATION> Operations_;
};

// What the three text rows show after the text, and where the cursor stands.
TEST(GraphicsConsole, TextCursorAndScrolling) {
  struct Case {
    const char *Name;
    std::u16string Text;
    std::u16string Rows[3];
    UINT32 Column, Row;
  };
  const Case Cases[] = {
      {"plain text", u"Boot", {u"Boot  ", u"      ", u"      "}, 4, 0},
      {"carriage return overwrites", u"abcd\rXY", {u"XYcd  ", u"      ", u"      "}, 2, 0},
      {"line feed keeps the column", u"ab\ncd", {u"ab    ", u"  cd  ", u"      "}, 4, 1},
      {"backspace moves left", u"abc\b\bZ", {u"aZc   ", u"      ", u"      "}, 2, 0},
      {"backspace stops at the edge", u"\b\bq", {u"q     ", u"      ", u"      "}, 1, 0},
      {"a full row wraps on the next character", u"123456", {u"123456", u"      ", u"      "}, 6, 0},
      {"wrap", u"1234567", {u"123456", u"7     ", u"      "}, 1, 1},
      {"a full row then CR LF is one line", u"123456\r\nx", {u"123456", u"x     ", u"      "}, 1, 1},
      {"line feed on the last row scrolls", u"a\r\nb\r\nc\r\nd", {u"b     ", u"c     ", u"d     "}, 1, 2},
      {"wrap on the last row scrolls", u"\n\nabcdefgh", {u"      ", u"abcdef", u"gh    "}, 2, 2},
      {"outside the font", u"a\u00e9\tb", {u"a??b  ", u"      ", u"      "}, 4, 0},
  };
  for (const Case &C : Cases) {
    SCOPED_TRACE(C.Name);
    DisplayDouble Display;
    GraphicsConsole Console(Display.Protocol());
    ASSERT_EQ(Console.Columns(), DisplayDouble::Columns);
    ASSERT_EQ(Console.Rows(), DisplayDouble::Rows);
    Console.Clear();
    Console.Write(C.Text);
    for (UINT32 Row = 0; Row < DisplayDouble::Rows; Row++) {
      EXPECT_EQ(Display.RowText(Row), C.Rows[Row]) << "row " << Row;
    }
    EXPECT_EQ(Console.Column(), C.Column);
    EXPECT_EQ(Console.Row(), C.Row);
    EXPECT_EQ(Console.Failure(), EFI_SUCCESS);
  }
}

// Glyphs go out in one transfer per run of text; a scroll is one screen copy and one fill of
// the new row; without a mode the console draws nothing.
TEST(GraphicsConsole, OperationsItUses) {
  DisplayDouble Display;
  GraphicsConsole Console(Display.Protocol());
  Console.Write(u"ab\r\ncd\r\nef\r\n");
  const std::vector<EFI_GRAPHICS_OUTPUT_BLT_OPERATION> Expected = {
      EfiBltBufferToVideo, EfiBltBufferToVideo, EfiBltBufferToVideo, EfiBltVideoToVideo, EfiBltVideoFill};
  EXPECT_EQ(Display.Operations(), Expected);

  DisplayDouble Blank;
  Blank.NoMode();
  GraphicsConsole None(Blank.Protocol());
  None.Clear();
  None.Write(u"text\n");
  EXPECT_EQ(None.Columns(), 0u);
  EXPECT_TRUE(Blank.Operations().empty());
}

} // namespace

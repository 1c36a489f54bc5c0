// The screen's text console on a Graphics Output double: where glyphs land, how the cursor
// moves, how the screen scrolls.
#include <GraphicsConsole.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "GopDouble.h"
#include "ScreenText.h"

namespace {

using host::GraphicsConsole;
using screen_test::GopDouble;

// A display of 6 x 3 cells plus a margin the grid leaves unused.
struct Display {
  static constexpr UINT32 Columns = 6, Rows = 3, Margin = 5;
  static constexpr UINT32 Width = Columns * host::ConsoleFontWidth + Margin;
  static constexpr UINT32 Height = Rows * host::ConsoleFontHeight + Margin;
  std::vector<UINT32> Pixels = std::vector<UINT32>(Width * Height, 0xFF00FF);
  GopDouble Output{Pixels.data(), Width, Height, Width};
  std::u16string Row(UINT32 Index) const {
    return screen_test::RowText(Pixels.data(), Width, Columns, Index);
  }
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
    Display Screen;
    GraphicsConsole Console(Screen.Output.Protocol());
    ASSERT_EQ(Console.Columns(), Display::Columns);
    ASSERT_EQ(Console.Rows(), Display::Rows);
    Console.Clear();
    Console.Write(C.Text);
    for (UINT32 Row = 0; Row < Display::Rows; Row++) {
      EXPECT_EQ(Screen.Row(Row), C.Rows[Row]) << "row " << Row;
    }
    EXPECT_EQ(Console.Column(), C.Column);
    EXPECT_EQ(Console.Row(), C.Row);
    EXPECT_EQ(Console.Failure(), EFI_SUCCESS);
  }
}

// Glyphs go out in one transfer per run of text; a scroll is one screen copy and one fill of
// the new row; without a mode the console draws nothing.
TEST(GraphicsConsole, OperationsItUses) {
  Display Screen;
  GraphicsConsole Console(Screen.Output.Protocol());
  Console.Write(u"ab\r\ncd\r\nef\r\n");
  const std::vector<EFI_GRAPHICS_OUTPUT_BLT_OPERATION> Expected = {
      EfiBltBufferToVideo, EfiBltBufferToVideo, EfiBltBufferToVideo, EfiBltVideoToVideo, EfiBltVideoFill};
  EXPECT_EQ(Screen.Output.Operations(), Expected);

  Display Blank;
  Blank.Output.NoMode();
  GraphicsConsole None(Blank.Output.Protocol());
  None.Clear();
  None.Write(u"text\n");
  EXPECT_EQ(None.Columns(), 0u);
  EXPECT_TRUE(Blank.Output.Operations().empty());
}

} // namespace

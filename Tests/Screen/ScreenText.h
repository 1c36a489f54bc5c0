// Reading text back from pixels: the console font's glyph that a cell shows, so a test can say
// which text the screen shows where.
#pragma once

#include <ConsoleFont.h>
#include <GraphicsConsole.h>

#include <cstdint>
#include <string>

#include "GopDouble.h"

namespace screen_test {

// The text of one console row of a picture (Pixels with Pitch pixels per line); '#' for a cell
// that shows no glyph of the font in the console's colours.
inline std::u16string RowText(const uint32_t *Pixels, uint32_t Pitch, uint32_t Columns, uint32_t Row) {
  using host::ConsoleFontHeight, host::ConsoleFontWidth;
  const uint32_t On = PixelValue(host::GraphicsConsole::Foreground);
  const uint32_t Off = PixelValue(host::GraphicsConsole::Background);
  std::u16string Text;
  for (uint32_t Column = 0; Column < Columns; Column++) {
    char16_t Shown = u'#';
    for (char16_t Character = host::ConsoleFontFirst; Character <= host::ConsoleFontLast && Shown == u'#';
         Character++) {
      const uint8_t *Glyph = host::ConsoleGlyph(Character);
      bool Same = true;
      for (uint32_t Y = 0; Y < ConsoleFontHeight && Same; Y++) {
        for (uint32_t X = 0; X < ConsoleFontWidth && Same; X++) {
          const uint32_t Pixel =
              Pixels[(Row * ConsoleFontHeight + Y) * Pitch + Column * ConsoleFontWidth + X];
          Same = Pixel == ((Glyph[Y] & (0x80u >> X)) ? On : Off);
        }
      }
      Shown = Same ? Character : Shown;
    }
    Text += Shown;
  }
  return Text;
}

} // namespace screen_test

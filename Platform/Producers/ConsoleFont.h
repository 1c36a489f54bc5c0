// The emulated screen's console font: the printable ASCII glyphs of an 8x16 PSF console font,
// converted at build time (PsfToGlyphs.py) from console-setup's public-domain Fixed font.
#pragma once

#include <cstdint>

namespace host {

constexpr unsigned ConsoleFontWidth = 8;
constexpr unsigned ConsoleFontHeight = 16;
constexpr char16_t ConsoleFontFirst = u' ';
constexpr char16_t ConsoleFontLast = u'~';
constexpr unsigned ConsoleFontGlyphCount = ConsoleFontLast - ConsoleFontFirst + 1;
constexpr char16_t ConsoleFontReplacement = u'?'; // drawn for characters the font lacks

// Row r of a glyph is byte r, bit 7 the leftmost pixel.
extern const uint8_t ConsoleFontGlyphs[ConsoleFontGlyphCount][ConsoleFontHeight];

inline const uint8_t *ConsoleGlyph(char16_t Character) {
  if (Character < ConsoleFontFirst || Character > ConsoleFontLast) {
    Character = ConsoleFontReplacement;
  }
  return ConsoleFontGlyphs[Character - ConsoleFontFirst];
}

} // namespace host

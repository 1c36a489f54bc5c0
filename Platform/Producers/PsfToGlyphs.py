#!/usr/bin/env python3
"""Writes the printable ASCII glyphs (U+0020 to U+007E) of an 8x16 PSF console font as a C++
table for the emulated screen's console: 16 rows per glyph, bit 7 the leftmost pixel.

usage: PsfToGlyphs.py FONT.psf[.gz] OUTPUT.cpp
"""
import gzip
import sys

PSF1_MAGIC = b"\x36\x04"
PSF1_MODE512 = 0x01
PSF1_MODEHASTAB = 0x02
PSF1_MODEHASSEQ = 0x04
PSF1_SEPARATOR = 0xFFFF
PSF1_STARTSEQ = 0xFFFE
PSF2_MAGIC = b"\x72\xb5\x4a\x86"
PSF2_HAS_UNICODE_TABLE = 0x01
PSF2_SEPARATOR = 0xFF
PSF2_STARTSEQ = 0xFE
WIDTH, HEIGHT = 8, 16
FIRST, LAST = 0x20, 0x7E


def psf1(data):
    mode, size = data[2], data[3]
    count = 512 if mode & PSF1_MODE512 else 256
    glyphs = [data[4 + i * size:4 + (i + 1) * size] for i in range(count)]
    table = {}
    if mode & (PSF1_MODEHASTAB | PSF1_MODEHASSEQ):
        at, glyph, in_sequence = 4 + count * size, 0, False
        while glyph < count and at + 1 < len(data):
            value = data[at] | data[at + 1] << 8
            at += 2
            if value == PSF1_SEPARATOR:
                glyph, in_sequence = glyph + 1, False
            elif value == PSF1_STARTSEQ:
                in_sequence = True
            elif not in_sequence:
                table.setdefault(value, glyph)
    return size, 8, glyphs, table


def psf2(data):
    word = lambda at: int.from_bytes(data[at:at + 4], "little")
    header, flags, count, size, height, width = (word(8 + 4 * i) for i in range(6))
    glyphs = [data[header + i * size:header + (i + 1) * size] for i in range(count)]
    table = {}
    if flags & PSF2_HAS_UNICODE_TABLE:
        at = header + count * size
        for glyph in range(count):
            end = data.index(PSF2_SEPARATOR, at)
            entry = data[at:end].split(bytes([PSF2_STARTSEQ]))[0]
            for character in entry.decode("utf-8"):
                table.setdefault(ord(character), glyph)
            at = end + 1
    return height, width, glyphs, table


def main(font, output):
    opener = gzip.open if font.endswith(".gz") else open
    with opener(font, "rb") as stream:
        data = stream.read()
    if data.startswith(PSF1_MAGIC):
        height, width, glyphs, table = psf1(data)
    elif data.startswith(PSF2_MAGIC):
        height, width, glyphs, table = psf2(data)
    else:
        sys.exit(f"{font}: not a PSF font")
    if (width, height) != (WIDTH, HEIGHT):
        sys.exit(f"{font}: {width}x{height} glyphs, the console needs {WIDTH}x{HEIGHT}")
    rows = []
    for code in range(FIRST, LAST + 1):
        glyph = glyphs[table.get(code, code)]
        text = ", ".join(f"0x{byte:02X}" for byte in glyph)
        rows.append(f"    {{{text}}}, // U+{code:04X}")
    with open(output, "w") as out:
        out.write(f"// Generated from {font} by PsfToGlyphs.py.\n")
        out.write('#include "ConsoleFont.h"\n\nnamespace host {\n\n')
        out.write("const uint8_t ConsoleFontGlyphs[ConsoleFontGlyphCount][ConsoleFontHeight] = {\n")
        out.write("\n".join(rows))
        out.write("\n};\n\n} // namespace host\n")


if __name__ == "__main__":
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    main(sys.argv[1], sys.argv[2])

// A paragraph's text as lines: split into words, each word's characters
// given the first font that covers them, shaped with HarfBuzz (direction
// and script guessed per run), and the words filled into lines no wider
// than the width given. A paragraph whose first strong character is
// right-to-left runs from the right edge. A word wider than a line is cut
// between its characters; ideographs break anywhere.
#ifndef QUILLPEEK_SKETCH_DRAWING_LINES_H
#define QUILLPEEK_SKETCH_DRAWING_LINES_H

#include <cstdint>
#include <string>
#include <vector>

#include "sketch/drawing/fonts.h"

struct SketchStyle {
    int pixels; // pixels per em
    bool bold;
};

// One glyph of a line, its x from the line's left edge. font -1 is a box
// of width box pixels for a character no font covers.
struct SketchGlyph {
    int font;
    uint32_t glyph;
    int x;
    int y; // offset from the baseline, upwards positive
    int box;
};

struct SketchLine {
    std::vector<SketchGlyph> glyphs;
    int width = 0;
    bool rtl = false; // the paragraph runs from the right
};

// The text (UTF-8) as at most most_lines lines within width pixels;
// *more set when text was left over.
std::vector<SketchLine> sketch_wrap(SketchFonts &fonts, const std::string &text, SketchStyle style, int width,
                                    size_t most_lines, bool *more);

// The text (UTF-8) as one line, never broken: its words are shaped until
// the line is reach pixels wide, and the rest, which no one sees past a
// clip that near, is left out. A right-to-left line runs within its own
// width, its first word at the right.
SketchLine sketch_line(SketchFonts &fonts, const std::string &text, SketchStyle style, int reach);

// The Unicode characters of UTF-8 text, at most most; a malformed byte
// becomes U+FFFD.
std::vector<uint32_t> sketch_decode(const std::string &text, size_t most);

#endif

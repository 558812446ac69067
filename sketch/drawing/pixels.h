// The page's pixels: alpha, red, green, blue bytes, rows of width x 4
// bytes, in a block the canvas does not own; rectangles filled and framed
// and glyphs' coverage blended in one colour, all within a clip.
#ifndef QUILLPEEK_SKETCH_DRAWING_PIXELS_H
#define QUILLPEEK_SKETCH_DRAWING_PIXELS_H

#include <cstdint>

#include "sketch/drawing/fonts.h"
#include "sketch/drawing/lines.h"

struct SketchRect {
    int x0, y0, x1, y1; // x1 and y1 just outside
};

struct SketchCanvas {
    unsigned char *argb;
    int width;
    int height;
    SketchRect clip; // drawing stays within it and within the page

    void fill(SketchRect rect, uint32_t rgb);
    void frame(SketchRect rect, int thickness, uint32_t rgb);
    // A glyph's coverage with its top left at (x, y).
    void coverage(const SketchBitmap &bitmap, int x, int y, uint32_t rgb);
};

// The line with its left edge at x and its baseline at y.
void sketch_draw_line(SketchCanvas &canvas, SketchFonts &fonts, const SketchLine &line, SketchStyle style,
                      int x, int y, uint32_t rgb);

#endif

// See pixels.h.
#include "sketch/drawing/pixels.h"

#include <algorithm>

namespace
{

SketchRect within(SketchRect rect, SketchRect clip, int width, int height)
{
    return {std::max({rect.x0, clip.x0, 0}), std::max({rect.y0, clip.y0, 0}),
            std::min({rect.x1, clip.x1, width}), std::min({rect.y1, clip.y1, height})};
}

void blend(unsigned char *pixel, uint32_t rgb, unsigned cover)
{
    const unsigned colour[3] = {(rgb >> 16) & 0xFF, (rgb >> 8) & 0xFF, rgb & 0xFF};
    pixel[0] = 0xFF;
    for (int i = 0; i < 3; ++i)
        pixel[1 + i] =
            static_cast<unsigned char>((colour[i] * cover + pixel[1 + i] * (255 - cover) + 127) / 255);
}

} // namespace

void SketchCanvas::fill(SketchRect rect, uint32_t rgb)
{
    SketchRect r = within(rect, clip, width, height);
    for (int y = r.y0; y < r.y1; ++y) {
        unsigned char *pixel = argb + (size_t(y) * width + r.x0) * 4;
        for (int x = r.x0; x < r.x1; ++x, pixel += 4)
            blend(pixel, rgb, 255);
    }
}

void SketchCanvas::frame(SketchRect rect, int thickness, uint32_t rgb)
{
    int t = std::max(1, thickness);
    fill({rect.x0, rect.y0, rect.x1, rect.y0 + t}, rgb);
    fill({rect.x0, rect.y1 - t, rect.x1, rect.y1}, rgb);
    fill({rect.x0, rect.y0 + t, rect.x0 + t, rect.y1 - t}, rgb);
    fill({rect.x1 - t, rect.y0 + t, rect.x1, rect.y1 - t}, rgb);
}

void SketchCanvas::coverage(const SketchBitmap &bitmap, int x, int y, uint32_t rgb)
{
    SketchRect r = within({x, y, x + bitmap.width, y + bitmap.rows}, clip, width, height);
    for (int row = r.y0; row < r.y1; ++row) {
        const unsigned char *from = bitmap.coverage.data() + long(row - y) * bitmap.width + (r.x0 - x);
        unsigned char *pixel = argb + (size_t(row) * width + r.x0) * 4;
        for (int column = r.x0; column < r.x1; ++column, ++from, pixel += 4) {
            if (*from != 0)
                blend(pixel, rgb, *from);
        }
    }
}

void sketch_draw_line(SketchCanvas &canvas, SketchFonts &fonts, const SketchLine &line, SketchStyle style,
                      int x, int y, uint32_t rgb)
{
    for (const SketchGlyph &glyph : line.glyphs) {
        int left = x + glyph.x;
        if (glyph.font < 0) {
            int top = y - style.pixels * 7 / 10;
            canvas.frame({left, top, left + glyph.box, y}, std::max(1, style.pixels / 14), rgb);
            continue;
        }
        // Unhinted, as HarfBuzz placed them: the sketch is shrunk, and the
        // auto-hinter's study of every glyph would cost more than the drawing.
        const SketchFace *face = fonts.face(glyph.font, style.bold, style.pixels);
        const SketchBitmap *drawn = face != nullptr ? fonts.bitmap(*face, glyph.glyph) : nullptr;
        if (drawn != nullptr)
            canvas.coverage(*drawn, left + drawn->left, y - glyph.y - drawn->top, rgb);
    }
}

// See sketch.h.
#include "sketch/sketch.h"

#include <cmath>

#include "sketch/drawing/drawing.h"
#include "sketch/readers/readers.h"

namespace
{

// The page's proportions at longest pixels on its longer side.
void page_pixels(const SketchPage &page, uint32_t longest, uint32_t *width, uint32_t *height)
{
    double w = page.width_mm > 1.0 ? page.width_mm : 210.0;
    double h = page.height_mm > 1.0 ? page.height_mm : 297.0;
    double ratio = w / h;
    if (ratio > 8.0 || ratio < 1.0 / 8.0)
        ratio = 210.0 / 297.0; // a page this narrow is a mistake, not a page
    if (ratio >= 1.0) {
        *width = longest;
        *height = static_cast<uint32_t>(std::lround(longest / ratio));
    } else {
        *height = longest;
        *width = static_cast<uint32_t>(std::lround(longest * ratio));
    }
    *width = *width == 0 ? 1 : *width;
    *height = *height == 0 ? 1 : *height;
}

} // namespace

void *sketch_document(const char *path, uint32_t longest, uint32_t *width, uint32_t *height,
                      const char **problem)
{
    *width = *height = 0;
    SketchPage page;
    *problem = sketch_read_document(path, &page);
    // The reader's libraries leave before the drawing's arrive: the two
    // together would hold a fifth more memory than either.
    sketch_reading_done();
    if (*problem != nullptr)
        return nullptr;
    page_pixels(page, longest, width, height);
    void *pixels = sketch_draw_page(page, *width, *height, problem);
    if (pixels == nullptr)
        *width = *height = 0;
    return pixels;
}

// See drawing.h.
#include "sketch/drawing/drawing.h"

#include <cstring>
#include <new>

#include "platform/exec.h"
#include "sketch/drawing/layouts.h"

namespace
{

// No sketch is drawn larger: 4096 x 4096 pixels are 64 MiB.
const uint64_t most_pixels = 4096ull * 4096ull;

// Whether the text has a character of a script other than Latin (Greek,
// Cyrillic, Arabic, the CJK scripts, ...): any from U+0370 on but the
// punctuation, symbols and Latin presentation forms.
bool other_scripts_in(const std::string &text)
{
    for (size_t i = 0; i < text.size(); ++i) {
        auto lead = static_cast<unsigned char>(text[i]);
        if (lead < 0xCD)
            continue; // up to U+033F, or a continuation byte
        uint32_t code = lead;
        if (lead < 0xE0 && i + 1 < text.size())
            code = (lead & 0x1Fu) << 6 | (static_cast<unsigned char>(text[i + 1]) & 0x3Fu);
        else if (lead < 0xF0 && i + 2 < text.size())
            code = (lead & 0x0Fu) << 12 | (static_cast<unsigned char>(text[i + 1]) & 0x3Fu) << 6 |
                   (static_cast<unsigned char>(text[i + 2]) & 0x3Fu);
        else if (lead >= 0xF0)
            return true; // beyond the basic plane: historic scripts, ideographs
        bool latin_use = (code >= 0x2000 && code < 0x2C00) || (code >= 0xFB00 && code < 0xFB07) ||
                         (code >= 0xFE00 && code < 0xFE10) || code >= 0xFFF0;
        if (code >= 0x370 && !latin_use)
            return true;
    }
    return false;
}

bool other_scripts_on(const SketchPage &page)
{
    for (const SketchBlock &block : page.blocks) {
        if (other_scripts_in(block.text))
            return true;
    }
    for (const SketchCell &cell : page.cells) {
        if (other_scripts_in(cell.text))
            return true;
    }
    return false;
}

void lay_out(SketchCanvas &canvas, SketchFonts &fonts, const SketchPage &page)
{
    switch (page.kind) {
    case SKETCH_TEXT:
        sketch_lay_out_text(canvas, fonts, page);
        break;
    case SKETCH_SHEET:
        sketch_lay_out_sheet(canvas, fonts, page);
        break;
    case SKETCH_SLIDE:
        sketch_lay_out_slide(canvas, fonts, page);
        break;
    case SKETCH_DRAWING:
        sketch_lay_out_drawing(canvas, fonts, page);
        break;
    }
}

const char *draw(const SketchPage &page, unsigned char *pixels, uint32_t width, uint32_t height)
{
    SketchFonts fonts;
    const char *problem = fonts.open(other_scripts_on(page));
    if (problem != nullptr)
        return problem;
    memset(pixels, 0xFF, size_t(width) * height * 4); // opaque white
    SketchCanvas canvas = {pixels,
                           static_cast<int>(width),
                           static_cast<int>(height),
                           {0, 0, static_cast<int>(width), static_cast<int>(height)}};
    try {
        lay_out(canvas, fonts, page);
    } catch (const std::bad_alloc &) {
        return "cannot be sketched: there is not enough memory";
    }
    return nullptr;
}

} // namespace

void *sketch_draw_page(const SketchPage &page, uint32_t width, uint32_t height, const char **problem)
{
    *problem = nullptr;
    if (width == 0 || height == 0 || uint64_t(width) * height > most_pixels || width > 16384 ||
        height > 16384) {
        *problem = "is too large to sketch";
        return nullptr;
    }
    if (!sketch_libraries_load()) {
        *problem = "cannot be sketched: the font libraries cannot be loaded";
        return nullptr;
    }
    auto *pixels = static_cast<unsigned char *>(AllocVec(width * height * 4, MEMF_ANY));
    if (pixels == nullptr) {
        *problem = "cannot be sketched: there is not enough memory";
        return nullptr;
    }
    try {
        *problem = draw(page, pixels, width, height);
    } catch (const std::bad_alloc &) {
        *problem = "cannot be sketched: there is not enough memory";
    }
    if (*problem != nullptr) {
        FreeVec(pixels);
        return nullptr;
    }
    return pixels;
}

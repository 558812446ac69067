// See drawing.h.
#include "sketch/drawing/drawing.h"

#include <cstring>
#include <new>
#include <system_error>
#include <thread>

#include "platform/exec.h"
#include "sketch/drawing/layouts.h"

namespace
{

// No sketch is drawn larger: 4096 x 4096 pixels are 64 MiB.
const uint64_t most_pixels = 4096ull * 4096ull;

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

const char *const no_memory = "cannot be sketched: there is not enough memory";
const char *const no_libraries = "cannot be sketched: the font libraries cannot be loaded";

const char *draw(SketchFonts &fonts, const SketchPage &page, unsigned char *pixels, uint32_t width,
                 uint32_t height)
{
    memset(pixels, 0xFF, size_t(width) * height * 4); // opaque white
    SketchCanvas canvas = {pixels,
                           static_cast<int>(width),
                           static_cast<int>(height),
                           {0, 0, static_cast<int>(width), static_cast<int>(height)}};
    try {
        lay_out(canvas, fonts, page);
    } catch (const std::bad_alloc &) {
        return no_memory;
    }
    return nullptr;
}

bool too_large(uint32_t width, uint32_t height)
{
    return width == 0 || height == 0 || uint64_t(width) * height > most_pixels || width > 16384 ||
           height > 16384;
}

} // namespace

struct SketchFontsBegun {
    std::thread finder;
    SketchFonts fonts;
    const char *problem = nullptr;

    void find()
    {
        if (!sketch_font_libraries_load()) {
            problem = no_libraries;
            return;
        }
        try {
            problem = fonts.open();
        } catch (const std::bad_alloc &) {
            problem = no_memory;
        }
    }

    // Null once the fonts are found; why there are none otherwise.
    const char *wait()
    {
        if (finder.joinable())
            finder.join();
        return problem;
    }
};

SketchFontsBegun *sketch_fonts_begin()
{
    auto *begun = new (std::nothrow) SketchFontsBegun;
    if (begun == nullptr)
        return nullptr;
    try {
        begun->finder = std::thread(&SketchFontsBegun::find, begun);
    } catch (const std::system_error &) {
        begun->find();
    } catch (const std::bad_alloc &) {
        begun->find();
    }
    return begun;
}

void sketch_fonts_end(SketchFontsBegun *fonts)
{
    if (fonts == nullptr)
        return;
    fonts->wait();
    delete fonts;
}

void *sketch_draw_page(SketchFontsBegun *fonts, const SketchPage &page, uint32_t width, uint32_t height,
                       const char **problem)
{
    *problem = fonts == nullptr ? no_memory : too_large(width, height) ? "is too large to sketch" : nullptr;
    if (*problem == nullptr)
        *problem = fonts->wait();
    if (*problem == nullptr && !sketch_shaping_library_load())
        *problem = no_libraries;
    void *pixels = *problem == nullptr ? AllocVec(width * height * 4, MEMF_ANY) : nullptr;
    if (*problem == nullptr && pixels == nullptr)
        *problem = no_memory;
    if (*problem == nullptr)
        *problem = draw(fonts->fonts, page, static_cast<unsigned char *>(pixels), width, height);
    sketch_fonts_end(fonts);
    if (*problem != nullptr) {
        FreeVec(pixels);
        return nullptr;
    }
    return pixels;
}

void *sketch_draw_page(const SketchPage &page, uint32_t width, uint32_t height, const char **problem)
{
    return sketch_draw_page(sketch_fonts_begin(), page, width, height, problem);
}

// The viewer window's redraw: render() of a 512 x 512 picture into a
// 3840 x 2160 and a 100 x 100 window, opaque and translucent, each beside a
// plain fill of the same window surface (SDL_FillRect) in the same run, and
// beside what two libraries take for the same scaling into the same
// surface: pixman's bilinear filter (PixmanBilinear) and SDL's
// SDL_SoftStretchLinear (SdlStretchLinear, opaque only: it does not blend).
// Runs on SDL's offscreen driver, so no display is needed:
//   build/bench/bench_window
#include <benchmark/benchmark.h>
#include <pixman.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "flow/libraries.h"
#include "platform/control.h"
#include "platform/internal/layer.h"
#include "window/window.h"

namespace
{

struct Viewer {
    struct Window *window = nullptr;
    std::vector<uint8_t> opaque;      // 512 x 512 A,R,G,B, alpha 255
    std::vector<uint8_t> translucent; // the same with every other pixel at alpha 128
};

// The picture as a library takes it: 0xAARRGGBB words, premultiplied.
std::vector<uint32_t> words_of(const std::vector<uint8_t> &bytes)
{
    std::vector<uint32_t> words(bytes.size() / 4);
    for (size_t i = 0; i < words.size(); ++i) {
        uint32_t a = bytes[i * 4], word = a << 24;
        for (int c = 1; c < 4; ++c)
            word |= (bytes[i * 4 + size_t(c)] * a + 127) / 255 << (8 * (3 - c));
        words[i] = word;
    }
    return words;
}

Viewer viewer;

std::vector<uint8_t> picture(bool translucent)
{
    std::vector<uint8_t> bytes(512 * 512 * 4);
    for (size_t i = 0; i < 512 * 512; ++i) {
        bytes[i * 4] = translucent && (i % 2) != 0 ? 128 : 255;
        bytes[i * 4 + 1] = uint8_t(i * 7);
        bytes[i * 4 + 2] = uint8_t(i >> 3);
        bytes[i * 4 + 3] = uint8_t(i >> 9);
    }
    return bytes;
}

// Gives the window this size and takes the resize message, so that its
// surface is the one of the new size.
void size_window(int width, int height)
{
    SDL_Window *host = viewer.window->RPort->Layer->window;
    SDL_SetWindowMaximumSize(host, 16384, 16384); // larger than the offscreen screen
    SDL_SetWindowSize(host, width, height);
    while (struct Message *message = GetMsg(viewer.window->UserPort))
        ReplyMsg(message);
    SDL_Surface *surface = viewer.window->RPort->Layer->surface;
    if (surface->w != width || surface->h != height)
        std::fprintf(stderr, "bench_window: the window's surface is %dx%d, not %dx%d\n", surface->w,
                     surface->h, width, height);
}

void render_into(benchmark::State &state, int width, int height, const std::vector<uint8_t> &pixels)
{
    size_window(width, height);
    for (auto _ : state) {
        render(viewer.window->RPort, const_cast<uint8_t *>(pixels.data()), viewer.window, 512, 512);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * width * height);
}

// What the window does on a resize: the pen-2 fill, then the draw.
void redraw_into(benchmark::State &state, int width, int height)
{
    size_window(width, height);
    for (auto _ : state) {
        SetRast(viewer.window->RPort, 2);
        render(viewer.window->RPort, viewer.opaque.data(), viewer.window, 512, 512);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * width * height);
}

void fill_of(benchmark::State &state, int width, int height)
{
    size_window(width, height);
    SDL_Surface *surface = viewer.window->RPort->Layer->surface;
    Uint32 colour = SDL_MapRGB(surface->format, 0x55, 0x01, 0x0A);
    for (auto _ : state) {
        SDL_FillRect(surface, nullptr, colour);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * width * height);
}

// pixman's bilinear filter from the picture into the window's pixels,
// composited SRC when opaque and OVER when translucent.
void pixman_into(benchmark::State &state, int width, int height, const std::vector<uint8_t> &pixels,
                 bool translucent)
{
    size_window(width, height);
    std::vector<uint32_t> words = words_of(pixels);
    SDL_Surface *surface = viewer.window->RPort->Layer->surface;
    SDL_LockSurface(surface);
    pixman_image_t *source = pixman_image_create_bits(PIXMAN_a8r8g8b8, 512, 512, words.data(), 512 * 4);
    pixman_image_t *target = pixman_image_create_bits(
        PIXMAN_x8r8g8b8, surface->w, surface->h, static_cast<uint32_t *>(surface->pixels), surface->pitch);
    pixman_transform_t scale;
    pixman_transform_init_scale(&scale, pixman_double_to_fixed(512.0 / width),
                                pixman_double_to_fixed(512.0 / height));
    pixman_image_set_transform(source, &scale);
    pixman_image_set_filter(source, PIXMAN_FILTER_BILINEAR, nullptr, 0);
    pixman_image_set_repeat(source, PIXMAN_REPEAT_PAD);
    for (auto _ : state) {
        pixman_image_composite32(translucent ? PIXMAN_OP_OVER : PIXMAN_OP_SRC, source, nullptr, target, 0, 0,
                                 0, 0, 0, 0, width, height);
        benchmark::ClobberMemory();
    }
    pixman_image_unref(target);
    pixman_image_unref(source);
    SDL_UnlockSurface(surface);
    state.SetItemsProcessed(state.iterations() * width * height);
}

// SDL_SoftStretchLinear from a surface of the window's own format.
void sdl_stretch_into(benchmark::State &state, int width, int height)
{
    size_window(width, height);
    SDL_Surface *surface = viewer.window->RPort->Layer->surface;
    std::vector<uint32_t> words = words_of(viewer.opaque);
    SDL_Surface *source =
        SDL_CreateRGBSurfaceWithFormatFrom(words.data(), 512, 512, 32, 512 * 4, surface->format->format);
    for (auto _ : state) {
        SDL_SoftStretchLinear(source, nullptr, surface, nullptr);
        benchmark::ClobberMemory();
    }
    SDL_FreeSurface(source);
    state.SetItemsProcessed(state.iterations() * width * height);
}

// Each draw at a 4K screen's size and at the window's smallest, named
// BM_<draw>_<width>x<height>.
void register_draws()
{
    struct Size {
        int width, height;
        benchmark::TimeUnit unit;
    };
    for (Size size : {Size{3840, 2160, benchmark::kMillisecond}, Size{100, 100, benchmark::kMicrosecond}}) {
        int w = size.width, h = size.height;
        const std::pair<const char *, std::function<void(benchmark::State &)>> draws[] = {
            {"Fill", [=](benchmark::State &state) { fill_of(state, w, h); }},
            {"Render", [=](benchmark::State &state) { render_into(state, w, h, viewer.opaque); }},
            {"Redraw", [=](benchmark::State &state) { redraw_into(state, w, h); }},
            {"RenderTranslucent",
             [=](benchmark::State &state) { render_into(state, w, h, viewer.translucent); }},
            {"PixmanBilinear",
             [=](benchmark::State &state) { pixman_into(state, w, h, viewer.opaque, false); }},
            {"PixmanBilinearTranslucent",
             [=](benchmark::State &state) { pixman_into(state, w, h, viewer.translucent, true); }},
            {"SdlStretchLinear", [=](benchmark::State &state) { sdl_stretch_into(state, w, h); }},
        };
        for (const auto &[draw, run] : draws) {
            std::string name = "BM_" + std::string(draw) + "_" + std::to_string(w) + "x" + std::to_string(h);
            benchmark::RegisterBenchmark(name.c_str(), run)->Unit(size.unit);
        }
    }
}

} // namespace

int main(int argc, char **argv)
{
    setenv("SDL_VIDEODRIVER", "offscreen", 1);
    platform_reset();
    GfxBase = OpenLibrary("graphics.library", 0);
    CyberGfxBase = OpenLibrary("cybergraphics.library", 0);
    IntuitionBase = OpenLibrary("intuition.library", 0);
    if (GfxBase == nullptr || CyberGfxBase == nullptr || IntuitionBase == nullptr)
        return 1;
    viewer.opaque = picture(false);
    viewer.translucent = picture(true);
    viewer.window = OpenWindowTags(nullptr, WA_Width, 512, WA_Height, 512, WA_SizeGadget, TRUE, WA_IDCMP,
                                   IDCMP_NEWSIZE, TAG_DONE);
    if (viewer.window == nullptr)
        return 1;
    register_draws();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    CloseWindow(viewer.window);
    CloseLibrary(IntuitionBase);
    CloseLibrary(CyberGfxBase);
    CloseLibrary(GfxBase);
    return 0;
}

// The viewer window's redraw: render() of a 512 x 512 picture into a
// 3840 x 2160 and a 100 x 100 window, each beside a plain fill of the same
// window surface (SDL_FillRect) in the same run. Runs on SDL's offscreen
// driver, so no display is needed:
//   build/bench/bench_window
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <vector>

#include "flow/libraries.h"
#include "platform/control.h"
#include "platform/layer.h"
#include "window/window.h"

namespace
{

struct Viewer {
    struct Window *window = nullptr;
    std::vector<uint8_t> opaque;      // 512 x 512 A,R,G,B, alpha 255
    std::vector<uint8_t> translucent; // the same with every other pixel at alpha 128
};

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

void BM_Fill_3840x2160(benchmark::State &state)
{
    fill_of(state, 3840, 2160);
}
void BM_Render_3840x2160(benchmark::State &state)
{
    render_into(state, 3840, 2160, viewer.opaque);
}
void BM_Redraw_3840x2160(benchmark::State &state)
{
    redraw_into(state, 3840, 2160);
}
void BM_RenderTranslucent_3840x2160(benchmark::State &state)
{
    render_into(state, 3840, 2160, viewer.translucent);
}
void BM_Fill_100x100(benchmark::State &state)
{
    fill_of(state, 100, 100);
}
void BM_Render_100x100(benchmark::State &state)
{
    render_into(state, 100, 100, viewer.opaque);
}
void BM_Redraw_100x100(benchmark::State &state)
{
    redraw_into(state, 100, 100);
}

BENCHMARK(BM_Fill_3840x2160)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Render_3840x2160)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Redraw_3840x2160)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RenderTranslucent_3840x2160)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Fill_100x100)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Render_100x100)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Redraw_100x100)->Unit(benchmark::kMicrosecond);

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
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    CloseWindow(viewer.window);
    CloseLibrary(IntuitionBase);
    CloseLibrary(CyberGfxBase);
    CloseLibrary(GfxBase);
    return 0;
}

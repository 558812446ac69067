// Drawing: render with source and destination sizes taken from the input,
// into a real window on SDL's offscreen driver.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "flow/libraries.h"
#include "window/window.h"

namespace
{

struct Stage {
    struct Window *window = nullptr;
};

Stage &stage()
{
    static Stage *instance = [] {
        setenv("SDL_VIDEODRIVER", "offscreen", 0);
        Stage *s = new Stage;
        GfxBase = OpenLibrary("graphics.library", 0);
        CyberGfxBase = OpenLibrary("cybergraphics.library", 0);
        IntuitionBase = OpenLibrary("intuition.library", 0);
        if (IntuitionBase != nullptr)
            s->window =
                OpenWindowTags(nullptr, WA_Left, 100, WA_Top, 100, WA_Width, 160, WA_Height, 120, WA_Title,
                               "fuzz", WA_IDCMP, IDCMP_NEWSIZE | IDCMP_CLOSEWINDOW, TAG_DONE);
        return s;
    }();
    return *instance;
}

uint16_t word(const uint8_t *data, size_t size, size_t at)
{
    return at + 1 < size ? static_cast<uint16_t>(data[at] | data[at + 1] << 8) : 0;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    struct Window *window = stage().window;
    if (window == nullptr || size < 8)
        return 0;
    uint32_t width = word(data, size, 0) % 1024 + 1;
    uint32_t height = word(data, size, 2) % 1024 + 1;
    // The window's size as a resize would leave it: any 16-bit value.
    WORD saved_width = window->Width, saved_height = window->Height;
    window->Width = static_cast<WORD>(word(data, size, 4));
    window->Height = static_cast<WORD>(word(data, size, 6));
    std::vector<uint8_t> pixels(static_cast<size_t>(width) * height * 4);
    for (size_t i = 0; i < pixels.size(); ++i)
        pixels[i] = size > 8 ? data[8 + i % (size - 8)] : 0;
    render(window->RPort, pixels.data(), window, width, height);
    window->Width = saved_width;
    window->Height = saved_height;
    return 0;
}

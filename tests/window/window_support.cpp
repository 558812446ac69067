#include "window_support.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/internal/layer.h"
#include "reference_scale.h"
#include "support.h"

namespace window_test
{

Picture make_picture(uint32_t width, uint32_t height, const std::vector<uint32_t> &argb)
{
    Picture picture;
    picture.width = width;
    picture.height = height;
    picture.argb = argb;
    picture.bytes.resize(argb.size() * 4);
    for (size_t i = 0; i < argb.size(); ++i) {
        picture.bytes[i * 4 + 0] = uint8_t(argb[i] >> 24);
        picture.bytes[i * 4 + 1] = uint8_t(argb[i] >> 16);
        picture.bytes[i * 4 + 2] = uint8_t(argb[i] >> 8);
        picture.bytes[i * 4 + 3] = uint8_t(argb[i]);
    }
    return picture;
}

Picture pattern_picture(uint32_t width, uint32_t height)
{
    std::vector<uint32_t> argb = testing_support::test_pattern(width, height);
    for (uint32_t &pixel : argb)
        pixel |= 0xFF000000u;
    return make_picture(width, height, argb);
}

std::vector<uint32_t> expected_view(const Picture &picture, uint32_t width, uint32_t height,
                                    uint32_t background)
{
    return testing_support::reference_scale(picture.argb, picture.width, picture.height, width, height,
                                            background);
}

uint32_t window_pixel(struct Window *window, int x, int y)
{
    SDL_Surface *surface = window->RPort->Layer->surface;
    SDL_LockSurface(surface);
    uint32_t word = 0;
    SDL_Color colour;
    const uint8_t *at = static_cast<const uint8_t *>(surface->pixels) + size_t(y) * surface->pitch +
                        size_t(x) * surface->format->BytesPerPixel;
    std::memcpy(&word, at, surface->format->BytesPerPixel);
    SDL_GetRGB(word, surface->format, &colour.r, &colour.g, &colour.b);
    SDL_UnlockSurface(surface);
    return uint32_t(colour.r) << 16 | uint32_t(colour.g) << 8 | colour.b;
}

SDL_Window *host_window(struct Window *window)
{
    return window->RPort->Layer->window;
}

std::string first_difference(struct Window *window, const Picture &picture, uint32_t background,
                             int tolerance)
{
    uint32_t width = uint32_t(window->Width), height = uint32_t(window->Height);
    SDL_Surface *surface = window->RPort->Layer->surface;
    if (surface->w != int(width) || surface->h != int(height))
        return "surface is " + std::to_string(surface->w) + "x" + std::to_string(surface->h);
    std::vector<uint32_t> view = expected_view(picture, width, height, background);
    for (uint32_t y = 0; y < height; ++y)
        for (uint32_t x = 0; x < width; ++x) {
            uint32_t got = window_pixel(window, int(x), int(y));
            uint32_t want = view[size_t(y) * width + x];
            for (int shift = 0; shift <= 16; shift += 8)
                if (std::abs(int((got >> shift) & 0xFF) - int((want >> shift) & 0xFF)) > tolerance) {
                    char text[96];
                    std::snprintf(text, sizeof text, "%u,%u: got %06x want %06x", x, y, got, want);
                    return text;
                }
        }
    return "";
}

void push_window_event(struct Window *window, Uint8 event)
{
    SDL_Event e = {};
    e.type = SDL_WINDOWEVENT;
    e.window.windowID = SDL_GetWindowID(host_window(window));
    e.window.event = event;
    SDL_PushEvent(&e);
}

void push_key(struct Window *window, SDL_Keycode sym, SDL_Scancode scancode, bool down)
{
    SDL_Event e = {};
    e.type = down ? SDL_KEYDOWN : SDL_KEYUP;
    e.key.windowID = SDL_GetWindowID(host_window(window));
    e.key.state = down ? SDL_PRESSED : SDL_RELEASED;
    e.key.keysym.sym = sym;
    e.key.keysym.scancode = scancode;
    SDL_PushEvent(&e);
}

void push_mouse_button(struct Window *window, Uint8 button, bool down, int x, int y)
{
    SDL_Event e = {};
    e.type = down ? SDL_MOUSEBUTTONDOWN : SDL_MOUSEBUTTONUP;
    e.button.windowID = SDL_GetWindowID(host_window(window));
    e.button.button = button;
    e.button.state = down ? SDL_PRESSED : SDL_RELEASED;
    e.button.x = x;
    e.button.y = y;
    SDL_PushEvent(&e);
}

void push_mouse_motion(struct Window *window, int x, int y)
{
    SDL_Event e = {};
    e.type = SDL_MOUSEMOTION;
    e.motion.windowID = SDL_GetWindowID(host_window(window));
    e.motion.x = x;
    e.motion.y = y;
    SDL_PushEvent(&e);
}

Script::Script(std::vector<std::function<void(struct Window *)>> steps) : steps_(std::move(steps))
{
    platform::intuition_set_wait_hook(&Script::on_wait, this);
}

Script::~Script()
{
    platform::intuition_set_wait_hook(nullptr, nullptr);
}

void Script::on_wait(struct Window *window, void *data)
{
    Script *script = static_cast<Script *>(data);
    size_t step = script->waits_++;
    if (step < script->steps_.size())
        script->steps_[step](window);
    else
        push_window_event(window, SDL_WINDOWEVENT_CLOSE);
}

} // namespace window_test

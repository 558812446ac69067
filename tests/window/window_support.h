// Helpers of the viewer window's tests: pictures as PictureBuffers, the
// window's pixels read back, and a script of steps that runs each time the
// window's port is about to sleep.
#ifndef QUILLPEEK_TESTS_WINDOW_SUPPORT_H
#define QUILLPEEK_TESTS_WINDOW_SUPPORT_H

#include <SDL.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/intuition.h"

namespace window_test
{

// A picture as the decoder leaves it: bytes A, R, G, B per pixel.
struct Picture {
    uint32_t width = 0;
    uint32_t height = 0;
    std::vector<uint32_t> argb; // 0xAARRGGBB, row by row
    std::vector<uint8_t> bytes; // the PictureBuffer

    uint32_t at(uint32_t x, uint32_t y) const { return argb[size_t(y) * width + x]; }
};

// From 0xAARRGGBB words.
Picture make_picture(uint32_t width, uint32_t height, const std::vector<uint32_t> &argb);
// The shared test pattern, opaque.
Picture pattern_picture(uint32_t width, uint32_t height);

// How far a scaled draw may lie from the reference filter, per channel:
// the reference weighs in steps of 1/256 of a pixel, the platform in steps
// of 1/128 and rounds once per axis.
const int filter_tolerance = 3;

// The picture scaled to width x height over a background colour
// (0x00RRGGBB), by the reference filter (reference_scale.h), row by row.
std::vector<uint32_t> expected_view(const Picture &picture, uint32_t width, uint32_t height,
                                    uint32_t background);

// The window's pixel at (x, y) as 0x00RRGGBB, from its current surface.
uint32_t window_pixel(struct Window *window, int x, int y);
SDL_Window *host_window(struct Window *window);

// The first pixel of the window that differs from the picture scaled to the
// window's size over the background by the reference filter, as
// "x,y: got G want W"; empty when all agree within tolerance per channel.
std::string first_difference(struct Window *window, const Picture &picture, uint32_t background,
                             int tolerance = 0);

// Pushes a window event (close, expose) or other event for the window.
void push_window_event(struct Window *window, Uint8 event);
void push_key(struct Window *window, SDL_Keycode sym, SDL_Scancode scancode, bool down);
void push_mouse_button(struct Window *window, Uint8 button, bool down, int x, int y);
void push_mouse_motion(struct Window *window, int x, int y);

// Steps run one by one, each when the window is about to sleep. When no
// step is left the window is asked to close, so that a test never hangs.
class Script
{
  public:
    explicit Script(std::vector<std::function<void(struct Window *)>> steps);
    ~Script();
    Script(const Script &) = delete;
    Script &operator=(const Script &) = delete;
    // How many times the window was about to sleep.
    size_t waits() const { return waits_; }

  private:
    static void on_wait(struct Window *window, void *data);
    std::vector<std::function<void(struct Window *)>> steps_;
    size_t waits_ = 0;
};

} // namespace window_test

#endif

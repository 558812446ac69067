// SDL2, opened when the window system is first needed rather than at exec.
//
// The program's libraries do not link libSDL2: intuition.library loads it
// with dlopen when it is first opened, and every SDL function the platform
// calls is reached through one table, resolved by name with dlsym. A run
// that never opens a window (a document that fails, a test without a
// window) never loads SDL or the display libraries behind it. The headers
// still come from the system's SDL2, so the table's types are SDL's own.
// Platform-internal.
#ifndef QUILLPEEK_PLATFORM_SDL_H
#define QUILLPEEK_PLATFORM_SDL_H

#include <SDL.h>

namespace platform
{

// Every SDL function the platform uses, by its name without "SDL_".
#define QUILLPEEK_SDL_CALLS(X)                                                                               \
    X(InitSubSystem)                                                                                         \
    X(QuitSubSystem)                                                                                         \
    X(Quit)                                                                                                  \
    X(SetHint)                                                                                               \
    X(SetHintWithPriority)                                                                                   \
    X(GetCurrentVideoDriver)                                                                                 \
    X(GetError)                                                                                              \
    X(Delay)                                                                                                 \
    X(GetDisplayBounds)                                                                                      \
    X(CreateWindow)                                                                                          \
    X(DestroyWindow)                                                                                         \
    X(GetWindowID)                                                                                           \
    X(GetWindowSize)                                                                                         \
    X(GetWindowSurface)                                                                                      \
    X(UpdateWindowSurface)                                                                                   \
    X(SetWindowMinimumSize)                                                                                  \
    X(SetWindowMaximumSize)                                                                                  \
    X(WaitEvent)                                                                                             \
    X(PollEvent)                                                                                             \
    X(GetModState)                                                                                           \
    X(GetMouseState)                                                                                         \
    X(CreateRGBSurfaceWithFormat)                                                                            \
    X(CreateRGBSurfaceWithFormatFrom)                                                                        \
    X(FreeSurface)                                                                                           \
    X(LockSurface)                                                                                           \
    X(ConvertPixels)                                                                                         \
    X(UnlockSurface)                                                                                         \
    X(UpperBlit)                                                                                             \
    X(GetSurfaceBlendMode)                                                                                   \
    X(SetSurfaceBlendMode)                                                                                   \
    X(FillRect)                                                                                              \
    X(MapRGB)                                                                                                \
    X(ShowSimpleMessageBox)

struct SdlCalls {
#define QUILLPEEK_SDL_MEMBER(name) decltype(&::SDL_##name) name;
    QUILLPEEK_SDL_CALLS(QUILLPEEK_SDL_MEMBER)
#undef QUILLPEEK_SDL_MEMBER
};

// Loads libSDL2 and resolves the table, once; later calls return the same
// answer. False, with the reason in sdl_load_error(), when the library or
// one of its functions is missing. Safe from any thread.
bool sdl_load();
const char *sdl_load_error();

// The table; only after sdl_load() has returned true.
const SdlCalls &sdl();

} // namespace platform

#endif

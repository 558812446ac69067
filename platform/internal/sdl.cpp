// See sdl.h.
#include "platform/internal/sdl.h"

#include <mutex>

#include "platform/internal/loaded_library.h"

namespace
{

platform::SdlCalls calls;
platform::LoadedLibrary library("libSDL2-2.0.so.0");
std::once_flag load_once;
bool loaded = false;

void load()
{
    if (!library.open())
        return;
    bool complete = true;
#define QUILLPEEK_SDL_RESOLVE(name) complete = complete && library.resolve("SDL_" #name, calls.name);
    QUILLPEEK_SDL_CALLS(QUILLPEEK_SDL_RESOLVE)
#undef QUILLPEEK_SDL_RESOLVE
    loaded = complete;
}

} // namespace

namespace platform
{

bool sdl_load()
{
    std::call_once(load_once, load);
    return loaded;
}

const char *sdl_load_error()
{
    return library.error.c_str();
}

const SdlCalls &sdl()
{
    return calls;
}

} // namespace platform

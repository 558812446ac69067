// See sdl.h.
#include "platform/internal/sdl.h"

#include "platform/internal/loaded_library.h"

namespace
{

platform::SdlCalls calls;
platform::LoadedLibrary library("libSDL2-2.0.so.0");

// Every call of the table from the library; false when one is missing.
bool resolve_all(platform::LoadedLibrary &from)
{
    bool complete = true;
#define QUILLPEEK_SDL_RESOLVE(name) complete = complete && from.resolve("SDL_" #name, calls.name);
    QUILLPEEK_SDL_CALLS(QUILLPEEK_SDL_RESOLVE)
#undef QUILLPEEK_SDL_RESOLVE
    return complete;
}

} // namespace

namespace platform
{

bool sdl_load()
{
    return library.load(resolve_all);
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

// See sdl.h.
#include "platform/internal/sdl.h"

#include <dlfcn.h>

#include <mutex>
#include <string>

namespace
{

platform::SdlCalls calls;
std::string load_error;
std::once_flag load_once;
bool loaded = false;

// Resolves one function into its slot; false when the library lacks it.
template <typename Function> bool resolve(void *library, const char *name, Function &slot)
{
    slot = reinterpret_cast<Function>(dlsym(library, name));
    if (slot != nullptr)
        return true;
    load_error = std::string("libSDL2-2.0.so.0 has no ") + name;
    return false;
}

void load()
{
    // Kept loaded to the end of the process: SDL and the display libraries
    // it pulls in are not made to be unloaded.
    void *library = dlopen("libSDL2-2.0.so.0", RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) {
        const char *reason = dlerror();
        load_error = reason != nullptr ? reason : "libSDL2-2.0.so.0 cannot be loaded";
        return;
    }
    bool complete = true;
#define QUILLPEEK_SDL_RESOLVE(name) complete = complete && resolve(library, "SDL_" #name, calls.name);
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
    return load_error.c_str();
}

const SdlCalls &sdl()
{
    return calls;
}

} // namespace platform

// See loaded_library.h.
#include "platform/internal/loaded_library.h"

#include <dlfcn.h>

namespace platform
{

bool LoadedLibrary::load(bool (*resolve_all)(LoadedLibrary &library))
{
    std::lock_guard<std::mutex> held(guard);
    if (!tried)
        loaded = open() && resolve_all(*this);
    tried = true;
    return loaded;
}

void LoadedLibrary::unload()
{
    std::lock_guard<std::mutex> held(guard);
    if (handle != nullptr)
        dlclose(handle);
    handle = nullptr;
    tried = loaded = false;
}

bool LoadedLibrary::open()
{
    // Bound lazily: the libraries that are not linked to be bound at once
    // (libstdc++ behind ICU behind libxml2, fontconfig, expat) then resolve
    // only the calls made, not their thousands of symbols.
    handle = dlopen(name, RTLD_LAZY | RTLD_LOCAL);
    if (handle != nullptr)
        return true;
    const char *reason = dlerror();
    error = reason != nullptr ? reason : std::string(name) + " cannot be loaded";
    return false;
}

void *LoadedLibrary::find(const char *symbol)
{
    void *found = dlsym(handle, symbol);
    if (found == nullptr)
        error = std::string(name) + " has no " + symbol;
    return found;
}

} // namespace platform

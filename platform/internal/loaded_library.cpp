// See loaded_library.h.
#include "platform/internal/loaded_library.h"

#include <dlfcn.h>

namespace platform
{

bool LoadedLibrary::load(bool (*resolve_all)(LoadedLibrary &library))
{
    std::call_once(once, [&] { loaded = open() && resolve_all(*this); });
    return loaded;
}

bool LoadedLibrary::open()
{
    handle = dlopen(name, RTLD_NOW | RTLD_LOCAL);
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

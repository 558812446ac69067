// See libarchive.h.
#include "platform/internal/libarchive.h"

#include <dlfcn.h>

#include <mutex>
#include <string>

namespace
{

platform::ArchiveCalls calls;
std::string load_error;
std::once_flag load_once;
bool loaded = false;

// Resolves one function into its slot; false when the library lacks it.
template <typename Function> bool resolve(void *library, const char *name, Function &slot)
{
    slot = reinterpret_cast<Function>(dlsym(library, name));
    if (slot != nullptr)
        return true;
    load_error = std::string(platform::libarchive_name) + " has no " + name;
    return false;
}

void load()
{
    // Kept loaded to the end of the process, as a linked library would be.
    void *library = dlopen(platform::libarchive_name, RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) {
        const char *reason = dlerror();
        load_error =
            reason != nullptr ? reason : std::string(platform::libarchive_name) + " cannot be loaded";
        return;
    }
    bool complete = true;
#define QUILLPEEK_ARCHIVE_RESOLVE(name) complete = complete && resolve(library, "archive_" #name, calls.name);
    QUILLPEEK_ARCHIVE_CALLS(QUILLPEEK_ARCHIVE_RESOLVE)
#undef QUILLPEEK_ARCHIVE_RESOLVE
    loaded = complete;
}

} // namespace

namespace platform
{

bool libarchive_load()
{
    std::call_once(load_once, load);
    return loaded;
}

const char *libarchive_load_error()
{
    return load_error.c_str();
}

const ArchiveCalls &libarchive()
{
    return calls;
}

} // namespace platform

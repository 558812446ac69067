// See libarchive.h.
#include "platform/internal/libarchive.h"

#include <mutex>

#include "platform/internal/loaded_library.h"

namespace
{

platform::ArchiveCalls calls;
platform::LoadedLibrary library(platform::libarchive_name);
std::once_flag load_once;
bool loaded = false;

void load()
{
    if (!library.open())
        return;
    bool complete = true;
#define QUILLPEEK_ARCHIVE_RESOLVE(name) complete = complete && library.resolve("archive_" #name, calls.name);
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
    return library.error.c_str();
}

const ArchiveCalls &libarchive()
{
    return calls;
}

} // namespace platform

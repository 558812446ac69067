// See libarchive.h.
#include "platform/internal/libarchive.h"

#include "platform/internal/loaded_library.h"

#include <atomic>

namespace
{

platform::ArchiveCalls calls;
platform::LoadedLibrary library(platform::libarchive_name);
std::atomic<bool> loaded{false};

// Every call of the table from the library; false when one is missing.
bool resolve_all(platform::LoadedLibrary &from)
{
    bool complete = true;
#define QUILLPEEK_ARCHIVE_RESOLVE(name) complete = complete && from.resolve("archive_" #name, calls.name);
    QUILLPEEK_ARCHIVE_CALLS(QUILLPEEK_ARCHIVE_RESOLVE)
#undef QUILLPEEK_ARCHIVE_RESOLVE
    return complete;
}

} // namespace

namespace platform
{

bool libarchive_load()
{
    bool done = library.load(resolve_all);
    loaded = loaded || done;
    return done;
}

bool libarchive_loaded()
{
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

// See libxml.h.
#include "sketch/readers/libxml.h"

#include "platform/internal/loaded_library.h"

namespace
{

LibxmlCalls calls;
platform::LoadedLibrary library("libxml2.so.2");

bool resolve(platform::LoadedLibrary &from)
{
    bool complete = true;
#define SKETCH_RESOLVE(name) complete = complete && from.resolve(#name, calls.name);
    SKETCH_LIBXML_CALLS(SKETCH_RESOLVE)
#undef SKETCH_RESOLVE
    return complete;
}

bool loaded = false;

} // namespace

bool sketch_libxml_load()
{
    loaded = library.load(resolve);
    return loaded;
}

void sketch_libxml_unload()
{
    if (!loaded)
        return;
    calls.xmlCleanupParser();
    library.unload();
    loaded = false;
}

const LibxmlCalls &libxml()
{
    return calls;
}

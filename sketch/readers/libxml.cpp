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

} // namespace

bool sketch_libxml_load()
{
    return library.load(resolve);
}

const LibxmlCalls &libxml()
{
    return calls;
}

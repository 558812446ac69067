// See libraries.h.
#include "sketch/drawing/libraries.h"

#include "platform/internal/loaded_library.h"

namespace
{

SketchCalls calls;
platform::LoadedLibrary fontconfig("libfontconfig.so.1");
platform::LoadedLibrary freetype("libfreetype.so.6");
platform::LoadedLibrary harfbuzz("libharfbuzz.so.0");

bool resolve_fontconfig(platform::LoadedLibrary &from)
{
    bool complete = true;
#define SKETCH_RESOLVE(name) complete = complete && from.resolve(#name, calls.name);
    SKETCH_FONTCONFIG_CALLS(SKETCH_RESOLVE)
    return complete;
}

bool resolve_freetype(platform::LoadedLibrary &from)
{
    bool complete = true;
    SKETCH_FREETYPE_CALLS(SKETCH_RESOLVE)
    return complete;
}

bool resolve_harfbuzz(platform::LoadedLibrary &from)
{
    bool complete = true;
    SKETCH_HARFBUZZ_CALLS(SKETCH_RESOLVE)
#undef SKETCH_RESOLVE
    return complete;
}

} // namespace

bool sketch_libraries_load()
{
    return fontconfig.load(resolve_fontconfig) && freetype.load(resolve_freetype) &&
           harfbuzz.load(resolve_harfbuzz);
}

const SketchCalls &sketch_calls()
{
    return calls;
}

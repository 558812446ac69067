// A shared library opened by name when it is first needed, and the calls
// resolved from it by name into a table of function pointers.
//
// Each such library (SDL2, libarchive) keeps one LoadedLibrary and one
// table; its own file lists the calls and says when it is loaded. A library
// once opened stays loaded to the end of the process, as a linked one would:
// neither SDL with the display libraries behind it nor libarchive is made to
// be unloaded. A library that is (libxml2) may be unloaded by its owner and
// loaded again later. The first failure is kept in `error` for the journal.
// Platform-internal.
#ifndef QUILLPEEK_PLATFORM_LOADED_LIBRARY_H
#define QUILLPEEK_PLATFORM_LOADED_LIBRARY_H

#include <mutex>
#include <string>

namespace platform
{

struct LoadedLibrary {
    const char *name; // the soname passed to dlopen
    void *handle = nullptr;
    std::string error;

    explicit LoadedLibrary(const char *soname) : name(soname) {}

    // Opens the library and resolves its calls with resolve_all, once for
    // the process however many threads ask; whether both succeeded.
    bool load(bool (*resolve_all)(LoadedLibrary &library));

    // Closes the library once nothing of it is in use; the next load opens
    // it again. Only for a library made to be unloaded.
    void unload();

    // Resolves `symbol` into `slot`; false, with `error` set, when the
    // library lacks it.
    template <typename Function> bool resolve(const char *symbol, Function &slot)
    {
        slot = reinterpret_cast<Function>(find(symbol));
        return slot != nullptr;
    }

  private:
    std::mutex guard;
    bool tried = false;
    bool loaded = false;

    bool open();
    void *find(const char *symbol);
};

} // namespace platform

#endif

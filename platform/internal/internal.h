// What the platform's libraries share among themselves; not for the
// program's code.
//
// Names in platform/ follow one rule:
//  - the system's own names, as the system spells them, for what programs
//    call or see: structures and constants of the public headers, the
//    library bases (DOSBase, ...), exec.library's calls (OpenLibrary,
//    AllocVec, ...), and the inline call forms of the other libraries;
//  - LVO_<call> for a library's entry point behind its call form (the
//    call's offset in the library on the system), taking the base first;
//  - platform_<what> for the platform's own C-style calls: the test
//    controls (platform/control.h) and the start-up's (platform/startup.h);
//  - everything else is C++ in namespace platform (platform::xad for
//    xadmaster's parts), with what one file keeps to itself in an anonymous
//    namespace there.
#ifndef QUILLPEEK_PLATFORM_INTERNAL_H
#define QUILLPEEK_PLATFORM_INTERNAL_H

#include <cstddef>
#include <new>
#include <string>
#include <type_traits>

#include "platform/exec.h"

namespace platform
{

// One line in the journal (in memory and/or the trace file), if one is kept.
// Never throws: a line the journal in memory has no room for is lost there.
void journal(const char *format, ...) noexcept __attribute__((format(printf, 1, 2)));
bool journalling();

// True when base is the open base of the named library. Otherwise the call
// is journalled as a FAULT and false returned: the caller then does nothing
// and returns its empty result.
bool library_ready(const struct Library *base, const char *library, const char *call);

// Memory taken on the program's behalf: counted, subject to injected
// failure, zero-filled. Null on failure.
void *allocate(size_t size);
void release(void *block);

// Memory that is about to be written whole is given its pages in one go
// rather than one fault at a time (large ranges only; a kernel that cannot
// leaves it to the faults).
void prepare_for_writing(void *start, size_t bytes);

// Whether address lies inside a live block from AllocVec; if so, room is set
// to the bytes from address to the block's end. Other memory (the stack, a
// caller's own buffers) is not known here and gives false.
bool block_room(const void *address, size_t *room);

// Whether the named library is made missing by the test controls.
bool library_missing(const char *name);

// Whether the next allocation is allowed by the failure control (counts it).
bool allocation_allowed();

// Sets the process's secondary result (dos.library's IoErr) for a library
// call that fails; returns the code it replaces.
LONG set_io_error(LONG code);

// A path with the "T:" assign resolved to the user's temporary directory.
std::string host_path(const char *path);

// Libraries' own start and end, called on the first OpenLibrary and the last
// CloseLibrary of each. Defined in each library's file.
bool intuition_first_open();
void intuition_last_close();

// One row of a table that pairs a key with a value: a tag and its flag, a
// key and its code, a class and its name.
template <typename Key, typename Value> struct Pair {
    Key key;
    Value value;
};

// The value of the first row whose key is key, else otherwise.
template <typename Row, size_t N, typename Key>
auto paired(const Row (&rows)[N], const Key &key, decltype(Row::value) otherwise) -> decltype(Row::value)
{
    for (const Row &row : rows)
        if (row.key == key)
            return row.value;
    return otherwise;
}

// What a call does when the C++ runtime ran out of memory inside it:
// journals "<call> FAULT no memory" and sets IoErr to ERROR_NO_FREE_STORE.
void out_of_memory(const char *call) noexcept;

// The boundary of a library call made from C: runs body and returns what it
// returns. Should the C++ runtime run out of memory inside it, out_of_memory
// runs and empty is returned, so no exception reaches the caller. Every
// entry point whose work can throw runs that work in here; each library's
// file says at its top which of its calls cannot throw and so need none.
template <typename Body, typename Result = std::invoke_result_t<Body &>>
Result guarded(const char *call, Result empty, Body &&body) noexcept
{
    try {
        return body();
    } catch (const std::bad_alloc &) {
        out_of_memory(call);
    }
    return empty;
}

// The same for calls that return nothing.
template <typename Body> void guarded(const char *call, Body &&body) noexcept
{
    try {
        body();
    } catch (const std::bad_alloc &) {
        out_of_memory(call);
    }
}

} // namespace platform

#endif

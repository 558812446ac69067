// dos.library: argument parsing and paths.
//
// Calls go through DOSBase, the handle that the start-up opens before main
// runs (version 37 or later). Paths are host paths, except that a leading
// "T:" (any case) names the user's temporary directory: $TMPDIR when set,
// else /tmp.
//
// Ownership: ReadArgs allocates the RDArgs record it returns; FreeArgs
// releases it and the texts stored through it. A lock from CreateDir belongs
// to the caller until UnLock. FilePart returns a pointer into its argument.
#ifndef QUILLPEEK_PLATFORM_DOS_H
#define QUILLPEEK_PLATFORM_DOS_H

#include "platform/exec.h"

typedef IPTR BPTR;

extern struct Library *DOSBase;

// The parser's record. Its fields are the parser's own.
struct RDArgs {
    void *RDA_Private;
};

// Parses the process's arguments, as the shell split them, against a
// template of comma-separated items "NAME[=ALIAS...][/A]". Each item's value
// goes to its slot of array as a text pointer (0 when absent). A value is
// given bare (positionally), as NAME=value or as NAME value; keywords match
// regardless of case. A lone "?" asks for the arguments: the template and
// ": " go to standard output, and one line read from standard input is
// parsed instead (blanks separate items, "..." keeps one together, with *"
// for a quote, ** a star, *N a newline). Returns null when a required item is
// missing, an argument is left over, the template is malformed or the input
// ended before a line.
struct RDArgs *LVO_ReadArgs(struct Library *base, CONST_STRPTR tmpl, IPTR *array, struct RDArgs *args);
void LVO_FreeArgs(struct Library *base, struct RDArgs *args);
// Makes a directory (mode 0700) and returns a lock on it, 0 on failure
// (for instance when something already stands there).
BPTR LVO_CreateDir(struct Library *base, CONST_STRPTR name);
void LVO_UnLock(struct Library *base, BPTR lock);
// The text after the last '/' or ':' of path, or the whole of it.
STRPTR LVO_FilePart(struct Library *base, CONST_STRPTR path);
// The process's secondary result: the code the last failing call of a
// library left for its caller (0 when none did). Calls that succeed leave it
// as it was; SetIoErr stores a code and returns the one it replaces.
LONG LVO_IoErr(struct Library *base);
LONG LVO_SetIoErr(struct Library *base, LONG code);

// Codes of IoErr that the libraries set.
enum : LONG {
    ERROR_NO_FREE_STORE = 103,
    ERROR_LINE_TOO_LONG = 120, // the template query's line: past 64 KiB, or with a NUL
    ERROR_OBJECT_TOO_LARGE = 207,
};

inline struct RDArgs *ReadArgs(CONST_STRPTR tmpl, IPTR *array, struct RDArgs *args)
{
    return LVO_ReadArgs(DOSBase, tmpl, array, args);
}
inline void FreeArgs(struct RDArgs *args)
{
    LVO_FreeArgs(DOSBase, args);
}
inline BPTR CreateDir(CONST_STRPTR name)
{
    return LVO_CreateDir(DOSBase, name);
}
inline void UnLock(BPTR lock)
{
    LVO_UnLock(DOSBase, lock);
}
inline STRPTR FilePart(CONST_STRPTR path)
{
    return LVO_FilePart(DOSBase, path);
}
inline LONG IoErr()
{
    return LVO_IoErr(DOSBase);
}
inline LONG SetIoErr(LONG code)
{
    return LVO_SetIoErr(DOSBase, code);
}

#endif

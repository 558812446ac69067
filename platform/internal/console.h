// The console of a desktop start.
//
// The desktop entry starts the program as "quillpeek --desktop FILE". Such a
// start has no terminal: when the process has no controlling terminal, the
// start-up hands standard output and standard error to the console, which
// keeps what is written. When the program ends, anything written goes on to
// the standard error the process was given (often /dev/null or the
// session's log), in the order it was written, and is shown in a message
// window titled "Quillpeek" that stays until the person closes it; only then
// does the process end, with main's return code. Without a display the text
// goes to the given stream alone.
//
// At most console_kept_limit bytes of what is written are kept (a thread
// reads the streams from a pipe); the rest is counted, not kept, and a last
// line of the text says how much was cut. A Ctrl-C noticed during a desktop
// start ends the program as always, after the kept text (with "***Break")
// has been given on and shown.
//
// Started from a terminal, or without the marker, nothing changes: a shell
// user's redirected or piped streams are never turned into windows.
#ifndef QUILLPEEK_PLATFORM_CONSOLE_H
#define QUILLPEEK_PLATFORM_CONSOLE_H

#include <cstddef>

namespace platform
{

// How much of a desktop start's output is kept: 64 KiB.
constexpr size_t console_kept_limit = 64 * 1024;

// The marker that the desktop entry's Exec line puts first.
extern const char *const desktop_marker;

// Takes the marker out of the arguments (argv is shortened in place) and, for
// a desktop start, opens the console. True when the console is open.
bool console_open(int *argc, char **argv);

// Shows what was written, if anything, and waits until it is closed.
void console_close();

} // namespace platform

#endif

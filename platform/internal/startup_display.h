// Connecting to the display (SDL's video start) for intuition.library.
//
// intuition.library's first OpenLibrary needs the display connected. When
// the start-up allows it, that connection begins earlier, on a thread of its
// own, at the first OpenLibrary of datatypes.library: a picture member has
// then been found and is about to be decoded, so a window is likely to
// follow, and the connection runs while the picture is decoded. A run that
// fails before (no document, no archive, no picture member) never loads SDL.
// The first open of intuition.library then only waits for the connection
// and takes its outcome. Without an early start it connects on its own
// thread, as before. Either way the outcome is reported on the thread that
// opens the library, and SDL and the display are used by that thread alone
// from then on. Platform-internal.
#ifndef QUILLPEEK_PLATFORM_STARTUP_DISPLAY_H
#define QUILLPEEK_PLATFORM_STARTUP_DISPLAY_H

namespace platform
{

// The start-up's leave to connect early, once per process, when a display
// is named (DISPLAY or WAYLAND_DISPLAY) and intuition.library is not made
// missing by the test controls.
void display_allow_early_start();

// exec.library: a library's first OpenLibrary. Begins the early connection
// when it is allowed and the library is datatypes.library.
void display_library_opened(const char *name);

// intuition.library's first open: the display connected, by the early start
// or now. False when SDL or the display cannot be had; the reason is
// journalled.
bool display_start();

// intuition.library's last close: the display disconnected.
void display_stop();

// After main: an early start that no one took. Returns true when it is over
// (the connection has been closed again), false when it still runs and
// wait is false; the process may then end without waiting for it.
bool display_settle(bool wait);

} // namespace platform

#endif

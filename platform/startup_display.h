// Connecting to the display (SDL's video start) for intuition.library.
//
// intuition.library's first OpenLibrary needs the display connected. The
// start-up may begin that connection before main, on a thread of its own,
// while main's first steps (archive and picture work) run; the first open
// then only waits for it to end and takes its outcome. Without that early
// start the first open connects on its own thread, as before. Either way the
// connection's outcome is reported on the thread that opens the library,
// and SDL and the display are used by that thread alone from then on.
// Platform-internal.
#ifndef QUILLPEEK_PLATFORM_STARTUP_DISPLAY_H
#define QUILLPEEK_PLATFORM_STARTUP_DISPLAY_H

namespace platform
{

// Before main: begins connecting on a thread of its own when a display is
// named (DISPLAY or WAYLAND_DISPLAY) and intuition.library is not made
// missing by the test controls. Does nothing otherwise.
void display_start_early();

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

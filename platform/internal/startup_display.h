// Connecting to the display (SDL's video start) for intuition.library.
//
// intuition.library's first OpenLibrary needs the display connected. Most
// of that cost is loading SDL2 and the forty-odd libraries beneath it. When
// the start-up allows it, that loading begins earlier, on a thread of its
// own, at the first OpenLibrary of datatypes.library: a picture member has
// then been found and is about to be decoded, so a window is likely to
// follow, and the libraries load while the picture is decoded. A run that
// fails before (no document, no archive, no picture member) never loads SDL.
// The thread loads and starts nothing else: SDL's video is started by the
// thread that opens intuition.library, which then uses SDL and the display
// alone (SDL documents its video as the main thread's; loading early was
// measured as fast on X11 as starting the video early). With
// WAYLAND_DISPLAY set, SDL's Wayland driver is tried first and X11 only
// when it fails. Wayland's driver is tried only once the compositor is seen
// to offer a seat (wayland_seat.h says why); without one it is left out,
// and the journal says so. Platform-internal.
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

// intuition.library's first open: SDL loaded (by the early start or now) and
// its video started on this thread. False when SDL or the display cannot be had; the reason is
// journalled.
bool display_start();

// intuition.library's last close: the display disconnected.
void display_stop();

// After main: an early start that no one took. Returns true when it is over
// (the libraries are loaded; nothing was started), false when it still runs and
// wait is false; the process may then end without waiting for it.
bool display_settle(bool wait);

} // namespace platform

#endif

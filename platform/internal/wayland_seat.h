// Whether a Wayland compositor offers a seat, asked before SDL's Wayland
// driver is started.
//
// SDL's Wayland driver (SDL 2.26) reads the record of the seat's input
// while it starts, and that record exists only when the compositor has
// announced a wl_seat: a compositor without one (weston's headless
// backend, a kiosk without input devices) crashes the process inside
// SDL_InitSubSystem. So the display start asks first, as a client of its
// own: libwayland-client is loaded by name at run time, as SDL loads it
// (the program does not link it), the compositor SDL would use is
// connected (WAYLAND_DISPLAY, else wayland-0, in XDG_RUNTIME_DIR), its
// registry read in one roundtrip and the connection closed again. Nothing
// is kept but the loaded library, which SDL's driver loads in any case.
// A compositor that never answers holds the roundtrip as it would hold
// SDL's own. A connection handed over in WAYLAND_SOCKET is not asked (the
// probe would take it): Wayland is then left out. Platform-internal; called on the thread that starts SDL's
// video.
#ifndef QUILLPEEK_PLATFORM_WAYLAND_SEAT_H
#define QUILLPEEK_PLATFORM_WAYLAND_SEAT_H

#include <string>

namespace platform
{

struct WaylandSeat {
    bool offered = false;
    std::string reason; // why not, for the journal, when not offered
};

// Connects, reads the globals, disconnects.
WaylandSeat wayland_seat();

} // namespace platform

#endif

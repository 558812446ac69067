// Xlib's error handling while intuition.library runs on X11.
//
// SDL wakes its own event wait by sending an event to the window through a
// second connection to the X server. When that event is still on its way as
// the window is closed, the server answers with a BadWindow error, which
// Xlib's default handler turns into the end of the process. Such an event
// to a window that is gone is harmless: these calls make Xlib ignore
// exactly that error (BadWindow for SendEvent) and hand every other error on
// as before. Platform-internal; without Xlib on the system they do nothing.
#ifndef QUILLPEEK_PLATFORM_X11_ERRORS_H
#define QUILLPEEK_PLATFORM_X11_ERRORS_H

namespace platform
{

// Before SDL's video starts, so that SDL's own handler hands on to it.
void x11_tolerate_events_to_vanished_windows();
// After SDL's video has ended.
void x11_restore_error_handler();

} // namespace platform

#endif

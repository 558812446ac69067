// See x11_errors.h. Xlib is reached through the same shared library SDL
// loads, so the handler is the one SDL's connections use.
#include "platform/internal/x11_errors.h"

#include <X11/Xlib.h>
#include <X11/Xproto.h>
#include <dlfcn.h>

namespace
{

typedef int (*ErrorHandler)(Display *, XErrorEvent *);
typedef ErrorHandler (*SetErrorHandler)(ErrorHandler);

void *xlib = nullptr;
SetErrorHandler set_error_handler = nullptr;
ErrorHandler previous = nullptr;

int tolerant_handler(Display *display, XErrorEvent *error)
{
    if (error->error_code == BadWindow && error->request_code == X_SendEvent)
        return 0; // an event to a window that is already gone
    return previous != nullptr ? previous(display, error) : 0;
}

} // namespace

namespace platform
{

void x11_tolerate_events_to_vanished_windows()
{
    if (xlib != nullptr)
        return;
    xlib = dlopen("libX11.so.6", RTLD_NOW | RTLD_LOCAL);
    if (xlib == nullptr)
        return;
    set_error_handler = reinterpret_cast<SetErrorHandler>(dlsym(xlib, "XSetErrorHandler"));
    if (set_error_handler == nullptr) {
        dlclose(xlib);
        xlib = nullptr;
        return;
    }
    previous = set_error_handler(tolerant_handler);
}

void x11_restore_error_handler()
{
    if (xlib == nullptr)
        return;
    set_error_handler(previous);
    previous = nullptr;
    set_error_handler = nullptr;
    dlclose(xlib);
    xlib = nullptr;
}

} // namespace platform

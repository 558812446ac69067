// See startup_display.h.
#include "platform/internal/startup_display.h"

#include <malloc.h>
#include <strings.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <thread>

#include "platform/internal/internal.h"
#include "platform/internal/sdl.h"
#include "platform/internal/wayland_seat.h"
#include "platform/internal/x11_errors.h"

namespace
{

// What the display start leaves for the thread that opens the library.
struct Outcome {
    bool started = false;
    std::string failure; // the journal line when it failed
};

// Variables set for the length of the start only, because they spare it
// work no window needs; a value the user gave is left alone.
struct StartEnvironment {
    bool compose = false;
    bool bus = false;
};

struct EarlyStart {
    std::thread thread;
    std::atomic<bool> done{false};
    Outcome outcome;
};

EarlyStart *early = nullptr;
bool early_allowed = false;

// Keys arrive as raw keys and key symbols, never as composed text, so Xlib
// need not read the locale's compose table (a quarter of the time the video
// start takes). Not for Wayland's driver: its xkbcommon cannot map
// /dev/null and says so on standard error, so it reads the table. Without
// a session bus address libdbus would try to launch a bus (a fork and exec
// of dbus-launch along PATH) for SDL's input-method and screen-saver
// helpers, which a plain window does not use; an address of no known kind
// makes it give up at once.
StartEnvironment prepare_environment(bool wayland)
{
    StartEnvironment set;
    set.compose = !wayland && std::getenv("XCOMPOSEFILE") == nullptr;
    if (set.compose)
        setenv("XCOMPOSEFILE", "/dev/null", 0);
    set.bus = std::getenv("DBUS_SESSION_BUS_ADDRESS") == nullptr;
    if (set.bus)
        setenv("DBUS_SESSION_BUS_ADDRESS", "disabled:", 0);
    return set;
}

void restore_environment(const StartEnvironment &set)
{
    if (set.compose)
        unsetenv("XCOMPOSEFILE");
    if (set.bus)
        unsetenv("DBUS_SESSION_BUS_ADDRESS");
}

// The drivers to try, unless SDL_VIDEODRIVER names them: only those that
// show windows to a user, since SDL would otherwise fall back to its
// invisible offscreen driver when there is no display, and the program
// would wait on a window nobody can see. A Wayland session is served by
// its own driver, X11 (XWayland) only when that fails; Wayland is only tried
// where its socket can be reached.
const char *default_drivers()
{
    const char *runtime_dir = std::getenv("XDG_RUNTIME_DIR");
    const char *wayland = std::getenv("WAYLAND_DISPLAY");
    bool reachable = runtime_dir != nullptr && *runtime_dir != '\0';
    if (reachable && wayland != nullptr && *wayland != '\0')
        return "wayland,x11,KMSDRM";
    return reachable ? "x11,wayland,KMSDRM" : "x11,KMSDRM";
}

// The drivers asked for, in order, split where Wayland's comes: those
// before it, whether it is among them, and those after it.
struct DriverList {
    std::string before, after;
    bool wayland = false;
};

DriverList requested_drivers()
{
    const char *named = std::getenv("SDL_VIDEODRIVER");
    std::string list = named != nullptr && *named != '\0' ? named : default_drivers();
    DriverList drivers;
    for (size_t start = 0; start <= list.size();) {
        size_t end = std::min(list.find(',', start), list.size());
        std::string name = list.substr(start, end - start);
        start = end + 1;
        if (name.empty())
            continue;
        if (!drivers.wayland && strcasecmp(name.c_str(), "wayland") == 0) {
            drivers.wayland = true;
            continue;
        }
        std::string &part = drivers.wayland ? drivers.after : drivers.before;
        part += (part.empty() ? "" : ",") + name;
    }
    return drivers;
}

void set_hints()
{
    const platform::SdlCalls &sdl = platform::sdl();
    sdl.SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1"); // the start-up owns Ctrl-C
    sdl.SetHint(SDL_HINT_FRAMEBUFFER_ACCELERATION, "0");
    // A window that shows a picture does not keep the screen saver away.
    sdl.SetHint(SDL_HINT_VIDEO_ALLOW_SCREENSAVER, "1");
}

// SDL and the libraries beneath it loaded (most of what a video start
// costs: some forty shared libraries mapped and relocated). Safe on any
// thread: it starts nothing.
Outcome load_sdl()
{
    Outcome outcome;
    outcome.started = platform::sdl_load();
    if (!outcome.started)
        outcome.failure = std::string("intuition.library: ") + platform::sdl_load_error();
    return outcome;
}

// SDL's video started with these drivers, tried in order; SDL_VIDEODRIVER
// has been read already, so the list overrides it. SDL's Wayland driver
// has no window surface of its own: SDL makes one of a texture, through a
// renderer, where on X11 the window's own (shared memory) serves.
Outcome start_video_with(const std::string &drivers)
{
    Outcome outcome;
    const platform::SdlCalls &sdl = platform::sdl();
    sdl.SetHintWithPriority(SDL_HINT_VIDEODRIVER, drivers.c_str(), SDL_HINT_OVERRIDE);
    StartEnvironment set = prepare_environment(strncasecmp(drivers.c_str(), "wayland", 7) == 0);
    outcome.started = sdl.InitSubSystem(SDL_INIT_VIDEO) == 0;
    restore_environment(set);
    if (!outcome.started)
        outcome.failure = std::string("SDL_InitSubSystem video: ") + sdl.GetError();
    else if (const char *driver = sdl.GetCurrentVideoDriver();
             driver != nullptr && strcmp(driver, "wayland") == 0)
        sdl.SetHint(SDL_HINT_FRAMEBUFFER_ACCELERATION, "1");
    return outcome;
}

// The drivers tried in the order asked, Wayland's only when its compositor
// offers a seat: SDL's driver crashes on one without.
Outcome start_any_driver()
{
    DriverList drivers = requested_drivers();
    Outcome outcome;
    if (!drivers.before.empty()) {
        outcome = start_video_with(drivers.before);
        if (outcome.started || !drivers.wayland)
            return outcome;
    }
    if (drivers.wayland) {
        platform::WaylandSeat seat = platform::wayland_seat();
        if (seat.offered)
            return start_video_with("wayland" + (drivers.after.empty() ? "" : "," + drivers.after));
        platform::journal("Display Wayland left out: %s", seat.reason.c_str());
        if (outcome.failure.empty())
            outcome.failure = "SDL_InitSubSystem video: " + seat.reason;
    }
    if (!drivers.after.empty())
        outcome = start_video_with(drivers.after);
    return outcome;
}

// SDL's video started. SDL's video is a subsystem of the thread that uses
// the window, as SDL documents it, so this runs on the thread that opens
// intuition.library, which uses SDL alone from then on.
Outcome start_video()
{
    Outcome outcome = load_sdl();
    if (!outcome.started)
        return outcome;
    set_hints();
    platform::x11_tolerate_events_to_vanished_windows();
    outcome = start_any_driver();
    if (!outcome.started) {
        platform::sdl().Quit();
        platform::x11_restore_error_handler();
    }
    return outcome;
}

bool display_named()
{
    const char *x11 = std::getenv("DISPLAY");
    const char *wayland = std::getenv("WAYLAND_DISPLAY");
    return (x11 != nullptr && *x11 != '\0') || (wayland != nullptr && *wayland != '\0');
}

// The early start, ended and taken: its outcome.
Outcome take_early()
{
    early->thread.join();
    Outcome outcome = early->outcome;
    delete early;
    early = nullptr;
    return outcome;
}

// Begins connecting on a thread of its own, where a display is named.
void start_early()
{
    if (early != nullptr || !display_named() || platform::library_missing("intuition.library"))
        return;
    EarlyStart *start = new (std::nothrow) EarlyStart;
    if (start == nullptr)
        return;
    // What SDL and Xlib allocate on the thread lives as long as the window:
    // in an arena of the thread's own it would stay beside the main one.
    mallopt(M_ARENA_MAX, 1);
    try {
        start->thread = std::thread([start] {
            start->outcome = load_sdl();
            start->done = true;
        });
    } catch (...) {
        delete start;
        return; // the first open connects on its own
    }
    early = start;
}

} // namespace

namespace platform
{

void display_allow_early_start()
{
    early_allowed = true;
}

void display_library_opened(const char *name)
{
    if (!early_allowed || std::strcmp(name, "datatypes.library") != 0)
        return;
    early_allowed = false; // once per process
    start_early();
}

bool display_start()
{
    Outcome outcome;
    if (early != nullptr)
        take_early(); // the libraries are loaded, or start_video says why not
    outcome = start_video();
    if (!outcome.started)
        journal("%s", outcome.failure.c_str());
    return outcome.started;
}

void display_stop()
{
    sdl().QuitSubSystem(SDL_INIT_VIDEO);
    sdl().Quit();
    x11_restore_error_handler();
}

bool display_settle(bool wait)
{
    if (early == nullptr)
        return true;
    if (!wait && !early->done)
        return false;
    take_early(); // loading started nothing that needs stopping
    return true;
}

} // namespace platform

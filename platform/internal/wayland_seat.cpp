// See wayland_seat.h.
#include "platform/internal/wayland_seat.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "platform/internal/loaded_library.h"

namespace
{

// libwayland-client's types, as far as the probe uses them: the program is
// built without Wayland's headers, whose calls are inline functions over
// the library's own symbols.
struct wl_display;
struct wl_proxy;
struct wl_interface;

struct RegistryListener {
    void (*global)(void *data, wl_proxy *registry, uint32_t name, const char *interface, uint32_t version);
    void (*global_remove)(void *data, wl_proxy *registry, uint32_t name);
};

const uint32_t display_get_registry = 1; // wl_display's request

struct WaylandCalls {
    wl_display *(*connect)(const char *name) = nullptr;
    void (*disconnect)(wl_display *display) = nullptr;
    int (*roundtrip)(wl_display *display) = nullptr;
    wl_proxy *(*marshal_constructor)(wl_proxy *proxy, uint32_t opcode, const wl_interface *interface,
                                     ...) = nullptr;
    int (*add_listener)(wl_proxy *proxy, void (**implementation)(void), void *data) = nullptr;
    void (*destroy)(wl_proxy *proxy) = nullptr;
    const wl_interface *registry_interface = nullptr;
};

WaylandCalls calls;
platform::LoadedLibrary library("libwayland-client.so.0");

bool resolve_all(platform::LoadedLibrary &from)
{
    return from.resolve("wl_display_connect", calls.connect) &&
           from.resolve("wl_display_disconnect", calls.disconnect) &&
           from.resolve("wl_display_roundtrip", calls.roundtrip) &&
           from.resolve("wl_proxy_marshal_constructor", calls.marshal_constructor) &&
           from.resolve("wl_proxy_add_listener", calls.add_listener) &&
           from.resolve("wl_proxy_destroy", calls.destroy) &&
           from.resolve("wl_registry_interface", calls.registry_interface);
}

void note_global(void *data, wl_proxy *, uint32_t, const char *interface, uint32_t)
{
    if (std::strcmp(interface, "wl_seat") == 0)
        *static_cast<bool *>(data) = true;
}

void note_removal(void *, wl_proxy *, uint32_t) {}

const RegistryListener listener = {note_global, note_removal};

// The compositor libwayland-client connects to without a name.
std::string compositor_name()
{
    const char *name = std::getenv("WAYLAND_DISPLAY");
    return name != nullptr && *name != '\0' ? name : "wayland-0";
}

// The registry's globals read in one roundtrip: whether a wl_seat is among
// them. False also when the connection fails on the way.
bool registry_has_seat(wl_display *display)
{
    bool seat = false;
    wl_proxy *registry = calls.marshal_constructor(reinterpret_cast<wl_proxy *>(display),
                                                   display_get_registry, calls.registry_interface, nullptr);
    if (registry == nullptr)
        return false;
    void (**implementation)(void) =
        reinterpret_cast<void (**)(void)>(const_cast<RegistryListener *>(&listener));
    if (calls.add_listener(registry, implementation, &seat) != 0 || calls.roundtrip(display) < 0)
        seat = false;
    calls.destroy(registry);
    return seat;
}

} // namespace

namespace platform
{

WaylandSeat wayland_seat()
{
    WaylandSeat answer;
    if (std::getenv("WAYLAND_SOCKET") != nullptr) {
        // libwayland-client connects through that descriptor first, and
        // only once: a probe would take the connection SDL is to use.
        answer.reason = "the connection WAYLAND_SOCKET passes cannot be asked for a seat without taking it";
        return answer;
    }
    if (!library.load(resolve_all)) {
        answer.reason = library.error;
        return answer;
    }
    wl_display *display = calls.connect(nullptr);
    if (display == nullptr) {
        answer.reason = "no Wayland compositor answers at " + compositor_name();
        return answer;
    }
    answer.offered = registry_has_seat(display);
    calls.disconnect(display);
    if (!answer.offered)
        answer.reason = "the Wayland compositor at " + compositor_name() + " offers no seat";
    return answer;
}

} // namespace platform

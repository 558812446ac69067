// A real Wayland compositor for end-to-end tests: weston started by the
// test in a runtime folder of its own, its windows found and measured
// through its scene graph (weston-debug), photographed through its
// screenshooter, and moved, resized and closed with its pointer and
// keyboard as a user would.
//
// Two backends: headless, which offers no seat (no input devices at all),
// and nested, a weston whose output is a window on the test's own Xvfb
// server, whose pointer and keyboard the test drives there with xdotool.
// Clients of the compositor are run with DISPLAY unset, so that they
// reach it alone. Both are started with --debug, which opens the scene
// graph and the screenshooter to clients.
#ifndef QUILLPEEK_TESTS_WAYLAND_SESSION_H
#define QUILLPEEK_TESTS_WAYLAND_SESSION_H

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "support.h"
#include "x_session.h"

namespace wayland_session
{

bool weston_installed();

class Compositor
{
  public:
    // x_display: the X server the nested backend shows its output on;
    // empty for the headless backend. ready() is false when it did not
    // come up within 30 s.
    explicit Compositor(const std::string &x_display = "");
    ~Compositor();
    Compositor(const Compositor &) = delete;
    Compositor &operator=(const Compositor &) = delete;

    bool ready() const { return ready_; }
    std::string log() const;
    const std::string &socket() const { return socket_; }
    // What a client of this compositor alone is given (DISPLAY unset).
    std::map<std::string, std::string> client_env() const;
    // Runs a client to its end: its standard output (empty on failure).
    std::string run_client(const std::vector<std::string> &argv, double seconds = 30) const;

    // The whole output as weston's screenshooter takes it.
    x_session::Picture screenshot() const;

    // Nested only: the pointer moved to the output's point, a button
    // dragged with the Super key held (weston's move with 1, resize with
    // 3), a click, a key.
    void pointer_to(int x, int y) const;
    void super_drag(int button, int from_x, int from_y, int to_x, int to_y) const;
    void click(int x, int y) const;
    void key(const std::string &name) const;

  private:
    std::string xdotool(const std::vector<std::string> &arguments) const;

    testing_support::TempDir runtime_;
    std::string socket_ = "quillpeek-test";
    std::string x_display_;
    std::unique_ptr<x_session::Background> weston_;
    bool ready_ = false;
};

// A top-level window as the scene graph lists it: its title, the client's
// name, and where its content lies on the output.
struct Toplevel {
    std::string title, app;
    x_session::Geometry geometry;
};
std::vector<Toplevel> toplevels(const Compositor &compositor);

// The first top-level window with this title, waiting up to seconds for it
// to appear; geometry.width is 0 when none did.
Toplevel find_toplevel(const Compositor &compositor, const std::string &title, double seconds = 20);

// The area cut out of the picture as the X tests' window shots are kept.
x_session::Shot cut(const x_session::Picture &picture, const x_session::Geometry &area);

} // namespace wayland_session

#endif

#include "wayland_session.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <thread>

namespace wayland_session
{

namespace
{

using Clock = std::chrono::steady_clock;

double seconds_since(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

void pause_briefly()
{
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
}

// "(439, 134) -> (801, 646)" of a scene graph's position line.
x_session::Geometry position_of(const std::string &line)
{
    x_session::Geometry g;
    int x1 = 0, y1 = 0, x2 = 0, y2 = 0;
    size_t at = line.find("position: (");
    if (at != std::string::npos &&
        std::sscanf(line.c_str() + at, "position: (%d, %d) -> (%d, %d)", &x1, &y1, &x2, &y2) == 4) {
        g.x = x1;
        g.y = y1;
        g.width = x2 - x1;
        g.height = y2 - y1;
    }
    return g;
}

// The text between two markers of a line ("" when either is missing).
std::string between(const std::string &line, const std::string &open, const std::string &close)
{
    size_t start = line.find(open);
    if (start == std::string::npos)
        return "";
    start += open.size();
    size_t end = line.find(close, start);
    return end == std::string::npos ? "" : line.substr(start, end - start);
}

// The one file of a folder whose name ends so ("" when none).
std::string file_ending_in(const std::string &folder, const std::string &ending)
{
    std::string found;
    if (DIR *dir = opendir(folder.c_str())) {
        while (struct dirent *entry = readdir(dir)) {
            std::string name = entry->d_name;
            if (name.size() > ending.size() &&
                name.compare(name.size() - ending.size(), ending.size(), ending) == 0)
                found = folder + "/" + name;
        }
        closedir(dir);
    }
    return found;
}

} // namespace

bool weston_installed()
{
    return access("/usr/bin/weston", X_OK) == 0 && access("/usr/bin/weston-debug", X_OK) == 0 &&
           access("/usr/bin/weston-screenshooter", X_OK) == 0;
}

Compositor::Compositor(const std::string &x_display) : x_display_(x_display)
{
    std::vector<std::string> argv = {"/usr/bin/weston", "--socket=" + socket_, "--idle-time=0", "--debug"};
    if (x_display.empty()) {
        argv.push_back("--backend=headless-backend.so");
    } else {
        argv.insert(argv.end(), {"--backend=x11-backend.so", "--use-pixman", "--width=1200", "--height=960"});
    }
    weston_ = std::make_unique<x_session::Background>(
        argv,
        std::map<std::string, std::string>{{"XDG_RUNTIME_DIR", runtime_.path()},
                                           {"WAYLAND_DISPLAY", ""},
                                           {"DISPLAY", x_display},
                                           {"XDG_CONFIG_HOME", runtime_.path()}},
        runtime_.file("weston"));
    // Up once its shell has given the output a background.
    auto start = Clock::now();
    while (!ready_ && weston_->running() && seconds_since(start) < 30) {
        pause_briefly();
        struct stat socket_file;
        ready_ = stat(runtime_.file(socket_).c_str(), &socket_file) == 0 &&
                 run_client({"/usr/bin/weston-debug", "scene-graph"}, 5).find("background for output") !=
                     std::string::npos;
    }
    // Weston's X window opens under the pointer, and weston follows the
    // pointer only from the moment it enters: it is taken out of the
    // smaller window and brought back in.
    if (ready_ && !x_display.empty()) {
        pointer_to(1270, 1015);
        pointer_to(600, 480);
    }
}

Compositor::~Compositor()
{
    weston_->stop(10);
}

std::string Compositor::log() const
{
    return testing_support::read_file(runtime_.file("weston.err"));
}

std::map<std::string, std::string> Compositor::client_env() const
{
    return {{"XDG_RUNTIME_DIR", runtime_.path()},
            {"WAYLAND_DISPLAY", socket_},
            {"DISPLAY", ""},
            {"SDL_VIDEODRIVER", ""}};
}

std::string Compositor::run_client(const std::vector<std::string> &argv, double seconds) const
{
    testing_support::ProcessOptions options;
    options.env = client_env();
    options.timeout_seconds = seconds;
    testing_support::ProcessResult result = testing_support::run_process(argv, options);
    return result.exit_code == 0 ? result.out : "";
}

x_session::Picture Compositor::screenshot() const
{
    // The screenshooter writes into its working folder, under a name of the
    // time of day.
    testing_support::TempDir folder;
    run_client({"/bin/sh", "-c", "cd \"$0\" && exec /usr/bin/weston-screenshooter", folder.path()});
    std::string shot = file_ending_in(folder.path(), ".png");
    return x_session::decode_png(shot.empty() ? "" : testing_support::read_file(shot));
}

std::string Compositor::xdotool(const std::vector<std::string> &arguments) const
{
    std::vector<std::string> argv = {"/usr/bin/xdotool"};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    std::string out = x_session::run_client(x_display_, argv);
    pause_briefly(); // for weston to take the event from its X window
    return out;
}

void Compositor::pointer_to(int x, int y) const
{
    xdotool({"mousemove", std::to_string(x), std::to_string(y)});
}

void Compositor::super_drag(int button, int from_x, int from_y, int to_x, int to_y) const
{
    pointer_to(from_x, from_y);
    xdotool({"keydown", "super", "mousedown", std::to_string(button)});
    pointer_to(to_x, to_y);
    xdotool({"mouseup", std::to_string(button), "keyup", "super"});
}

void Compositor::click(int x, int y) const
{
    pointer_to(x, y);
    xdotool({"click", "1"});
}

void Compositor::key(const std::string &name) const
{
    xdotool({"key", name});
}

std::vector<Toplevel> toplevels(const Compositor &compositor)
{
    std::vector<Toplevel> found;
    std::stringstream lines(compositor.run_client({"/usr/bin/weston-debug", "scene-graph"}, 5));
    bool in_toplevel = false;
    for (std::string line; std::getline(lines, line);) {
        if (line.find("(role xdg_toplevel,") != std::string::npos) {
            Toplevel toplevel;
            toplevel.title = between(line, "top-level window '", "' of ");
            toplevel.app = between(line, "' of ", ", 0x");
            found.push_back(toplevel);
            in_toplevel = true;
        } else if (in_toplevel && line.find("position: (") != std::string::npos) {
            found.back().geometry = position_of(line);
            in_toplevel = false;
        }
    }
    return found;
}

Toplevel find_toplevel(const Compositor &compositor, const std::string &title, double seconds)
{
    auto start = Clock::now();
    do {
        for (const Toplevel &toplevel : toplevels(compositor))
            if (toplevel.title == title && toplevel.geometry.width > 0)
                return toplevel;
        pause_briefly();
    } while (seconds_since(start) < seconds);
    return {};
}

x_session::Shot cut(const x_session::Picture &picture, const x_session::Geometry &area)
{
    x_session::Shot shot;
    if (area.x < 0 || area.y < 0 || area.x + area.width > int(picture.width) ||
        area.y + area.height > int(picture.height))
        return shot;
    shot.width = area.width;
    shot.height = area.height;
    for (int y = area.y; y < area.y + area.height; ++y)
        for (int x = area.x; x < area.x + area.width; ++x)
            shot.rgb.push_back(picture.argb[size_t(y) * picture.width + size_t(x)] & 0xFFFFFF);
    return shot;
}

} // namespace wayland_session

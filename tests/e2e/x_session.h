// A real X server for end-to-end tests: Xvfb started by the test, programs
// run on it in the background, windows found, measured, photographed and
// asked to close from outside, as a user's window manager would.
#ifndef QUILLPEEK_TESTS_X_SESSION_H
#define QUILLPEEK_TESTS_X_SESSION_H

#include <gtest/gtest.h>
#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace x_session
{

bool xvfb_installed();

// An Xvfb server on a free display, ended with the object.
class Server
{
  public:
    Server(); // display() is empty when it could not be started
    ~Server();
    Server(const Server &) = delete;
    Server &operator=(const Server &) = delete;
    const std::string &display() const { return display_; }

  private:
    pid_t pid_ = -1;
    std::string display_;
};

// A test with an Xvfb server of its own, skipped where Xvfb is not installed.
class XServerTest : public ::testing::Test
{
  protected:
    void SetUp() override;
    const std::string &display() const { return server_->display(); }

  private:
    std::unique_ptr<Server> server_;
};

// A program running in the background; killed with the object if it has
// not ended by then.
class Background
{
  public:
    // env: set in the child (empty value: unset).
    Background(const std::vector<std::string> &argv, const std::map<std::string, std::string> &env,
               const std::string &output_prefix);
    ~Background();
    Background(const Background &) = delete;
    Background &operator=(const Background &) = delete;
    bool running();
    // Waits up to seconds for the end: the exit code, or -1 (still running
    // or killed by a signal).
    int wait(double seconds);
    // Asks it to end (SIGTERM) and waits up to seconds, then kills it.
    void stop(double seconds);
    std::string err() const;

  private:
    pid_t pid_ = -1;
    int status_ = -1;
    bool ended_ = false;
    std::string prefix_;
};

struct Geometry {
    int x = -1, y = -1, width = 0, height = 0;
};

// Runs an X client program on the display and returns its standard output
// (empty on failure).
std::string run_client(const std::string &display, const std::vector<std::string> &argv, double seconds = 30);

// The id of the first window whose name matches, waiting for it to map.
std::string find_window(const std::string &display, const std::string &name);
Geometry window_geometry(const std::string &display, const std::string &id);

// The window's pixels as 0x00RRGGBB, row by row (empty on failure).
struct Shot {
    int width = 0, height = 0;
    std::vector<uint32_t> rgb;
};
Shot screenshot(const std::string &display, const std::string &id);

// Sends the window a WM_DELETE_WINDOW request, as a window manager's close
// button does. False when the display cannot be reached.
bool request_close(const std::string &display, const std::string &id);

// Lays a green window of the server's own over the area, runs while_covered,
// and takes the cover away again. False when the display cannot be reached.
bool cover_and_uncover(const std::string &display, const Geometry &area,
                       const std::function<void()> &while_covered);

// The named member of a zip document, decoded to 0xAARRGGBB pixels.
struct Picture {
    uint32_t width = 0, height = 0;
    std::vector<uint32_t> argb;
};
Picture thumbnail_of(const std::string &document);
Picture decode_png(const std::string &png); // empty when it is not one

// What the tests on either display server compare.

// How far a scaled picture may lie from the reference filter per channel
// (tests/window/window_support.h says why); 1:1 it is exact.
constexpr int filter_tolerance = 3;

// The picture scaled to width x height by the reference filter, over white
// (pen 2, beneath the picture).
std::vector<uint32_t> expected_view(const Picture &picture, uint32_t width, uint32_t height);

// "" when the shot shows the view within tolerance; else where it first
// differs.
std::string compare(const Shot &shot, const std::vector<uint32_t> &view, int width, int height,
                    int tolerance = 0);

// Photographs with take until the shot shows the view (drawing reaches the
// server a moment after the program's journal says it drew) or 20 s pass:
// "" or the last difference.
std::string wait_for_view(const std::function<Shot()> &take, const std::vector<uint32_t> &view, int width,
                          int height, int tolerance = 0);

// Waits until the trace holds a line (up to 20 s).
bool wait_for_line(const std::string &trace, const std::string &line);

std::vector<std::string> lines_of(const std::string &text);

} // namespace x_session

#endif

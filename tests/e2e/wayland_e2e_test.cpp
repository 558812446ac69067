// The program on Wayland, under weston started by each test in a runtime
// folder of its own, with no X display in the program's environment.
//
// On weston's headless backend, which offers no seat, SDL's Wayland driver
// cannot be started (it crashes without one): the program leaves it out,
// says so in its journal and uses X11 where a display is named, else says
// no window could be opened. Under a weston with a seat (its X11 backend,
// nested in the test's own Xvfb, driven there with xdotool as a user's
// pointer and keyboard) the program's window is weston's: titled, at the
// picture's size and pixel for pixel as the compositor photographs it,
// redrawn scaled after a resize with weston's Super + right-button drag,
// and ended with return code 0 by the close button of its title bar. A
// desktop start shows its message in a dialog there (SDL shows it through
// zenity on Wayland) until it is dismissed.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <map>
#include <memory>
#include <thread>

#include "support.h"
#include "wayland_session.h"
#include "x_session.h"

namespace
{

using namespace wayland_session;
using testing_support::read_file;
using x_session::Background;
using x_session::Geometry;
using x_session::Picture;

#define REQUIRE_WESTON()                                                                                     \
    do {                                                                                                     \
        if (!weston_installed())                                                                             \
            GTEST_SKIP() << "weston is missing: install weston (scripts/setup.sh lists it)";                 \
    } while (0)

// A compositor of the test's own: headless, or nested in its own Xvfb.
class OnWeston : public ::testing::Test
{
  protected:
    void start_compositor(bool nested)
    {
        if (nested) {
            x_server_ = std::make_unique<x_session::Server>();
            ASSERT_FALSE(x_server_->display().empty()) << "Xvfb did not start";
        }
        compositor_ = std::make_unique<Compositor>(nested ? x_server_->display() : "");
        ASSERT_TRUE(compositor_->ready()) << compositor_->log();
    }

    // The program on the compositor, tracing to the test's folder, with
    // these changes to the environment.
    std::unique_ptr<Background> start(const std::vector<std::string> &arguments,
                                      const std::map<std::string, std::string> &changes = {})
    {
        std::map<std::string, std::string> env = compositor_->client_env();
        env["QUILLPEEK_TRACE"] = trace();
        env["QUILLPEEK_CLOSE_WHEN_SHOWN"] = "";
        // A Wayland window under LeakSanitizer: the display libraries'
        // leftovers (fontconfig's for libdecor's title bar, Mesa's and
        // libdecor's plugin's, unloaded before the check, so of no module
        // it can name or suppress) are not the program's. Its own Wayland
        // code, the seat probe, is leak-checked by the tests without a seat.
        if (testing_support::sanitized && x_server_ != nullptr)
            env["ASAN_OPTIONS"] = "detect_leaks=0";
        for (const auto &[name, value] : changes)
            env[name] = value;
        std::vector<std::string> argv = {testing_support::binary_path()};
        argv.insert(argv.end(), arguments.begin(), arguments.end());
        return std::make_unique<Background>(argv, env, folder_.file("quillpeek"));
    }

    x_session::Shot shot_of(const Geometry &area)
    {
        compositor_->pointer_to(0, 1023); // the cursor away from the window
        return cut(compositor_->screenshot(), area);
    }

    std::string wait_for_view(const Geometry &area, const Picture &picture, int tolerance = 0)
    {
        return x_session::wait_for_view(
            [&] { return shot_of(area); },
            x_session::expected_view(picture, uint32_t(area.width), uint32_t(area.height)), area.width,
            area.height, tolerance);
    }

    std::string trace() const { return folder_.file("trace"); }

    testing_support::TempDir folder_;
    std::unique_ptr<x_session::Server> x_server_;
    std::unique_ptr<Compositor> compositor_;
};

class WithoutSeat : public OnWeston
{
  protected:
    void SetUp() override
    {
        REQUIRE_WESTON();
        start_compositor(false);
    }
    std::string left_out() const
    {
        return "Display Wayland left out: the Wayland compositor at " + compositor_->socket() +
               " offers no seat";
    }
};

TEST_F(WithoutSeat, WaylandIsLeftOutAndWithoutAnXDisplayNoWindowCanBeOpened)
{
    const std::string document = testing_support::corpus_dir() + "/writer.odt";
    const std::string passed =
        "the connection WAYLAND_SOCKET passes cannot be asked for a seat without taking it";
    struct Case {
        std::string variable, value, reason;
    };
    // As the session gives it, with SDL's Wayland driver asked for by name,
    // and with a connection handed over, which is not asked.
    for (const Case &run : {Case{"SDL_VIDEODRIVER", "", ""}, Case{"SDL_VIDEODRIVER", "wayland", ""},
                            Case{"WAYLAND_SOCKET", "9", passed}}) {
        SCOPED_TRACE(run.variable + "=" + run.value);
        std::unique_ptr<Background> viewer = start({document}, {{run.variable, run.value}});
        EXPECT_EQ(viewer->wait(30), 1) << viewer->err();
        EXPECT_EQ(viewer->err(),
                  "quillpeek: " + document + ": no window could be opened (is a display available?)\n");
        std::string reason = run.reason.empty() ? left_out() : "Display Wayland left out: " + run.reason;
        EXPECT_NE(read_file(trace()).find("\n" + reason + "\n"), std::string::npos) << read_file(trace());
        unlink(trace().c_str());
    }
}

TEST_F(WithoutSeat, WithAnXDisplayTheWindowOpensThere)
{
    x_session::Server x;
    ASSERT_FALSE(x.display().empty());
    const std::string document = testing_support::corpus_dir() + "/writer.odt";
    std::unique_ptr<Background> viewer = start({document}, {{"DISPLAY", x.display()}});
    std::string id = x_session::find_window(x.display(), "^Quillpeek 1\\.2$");
    ASSERT_FALSE(id.empty()) << viewer->err();
    ASSERT_TRUE(x_session::request_close(x.display(), id));
    EXPECT_EQ(viewer->wait(30), 0) << viewer->err();
    EXPECT_NE(read_file(trace()).find("\n" + left_out() + "\n"), std::string::npos);
}

class WithSeat : public OnWeston
{
  protected:
    void SetUp() override
    {
        REQUIRE_WESTON();
        if (!x_session::xvfb_installed())
            GTEST_SKIP() << "Xvfb is missing: install xvfb (scripts/setup.sh lists it)";
        start_compositor(true);
    }
};

TEST_F(WithSeat, TheWindowIsTitledAtThePicturesSizeRedrawnScaledAfterAResizeAndEndsOnAClose)
{
    testing_support::Member small = testing_support::regular(
        "Thumbnails/thumbnail.png",
        testing_support::encode_png(100, 100, testing_support::test_pattern(100, 100)));
    testing_support::write_archive(folder_.file("small.odt"), "zip", {small});
    for (const std::string &document :
         {folder_.file("small.odt"), testing_support::corpus_dir() + "/writer.odt"}) {
        SCOPED_TRACE(document);
        Picture picture = x_session::thumbnail_of(document);
        ASSERT_GT(picture.width, 0u);
        std::unique_ptr<Background> viewer = start({document});

        Toplevel window = find_toplevel(*compositor_, "Quillpeek 1.2");
        ASSERT_GT(window.geometry.width, 0) << viewer->err();
        EXPECT_EQ(window.app, "quillpeek");
        EXPECT_EQ(window.geometry.width, int(picture.width));
        EXPECT_EQ(window.geometry.height, int(picture.height));
        EXPECT_EQ(wait_for_view(window.geometry, picture), "");

        // Moved to the top left, where the output has room for it to grow.
        Geometry &g = window.geometry;
        compositor_->super_drag(1, g.x + g.width / 2, g.y + g.height / 2, 40 + g.width / 2,
                                80 + g.height / 2);
        for (auto [width, height] : {std::pair<int, int>{200, 300}, {517, 389}}) {
            std::string size = std::to_string(width) + "x" + std::to_string(height);
            g = find_toplevel(*compositor_, "Quillpeek 1.2").geometry;
            int from_x = g.x + g.width - 4, from_y = g.y + g.height - 4;
            compositor_->super_drag(3, from_x, from_y, from_x + width - g.width, from_y + height - g.height);
            ASSERT_TRUE(x_session::wait_for_line(trace(), "IDCMP NEWSIZE " + size))
                << size << read_file(trace());
            compositor_->pointer_to(1150, 900); // weston draws it: out of the view's way
            g = find_toplevel(*compositor_, "Quillpeek 1.2").geometry;
            EXPECT_EQ(g.width, width);
            EXPECT_EQ(g.height, height);
            EXPECT_EQ(wait_for_view(g, picture, x_session::filter_tolerance), "") << size;
        }

        // The close button, at the right end of the title bar above.
        compositor_->click(g.x + g.width - 16, g.y - 12);
        EXPECT_EQ(viewer->wait(30), 0) << viewer->err();
        EXPECT_EQ(viewer->err(), "");
        std::vector<std::string> lines = x_session::lines_of(read_file(trace()));
        ASSERT_GE(lines.size(), 6u);
        EXPECT_EQ(lines[lines.size() - 6], "CloseWindow");
        EXPECT_EQ(read_file(trace()).find("Display Wayland left out"), std::string::npos);
        unlink(trace().c_str());
    }
}

TEST_F(WithSeat, ADesktopStartShowsItsMessageUntilItIsDismissed)
{
    if (access("/usr/bin/zenity", X_OK) != 0)
        GTEST_SKIP() << "zenity is missing: SDL shows its message windows on Wayland with it";
    testing_support::write_archive(folder_.file("no thumbnail.odt"), "zip",
                                   {testing_support::regular("content.xml", "<office:document/>")});
    const std::string document = folder_.file("no thumbnail.odt");
    std::map<std::string, std::string> env = compositor_->client_env();
    env["QUILLPEEK_TRACE"] = trace();
    Background program({"/usr/bin/setsid", "-w", testing_support::binary_path(), "--desktop", document}, env,
                       folder_.file("shell"));

    Toplevel dialog = find_toplevel(*compositor_, "Quillpeek");
    ASSERT_GT(dialog.geometry.width, 0) << read_file(trace());
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_TRUE(program.running()) << "the dialog must stay until dismissed";
    EXPECT_NE(read_file(trace()).find("Console text quillpeek: " + document +
                                      ": has no member whose name contains"),
              std::string::npos)
        << read_file(trace());

    compositor_->key("Escape");
    EXPECT_EQ(program.wait(10), 1);
    // The given stream has the text, and nothing of the dialog's helper.
    EXPECT_EQ(program.err(),
              "quillpeek: " + document + ": has no member whose name contains \"thumbnail.png\"\n");
}

} // namespace

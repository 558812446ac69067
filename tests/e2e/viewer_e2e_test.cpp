// The program under a real X server (Xvfb started by the test): the
// thumbnail in its titled window at 100,100, pixel for pixel; the window
// resized from outside and redrawn scaled, filtered as the reference
// filter scales; a close request from outside ending the program with
// return code 0.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <map>
#include <memory>
#include <thread>

#include "support.h"
#include "x_session.h"

namespace
{

using namespace x_session;
using Clock = std::chrono::steady_clock;

// Photographs the window until it shows the view.
std::string wait_for_view(const std::string &display, const std::string &id,
                          const std::vector<uint32_t> &view, int width, int height, int tolerance = 0)
{
    return x_session::wait_for_view([&] { return screenshot(display, id); }, view, width, height, tolerance);
}

class ViewerOnX : public XServerTest
{
  protected:
    // The program on the server, tracing to the test's folder.
    std::unique_ptr<Background> start(const std::string &document)
    {
        return std::make_unique<Background>(
            std::vector<std::string>{testing_support::binary_path(), document},
            std::map<std::string, std::string>{{"DISPLAY", display()},
                                               {"SDL_VIDEODRIVER", "x11"},
                                               {"QUILLPEEK_TRACE", trace()},
                                               {"QUILLPEEK_CLOSE_WHEN_SHOWN", ""}},
            folder_.file("quillpeek"));
    }
    std::string trace() const { return folder_.file("trace"); }

    testing_support::TempDir folder_;
};

TEST_F(ViewerOnX, ShowsTheThumbnailRedrawsItScaledAfterAResizeAndEndsOnAClose)
{
    const std::string document = testing_support::corpus_dir() + "/writer.odt";
    Picture thumbnail = thumbnail_of(document);
    ASSERT_GT(thumbnail.width, 0u);
    std::unique_ptr<Background> viewer = start(document);

    std::string id = find_window(display(), "^Quillpeek 1\\.2$");
    ASSERT_FALSE(id.empty()) << viewer->err();
    Geometry opened = window_geometry(display(), id);
    EXPECT_EQ(opened.x, 100);
    EXPECT_EQ(opened.y, 100);
    EXPECT_EQ(opened.width, int(thumbnail.width));
    EXPECT_EQ(opened.height, int(thumbnail.height));
    std::vector<uint32_t> view = expected_view(thumbnail, thumbnail.width, thumbnail.height);
    EXPECT_EQ(wait_for_view(display(), id, view, int(thumbnail.width), int(thumbnail.height)), "");

    // Covered and uncovered again: the platform restores the picture, and
    // the program is neither told nor draws.
    Shot covered;
    ASSERT_TRUE(cover_and_uncover(display(), {opened.x + 10, opened.y + 20, 80, 60},
                                  [&] { covered = screenshot(display(), id); }));
    EXPECT_NE(compare(covered, view, int(thumbnail.width), int(thumbnail.height)), "");
    EXPECT_EQ(wait_for_view(display(), id, view, int(thumbnail.width), int(thumbnail.height)), "");
    std::string so_far = testing_support::read_file(trace());
    EXPECT_EQ(so_far.find("IDCMP"), std::string::npos) << so_far;
    EXPECT_EQ(so_far.find("ScalePixelArray"), so_far.rfind("ScalePixelArray"));

    for (auto [width, height] : {std::pair<int, int>{200, 300}, {517, 389}}) {
        std::string size = std::to_string(width) + "x" + std::to_string(height);
        run_client(display(),
                   {"/usr/bin/xdotool", "windowsize", id, std::to_string(width), std::to_string(height)});
        ASSERT_TRUE(wait_for_line(trace(), "IDCMP NEWSIZE " + size)) << size;
        Geometry resized = window_geometry(display(), id);
        EXPECT_EQ(resized.width, width);
        EXPECT_EQ(resized.height, height);
        EXPECT_EQ(wait_for_view(display(), id, expected_view(thumbnail, uint32_t(width), uint32_t(height)),
                                width, height, filter_tolerance),
                  "")
            << size;
    }

    ASSERT_TRUE(request_close(display(), id));
    EXPECT_EQ(viewer->wait(30), 0) << viewer->err();
    EXPECT_EQ(viewer->err(), "");
    std::vector<std::string> lines = lines_of(testing_support::read_file(trace()));
    ASSERT_GE(lines.size(), 6u);
    std::vector<std::string> ending(lines.end() - 6, lines.end());
    EXPECT_EQ(ending,
              (std::vector<std::string>{"CloseWindow", "CloseLibrary intuition.library",
                                        "CloseLibrary cybergraphics.library", "CloseLibrary graphics.library",
                                        "CloseLibrary dos.library", "CloseLibrary dos.library"}));
    // One draw at opening, one per resize.
    size_t draws = 0;
    for (const std::string &line : lines)
        draws += line.rfind("ScalePixelArray ", 0) == 0;
    EXPECT_EQ(draws, 3u);
}

TEST_F(ViewerOnX, EveryBundledDocumentIsShownOneToOne)
{
    for (const char *name : {"calc.ods", "draw.odg", "impress.odp", "pictures-40.odt"}) {
        const std::string document = testing_support::corpus_dir() + "/" + name;
        Picture thumbnail = thumbnail_of(document);
        ASSERT_GT(thumbnail.width, 0u) << name;
        std::unique_ptr<Background> viewer = start(document);
        std::string id = find_window(display(), "^Quillpeek 1\\.2$");
        ASSERT_FALSE(id.empty()) << name << ": " << viewer->err();
        EXPECT_EQ(wait_for_view(display(), id, expected_view(thumbnail, thumbnail.width, thumbnail.height),
                                int(thumbnail.width), int(thumbnail.height)),
                  "")
            << name;
        ASSERT_TRUE(request_close(display(), id));
        EXPECT_EQ(viewer->wait(30), 0) << name << ": " << viewer->err();
    }
}

TEST(ViewerWithoutDisplay, SaysSoAndReturnsOne)
{
    const std::string document = testing_support::corpus_dir() + "/writer.odt";
    testing_support::ProcessOptions options;
    options.env["DISPLAY"] = "";
    options.env["WAYLAND_DISPLAY"] = "";
    options.env["SDL_VIDEODRIVER"] = "";
    testing_support::ProcessResult result = testing_support::run_quillpeek({document}, options);
    EXPECT_EQ(result.exit_code, 1);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err.rfind("quillpeek: " + document + ": ", 0), 0u) << result.err;
    EXPECT_NE(result.err.find("window"), std::string::npos) << result.err;
}

} // namespace

// WINDOW_Open on SDL's offscreen driver, driven by real SDL events: each
// test's script runs whenever the window is about to sleep on its port.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "platform/control.h"
#include "platform/internal/layer.h"
#include "platform_fixture.h"
#include "window/window.h"
#include "window_support.h"

using namespace window_test;

namespace
{

const uint32_t white = 0xFFFFFF; // pen 2 of the default screen

// The pattern with transparent columns at the left and half-transparent rows
// at the top, where the pen-2 fill shows beneath.
Picture translucent_picture(uint32_t width, uint32_t height)
{
    std::vector<uint32_t> argb = pattern_picture(width, height).argb;
    for (uint32_t y = 0; y < height; ++y)
        for (uint32_t x = 0; x < width; ++x) {
            uint32_t &pixel = argb[y * width + x];
            if (x < 10)
                pixel &= 0x00FFFFFFu;
            else if (y < 10)
                pixel = (pixel & 0x00FFFFFFu) | 0x80000000u;
        }
    return make_picture(width, height, argb);
}

class WindowOpenTest : public PlatformTest
{
  protected:
    // Journal lines of the window's own calls since the last call of this.
    std::vector<std::string> window_calls()
    {
        std::vector<std::string> all =
            calls({"OpenLibrary", "CloseLibrary", "OpenWindowTagList", "CloseWindow", "ObtainBestPenA",
                   "SetRast", "SetAPen", "ScalePixelArray", "IDCMP", "WaitPort", "GetMsg", "ReplyMsg"});
        std::vector<std::string> fresh(all.begin() + long(seen_), all.end());
        seen_ = all.size();
        return fresh;
    }

  private:
    size_t seen_ = 0;
};

TEST_F(WindowOpenTest, OpensThePictureOneToOne)
{
    Picture picture = pattern_picture(120, 160);
    std::vector<std::string> opening;
    std::string difference = "not checked";
    Script script({[&](struct Window *window) {
        opening = window_calls();
        difference = first_difference(window, picture, white);
        EXPECT_EQ(window->LeftEdge, 100);
        EXPECT_EQ(window->TopEdge, 100);
        EXPECT_EQ(window->Width, 120);
        EXPECT_EQ(window->Height, 160);
        EXPECT_EQ(window->GZZWidth, 120);
        EXPECT_EQ(window->GZZHeight, 160);
        EXPECT_EQ(window->IDCMPFlags, 0x0020061Au);
        EXPECT_STREQ(SDL_GetWindowTitle(host_window(window)), "Quillpeek 1.2");
        int x = 0, y = 0;
        SDL_GetWindowPosition(host_window(window), &x, &y);
        EXPECT_EQ(x, 100);
        EXPECT_EQ(y, 100);
        EXPECT_NE(SDL_GetWindowFlags(host_window(window)) & SDL_WINDOW_RESIZABLE, 0u);
        push_window_event(window, SDL_WINDOWEVENT_CLOSE);
    }});
    EXPECT_TRUE(WINDOW_Open(picture.bytes.data(), picture.width, picture.height));
    EXPECT_EQ(difference, "");
    EXPECT_EQ(opening,
              (std::vector<std::string>{"OpenLibrary intuition.library 0",
                                        "OpenWindowTagList 100 100 120x160 \"Quillpeek 1.2\"",
                                        "ObtainBestPenA 0x55000000 0x01100000 0x0a000000 -> 4",
                                        "ObtainBestPenA 0xff000000 0x00000000 0x0a000000 -> 5",
                                        "ObtainBestPenA 0xff000000 0x0ff00000 0x0aff0000 -> 6", "SetRast 2",
                                        "SetAPen 4", "ScalePixelArray 120x160 -> 120x160", "WaitPort"}));
}

TEST_F(WindowOpenTest, EachResizeGivesOneFillAndOneScaledDrawAtTheNewSize)
{
    Picture picture = translucent_picture(90, 70);
    struct Size {
        int width, height;
    };
    const std::vector<Size> sizes = {{300, 200}, {101, 100}, {1000, 700}, {90, 70}};
    std::vector<std::vector<std::string>> after(sizes.size());
    std::vector<std::string> differences(sizes.size(), "not checked");
    std::vector<std::function<void(struct Window *)>> steps;
    for (size_t i = 0; i <= sizes.size(); ++i)
        steps.push_back([&, i](struct Window *window) {
            if (i > 0) {
                after[i - 1] = window_calls();
                differences[i - 1] = first_difference(window, picture, white, filter_tolerance);
            } else {
                window_calls();
            }
            if (i < sizes.size())
                SDL_SetWindowSize(host_window(window), sizes[i].width, sizes[i].height);
            else
                push_window_event(window, SDL_WINDOWEVENT_CLOSE);
        });
    Script script(steps);
    EXPECT_TRUE(WINDOW_Open(picture.bytes.data(), picture.width, picture.height));
    for (size_t i = 0; i < sizes.size(); ++i) {
        std::string size = std::to_string(sizes[i].width) + "x" + std::to_string(sizes[i].height);
        EXPECT_EQ(after[i], (std::vector<std::string>{"IDCMP NEWSIZE " + size, "GetMsg", "SetRast 2",
                                                      "ScalePixelArray 90x70 -> " + size, "ReplyMsg",
                                                      "GetMsg -> none", "WaitPort"}))
            << size;
        EXPECT_EQ(differences[i], "") << size;
    }
}

TEST_F(WindowOpenTest, TheUserCannotSizeTheWindowBelowOneHundredSquare)
{
    Picture picture = pattern_picture(240, 180);
    int width = 0, height = 0;
    Script script({[&](struct Window *window) { SDL_SetWindowSize(host_window(window), 20, 30); },
                   [&](struct Window *window) {
                       width = window->Width;
                       height = window->Height;
                       push_window_event(window, SDL_WINDOWEVENT_CLOSE);
                   }});
    EXPECT_TRUE(WINDOW_Open(picture.bytes.data(), picture.width, picture.height));
    EXPECT_EQ(width, 100);
    EXPECT_EQ(height, 100);
    EXPECT_EQ(calls({"ScalePixelArray"}).back(), "ScalePixelArray 240x180 -> 100x100");
}

TEST_F(WindowOpenTest, ASmallerPictureOpensAtItsOwnSize)
{
    Picture picture = pattern_picture(40, 30);
    std::string difference = "not checked";
    int minimum_width = 0, minimum_height = 0;
    Script script({[&](struct Window *window) {
        difference = first_difference(window, picture, white);
        SDL_GetWindowMinimumSize(host_window(window), &minimum_width, &minimum_height);
        push_window_event(window, SDL_WINDOWEVENT_CLOSE);
    }});
    EXPECT_TRUE(WINDOW_Open(picture.bytes.data(), picture.width, picture.height));
    EXPECT_EQ(difference, "");
    EXPECT_EQ(calls({"OpenWindowTagList"}),
              (std::vector<std::string>{"OpenWindowTagList 100 100 40x30 \"Quillpeek 1.2\""}));
    EXPECT_EQ(minimum_width, 40);
    EXPECT_EQ(minimum_height, 30);
}

TEST_F(WindowOpenTest, APictureLargerThanTheScreenIsShownScaledInAScreenSizedWindow)
{
    Picture picture = pattern_picture(3000, 20);
    std::string difference = "not checked";
    int screen_width = 0;
    Script script({[&](struct Window *window) {
        screen_width = window->WScreen->Width;
        EXPECT_EQ(window->Width, screen_width);
        EXPECT_EQ(window->LeftEdge, 0);
        difference = first_difference(window, picture, white, filter_tolerance);
        push_window_event(window, SDL_WINDOWEVENT_CLOSE);
    }});
    EXPECT_TRUE(WINDOW_Open(picture.bytes.data(), picture.width, picture.height));
    EXPECT_GT(screen_width, 0);
    EXPECT_LT(screen_width, 3000);
    EXPECT_EQ(difference, "");
}

TEST_F(WindowOpenTest, TheWidestAndTallestPicturesThatFitAreShown)
{
    for (auto [width, height] : {std::pair<uint32_t, uint32_t>{16383, 2}, {2, 65535}}) {
        Picture picture = pattern_picture(width, height);
        std::string difference = "not checked";
        Script script({[&](struct Window *window) {
            difference = first_difference(window, picture, white, filter_tolerance);
            push_window_event(window, SDL_WINDOWEVENT_CLOSE);
        }});
        EXPECT_TRUE(WINDOW_Open(picture.bytes.data(), width, height));
        EXPECT_EQ(difference, "") << width << "x" << height;
    }
}

// One batch of messages queued while the window sleeps: what the user did,
// and the window's calls from then until it sleeps again or has closed.
struct Batch {
    const char *name;
    void (*push)(struct Window *);
    std::vector<std::string> calls;
};

void PrintTo(const Batch &batch, std::ostream *out)
{
    *out << batch.name;
}

const std::string closed = "CloseLibrary intuition.library";

// The messages arrived, each taken and replied, then the empty port and sleep.
std::vector<std::string> served(std::vector<std::string> arrived)
{
    size_t messages = arrived.size();
    for (size_t message = 0; message < messages; ++message)
        arrived.insert(arrived.end(), {"GetMsg", "ReplyMsg"});
    arrived.insert(arrived.end(), {"GetMsg -> none", "WaitPort"});
    return arrived;
}

void keys_mouse_and_exposure(struct Window *window)
{
    push_key(window, SDLK_a, SDL_SCANCODE_A, true);
    push_key(window, SDLK_a, SDL_SCANCODE_A, false);
    push_key(window, SDLK_F1, SDL_SCANCODE_F1, true);
    push_key(window, SDLK_F1, SDL_SCANCODE_F1, false);
    push_mouse_motion(window, 5, 6);
    push_mouse_button(window, SDL_BUTTON_LEFT, true, 7, 8);
    push_mouse_button(window, SDL_BUTTON_LEFT, false, 7, 8);
    push_mouse_button(window, SDL_BUTTON_RIGHT, true, 9, 10);
    push_mouse_button(window, SDL_BUTTON_RIGHT, false, 9, 10);
    push_window_event(window, SDL_WINDOWEVENT_EXPOSED);
}

const Batch batches[] = {
    {"Close",
     [](struct Window *window) { push_window_event(window, SDL_WINDOWEVENT_CLOSE); },
     {"IDCMP CLOSEWINDOW", "GetMsg", "ReplyMsg", "GetMsg -> none", "CloseWindow", closed}},
    // The resize is still drawn, and both are replied before the window closes.
    {"CloseThenResize",
     [](struct Window *window) {
         push_window_event(window, SDL_WINDOWEVENT_CLOSE);
         SDL_SetWindowSize(host_window(window), 200, 150);
     },
     {"IDCMP CLOSEWINDOW", "IDCMP NEWSIZE 200x150", "GetMsg", "ReplyMsg", "GetMsg", "SetRast 2",
      "ScalePixelArray 90x70 -> 200x150", "ReplyMsg", "GetMsg -> none", "CloseWindow", closed}},
    // Replied, and nothing changes.
    {"KeysMouseAndExposure", keys_mouse_and_exposure,
     served({"IDCMP VANILLAKEY 0x61 0 0", "IDCMP RAWKEY 0x50 0 0", "IDCMP RAWKEY 0xd0 0 0",
             "IDCMP MOUSEMOVE 5 6", "IDCMP MOUSEBUTTONS 0x68 7 8", "IDCMP MOUSEBUTTONS 0xe8 7 8",
             "IDCMP MOUSEBUTTONS 0x69 9 10", "IDCMP MOUSEBUTTONS 0xe9 9 10"})},
};

class WindowBatch : public WindowOpenTest, public testing::WithParamInterface<Batch>
{
};

TEST_P(WindowBatch, IsServedWholeBeforeTheWindowSleepsOrCloses)
{
    Picture picture = translucent_picture(90, 70);
    std::vector<std::string> batch;
    std::string difference = "not checked";
    Script script({[&](struct Window *window) {
                       window_calls();
                       GetParam().push(window);
                   },
                   [&](struct Window *window) {
                       batch = window_calls();
                       difference = first_difference(window, picture, white);
                       push_window_event(window, SDL_WINDOWEVENT_CLOSE);
                   }});
    EXPECT_TRUE(WINDOW_Open(picture.bytes.data(), picture.width, picture.height));
    bool closes = GetParam().calls.back() == closed;
    if (closes)
        batch = window_calls();
    EXPECT_EQ(batch, GetParam().calls);
    EXPECT_EQ(script.waits(), closes ? 1u : 2u);
    EXPECT_EQ(difference, closes ? "not checked" : "");
}

INSTANTIATE_TEST_SUITE_P(Of, WindowBatch, testing::ValuesIn(batches),
                         [](const testing::TestParamInfo<Batch> &info) { return info.param.name; });

// Each way WINDOW_Open returns at once: what it was given or what it lacks,
// and every call it made.
struct Refusal {
    const char *name;
    const char *driver; // SDL_VIDEODRIVER; null: the tests' own
    bool intuition_missing;
    long allocations; // successes before allocations fail; -1: never
    bool buffer;
    uint32_t width, height;
    std::vector<std::string> calls;
};

void PrintTo(const Refusal &refusal, std::ostream *out)
{
    *out << refusal.name;
}

const std::vector<std::string> no_intuition = {"OpenLibrary intuition.library 0 -> NULL"};
const std::vector<std::string> no_window = {"OpenLibrary intuition.library 0",
                                            "OpenWindowTagList 100 100 120x100 \"Quillpeek 1.2\" -> NULL",
                                            "CloseLibrary intuition.library"};

// Only the first row is ever read by the guards: none of these reach a draw.
const Refusal refusals[] = {
    {"NoBuffer", nullptr, false, -1, false, 2, 2, {}},
    {"NoWidth", nullptr, false, -1, true, 0, 2, {}},
    {"NoHeight", nullptr, false, -1, true, 2, 0, {}},
    {"RowsTooWideForTheDrawingCall", nullptr, false, -1, true, 16384, 1, {}},
    {"TooTallForTheDrawingCall", nullptr, false, -1, true, 1, 65536, {}},
    {"WidthOfThirtyTwoBits", nullptr, false, -1, true, 0x80000000u, 1, {}},
    {"NoIntuitionLibrary", nullptr, true, -1, true, 120, 100, no_intuition},
    {"NoDisplay", "no-such-driver", false, -1, true, 120, 100, no_intuition},
    {"NoWindow", nullptr, false, 0, true, 120, 100, no_window},
};

class WindowRefusal : public WindowOpenTest, public testing::WithParamInterface<Refusal>
{
};

TEST_P(WindowRefusal, ReturnsAtOnce)
{
    const Refusal &row = GetParam();
    std::vector<uint8_t> pixels(16, 0xFF);
    const char *driver = std::getenv("SDL_VIDEODRIVER");
    std::string saved = driver != nullptr ? driver : "";
    if (row.driver != nullptr)
        setenv("SDL_VIDEODRIVER", row.driver, 1);
    platform_set_library_missing("intuition.library", row.intuition_missing);
    platform_fail_allocations_after(row.allocations);
    EXPECT_FALSE(WINDOW_Open(row.buffer ? pixels.data() : nullptr, row.width, row.height));
    if (driver != nullptr)
        setenv("SDL_VIDEODRIVER", saved.c_str(), 1);
    else
        unsetenv("SDL_VIDEODRIVER");
    // Without a display the journal also holds SDL's own words for it.
    EXPECT_EQ(row.driver != nullptr ? window_calls() : journal(), row.calls);
}

INSTANTIATE_TEST_SUITE_P(When, WindowRefusal, testing::ValuesIn(refusals),
                         [](const testing::TestParamInfo<Refusal> &info) { return info.param.name; });

} // namespace

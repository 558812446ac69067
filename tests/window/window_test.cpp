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

TEST_F(WindowOpenTest, OpensThePictureOneToOneAndClosesOnRequest)
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
    EXPECT_EQ(window_calls(),
              (std::vector<std::string>{"IDCMP CLOSEWINDOW", "GetMsg", "ReplyMsg", "GetMsg -> none",
                                        "CloseWindow", "CloseLibrary intuition.library"}));
    EXPECT_EQ(script.waits(), 1u);
}

TEST_F(WindowOpenTest, EachResizeGivesOneFillAndOneScaledDrawAtTheNewSize)
{
    // Transparent and half-transparent pixels show the pen-2 fill beneath.
    std::vector<uint32_t> argb = pattern_picture(90, 70).argb;
    for (uint32_t y = 0; y < 70; ++y)
        for (uint32_t x = 0; x < 90; ++x) {
            if (x < 10)
                argb[y * 90 + x] &= 0x00FFFFFFu;
            else if (y < 10)
                argb[y * 90 + x] = (argb[y * 90 + x] & 0x00FFFFFFu) | 0x80000000u;
        }
    Picture picture = make_picture(90, 70, argb);
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

TEST_F(WindowOpenTest, ABatchWithCloseThenResizeDrawsTheResizeAndRepliesBothBeforeClosing)
{
    Picture picture = pattern_picture(64, 48);
    Script script({[&](struct Window *window) {
        window_calls();
        push_window_event(window, SDL_WINDOWEVENT_CLOSE);
        SDL_SetWindowSize(host_window(window), 200, 150);
    }});
    EXPECT_TRUE(WINDOW_Open(picture.bytes.data(), picture.width, picture.height));
    EXPECT_EQ(window_calls(),
              (std::vector<std::string>{"IDCMP CLOSEWINDOW", "IDCMP NEWSIZE 200x150", "GetMsg", "ReplyMsg",
                                        "GetMsg", "SetRast 2", "ScalePixelArray 64x48 -> 200x150", "ReplyMsg",
                                        "GetMsg -> none", "CloseWindow", "CloseLibrary intuition.library"}));
    EXPECT_EQ(script.waits(), 1u);
}

TEST_F(WindowOpenTest, KeysMouseAndExposuresAreRepliedAndChangeNothing)
{
    Picture picture = pattern_picture(110, 105);
    std::vector<std::string> during;
    std::string difference = "not checked";
    Script script({[&](struct Window *window) {
                       window_calls();
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
                   },
                   [&](struct Window *window) {
                       during = window_calls();
                       difference = first_difference(window, picture, white);
                       push_window_event(window, SDL_WINDOWEVENT_CLOSE);
                   }});
    EXPECT_TRUE(WINDOW_Open(picture.bytes.data(), picture.width, picture.height));
    std::vector<std::string> expected = {"IDCMP VANILLAKEY 0x61 0 0",    "IDCMP RAWKEY 0x50 0 0",
                                         "IDCMP RAWKEY 0xd0 0 0",        "IDCMP MOUSEMOVE 5 6",
                                         "IDCMP MOUSEBUTTONS 0x68 7 8",  "IDCMP MOUSEBUTTONS 0xe8 7 8",
                                         "IDCMP MOUSEBUTTONS 0x69 9 10", "IDCMP MOUSEBUTTONS 0xe9 9 10"};
    for (int message = 0; message < 8; ++message) {
        expected.push_back("GetMsg");
        expected.push_back("ReplyMsg");
    }
    expected.push_back("GetMsg -> none");
    expected.push_back("WaitPort");
    EXPECT_EQ(during, expected);
    EXPECT_EQ(difference, "");
    EXPECT_EQ(script.waits(), 2u);
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

TEST_F(WindowOpenTest, NoWindowForNothingToShowOrAPictureTooLargeForTheDrawingCall)
{
    std::vector<uint8_t> pixels(16, 0xFF);
    EXPECT_FALSE(WINDOW_Open(nullptr, 2, 2));
    EXPECT_FALSE(WINDOW_Open(pixels.data(), 0, 2));
    EXPECT_FALSE(WINDOW_Open(pixels.data(), 2, 0));
    // Only the first row is ever read by the guards: none of these reach a draw.
    EXPECT_FALSE(WINDOW_Open(pixels.data(), 16384, 1));
    EXPECT_FALSE(WINDOW_Open(pixels.data(), 1, 65536));
    EXPECT_FALSE(WINDOW_Open(pixels.data(), 0x80000000u, 1));
    EXPECT_TRUE(journal().empty());
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

TEST_F(WindowOpenTest, WithoutIntuitionLibraryItReturnsAtOnce)
{
    platform_set_library_missing("intuition.library", true);
    Picture picture = pattern_picture(120, 100);
    EXPECT_FALSE(WINDOW_Open(picture.bytes.data(), picture.width, picture.height));
    EXPECT_EQ(journal(), (std::vector<std::string>{"OpenLibrary intuition.library 0 -> NULL"}));
}

TEST_F(WindowOpenTest, WithoutADisplayNoWindowOpens)
{
    const char *driver = std::getenv("SDL_VIDEODRIVER");
    std::string saved = driver != nullptr ? driver : "";
    setenv("SDL_VIDEODRIVER", "no-such-driver", 1);
    Picture picture = pattern_picture(120, 100);
    EXPECT_FALSE(WINDOW_Open(picture.bytes.data(), picture.width, picture.height));
    if (driver != nullptr)
        setenv("SDL_VIDEODRIVER", saved.c_str(), 1);
    else
        unsetenv("SDL_VIDEODRIVER");
    EXPECT_EQ(calls({"OpenLibrary", "OpenWindowTagList"}),
              (std::vector<std::string>{"OpenLibrary intuition.library 0 -> NULL"}));
}

} // namespace

// intuition.library, graphics.library and cybergraphics.library calls of the
// viewer window, step by step on SDL's offscreen driver.
#include <gtest/gtest.h>

#include <csignal>
#include <string>
#include <vector>

#include "flow/libraries.h"
#include "platform/control.h"
#include "platform/internal/layer.h"
#include "platform_fixture.h"
#include "reference_scale.h"
#include "window_support.h"

using namespace window_test;

namespace
{

class PlatformWindowTest : public PlatformTest
{
  protected:
    void SetUp() override
    {
        PlatformTest::SetUp();
        IntuitionBase = OpenLibrary("intuition.library", 0);
        ASSERT_NE(IntuitionBase, nullptr);
    }
    void TearDown() override
    {
        if (window_ != nullptr)
            CloseWindow(window_);
        CloseLibrary(IntuitionBase);
        PlatformTest::TearDown();
    }

    struct Window *open(int width, int height, ULONG idcmp, bool report_mouse = true, bool rmb_trap = true)
    {
        window_ = OpenWindowTags(nullptr, WA_Left, 100, WA_Top, 100, WA_Width, width, WA_Height, height,
                                 WA_Title, "Test", WA_SizeGadget, TRUE, WA_CloseGadget, TRUE, WA_MinWidth,
                                 100, WA_MinHeight, 100, WA_ReportMouse, report_mouse, WA_RMBTrap, rmb_trap,
                                 WA_IDCMP, idcmp, TAG_DONE);
        return window_;
    }
    void close_window()
    {
        CloseWindow(window_);
        window_ = nullptr;
    }

    // Takes every message now queued (and replies it): their classes.
    std::vector<ULONG> take_all()
    {
        std::vector<ULONG> classes;
        while (struct Message *message = GetMsg(window_->UserPort)) {
            classes.push_back(reinterpret_cast<struct IntuiMessage *>(message)->Class);
            ReplyMsg(message);
        }
        return classes;
    }

    struct Window *window_ = nullptr;
};

void break_handler(int) {}

TEST(IntuitionStart, LeavesTheBreakSignalsToTheStartUp)
{
    struct sigaction mine = {}, previous = {}, seen = {};
    mine.sa_handler = break_handler;
    sigaction(SIGINT, &mine, &previous);
    platform_reset();
    IntuitionBase = OpenLibrary("intuition.library", 0);
    ASSERT_NE(IntuitionBase, nullptr);
    sigaction(SIGINT, nullptr, &seen);
    EXPECT_EQ(seen.sa_handler, &break_handler);
    sigaction(SIGTERM, nullptr, &seen);
    EXPECT_EQ(seen.sa_handler, SIG_DFL);
    CloseLibrary(IntuitionBase);
    sigaction(SIGINT, &previous, nullptr);
}

TEST_F(PlatformWindowTest, TheDefaultScreenHasTheClassicFirstPensAndTheRestFree)
{
    struct Window *window = open(120, 120, IDCMP_CLOSEWINDOW);
    ASSERT_NE(window, nullptr);
    struct ColorMap *cm = window->WScreen->ViewPort.ColorMap;
    EXPECT_EQ(cm->Count, 256);
    EXPECT_EQ(cm->Colors[0], 0xAAAAAAu);
    EXPECT_EQ(cm->Colors[1], 0x000000u);
    EXPECT_EQ(cm->Colors[2], 0xFFFFFFu);
    EXPECT_EQ(cm->Colors[3], 0x6688BBu);
    for (int pen = 4; pen < 256; ++pen)
        EXPECT_EQ(cm->RefCount[pen], 0) << pen;
}

TEST_F(PlatformWindowTest, PensAreSharedWhenExactAndNearestOnlyWhenTheMapIsFull)
{
    struct Window *window = open(120, 120, IDCMP_CLOSEWINDOW);
    ASSERT_NE(window, nullptr);
    struct ColorMap *cm = window->WScreen->ViewPort.ColorMap;
    // White is the screen's pen 2, shared.
    EXPECT_EQ(ObtainBestPen(cm, 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF, OBP_Precision, PRECISION_EXACT, TAG_DONE),
              2);
    // A colour one step off white: a new pen when exact, pen 2 at GUI precision.
    EXPECT_EQ(ObtainBestPen(cm, 0xFE000000, 0xFF000000, 0xFF000000, OBP_Precision, PRECISION_EXACT, TAG_DONE),
              4);
    EXPECT_EQ(cm->Colors[4], 0xFEFFFFu);
    EXPECT_EQ(ObtainBestPen(cm, 0xF0000000, 0xFF000000, 0xFF000000, OBP_Precision, PRECISION_GUI, TAG_DONE),
              4);
    EXPECT_EQ(ObtainBestPen(cm, 0xFE000000, 0xFF000000, 0xFF000000, OBP_Precision, PRECISION_EXACT, TAG_DONE),
              4);
    EXPECT_EQ(cm->RefCount[4], 3);
    for (int i = 0; i < 3; ++i)
        ReleasePen(cm, 4);
    EXPECT_EQ(cm->RefCount[4], 0);
    // Fill the map, then ask for a colour it lacks.
    for (ULONG pen = 4; pen < 256; ++pen)
        ASSERT_EQ(
            ObtainBestPen(cm, pen << 24, 0x12000000, 0x34000000, OBP_Precision, PRECISION_EXACT, TAG_DONE),
            LONG(pen));
    EXPECT_EQ(ObtainBestPen(cm, 0x11000000, 0x11000000, 0x11000000, OBP_Precision, PRECISION_EXACT, TAG_DONE),
              1);
    EXPECT_EQ(ObtainBestPen(cm, 0x11000000, 0x11000000, 0x11000000, OBP_Precision, PRECISION_EXACT,
                            OBP_FailIfBad, TRUE, TAG_DONE),
              -1);
    ReleasePen(cm, ULONG(-1)); // what a failed request gave: nothing to give back
    EXPECT_TRUE(calls({"ReleasePen"}).size() == 3);
}

TEST_F(PlatformWindowTest, SetRastFillsTheWholeWindowAndSetAPenTakesThePen)
{
    struct Window *window = open(130, 110, IDCMP_CLOSEWINDOW);
    ASSERT_NE(window, nullptr);
    SetRast(window->RPort, 3);
    for (auto [x, y] : {std::pair<int, int>{0, 0}, {129, 0}, {0, 109}, {129, 109}, {60, 50}})
        EXPECT_EQ(window_pixel(window, x, y), 0x6688BBu) << x << "," << y;
    SetAPen(window->RPort, 0x104);
    EXPECT_EQ(window->RPort->FgPen, 4);
    EXPECT_EQ(calls({"SetRast", "SetAPen"}), (std::vector<std::string>{"SetRast 3", "SetAPen 260"}));
}

TEST_F(PlatformWindowTest, ScalingPlacesClipsAndBlendsLikeTheReference)
{
    struct Window *window = open(200, 150, IDCMP_CLOSEWINDOW);
    ASSERT_NE(window, nullptr);
    Picture picture = pattern_picture(7, 5);
    for (uint32_t &pixel : picture.argb)
        pixel = (pixel & 0x00FFFFFFu) | 0x7F000000u; // alpha 127 everywhere
    picture = make_picture(7, 5, picture.argb);
    SetRast(window->RPort, 3);
    // At (150, 120), 100 x 50: only 50 x 30 of it lies in the window.
    LONG drawn =
        ScalePixelArray(picture.bytes.data(), 7, 5, 28, window->RPort, 150, 120, 100, 50, RECTFMT_ARGB);
    EXPECT_EQ(drawn, 50 * 30);
    EXPECT_EQ(window_pixel(window, 149, 119), 0x6688BBu);
    std::vector<uint32_t> view = expected_view(picture, 100, 50, 0x6688BB);
    for (int y = 120; y < 150; ++y)
        for (int x = 150; x < 200; ++x)
            ASSERT_LE(testing_support::largest_difference({window_pixel(window, x, y)},
                                                          {view[size_t(y - 120) * 100 + size_t(x - 150)]}),
                      filter_tolerance)
                << x << "," << y;
    // Wholly outside: nothing drawn.
    EXPECT_EQ(ScalePixelArray(picture.bytes.data(), 7, 5, 28, window->RPort, 200, 0, 10, 10, RECTFMT_ARGB),
              0);
}

TEST_F(PlatformWindowTest, RgbAndRgbaSourcesAndRowsWithGaps)
{
    struct Window *window = open(120, 100, IDCMP_CLOSEWINDOW);
    ASSERT_NE(window, nullptr);
    // Two pixels per row with two spare bytes: red, green / blue, white.
    const uint8_t rgb[] = {255, 0, 0, 0, 255, 0, 9, 9, 0, 0, 255, 255, 255, 255, 9, 9};
    EXPECT_EQ(ScalePixelArray(const_cast<uint8_t *>(rgb), 2, 2, 8, window->RPort, 0, 0, 2, 2, RECTFMT_RGB),
              4);
    EXPECT_EQ(window_pixel(window, 0, 0), 0xFF0000u);
    EXPECT_EQ(window_pixel(window, 1, 0), 0x00FF00u);
    EXPECT_EQ(window_pixel(window, 0, 1), 0x0000FFu);
    EXPECT_EQ(window_pixel(window, 1, 1), 0xFFFFFFu);
    // Scaled, the same as the same pixels in A, R, G, B.
    Picture same = make_picture(2, 2, {0xFFFF0000u, 0xFF00FF00u, 0xFF0000FFu, 0xFFFFFFFFu});
    EXPECT_EQ(ScalePixelArray(const_cast<uint8_t *>(rgb), 2, 2, 8, window->RPort, 0, 0, 5, 4, RECTFMT_RGB),
              20);
    std::vector<uint32_t> shown;
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 5; ++x)
            shown.push_back(window_pixel(window, x, y));
    SetRast(window->RPort, 1);
    EXPECT_EQ(ScalePixelArray(same.bytes.data(), 2, 2, 8, window->RPort, 0, 0, 5, 4, RECTFMT_ARGB), 20);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 5; ++x)
            EXPECT_EQ(window_pixel(window, x, y), shown[size_t(y) * 5 + size_t(x)]) << x << "," << y;
    const uint8_t rgba[] = {10, 20, 30, 255, 40, 50, 60, 0};
    SetRast(window->RPort, 1);
    EXPECT_EQ(ScalePixelArray(const_cast<uint8_t *>(rgba), 2, 1, 8, window->RPort, 0, 0, 2, 1, RECTFMT_RGBA),
              2);
    EXPECT_EQ(window_pixel(window, 0, 0), 0x0A141Eu);
    EXPECT_EQ(window_pixel(window, 1, 0), 0x000000u); // transparent: the black fill stays
}

TEST_F(PlatformWindowTest, ScalingRefusesSourcesItCannotReadSafely)
{
    struct Window *window = open(120, 100, IDCMP_CLOSEWINDOW);
    ASSERT_NE(window, nullptr);
    uint8_t pixels[64] = {};
    EXPECT_EQ(ScalePixelArray(nullptr, 2, 2, 8, window->RPort, 0, 0, 10, 10, RECTFMT_ARGB), 0);
    EXPECT_EQ(ScalePixelArray(pixels, 4, 2, 8, window->RPort, 0, 0, 10, 10, RECTFMT_ARGB), 0); // rows overlap
    EXPECT_EQ(ScalePixelArray(pixels, 2, 2, 8, window->RPort, 0, 0, 10, 10, 7), 0);
    EXPECT_EQ(ScalePixelArray(pixels, 2, 2, 8, nullptr, 0, 0, 10, 10, RECTFMT_ARGB), 0);
    EXPECT_EQ(ScalePixelArray(pixels, 0, 2, 8, window->RPort, 0, 0, 10, 10, RECTFMT_ARGB), 0);
    EXPECT_EQ(
        calls({"ScalePixelArray"}),
        (std::vector<std::string>{"ScalePixelArray FAULT no source", "ScalePixelArray FAULT rows overlap",
                                  "ScalePixelArray FAULT unknown source format",
                                  "ScalePixelArray 2x2 -> 10x10", "ScalePixelArray 0x2 -> 10x10"}));
    clear_journal(); // the refusals were the point
}

TEST_F(PlatformWindowTest, BitMapRasterPortsAreFilledAndDrawnInto)
{
    std::vector<uint32_t> words(6 * 4, 0);
    struct BitMap bitmap = {};
    bitmap.BytesPerRow = 6 * 4;
    bitmap.Rows = 4;
    bitmap.Depth = 32;
    bitmap.Planes[0] = reinterpret_cast<PLANEPTR>(words.data());
    struct RastPort rp;
    InitRastPort(&rp);
    rp.BitMap = &bitmap;
    SetRast(&rp, 3);
    EXPECT_EQ(words[0], 0xFF6688BBu);
    const uint8_t argb[] = {0xFF, 1, 2, 3};
    EXPECT_EQ(ScalePixelArray(const_cast<uint8_t *>(argb), 1, 1, 4, &rp, 4, 2, 5, 5, RECTFMT_ARGB), 4);
    EXPECT_EQ(words[2 * 6 + 4], 0xFF010203u);
    EXPECT_EQ(words[3 * 6 + 5], 0xFF010203u);
    EXPECT_EQ(words[2 * 6 + 3], 0xFF6688BBu);
    // Rows that are not whole words, or pixels not on a word boundary,
    // cannot be drawn into as words: refused, and left alone.
    std::vector<uint32_t> before = words;
    for (auto [bytes_per_row, offset] : {std::pair<UWORD, size_t>{6 * 4 - 2, 0}, {4 * 4, 1}}) {
        bitmap.BytesPerRow = bytes_per_row;
        bitmap.Planes[0] = reinterpret_cast<PLANEPTR>(words.data()) + offset;
        SetRast(&rp, 1);
        EXPECT_EQ(ScalePixelArray(const_cast<uint8_t *>(argb), 1, 1, 4, &rp, 0, 0, 3, 3, RECTFMT_ARGB), 0);
        EXPECT_EQ(words, before) << bytes_per_row << " bytes a row, " << offset << " bytes in";
    }
}

TEST_F(PlatformWindowTest, OnlyTheClassesAskedForArrive)
{
    struct Window *window = open(120, 120, IDCMP_CLOSEWINDOW);
    ASSERT_NE(window, nullptr);
    push_key(window, SDLK_a, SDL_SCANCODE_A, true);
    push_mouse_motion(window, 1, 1);
    push_mouse_button(window, SDL_BUTTON_LEFT, true, 1, 1);
    SDL_SetWindowSize(host_window(window), 150, 150);
    push_window_event(window, SDL_WINDOWEVENT_CLOSE);
    EXPECT_EQ(take_all(), (std::vector<ULONG>{IDCMP_CLOSEWINDOW}));
    EXPECT_EQ(window->Width, 150); // the size follows even unasked
    close_window();

    // Mouse moves need ReportMouse, the right button needs RMBTrap.
    window = open(120, 120, IDCMP_MOUSEMOVE | IDCMP_MOUSEBUTTONS, false, false);
    ASSERT_NE(window, nullptr);
    push_mouse_motion(window, 3, 4);
    push_mouse_button(window, SDL_BUTTON_RIGHT, true, 3, 4);
    push_mouse_button(window, SDL_BUTTON_LEFT, true, 3, 4);
    EXPECT_EQ(take_all(), (std::vector<ULONG>{IDCMP_MOUSEBUTTONS}));
}

TEST_F(PlatformWindowTest, NewSizeComesWithTheNewSizeAndAFreshSurface)
{
    struct Window *window = open(120, 120, IDCMP_NEWSIZE);
    ASSERT_NE(window, nullptr);
    SDL_SetWindowSize(host_window(window), 333, 222);
    struct IntuiMessage *message = reinterpret_cast<struct IntuiMessage *>(GetMsg(window->UserPort));
    ASSERT_NE(message, nullptr);
    EXPECT_EQ(message->Class, IDCMP_NEWSIZE);
    EXPECT_EQ(message->IDCMPWindow, window);
    EXPECT_EQ(window->Width, 333);
    EXPECT_EQ(window->Height, 222);
    EXPECT_EQ(window->GZZWidth, 333);
    EXPECT_EQ(window->GZZHeight, 222);
    EXPECT_EQ(window->RPort->Layer->surface, SDL_GetWindowSurface(host_window(window)));
    EXPECT_EQ(window->RPort->Layer->surface->w, 333);
    ReplyMsg(&message->ExecMessage);
    // Drawing at the new size reaches every pixel.
    SetRast(window->RPort, 3);
    EXPECT_EQ(window_pixel(window, 332, 221), 0x6688BBu);
}

TEST_F(PlatformWindowTest, MessagesNotTakenGoWithTheWindow)
{
    struct Window *window = open(120, 120, IDCMP_CLOSEWINDOW | IDCMP_RAWKEY);
    ASSERT_NE(window, nullptr);
    for (int i = 0; i < 5; ++i)
        push_key(window, SDLK_F2, SDL_SCANCODE_F2, true);
    struct Message *taken = GetMsg(window->UserPort); // fetches all five
    ASSERT_NE(taken, nullptr);
    ReplyMsg(taken);
    close_window(); // four never taken: freed with the window (the leak checker watches)
    EXPECT_EQ(calls({"CloseWindow"}), (std::vector<std::string>{"CloseWindow"}));
}

TEST_F(PlatformWindowTest, AMessageRepliedAfterItsWindowClosedIsStillSafe)
{
    struct Window *window = open(120, 120, IDCMP_CLOSEWINDOW);
    ASSERT_NE(window, nullptr);
    push_window_event(window, SDL_WINDOWEVENT_CLOSE);
    struct Message *taken = GetMsg(window->UserPort);
    ASSERT_NE(taken, nullptr);
    close_window();
    ReplyMsg(taken);
    EXPECT_EQ(calls({"CloseWindow"}),
              (std::vector<std::string>{"CloseWindow", "CloseWindow FAULT 1 messages not replied"}));
    clear_journal(); // the fault was the point
}

} // namespace

// The thumbnailer's own check of a WMF before libwmf reads it: every way a
// metafile can claim more than it holds, or more than the budgets allow.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "metafiles.h"
#include "thumbnailer/wmf_check.h"

namespace
{

using namespace metafiles;

const char *check(const std::string &bytes, WmfFrame *frame = nullptr)
{
    WmfFrame ignored;
    return wmf_check(reinterpret_cast<const unsigned char *>(bytes.data()), bytes.size(),
                     frame != nullptr ? frame : &ignored);
}

Wmf red_box()
{
    Wmf wmf = window(400, 200);
    return box(solid_fill(wmf, 0xFF0000), 0, 0, 200, 200);
}

// Sets the 32-bit field at `at` (the first record's size is at 18).
std::string with_u32(std::string bytes, size_t at, uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        bytes[at + i] = char(value >> (8 * i));
    return bytes;
}

Wmf repeated(uint16_t function, const std::vector<int32_t> &params, size_t times)
{
    Wmf wmf = window(100, 100);
    for (size_t i = 0; i < times; ++i)
        wmf.record(function, params);
    return wmf;
}

TEST(WmfCheck, FramesOfficeWindowsAndPlaceableRectangles)
{
    WmfFrame frame;
    ASSERT_EQ(check(red_box().bytes(), &frame), nullptr);
    EXPECT_EQ(frame.width, 400u);
    EXPECT_EQ(frame.height, 200u);
    EXPECT_TRUE(frame.square_viewport);
    // A placeable header's rectangle gives the proportions; without an
    // anisotropic window libwmf's own extent of the drawing is the frame.
    Wmf plain;
    box(solid_fill(plain, 0x00FF00), 10, 10, 90, 50);
    ASSERT_EQ(check(plain.placeable(0, 0, 300, 100), &frame), nullptr);
    EXPECT_EQ(frame.width, 300u);
    EXPECT_EQ(frame.height, 100u);
    EXPECT_FALSE(frame.square_viewport);
    // A viewport of its own, or a window changed once drawing began.
    Wmf viewport = red_box();
    ASSERT_EQ(check(viewport.record(set_viewport_ext, {50, 50}).bytes(), &frame), nullptr);
    EXPECT_FALSE(frame.square_viewport);
    Wmf moved = red_box();
    ASSERT_EQ(check(moved.record(set_window_ext, {10, 10}).bytes(), &frame), nullptr);
    EXPECT_FALSE(frame.square_viewport);
}

TEST(WmfCheck, RefusesWhatLibwmfCouldReadPastOrSpendWithoutBound)
{
    const std::string sound = red_box().bytes();
    const std::string emf =
        std::string("\x01\0\0\0", 4) + std::string(36, '\0') + " EMF" + std::string(40, '\0');
    Wmf many_objects = red_box();
    many_objects.objects = 65535;
    Wmf long_polygon = window(10, 10);
    long_polygon.record(polygon, {1000, 0, 0, 5, 5});
    Wmf long_text = window(10, 10);
    long_text.record(ext_text_out, {0, 0, 500, 0, 0x4141});
    Wmf wordy = repeated(ext_text_out, {0, 0, 200, 0}, 0);
    for (int i = 0; i < 90; ++i)
        wordy.raw(3 + 4 + 100, ext_text_out, words({0, 0, 200, 0}) + std::string(200, 'a'));
    Wmf bands = window(10, 10);
    bands.record(create_region, {0, 6, 0, 0, 0, 1, 0, 0, 0, 0, 0, 2, 0, 5, 1, 3, 7});
    Wmf no_font_name = window(10, 10);
    no_font_name.raw(3 + 9 + 2, create_font, std::string(18, '\0') + "Ab\x01\x02");
    auto bitmap = [](const std::string &dib) {
        Wmf wmf = window(10, 10);
        return wmf.raw(uint32_t(3 + 11 + dib.size() / 2), stretch_dib,
                       words(std::vector<int32_t>(11, 0)) + dib);
    };
    const struct {
        const char *name;
        std::string bytes;
        const char *words;
    } cases[] = {
        {"an EMF", emf, "not a WMF"},
        {"its header alone", sound.substr(0, 10), "cut short"},
        {"cut in a record", sound.substr(0, sound.size() - 12), "runs past"},
        {"without its end record", sound.substr(0, sound.size() - 6), "cut short before its last record"},
        {"a record of size 0", with_u32(sound, 18, 0), "runs past"},
        {"a record of size 2", with_u32(sound, 18, 2), "runs past"},
        {"a record of 4 Gi words", with_u32(sound, 18, 0xFFFFFFFFu), "runs past"},
        {"a record past the largest", with_u32(sound, 12, 3), "runs past"},
        {"a largest record past the end", with_u32(sound, 12, 0x7FFFFFFF), "larger than the whole"},
        {"65535 objects", many_objects.bytes(), "more objects than the limit of 4096"},
        {"a polygon of more points than it holds", long_polygon.bytes(), "claims more than it holds"},
        {"a text longer than its record", long_text.bytes(), "claims more than it holds"},
        {"18000 bytes of text", wordy.bytes(), "more text than the limit of 16 KiB"},
        {"65537 records", repeated(save_dc, {}, 65537).bytes(), "more records than the limit of 65536"},
        {"4097 clippings", repeated(intersect_clip_rect, {1, 1, 0, 0}, 4097).bytes(), "limit of 4096"},
        {"a region whose band ends past it", bands.bytes(), "regions claims more"},
        {"a font name without its end", no_font_name.bytes(), "too short"},
        {"a rectangle of two words", repeated(rectangle, {1, 1}, 1).bytes(), "too short"},
        {"a flood fill", repeated(flood_fill, {0, 0, 0, 5, 5}, 1).bytes(), "flooding"},
        {"a run-length bitmap", bitmap(dib(8, 8, 8, 1)).bytes(), "compressed"},
        {"a bitmap of 5000 x 5000", bitmap(dib(5000, 5000, 1)).bytes(), "limit of 16 Mi pixels"},
        {"a bitmap of 2 bits", bitmap(dib(8, 8, 2)).bytes(), "no known kind"},
        {"a bitmap short of rows", bitmap(dib(64, 64, 24).substr(0, 4000)).bytes(), "fewer rows"},
    };
    EXPECT_EQ(check(sound), nullptr);
    for (const auto &c : cases) {
        const char *problem = check(c.bytes);
        ASSERT_NE(problem, nullptr) << c.name;
        EXPECT_NE(std::string(problem).find(c.words), std::string::npos) << c.name << ": " << problem;
    }
    EXPECT_EQ(check(bitmap(dib(64, -64, 24)).bytes()), nullptr) << "a top-down bitmap";
    EXPECT_EQ(check(bitmap(dib(64, 64, 32, 3) + std::string(12, '\0')).bytes()), nullptr) << "bit fields";
}

} // namespace

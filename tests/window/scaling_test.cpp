// ScalePixelArray's filter against the reference (pixman), drawn into a
// BitMap in memory: no window system is involved.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "flow/libraries.h"
#include "platform/internal/scaling.h"
#include "platform_fixture.h"
#include "reference_scale.h"
#include "window_support.h"

using namespace window_test;
using testing_support::largest_difference;

namespace
{

const int tolerance = filter_tolerance;
const uint32_t blue = 0x6688BB; // pen 3 of the default pens

struct Canvas {
    std::vector<uint32_t> words;
    struct BitMap bitmap = {};
    struct RastPort rp;
    Canvas(uint32_t width, uint32_t height) : words(size_t(width) * height)
    {
        bitmap.BytesPerRow = UWORD(width * 4);
        bitmap.Rows = UWORD(height);
        bitmap.Depth = 32;
        bitmap.Planes[0] = reinterpret_cast<PLANEPTR>(words.data());
        InitRastPort(&rp);
        rp.BitMap = &bitmap;
    }
    std::vector<uint32_t> colours() const
    {
        std::vector<uint32_t> rgb(words);
        for (uint32_t &word : rgb)
            word &= 0xFFFFFF;
        return rgb;
    }
};

// The picture drawn over pen 3 into a canvas of the destination's size.
std::vector<uint32_t> draw(const Picture &picture, uint32_t width, uint32_t height, bool simd = true)
{
    Canvas canvas(width, height);
    SetRast(&canvas.rp, 3);
    platform::scaling_allow_simd(simd);
    LONG drawn = ScalePixelArray(const_cast<uint8_t *>(picture.bytes.data()), UWORD(picture.width),
                                 UWORD(picture.height), UWORD(picture.width * 4), &canvas.rp, 0, 0,
                                 UWORD(width), UWORD(height), RECTFMT_ARGB);
    platform::scaling_allow_simd(true);
    EXPECT_EQ(drawn, LONG(width * height));
    return canvas.colours();
}

Picture translucent_picture(uint32_t width, uint32_t height)
{
    Picture picture = pattern_picture(width, height);
    for (uint32_t y = 0; y < height; ++y)
        for (uint32_t x = 0; x < width; ++x) {
            uint32_t alpha = (x * 29 + y * 13) % 300; // 255 and above: opaque
            uint32_t &pixel = picture.argb[size_t(y) * width + x];
            pixel = (pixel & 0xFFFFFFu) | std::min<uint32_t>(alpha, 255) << 24;
        }
    return make_picture(width, height, picture.argb);
}

class ScalingTest : public PlatformTest
{
};

TEST_F(ScalingTest, EnlargedAndShrunkDrawsMatchTheReferenceFilter)
{
    struct Case {
        const char *name;
        uint32_t picture_width, picture_height, width, height;
    };
    const Case cases[] = {
        {"enlarged", 37, 23, 301, 170},
        {"shrunk", 300, 170, 41, 29},
        {"shrunk less than 2x", 120, 90, 97, 70},
        {"one axis each way", 40, 90, 250, 31},
        {"kept size", 64, 48, 64, 48},
        {"thin to wide", 3, 200, 403, 5},
        {"large enough to write past the cache", 37, 23, 1500, 800},
    };
    for (const Case &c : cases)
        for (bool translucent : {false, true}) {
            Picture picture = translucent ? translucent_picture(c.picture_width, c.picture_height)
                                          : pattern_picture(c.picture_width, c.picture_height);
            std::string name = std::string(c.name) + (translucent ? ", translucent" : "");
            std::vector<uint32_t> drawn = draw(picture, c.width, c.height);
            EXPECT_LE(largest_difference(drawn, expected_view(picture, c.width, c.height, blue)), tolerance)
                << name;
            // Without vector instructions: the very same pixels.
            EXPECT_EQ(drawn, draw(picture, c.width, c.height, false)) << name;
        }
}

TEST_F(ScalingTest, OnePixelStripesShrunkByThreeKeepTheirMeanColour)
{
    // Red, green and blue stripes one pixel wide, across and down. The pixel
    // under each destination centre is always the green one, so nearest
    // neighbour would show all green; the area average is grey.
    for (bool down : {false, true}) {
        std::vector<uint32_t> argb(99 * 99);
        for (uint32_t y = 0; y < 99; ++y)
            for (uint32_t x = 0; x < 99; ++x)
                argb[y * 99 + x] = 0xFF000000u | 0xFF0000u >> ((down ? y : x) % 3 * 8);
        Picture stripes = make_picture(99, 99, argb);
        std::vector<uint32_t> drawn = draw(stripes, 33, 33);
        EXPECT_LE(largest_difference(drawn, std::vector<uint32_t>(33 * 33, 0x555555)), 1) << down;
        EXPECT_LE(largest_difference(drawn, expected_view(stripes, 33, 33, blue)), tolerance) << down;
    }
}

} // namespace

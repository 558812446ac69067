// DTLoad, DT_width and DT_height: the PictureBuffer's size and layout, the
// calls they make, and what they leave behind on every path.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "flow/libraries.h"
#include "picture/picture.h"
#include "platform/control.h"
#include "platform_fixture.h"
#include "pictures.h"
#include "support.h"

namespace
{

using pictures::bytes_of;
using pictures::size_of;
using testing_support::encode_png;
using testing_support::test_pattern;

class PictureTest : public PlatformTest
{
  protected:
    // Nothing of the picture class is left behind.
    void expect_nothing_held()
    {
        EXPECT_EQ(platform_live_objects(), 0);
        EXPECT_EQ(platform_open_count("datatypes.library"), 0);
    }

    // Pixels with every alpha and colour byte in use.
    static std::vector<uint32_t> translucent_pattern(uint32_t width, uint32_t height)
    {
        std::vector<uint32_t> pixels = test_pattern(width, height);
        for (size_t i = 0; i < pixels.size(); ++i)
            pixels[i] = (pixels[i] & 0x00FFFFFFu) | static_cast<uint32_t>((i * 29u + 3u) & 0xFF) << 24;
        return pixels;
    }
};

TEST_F(PictureTest, BufferHoldsThePixelsRowByRowAndZerosAfterThem)
{
    const uint32_t width = 7, height = 5;
    std::vector<uint32_t> expected = translucent_pattern(width, height);
    std::string png = encode_png(width, height, expected);
    void *buffer = DTLoad(bytes_of(png), size_of(png));
    ASSERT_NE(buffer, nullptr);
    EXPECT_EQ(calls({"AllocVec"}), std::vector<std::string>{"AllocVec 560 0x10000"}); // 7 x 5 x 16
    EXPECT_EQ(pictures::argb_pixels(buffer, width, height), expected);
    const unsigned char *bytes = static_cast<const unsigned char *>(buffer);
    for (size_t i = width * height * 4; i < width * height * 16; ++i)
        ASSERT_EQ(bytes[i], 0) << "byte " << i;
    EXPECT_EQ(DT_width(bytes_of(png), size_of(png)), width);
    EXPECT_EQ(DT_height(bytes_of(png), size_of(png)), height);
    FreeVec(buffer);
    expect_nothing_held();
}

TEST_F(PictureTest, OnePixelPictureGivesSixteenBytes)
{
    std::string png = encode_png(1, 1, {0x80C0FF01u});
    void *buffer = DTLoad(bytes_of(png), size_of(png));
    ASSERT_NE(buffer, nullptr);
    EXPECT_EQ(calls({"AllocVec"}), std::vector<std::string>{"AllocVec 16 0x10000"});
    const unsigned char expected[16] = {0x80, 0xC0, 0xFF, 0x01};
    EXPECT_EQ(std::memcmp(buffer, expected, 16), 0);
    EXPECT_EQ(DT_width(bytes_of(png), size_of(png)), 1u);
    EXPECT_EQ(DT_height(bytes_of(png), size_of(png)), 1u);
    FreeVec(buffer);
}

TEST_F(PictureTest, BlocksThatAreNoPictureGiveNothing)
{
    std::string zip;
    {
        testing_support::TempDir dir;
        testing_support::Member content;
        content.name = "content.xml";
        content.data = "<office/>";
        testing_support::write_archive(dir.file("a.zip"), "zip", {content});
        zip = testing_support::read_file(dir.file("a.zip"));
    }
    std::string png = encode_png(4, 4, test_pattern(4, 4));
    const std::vector<std::string> blocks = {"This is a text and no picture at all.\n",
                                             zip,
                                             std::string("\x89PNG\r\n\x1a\n", 8),
                                             std::string("\x89PNG\r\n\x1a\n", 8) + "junk after the signature",
                                             std::string("\xFF\xD8\xFF", 3),
                                             png.substr(0, 20), // cut inside the header
                                             std::string(1, '\0')};
    for (std::string block : blocks) {
        EXPECT_EQ(DTLoad(bytes_of(block), size_of(block)), nullptr) << block;
        EXPECT_EQ(DT_width(bytes_of(block), size_of(block)), 0u);
        EXPECT_EQ(DT_height(bytes_of(block), size_of(block)), 0u);
        expect_nothing_held();
    }
    EXPECT_EQ(DTLoad(nullptr, 0), nullptr);
    EXPECT_EQ(DT_width(nullptr, 0), 0u);
    EXPECT_EQ(DTLoad(bytes_of(png), 0), nullptr); // a picture, but an empty block
    expect_nothing_held();
    for (const std::string &line : calls({"NewDTObjectA"}))
        EXPECT_EQ(line, "NewDTObjectA tst -> NULL");
    EXPECT_EQ(calls({"AllocVec"}).size(), 0u);
}

TEST_F(PictureTest, TwoLoadsGiveDistinctEqualBuffers)
{
    const uint32_t width = 9, height = 6;
    std::string png = encode_png(width, height, translucent_pattern(width, height));
    void *first = DTLoad(bytes_of(png), size_of(png));
    void *second = DTLoad(bytes_of(png), size_of(png));
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    EXPECT_NE(first, second);
    EXPECT_EQ(std::memcmp(first, second, width * height * 16), 0);
    std::memset(first, 0xAB, width * height * 16); // the second owes nothing to the first
    EXPECT_EQ(pictures::argb_pixels(second, width, height), translucent_pattern(width, height));
    FreeVec(first);
    FreeVec(second);
    expect_nothing_held();
}

TEST_F(PictureTest, EachRoutineDecodesThroughItsOwnObjectAndClosesTheLibrary)
{
    std::string png = encode_png(7, 5, test_pattern(7, 5));
    void *buffer = DTLoad(bytes_of(png), size_of(png));
    ASSERT_NE(buffer, nullptr);
    const std::vector<std::string> load = {"OpenLibrary datatypes.library 51",
                                           "NewDTObjectA tst",
                                           "DoDTMethodA DTM_PROCLAYOUT",
                                           "GetDTAttrsA",
                                           "InitRastPort",
                                           "AllocVec 560 0x10000",
                                           "ReadPixelArray 0 0 28 7x5 2",
                                           "DisposeDTObject",
                                           "CloseLibrary datatypes.library"};
    std::vector<std::string> names = {"OpenLibrary",  "CloseLibrary", "NewDTObjectA",
                                      "DoDTMethodA",  "GetDTAttrsA",  "DisposeDTObject",
                                      "InitRastPort", "AllocVec",     "ReadPixelArray"};
    EXPECT_EQ(calls(names), load);
    clear_journal();
    EXPECT_EQ(DT_width(bytes_of(png), size_of(png)), 7u);
    EXPECT_EQ(DT_height(bytes_of(png), size_of(png)), 5u);
    const std::vector<std::string> one = {"OpenLibrary datatypes.library 51",
                                          "NewDTObjectA tst",
                                          "DoDTMethodA DTM_PROCLAYOUT",
                                          "GetDTAttrsA",
                                          "DisposeDTObject",
                                          "CloseLibrary datatypes.library"};
    std::vector<std::string> both = one;
    both.insert(both.end(), one.begin(), one.end());
    EXPECT_EQ(calls(names), both);
    FreeVec(buffer);
    expect_nothing_held();
}

// The class remembers the picture it decoded last: the routines after DTLoad
// need no pixel memory of their own, and other bytes at the same address
// and of the same size are decoded anew.
TEST_F(PictureTest, ABlockIsDecodedOnceUntilItsBytesChange)
{
    std::string first = encode_png(6, 4, test_pattern(6, 4));
    std::vector<uint32_t> other_pixels = translucent_pattern(6, 4);
    std::string second = encode_png(6, 4, other_pixels);
    std::string block(std::max(first.size(), second.size()) + 8, '\0'); // padding after IEND is ignored
    block.replace(0, first.size(), first);
    void *buffer = DTLoad(bytes_of(block), size_of(block));
    ASSERT_NE(buffer, nullptr);
    FreeVec(buffer);
    clear_journal();
    platform_fail_allocations_after(1); // the object alone
    EXPECT_EQ(DT_width(bytes_of(block), size_of(block)), 6u);
    platform_fail_allocations_after(-1);
    EXPECT_EQ(calls({"DoDTMethodA"}), std::vector<std::string>{"DoDTMethodA DTM_PROCLAYOUT"});

    std::fill(block.begin(), block.end(), '\0');
    block.replace(0, second.size(), second);
    buffer = DTLoad(bytes_of(block), size_of(block));
    ASSERT_NE(buffer, nullptr);
    EXPECT_EQ(pictures::argb_pixels(buffer, 6, 4), other_pixels);
    FreeVec(buffer);
    expect_nothing_held();
}

TEST_F(PictureTest, WithoutDatatypesLibraryNothingIsDecoded)
{
    platform_set_library_missing("datatypes.library", true);
    std::string png = encode_png(3, 3, test_pattern(3, 3));
    EXPECT_EQ(DTLoad(bytes_of(png), size_of(png)), nullptr);
    EXPECT_EQ(DT_width(bytes_of(png), size_of(png)), 0u);
    EXPECT_EQ(DT_height(bytes_of(png), size_of(png)), 0u);
    EXPECT_EQ(calls({"NewDTObjectA", "AllocVec", "CloseLibrary"}).size(), 0u);
    expect_nothing_held();
}

// The object, its pixels and the PictureBuffer are the three allocations of
// a load; whichever fails, nothing leaks and nothing stays open.
TEST_F(PictureTest, AllocationFailureAtEveryStepLeavesNothingBehind)
{
    const uint32_t width = 6, height = 4;
    std::string png = encode_png(width, height, translucent_pattern(width, height));
    long blocks_before = platform_live_blocks();
    for (long successes = 0; successes <= 3; ++successes) {
        platform_fail_allocations_after(successes);
        void *buffer = DTLoad(bytes_of(png), size_of(png));
        platform_fail_allocations_after(-1);
        expect_nothing_held();
        if (successes < 3) {
            EXPECT_EQ(buffer, nullptr) << successes;
            EXPECT_EQ(platform_live_blocks(), blocks_before) << successes;
        } else {
            ASSERT_NE(buffer, nullptr);
            EXPECT_EQ(pictures::argb_pixels(buffer, width, height), translucent_pattern(width, height));
            FreeVec(buffer);
        }
    }
    // Without the object there is no size; without the pixels the header
    // still tells it.
    platform_fail_allocations_after(0);
    EXPECT_EQ(DT_width(bytes_of(png), size_of(png)), 0u);
    platform_fail_allocations_after(1);
    EXPECT_EQ(DT_width(bytes_of(png), size_of(png)), width);
    platform_fail_allocations_after(1);
    EXPECT_EQ(DT_height(bytes_of(png), size_of(png)), height);
    platform_fail_allocations_after(-1);
    expect_nothing_held();
}

TEST_F(PictureTest, LargestAllowedPicturesDecode)
{
    // 4096 x 4096 is the largest picture in all; 16383 the widest.
    for (auto [width, height] : {std::pair<uint32_t, uint32_t>{4096, 4096}, {16383, 2}}) {
        std::vector<uint32_t> pixels(static_cast<size_t>(width) * height, 0xFF336699u);
        pixels.back() = 0x80FEDCBAu;
        std::string png = encode_png(width, height, pixels);
        void *buffer = DTLoad(bytes_of(png), size_of(png));
        ASSERT_NE(buffer, nullptr) << width << " x " << height;
        EXPECT_EQ(pictures::argb_at(buffer, width, 0, 0), 0xFF336699u);
        EXPECT_EQ(pictures::argb_at(buffer, width, width - 1, height - 1), 0x80FEDCBAu);
        FreeVec(buffer);
        EXPECT_EQ(DT_width(bytes_of(png), size_of(png)), width);
    }
    expect_nothing_held();
}

// Headers that claim more than the class decodes are refused before any
// pixel memory is taken: the size is still told, the pixels never made.
TEST_F(PictureTest, OversizedHeadersAreRefusedAtOnceButKeepTheirSize)
{
    std::string jpeg = pictures::encode_jpeg(16, 16, 3, std::string(16 * 16 * 3, '\x40'), false);
    struct Claim {
        std::string data;
        uint32_t width, height;
    };
    const std::vector<Claim> claims = {
        {pictures::png_claiming(60000, 60000), 60000, 60000},
        {pictures::png_claiming(16384, 1), 16384, 1},
        {pictures::png_claiming(4097, 4096), 4097, 4096},
        {pictures::png_claiming(1, 65535), 1, 65535}, // fine by rows, too few bytes of data
        {pictures::jpeg_claiming(jpeg, 60000, 60000), 60000, 60000},
        {pictures::jpeg_claiming(jpeg, 65500, 300), 65500, 300},
    };
    long rss_before = pictures::peak_rss_kib();
    for (Claim claim : claims) {
        clear_journal();
        EXPECT_EQ(DTLoad(bytes_of(claim.data), size_of(claim.data)), nullptr);
        EXPECT_EQ(DT_width(bytes_of(claim.data), size_of(claim.data)), claim.width);
        EXPECT_EQ(DT_height(bytes_of(claim.data), size_of(claim.data)), claim.height);
        EXPECT_EQ(calls({"DoDTMethodA"}), std::vector<std::string>(3, "DoDTMethodA DTM_PROCLAYOUT -> 0"));
        EXPECT_EQ(calls({"AllocVec"}).size(), 0u);
        expect_nothing_held();
    }
    // Pictures of 60000 x 60000 would take gigabytes; nothing of the kind.
    EXPECT_LT(pictures::peak_rss_kib() - rss_before, 32 * 1024);
}

TEST_F(PictureTest, HeadersBeyondWhatABitMapHeaderHoldsGiveNoObject)
{
    for (auto [width, height] : {std::pair<uint32_t, uint32_t>{1, 65536}, {65536, 1}, {0x7FFFFFFF, 1}}) {
        std::string png = pictures::png_claiming(width, height);
        EXPECT_EQ(DTLoad(bytes_of(png), size_of(png)), nullptr);
        EXPECT_EQ(DT_width(bytes_of(png), size_of(png)), 0u);
        EXPECT_EQ(DT_height(bytes_of(png), size_of(png)), 0u);
        expect_nothing_held();
    }
}

} // namespace

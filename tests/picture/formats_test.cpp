// The picture formats: every PNG colour type and bit depth, JPEG flavours,
// and damaged pictures, each compared with colours known in advance.
#include <gtest/gtest.h>

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
// A PNG written from samples, with the colours a reader must see.
struct KnownPng {
    pictures::PngRecipe recipe;
    std::vector<uint32_t> expected; // 0xAARRGGBB
};

// The sample value of pixel i for a channel, in bit_depth bits: spread over
// the whole range. For 16 bits both bytes are equal (v * 257), so that any
// reduction to 8 bits gives v.
uint32_t sample(size_t i, unsigned channel, unsigned bit_depth)
{
    uint32_t value = static_cast<uint32_t>(i * 7 + channel * 5 + i / 3);
    if (bit_depth == 16)
        return (value & 0xFF) * 257;
    return value & ((1u << bit_depth) - 1);
}

uint32_t to_8_bits(uint32_t value, unsigned bit_depth)
{
    return bit_depth == 16 ? value >> 8 : value * 255 / ((1u << bit_depth) - 1);
}

// Packs samples of bit_depth bits, most significant first, rows starting on
// byte boundaries; 16-bit samples big-endian.
class RowWriter
{
  public:
    explicit RowWriter(unsigned bit_depth) : depth_(bit_depth) {}
    void put(uint32_t value)
    {
        if (depth_ == 16) {
            out_ += static_cast<char>(value >> 8);
            out_ += static_cast<char>(value);
            return;
        }
        if (depth_ == 8) {
            out_ += static_cast<char>(value);
            return;
        }
        if (bits_ == 0)
            out_ += '\0';
        bits_ += depth_;
        out_.back() = static_cast<char>(out_.back() | value << (8 - bits_));
        bits_ %= 8;
    }
    void end_row() { bits_ = 0; }
    const std::string &bytes() const { return out_; }

  private:
    unsigned depth_;
    unsigned bits_ = 0;
    std::string out_;
};

KnownPng known_png(uint8_t colour_type, uint8_t bit_depth, bool interlaced, bool trns)
{
    KnownPng png;
    png.recipe.width = 13; // odd sizes exercise every interlace pass's edges
    png.recipe.height = 11;
    png.recipe.colour_type = colour_type;
    png.recipe.bit_depth = bit_depth;
    png.recipe.interlaced = interlaced;
    png.recipe.has_trns = trns;
    unsigned channels = colour_type == 2 ? 3 : colour_type == 4 ? 2 : colour_type == 6 ? 4 : 1;
    if (colour_type == 3) {
        for (uint32_t entry = 0; entry < (1u << bit_depth); ++entry)
            png.recipe.palette.push_back((entry * 0x3B1F07u + 0x102030u) & 0xFFFFFFu);
        if (trns)
            for (uint32_t entry = 0; entry < png.recipe.palette.size() / 2 + 1; ++entry)
                png.recipe.trns_alpha.push_back(static_cast<uint8_t>(entry * 37));
    }
    // The transparent colour is that of pixel 4.
    png.recipe.trns_grey = static_cast<uint16_t>(sample(4, 0, bit_depth));
    png.recipe.trns_red = static_cast<uint16_t>(sample(4, 0, bit_depth));
    png.recipe.trns_green = static_cast<uint16_t>(sample(4, 1, bit_depth));
    png.recipe.trns_blue = static_cast<uint16_t>(sample(4, 2, bit_depth));
    RowWriter rows(bit_depth);
    for (uint32_t y = 0; y < png.recipe.height; ++y) {
        for (uint32_t x = 0; x < png.recipe.width; ++x) {
            size_t i = static_cast<size_t>(y) * png.recipe.width + x;
            uint32_t v[4];
            for (unsigned c = 0; c < channels; ++c) {
                v[c] = sample(i, c, bit_depth);
                rows.put(v[c]);
            }
            uint32_t argb = 0;
            if (colour_type == 3) {
                uint32_t alpha = v[0] < png.recipe.trns_alpha.size() ? png.recipe.trns_alpha[v[0]] : 255;
                argb = alpha << 24 | png.recipe.palette[v[0]];
            } else if (colour_type == 0 || colour_type == 4) {
                uint32_t grey = to_8_bits(v[0], bit_depth);
                uint32_t alpha = colour_type == 4 ? to_8_bits(v[1], bit_depth) : 255;
                if (trns && colour_type == 0 && v[0] == png.recipe.trns_grey)
                    alpha = 0;
                argb = alpha << 24 | grey << 16 | grey << 8 | grey;
            } else {
                uint32_t alpha = colour_type == 6 ? to_8_bits(v[3], bit_depth) : 255;
                if (trns && colour_type == 2 && v[0] == png.recipe.trns_red &&
                    v[1] == png.recipe.trns_green && v[2] == png.recipe.trns_blue)
                    alpha = 0;
                argb = alpha << 24 | to_8_bits(v[0], bit_depth) << 16 | to_8_bits(v[1], bit_depth) << 8 |
                       to_8_bits(v[2], bit_depth);
            }
            png.expected.push_back(argb);
        }
        rows.end_row();
    }
    png.recipe.samples = rows.bytes();
    return png;
}

class FormatTest : public PlatformTest
{
  protected:
    // The picture decoded, as 0xAARRGGBB words; empty when DTLoad failed.
    std::vector<uint32_t> decode(std::string data, uint32_t width, uint32_t height)
    {
        void *buffer = DTLoad(bytes_of(data), size_of(data));
        EXPECT_EQ(platform_live_objects(), 0);
        if (buffer == nullptr)
            return {};
        EXPECT_EQ(DT_width(bytes_of(data), size_of(data)), width);
        EXPECT_EQ(DT_height(bytes_of(data), size_of(data)), height);
        std::vector<uint32_t> pixels = pictures::argb_pixels(buffer, width, height);
        FreeVec(buffer);
        return pixels;
    }

    // A JPEG of 4 x 3 blocks of 16 x 16 pixels, each block one colour.
    static std::vector<uint32_t> block_colours()
    {
        return {0xFFFF0000u, 0xFF00FF00u, 0xFF0000FFu, 0xFFFFFFFFu, 0xFF000000u, 0xFF808080u,
                0xFFFFFF00u, 0xFF00FFFFu, 0xFFFF00FFu, 0xFF204060u, 0xFFC08040u, 0xFF7F7F00u};
    }
    static uint32_t block_of(uint32_t x, uint32_t y) { return (y / 16) * 4 + x / 16; }

    // The 64 x 48 blocks as samples for the JPEG encoder: the green byte as
    // grey (1 channel), red, green and blue (3), or those and 255 (4).
    static std::string block_samples(const std::vector<uint32_t> &colours, int channels)
    {
        std::string samples;
        for (uint32_t y = 0; y < 48; ++y)
            for (uint32_t x = 0; x < 64; ++x) {
                uint32_t colour = colours[block_of(x, y)];
                if (channels == 1)
                    samples += static_cast<char>(colour >> 8);
                else
                    samples += {static_cast<char>(colour >> 16), static_cast<char>(colour >> 8),
                                static_cast<char>(colour)};
                if (channels == 4)
                    samples += '\xFF';
            }
        return samples;
    }

    // Checks the centre of every block against its colour.
    void expect_blocks(const std::vector<uint32_t> &pixels, const std::vector<uint32_t> &colours,
                       int tolerance)
    {
        ASSERT_EQ(pixels.size(), 64u * 48u);
        for (uint32_t y = 4; y < 48; y += 16)
            for (uint32_t x = 4; x < 64; x += 16)
                for (uint32_t dy = 0; dy < 8; ++dy)
                    for (uint32_t dx = 0; dx < 8; ++dx) {
                        uint32_t got = pixels[(y + dy) * 64 + x + dx];
                        uint32_t want = colours[block_of(x, y)];
                        ASSERT_TRUE(pictures::close_to(got, want, tolerance))
                            << std::hex << got << " for " << want << " at " << std::dec << x + dx << ","
                            << y + dy;
                    }
    }
};

TEST_F(FormatTest, EveryPngColourTypeAndBitDepthGivesItsColours)
{
    struct Kind {
        uint8_t colour_type;
        std::vector<uint8_t> depths;
    };
    const std::vector<Kind> kinds = {
        {0, {1, 2, 4, 8, 16}}, {2, {8, 16}}, {3, {1, 2, 4, 8}}, {4, {8, 16}}, {6, {8, 16}}};
    for (const Kind &kind : kinds)
        for (uint8_t depth : kind.depths)
            for (bool interlaced : {false, true})
                for (bool trns : {false, true}) {
                    if (trns && (kind.colour_type == 4 || kind.colour_type == 6))
                        continue; // tRNS is not allowed with an alpha channel
                    KnownPng png = known_png(kind.colour_type, depth, interlaced, trns);
                    std::string data = pictures::encode_png(png.recipe);
                    ASSERT_EQ(data[28], interlaced ? 1 : 0); // the header's interlace method
                    std::vector<uint32_t> pixels = decode(data, png.recipe.width, png.recipe.height);
                    EXPECT_EQ(pixels, png.expected)
                        << "colour type " << int(kind.colour_type) << ", " << int(depth) << " bits"
                        << (interlaced ? ", interlaced" : "") << (trns ? ", tRNS" : "");
                }
}

// Palettes shorter than the indices reach, with and without alphas for some
// entries, in a row as wide as a real thumbnail: an index past the palette
// is opaque black.
TEST_F(FormatTest, ShortPalettesGiveTheirColoursAndOpaqueBlackBeyond)
{
    const uint32_t width = 362;
    struct Case {
        std::vector<uint32_t> palette;
        std::vector<uint8_t> alphas;
    };
    const std::vector<Case> cases = {
        {{0xFF0000, 0x00FF00, 0x0000FF}, {}},
        {{0xFF0000, 0x00FF00, 0x0000FF}, {0x07, 0x80}},
        {std::vector<uint32_t>(256, 0x123456), std::vector<uint8_t>(256, 0x40)},
    };
    for (const Case &c : cases) {
        pictures::PngRecipe recipe;
        recipe.width = width;
        recipe.height = 2;
        recipe.colour_type = 3;
        recipe.palette = c.palette;
        recipe.has_trns = !c.alphas.empty();
        recipe.trns_alpha = c.alphas;
        std::vector<uint32_t> expected;
        for (uint32_t i = 0; i < width * 2; ++i) {
            uint8_t index = static_cast<uint8_t>(i * 7);
            recipe.samples += static_cast<char>(index);
            uint32_t alpha = index < c.alphas.size() ? c.alphas[index] : 0xFF;
            expected.push_back(index < c.palette.size() ? alpha << 24 | c.palette[index] : 0xFF000000u);
        }
        std::string data = pictures::encode_png(recipe);
        EXPECT_EQ(decode(data, width, 2), expected)
            << c.palette.size() << " entries, " << c.alphas.size() << " alphas";
    }
}

TEST_F(FormatTest, JpegBaselineProgressiveAndGreyGiveOpaqueColours)
{
    std::vector<uint32_t> colours = block_colours();
    std::string rgb = block_samples(colours, 3), grey = block_samples(colours, 1);
    for (bool progressive : {false, true}) {
        SCOPED_TRACE(progressive ? "progressive" : "baseline");
        expect_blocks(decode(pictures::encode_jpeg(64, 48, 3, rgb, progressive), 64, 48), colours, 6);
        std::vector<uint32_t> greys;
        for (uint32_t colour : colours) {
            uint32_t g = (colour >> 8) & 0xFF;
            greys.push_back(0xFF000000u | g << 16 | g << 8 | g);
        }
        expect_blocks(decode(pictures::encode_jpeg(64, 48, 1, grey, progressive), 64, 48), greys, 3);
    }
}

TEST_F(FormatTest, JpegCmykFollowsTheAdobeConvention)
{
    // Written with an Adobe marker, the samples count as inverted: 255 is
    // no ink. The colour is then C x K, M x K, Y x K.
    std::vector<uint32_t> colours = block_colours();
    std::string jpeg = pictures::encode_jpeg(64, 48, 4, block_samples(colours, 4), false);
    expect_blocks(decode(jpeg, 64, 48), colours, 6);
}

TEST_F(FormatTest, JpegStoredAsThumbnailPngIsDecodedByItsContent)
{
    std::string rgb(32 * 16 * 3, '\0');
    for (size_t i = 0; i < rgb.size(); i += 3)
        rgb[i] = '\xFF';
    testing_support::TempDir dir;
    testing_support::Member thumbnail;
    thumbnail.name = "Thumbnails/thumbnail.png";
    thumbnail.data = pictures::encode_jpeg(32, 16, 3, rgb, false);
    testing_support::write_archive(dir.file("doc.odt"), "zip", {thumbnail});
    std::string member;
    ASSERT_TRUE(pictures::read_member(dir.file("doc.odt"), "Thumbnails/thumbnail.png", &member));
    std::vector<uint32_t> pixels = decode(member, 32, 16);
    ASSERT_EQ(pixels.size(), 32u * 16u);
    for (uint32_t pixel : pixels)
        ASSERT_TRUE(pictures::close_to(pixel, 0xFFFF0000u, 4)) << std::hex << pixel;
}

// Damaged pictures give no buffer; where their header survives it still
// tells the size.
TEST_F(FormatTest, TruncatedAndCorruptPicturesGiveNoBuffer)
{
    std::vector<uint32_t> pattern = testing_support::test_pattern(40, 30);
    std::string png = testing_support::encode_png(40, 30, pattern);
    std::string rgb;
    for (uint32_t pixel : pattern) {
        rgb += static_cast<char>(pixel >> 16);
        rgb += static_cast<char>(pixel >> 8);
        rgb += static_cast<char>(pixel);
    }
    std::string jpeg = pictures::encode_jpeg(40, 30, 3, rgb, false);
    std::string progressive = pictures::encode_jpeg(40, 30, 3, rgb, true);

    size_t idat = png.find("IDAT");
    ASSERT_NE(idat, std::string::npos);
    std::string flipped = png;
    flipped[idat + 10] = static_cast<char>(flipped[idat + 10] ^ 0x55);

    std::string bad_crc = png;
    bad_crc[32] = static_cast<char>(bad_crc[32] ^ 1); // last byte of the header's checksum

    const std::vector<std::pair<std::string, std::string>> damaged = {
        {"png whose header fails its checksum", bad_crc},
        {"png cut in its data", png.substr(0, idat + 20)},
        {"png without its last bytes", png.substr(0, png.size() - 20)},
        {"png with a changed data byte", flipped},
        {"jpeg cut in half", jpeg.substr(0, jpeg.size() / 2)},
        {"jpeg without its end", jpeg.substr(0, jpeg.size() - 2 - 40)},
        {"progressive jpeg cut in half", progressive.substr(0, progressive.size() / 2)},
    };
    for (auto [what, data] : damaged) {
        SCOPED_TRACE(what);
        EXPECT_EQ(DTLoad(bytes_of(data), size_of(data)), nullptr);
        EXPECT_EQ(DT_width(bytes_of(data), size_of(data)), 40u);
        EXPECT_EQ(DT_height(bytes_of(data), size_of(data)), 30u);
        EXPECT_EQ(platform_live_objects(), 0);
        EXPECT_EQ(platform_open_count("datatypes.library"), 0);
    }
    // The undamaged pictures decode.
    EXPECT_EQ(decode(png, 40, 30), pattern);
    EXPECT_EQ(decode(jpeg, 40, 30).size(), 40u * 30u);
}

} // namespace

namespace
{

// Pictures with bytes changed at random (the same each run): whatever comes
// of them, nothing crashes, nothing is read out of bounds (under the
// sanitizers), and no object or block is left behind.
TEST_F(FormatTest, RandomlyDamagedPicturesNeverLeaveAnythingBehind)
{
    std::vector<uint32_t> pattern = testing_support::test_pattern(24, 18);
    std::string rgb;
    for (uint32_t pixel : pattern)
        rgb.append({static_cast<char>(pixel >> 16), static_cast<char>(pixel >> 8), static_cast<char>(pixel)});
    pictures::PngRecipe interlaced;
    interlaced.width = 24;
    interlaced.height = 18;
    interlaced.colour_type = 2;
    interlaced.interlaced = true;
    interlaced.samples = rgb;
    const std::vector<std::string> originals = {
        testing_support::encode_png(24, 18, pattern), pictures::encode_png(interlaced),
        pictures::encode_jpeg(24, 18, 3, rgb, false), pictures::encode_jpeg(24, 18, 3, rgb, true)};
    uint32_t seed = 20121208;
    auto next = [&seed] {
        seed = seed * 1664525u + 1013904223u;
        return seed >> 8;
    };
    long blocks_before = platform_live_blocks();
    int decoded = 0;
    for (const std::string &original : originals)
        for (int round = 0; round < 400; ++round) {
            std::string data = original;
            for (uint32_t changes = 1 + next() % 4; changes > 0; --changes)
                data[next() % data.size()] = static_cast<char>(next());
            if (round % 5 == 0)
                data.resize(next() % data.size() + 1);
            void *buffer = DTLoad(&data[0], static_cast<uint32_t>(data.size()));
            uint32_t width = DT_width(&data[0], static_cast<uint32_t>(data.size()));
            if (buffer != nullptr) {
                ASSERT_NE(width, 0u);
                ++decoded;
            }
            FreeVec(buffer);
            ASSERT_EQ(platform_live_objects(), 0);
            clear_journal();
        }
    EXPECT_EQ(platform_live_blocks(), blocks_before);
    EXPECT_EQ(platform_open_count("datatypes.library"), 0);
    RecordProperty("decoded", decoded);
}

} // namespace

// Pictures the picture tests write themselves, and reading them back.
#ifndef QUILLPEEK_TESTS_PICTURE_PICTURES_H
#define QUILLPEEK_TESTS_PICTURE_PICTURES_H

#include <cstdint>
#include <string>
#include <vector>

namespace pictures
{

// A PNG in any colour type and bit depth. samples: the rows as the PNG
// stores them before filtering (packed for depths below 8, 16-bit samples
// big-endian), each row bytes_per_row(...) long.
struct PngRecipe {
    uint32_t width = 1;
    uint32_t height = 1;
    uint8_t colour_type = 6; // 0 grey, 2 RGB, 3 palette, 4 grey+alpha, 6 RGBA
    uint8_t bit_depth = 8;
    bool interlaced = false;
    std::vector<uint32_t> palette; // 0x00RRGGBB, for colour type 3
    bool has_trns = false;
    uint16_t trns_grey = 0, trns_red = 0, trns_green = 0, trns_blue = 0;
    std::vector<uint8_t> trns_alpha; // for colour type 3
    std::string samples;
};
size_t bytes_per_row(const PngRecipe &recipe);
std::string encode_png(const PngRecipe &recipe);

// A JPEG of width x height from samples of `components` bytes per pixel
// (1 grey, 3 RGB, 4 CMYK as given, written with libjpeg's Adobe marker).
std::string encode_jpeg(uint32_t width, uint32_t height, int components, const std::string &samples,
                        bool progressive, int quality = 95);

// A PNG chunk with its length and CRC.
std::string png_chunk(const std::string &type, const std::string &data);
// A PNG whose header claims width x height, with a few bytes of image data.
std::string png_claiming(uint32_t width, uint32_t height);
// The JPEG with its frame header's size replaced.
std::string jpeg_claiming(std::string jpeg, uint16_t width, uint16_t height);

// The pixel at (x, y) of a PictureBuffer as 0xAARRGGBB (bytes A, R, G, B).
uint32_t argb_at(const void *buffer, uint32_t width, uint32_t x, uint32_t y);
// The whole picture from a PictureBuffer as 0xAARRGGBB words.
std::vector<uint32_t> argb_pixels(const void *buffer, uint32_t width, uint32_t height);

// The picture decoded by libspng alone, as 0xAARRGGBB words (tRNS applied);
// empty when libspng cannot decode it.
std::vector<uint32_t> reference_png(const std::string &png, uint32_t *width, uint32_t *height);

// The bytes of the member called exactly `name` in the archive at path, read
// with libarchive; false when there is none or it cannot be read.
bool read_member(const std::string &path, const std::string &name, std::string *data);

// Whether two colour words differ by at most tolerance in every channel.
bool close_to(uint32_t a, uint32_t b, int tolerance);

// The peak resident set of this process so far, in KiB.
long peak_rss_kib();

} // namespace pictures

#endif

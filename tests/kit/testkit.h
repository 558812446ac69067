// What tests and benchmarks make for themselves: pictures written with
// libspng and libjpeg, reproducible bytes, checksums. No test framework: the
// benchmarks link this too. Failures throw std::runtime_error.
#ifndef QUILLPEEK_TESTS_KIT_TESTKIT_H
#define QUILLPEEK_TESTS_KIT_TESTKIT_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace testkit
{

// Bytes that do not compress, reproducible from the seed.
std::string noise(size_t size, uint32_t seed = 1);

// The CRC-32 of zip members and PNG chunks.
uint32_t crc32(const std::string &bytes);

// A picture whose pixel (x, y) is a colour no other pixel shares nearby:
// the default test pattern, 0xAARRGGBB row by row.
std::vector<uint32_t> test_pattern(uint32_t width, uint32_t height);

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

// A PNG of width x height from 0xAARRGGBB pixels (row by row), as RGBA 8.
std::string encode_png(uint32_t width, uint32_t height, const std::vector<uint32_t> &argb);

// A JPEG of width x height from samples of `components` bytes per pixel
// (1 grey, 3 RGB, 4 CMYK as given, written with libjpeg's Adobe marker).
std::string encode_jpeg(uint32_t width, uint32_t height, int components, const std::string &samples,
                        bool progressive, int quality = 95);

// A zip written record by record, its members stored, and where each record
// lies, so that tests can make them disagree.
struct ZipMember {
    std::string name, data;
    std::string central_extra; // the central record's extra field
    bool descriptor = false;   // sizes in a data descriptor after the data
};
struct ZipLayout {
    std::string bytes;
    std::vector<size_t> local, central; // each member's records
    size_t directory = 0, end = 0;      // the central directory, its end record
};
ZipLayout stored_zip(const std::vector<ZipMember> &members);
std::string local_header(const ZipMember &member); // its name after it, no data
void put_le(std::string &bytes, size_t at, uint64_t value, int width);

// Zips whose records lie, each of a member "Thumbnails/thumbnail.png"
// holding thumbnail and a member "b": local headers that disagree with the
// central records (name, its length, sizes, method, flags), members that
// overlap each other or the directory, an offset past the end, zip64 sizes
// of 2^62, sizes that lie under a matching CRC, a directory repeated or cut
// short. The first, "plain.zip", is sound.
struct HostileZip {
    std::string name, bytes;
};
std::vector<HostileZip> hostile_zips(const std::string &thumbnail);

} // namespace testkit

#endif

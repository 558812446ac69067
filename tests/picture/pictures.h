// Pictures the picture tests write themselves, and reading them back.
#ifndef QUILLPEEK_TESTS_PICTURE_PICTURES_H
#define QUILLPEEK_TESTS_PICTURE_PICTURES_H

#include <cstdint>
#include <string>
#include <vector>

#include "testkit.h"

namespace pictures
{

// The picture writers, as the kit has them.
using testkit::bytes_per_row;
using testkit::encode_jpeg;
using testkit::encode_png;
using testkit::PngRecipe;

// A file's bytes as DTLoad takes them: the block (null for none) and its size.
void *bytes_of(std::string &data);
uint32_t size_of(const std::string &data);

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

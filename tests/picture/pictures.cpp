#include "pictures.h"

#include "support.h"

#include <archive.h>
#include <archive_entry.h>
#include <spng.h>
#include <sys/resource.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

namespace pictures
{

namespace
{

std::string big_endian(uint32_t value)
{
    std::string out(4, '\0');
    for (int i = 0; i < 4; ++i)
        out[i] = static_cast<char>(value >> (24 - 8 * i));
    return out;
}

} // namespace

void *bytes_of(std::string &data)
{
    return data.empty() ? nullptr : &data[0];
}

uint32_t size_of(const std::string &data)
{
    return static_cast<uint32_t>(data.size());
}

std::string png_chunk(const std::string &type, const std::string &data)
{
    return big_endian(static_cast<uint32_t>(data.size())) + type + data +
           big_endian(testing_support::crc32(type + data));
}

std::string png_claiming(uint32_t width, uint32_t height)
{
    std::string ihdr = big_endian(width) + big_endian(height) + std::string("\x08\x06\x00\x00\x00", 5);
    // A zlib stream of a few zero bytes: far too little for the claimed size.
    std::string idat("\x78\x9c\x63\x00\x00\x00\x01\x00\x01", 9);
    return std::string("\x89PNG\r\n\x1a\n", 8) + png_chunk("IHDR", ihdr) + png_chunk("IDAT", idat) +
           png_chunk("IEND", "");
}

std::string jpeg_claiming(std::string jpeg, uint16_t width, uint16_t height)
{
    for (size_t i = 2; i + 9 < jpeg.size(); ++i) {
        unsigned char marker = static_cast<unsigned char>(jpeg[i + 1]);
        if (static_cast<unsigned char>(jpeg[i]) == 0xFF && (marker == 0xC0 || marker == 0xC2)) {
            jpeg[i + 5] = static_cast<char>(height >> 8);
            jpeg[i + 6] = static_cast<char>(height);
            jpeg[i + 7] = static_cast<char>(width >> 8);
            jpeg[i + 8] = static_cast<char>(width);
            return jpeg;
        }
    }
    throw std::runtime_error("no frame header in the JPEG");
}

uint32_t argb_at(const void *buffer, uint32_t width, uint32_t x, uint32_t y)
{
    const unsigned char *p =
        static_cast<const unsigned char *>(buffer) + (static_cast<size_t>(y) * width + x) * 4;
    return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 |
           static_cast<uint32_t>(p[2]) << 8 | p[3];
}

std::vector<uint32_t> argb_pixels(const void *buffer, uint32_t width, uint32_t height)
{
    std::vector<uint32_t> pixels;
    pixels.reserve(static_cast<size_t>(width) * height);
    for (uint32_t y = 0; y < height; ++y)
        for (uint32_t x = 0; x < width; ++x)
            pixels.push_back(argb_at(buffer, width, x, y));
    return pixels;
}

std::vector<uint32_t> reference_png(const std::string &png, uint32_t *width, uint32_t *height)
{
    spng_ctx *ctx = spng_ctx_new(0);
    spng_set_png_buffer(ctx, png.data(), png.size());
    struct spng_ihdr ihdr = {};
    size_t size = 0;
    std::vector<unsigned char> rgba;
    bool decoded = spng_get_ihdr(ctx, &ihdr) == 0 && spng_decoded_image_size(ctx, SPNG_FMT_RGBA8, &size) == 0;
    if (decoded) {
        rgba.resize(size);
        decoded = spng_decode_image(ctx, rgba.data(), size, SPNG_FMT_RGBA8, SPNG_DECODE_TRNS) == 0;
    }
    spng_ctx_free(ctx);
    std::vector<uint32_t> pixels;
    if (!decoded)
        return pixels;
    *width = ihdr.width;
    *height = ihdr.height;
    for (size_t i = 0; i + 3 < rgba.size(); i += 4)
        pixels.push_back(static_cast<uint32_t>(rgba[i + 3]) << 24 | static_cast<uint32_t>(rgba[i]) << 16 |
                         static_cast<uint32_t>(rgba[i + 1]) << 8 | rgba[i + 2]);
    return pixels;
}

bool read_member(const std::string &path, const std::string &name, std::string *data)
{
    struct archive *a = archive_read_new();
    archive_read_support_format_all(a);
    archive_read_support_filter_all(a);
    bool found = false, read = false;
    if (archive_read_open_filename(a, path.c_str(), 65536) == ARCHIVE_OK) {
        struct archive_entry *entry = nullptr;
        while (!found && archive_read_next_header(a, &entry) == ARCHIVE_OK) {
            const char *entry_name = archive_entry_pathname(entry);
            if (entry_name == nullptr || name != entry_name)
                continue;
            found = true;
            data->clear();
            char chunk[65536];
            la_ssize_t got;
            while ((got = archive_read_data(a, chunk, sizeof chunk)) > 0)
                data->append(chunk, static_cast<size_t>(got));
            read = got == 0;
        }
    }
    archive_read_free(a);
    return found && read;
}

bool close_to(uint32_t a, uint32_t b, int tolerance)
{
    for (int shift = 0; shift < 32; shift += 8) {
        int difference = static_cast<int>((a >> shift) & 0xFF) - static_cast<int>((b >> shift) & 0xFF);
        if (difference > tolerance || difference < -tolerance)
            return false;
    }
    return true;
}

long peak_rss_kib()
{
    struct rusage usage = {};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

} // namespace pictures

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

#include <jpeglib.h>

namespace pictures
{

size_t bytes_per_row(const PngRecipe &recipe)
{
    unsigned channels = recipe.colour_type == 2   ? 3
                        : recipe.colour_type == 4 ? 2
                        : recipe.colour_type == 6 ? 4
                                                  : 1;
    return (static_cast<size_t>(recipe.width) * channels * recipe.bit_depth + 7) / 8;
}

std::string encode_png(const PngRecipe &recipe)
{
    spng_ctx *ctx = spng_ctx_new(SPNG_CTX_ENCODER);
    spng_set_option(ctx, SPNG_ENCODE_TO_BUFFER, 1);
    struct spng_ihdr ihdr = {};
    ihdr.width = recipe.width;
    ihdr.height = recipe.height;
    ihdr.bit_depth = recipe.bit_depth;
    ihdr.color_type = recipe.colour_type;
    ihdr.interlace_method = recipe.interlaced ? SPNG_INTERLACE_ADAM7 : SPNG_INTERLACE_NONE;
    spng_set_ihdr(ctx, &ihdr);
    if (recipe.colour_type == 3) {
        struct spng_plte plte = {};
        plte.n_entries = static_cast<uint32_t>(recipe.palette.size());
        for (size_t i = 0; i < recipe.palette.size(); ++i) {
            plte.entries[i].red = static_cast<uint8_t>(recipe.palette[i] >> 16);
            plte.entries[i].green = static_cast<uint8_t>(recipe.palette[i] >> 8);
            plte.entries[i].blue = static_cast<uint8_t>(recipe.palette[i]);
        }
        spng_set_plte(ctx, &plte);
    }
    if (recipe.has_trns) {
        struct spng_trns trns = {};
        trns.gray = recipe.trns_grey;
        trns.red = recipe.trns_red;
        trns.green = recipe.trns_green;
        trns.blue = recipe.trns_blue;
        trns.n_type3_entries = static_cast<uint32_t>(recipe.trns_alpha.size());
        for (size_t i = 0; i < recipe.trns_alpha.size(); ++i)
            trns.type3_alpha[i] = recipe.trns_alpha[i];
        spng_set_trns(ctx, &trns);
    }
    int status = spng_encode_image(ctx, recipe.samples.data(), recipe.samples.size(), SPNG_FMT_PNG,
                                   SPNG_ENCODE_FINALIZE);
    size_t size = 0;
    int error = 0;
    void *png = spng_get_png_buffer(ctx, &size, &error);
    spng_ctx_free(ctx);
    if (status != 0 || png == nullptr)
        throw std::runtime_error(std::string("png encode: ") + spng_strerror(status ? status : error));
    std::string result(static_cast<char *>(png), size);
    free(png);
    return result;
}

std::string encode_jpeg(uint32_t width, uint32_t height, int components, const std::string &samples,
                        bool progressive, int quality)
{
    struct jpeg_compress_struct cinfo;
    struct jpeg_error_mgr errors;
    cinfo.err = jpeg_std_error(&errors);
    jpeg_create_compress(&cinfo);
    unsigned char *out = nullptr;
    unsigned long out_size = 0;
    jpeg_mem_dest(&cinfo, &out, &out_size);
    cinfo.image_width = width;
    cinfo.image_height = height;
    cinfo.input_components = components;
    cinfo.in_color_space = components == 1 ? JCS_GRAYSCALE : components == 3 ? JCS_RGB : JCS_CMYK;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, quality, TRUE);
    if (progressive)
        jpeg_simple_progression(&cinfo);
    jpeg_start_compress(&cinfo, TRUE);
    while (cinfo.next_scanline < height) {
        JSAMPROW row = reinterpret_cast<JSAMPROW>(const_cast<char *>(samples.data())) +
                       static_cast<size_t>(cinfo.next_scanline) * width * components;
        jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    std::string result(reinterpret_cast<char *>(out), out_size);
    free(out);
    return result;
}

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

// PNG pictures through libspng: every colour type and bit depth, interlaced
// or not, with tRNS transparency; gamma is not applied.
#include <spng.h>

#include <cstring>

#include "platform/decoders/decoder.h"

namespace platform
{
namespace
{

const uint8_t png_signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

// No single chunk and no stored chunk data may take more than these; the
// image data itself is streamed and not bound by them.
const size_t chunk_size_limit = 4u * 1024u * 1024u;
const size_t chunk_cache_limit = 8u * 1024u * 1024u;

bool recognises_png(const uint8_t *data, size_t size)
{
    return size >= sizeof png_signature && std::memcmp(data, png_signature, sizeof png_signature) == 0;
}

// A decoding context over the bytes, with the limits set; null on failure.
spng_ctx *open_png(const uint8_t *data, size_t size)
{
    spng_ctx *ctx = spng_ctx_new(0);
    if (ctx == nullptr)
        return nullptr;
    if (spng_set_chunk_limits(ctx, chunk_size_limit, chunk_cache_limit) != 0 ||
        spng_set_png_buffer(ctx, data, size) != 0) {
        spng_ctx_free(ctx);
        return nullptr;
    }
    return ctx;
}

bool read_png_size(const uint8_t *data, size_t size, PictureSize *size_out)
{
    spng_ctx *ctx = open_png(data, size);
    if (ctx == nullptr)
        return false;
    struct spng_ihdr ihdr = {};
    bool read = spng_get_ihdr(ctx, &ihdr) == 0;
    spng_ctx_free(ctx);
    if (read)
        *size_out = PictureSize{ihdr.width, ihdr.height};
    return read;
}

// RGBA bytes, as libspng delivers them, into 0xAARRGGBB words in place.
void rgba_to_argb(uint32_t *pixels, size_t count)
{
    uint8_t *bytes = reinterpret_cast<uint8_t *>(pixels);
    for (size_t i = 0; i < count; ++i, bytes += 4) {
        uint32_t word = static_cast<uint32_t>(bytes[3]) << 24 | static_cast<uint32_t>(bytes[0]) << 16 |
                        static_cast<uint32_t>(bytes[1]) << 8 | bytes[2];
        std::memcpy(bytes, &word, 4);
    }
}

bool decode_png(const uint8_t *data, size_t size, PictureSize picture, uint32_t *pixels)
{
    spng_ctx *ctx = open_png(data, size);
    if (ctx == nullptr)
        return false;
    size_t expected = static_cast<size_t>(picture.width) * picture.height * 4;
    size_t needed = 0;
    // The image limits repeat the class's own, so that libspng itself never
    // works on a picture larger than the buffer it was given.
    bool decoded = spng_set_image_limits(ctx, 16383, 65535) == 0 &&
                   spng_decoded_image_size(ctx, SPNG_FMT_RGBA8, &needed) == 0 && needed == expected &&
                   spng_decode_image(ctx, pixels, expected, SPNG_FMT_RGBA8, SPNG_DECODE_TRNS) == 0;
    spng_ctx_free(ctx);
    if (decoded)
        rgba_to_argb(pixels, expected / 4);
    return decoded;
}

} // namespace

const Decoder png_decoder = {"png", recognises_png, read_png_size, decode_png};

} // namespace platform

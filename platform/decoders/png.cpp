// PNG pictures through libspng: every colour type and bit depth, interlaced
// or not, with tRNS transparency; gamma is not applied.
#include <spng.h>

#include <cstring>

#include "platform/datatypes.h"
#include "platform/decoders/decoder.h"
#include "platform/dos.h"
#include "platform/limits.h"

namespace platform
{
namespace
{

const uint8_t png_signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

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
    if (spng_set_chunk_limits(ctx, limits::png_chunk_bytes, limits::picture_metadata_bytes) != 0 ||
        spng_set_png_buffer(ctx, data, size) != 0) {
        spng_ctx_free(ctx);
        return nullptr;
    }
    return ctx;
}

// The IoErr code for one of libspng's errors.
int32_t png_error(int error)
{
    switch (error) {
    case 0:
        return 0;
    case SPNG_EMEM:
        return ERROR_NO_FREE_STORE;
    case SPNG_EOF:
        return DTERROR_NOT_ENOUGH_DATA;
    case SPNG_ECHUNK_LIMITS:
        return DTERROR_METADATA_LIMIT;
    default:
        return DTERROR_INVALID_DATA;
    }
}

int32_t read_png_size(const uint8_t *data, size_t size, PictureSize *size_out)
{
    spng_ctx *ctx = open_png(data, size);
    if (ctx == nullptr)
        return ERROR_NO_FREE_STORE;
    struct spng_ihdr ihdr = {};
    int error = spng_get_ihdr(ctx, &ihdr);
    spng_ctx_free(ctx);
    if (error == 0)
        *size_out = PictureSize{ihdr.width, ihdr.height};
    return png_error(error);
}

// RGBA bytes, as libspng delivers them, into 0xAARRGGBB words in place:
// red and blue trade places (little-endian) or the word turns by a byte.
// Four pixels at a time in a vector register, the rest one by one.
uint32_t rgba_word_to_argb(uint32_t word)
{
#if __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    return (word & 0xFF00FF00u) | (word & 0xFFu) << 16 | (word >> 16 & 0xFFu);
#else
    return word >> 8 | word << 24;
#endif
}

void rgba_to_argb(uint32_t *pixels, size_t count)
{
    typedef uint32_t Words __attribute__((vector_size(16)));
    size_t i = 0;
    for (; i + 4 <= count; i += 4) {
        Words words;
        std::memcpy(&words, pixels + i, sizeof words);
#if __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
        words = (words & 0xFF00FF00u) | (words & 0xFFu) << 16 | (words >> 16 & 0xFFu);
#else
        words = words >> 8 | words << 24;
#endif
        std::memcpy(pixels + i, &words, sizeof words);
    }
    for (; i < count; ++i)
        pixels[i] = rgba_word_to_argb(pixels[i]);
}

// The words of a palette's 256 entries, with the tRNS alphas; an index past
// the palette gives opaque black, as libspng's own expansion does.
int palette_words(spng_ctx *ctx, uint32_t *words)
{
    struct spng_plte plte = {};
    int error = spng_get_plte(ctx, &plte);
    if (error != 0)
        return error;
    struct spng_trns trns = {};
    bool has_trns = spng_get_trns(ctx, &trns) == 0;
    for (uint32_t i = 0; i < 256; ++i) {
        uint32_t alpha = has_trns && i < trns.n_type3_entries ? trns.type3_alpha[i] : 0xFF;
        const struct spng_plte_entry &entry = plte.entries[i];
        words[i] = i < plte.n_entries
                       ? alpha << 24 | uint32_t(entry.red) << 16 | uint32_t(entry.green) << 8 | entry.blue
                       : 0xFF000000u;
    }
    return 0;
}

// Decodes each row in turn into target(out), where out is the row's words,
// then calls finish(out) while the row is still in the cache. 0 once the
// last row is decoded, else libspng's error.
template <typename Target, typename Finish>
int decode_each_row(spng_ctx *ctx, PictureSize picture, uint32_t *pixels, size_t row_bytes, Target target,
                    Finish finish)
{
    struct spng_row_info row = {};
    int status;
    while ((status = spng_get_row_info(ctx, &row)) == 0) {
        if (row.row_num >= picture.height)
            return SPNG_EINTERNAL;
        uint32_t *out = pixels + static_cast<size_t>(row.row_num) * picture.width;
        status = spng_decode_row(ctx, target(out), row_bytes);
        if (status != 0 && status != SPNG_EOI)
            return status;
        finish(out);
        if (status == SPNG_EOI)
            return 0;
    }
    return status == SPNG_EOI ? 0 : status;
}

// An 8-bit palette picture that is not interlaced, straight into words: each
// row's indices are decoded into the last quarter of its own words and
// looked up from the front, so every index is read before its bytes are
// overwritten. A quarter of the work of expanding to RGBA bytes and turning
// those.
int decode_palette_rows(spng_ctx *ctx, PictureSize picture, uint32_t *pixels)
{
    uint32_t words[256];
    int status = palette_words(ctx, words);
    if (status == 0)
        status = spng_decode_image(ctx, nullptr, 0, SPNG_FMT_PNG, SPNG_DECODE_PROGRESSIVE);
    if (status != 0)
        return status;
    size_t width = picture.width;
    auto indices = [width](uint32_t *out) { return reinterpret_cast<uint8_t *>(out) + width * 3; };
    return decode_each_row(ctx, picture, pixels, width, indices, [&](uint32_t *out) {
        const uint8_t *index = indices(out);
        for (size_t x = 0; x < width; ++x)
            out[x] = words[index[x]];
    });
}

// Decodes row by row into the rows of pixels, each row of a picture that is
// not interlaced turned into words while it is still in the cache. The rows
// of an interlaced picture fill over several passes and are turned at the
// end. 0 when the whole picture was decoded, else libspng's error.
int decode_rows(spng_ctx *ctx, PictureSize picture, uint32_t *pixels, bool interlaced)
{
    int status =
        spng_decode_image(ctx, nullptr, 0, SPNG_FMT_RGBA8, SPNG_DECODE_TRNS | SPNG_DECODE_PROGRESSIVE);
    if (status == 0)
        status = decode_each_row(
            ctx, picture, pixels, static_cast<size_t>(picture.width) * 4, [](uint32_t *out) { return out; },
            [&](uint32_t *out) {
                if (!interlaced)
                    rgba_to_argb(out, picture.width);
            });
    if (status != 0)
        return status;
    if (interlaced)
        rgba_to_argb(pixels, static_cast<size_t>(picture.width) * picture.height);
    return 0;
}

int32_t decode_png(const uint8_t *data, size_t size, PictureSize picture, uint32_t *pixels)
{
    spng_ctx *ctx = open_png(data, size);
    if (ctx == nullptr)
        return ERROR_NO_FREE_STORE;
    size_t needed = 0;
    struct spng_ihdr ihdr = {};
    // The image limits repeat the class's own, so that libspng itself never
    // works on a picture larger than the buffer it was given.
    int error = spng_set_image_limits(ctx, 16383, 65535);
    if (error == 0)
        error = spng_get_ihdr(ctx, &ihdr);
    if (error == 0)
        error = spng_decoded_image_size(ctx, SPNG_FMT_RGBA8, &needed);
    if (error == 0 && (ihdr.width != picture.width || ihdr.height != picture.height ||
                       needed != static_cast<size_t>(picture.width) * picture.height * 4))
        error = SPNG_EINTERNAL;
    bool interlaced = ihdr.interlace_method != SPNG_INTERLACE_NONE;
    if (error == 0 && ihdr.color_type == SPNG_COLOR_TYPE_INDEXED && ihdr.bit_depth == 8 && !interlaced)
        error = decode_palette_rows(ctx, picture, pixels);
    else if (error == 0)
        error = decode_rows(ctx, picture, pixels, interlaced);
    spng_ctx_free(ctx);
    return png_error(error);
}

} // namespace

const Decoder png_decoder = {"png", recognises_png, read_png_size, decode_png};

} // namespace platform

// The picture class's decoders: one file per picture format.
//
// A decoder is three functions over a picture file held in memory:
//  - recognises: whether the bytes begin with the format's signature. Looks
//    at the first bytes only; never allocates.
//  - read_size: the picture's width and height from its header alone, with
//    no pixel memory taken. Fails when the header is missing, damaged or not
//    one the decoder can decode.
//  - decode: the whole picture into pixels, a buffer the caller owns of
//    exactly width x height 32-bit words (the size read_size gave), rows
//    from the top with no gaps, each pixel 0xAARRGGBB in host order, alpha
//    0xFF where the picture has none. Succeeds only when every pixel came
//    from the data; on failure the buffer's contents are meaningless and the
//    caller discards them.
// read_size and decode return 0 on success, else the IoErr code that says
// why (platform/datatypes.h): DTERROR_INVALID_DATA, DTERROR_NOT_ENOUGH_DATA,
// ERROR_NO_FREE_STORE, or the code of the budget of platform/limits.h that
// was reached.
//
// The decoders only read the bytes they are given (never beyond size) and
// keep no reference to them or to the buffer once they return. Whatever a
// decoder allocates for itself it releases before returning, on every path;
// it never prints and never ends the process.
//
// Another format is one more file defining its Decoder, and one line in the
// picture class's table (platform/datatypes.cpp).
#ifndef QUILLPEEK_PLATFORM_DECODERS_DECODER_H
#define QUILLPEEK_PLATFORM_DECODERS_DECODER_H

#include <cstddef>
#include <cstdint>

namespace platform
{

struct PictureSize {
    uint32_t width;
    uint32_t height;
};

struct Decoder {
    const char *format; // "png", "jpeg": for the journal
    bool (*recognises)(const uint8_t *data, size_t size);
    int32_t (*read_size)(const uint8_t *data, size_t size, PictureSize *size_out);
    int32_t (*decode)(const uint8_t *data, size_t size, PictureSize size_of_picture, uint32_t *pixels);
};

extern const Decoder png_decoder;
extern const Decoder jpeg_decoder;

// Whether a picture of this size may be decoded at all: narrow enough that a
// row of 4-byte pixels fits a 16-bit row length, at most 65535 rows and at
// most PICTURE_MAX_PIXELS pixels (platform/datatypes.h).
bool picture_size_allowed(PictureSize size);

} // namespace platform

#endif

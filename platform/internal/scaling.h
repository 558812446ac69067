// Filtered scaling of true-colour pixels into 32-bit pixels in memory, with
// alpha blending; the heart of ScalePixelArray. Platform-internal.
//
// Everything here works on plain memory: a window's pixels and a BitMap in
// memory are drawn the same way, and no window system is needed.
//
// Sampling, per axis: enlarging (or keeping the size) interpolates linearly
// between the two source pixels nearest the destination pixel's centre,
// with pixel centres aligned, so that a 1:1 draw is an exact copy;
// shrinking averages the source pixels under the destination pixel, each
// weighted by the area it covers, so that no row or column is dropped.
// Colours are filtered premultiplied by alpha, so that transparent pixels
// lend no colour to their neighbours.
#ifndef QUILLPEEK_PLATFORM_SCALING_H
#define QUILLPEEK_PLATFORM_SCALING_H

#include <cstddef>
#include <cstdint>

namespace platform
{

// Pixels in memory, rows modulo bytes apart. format is one of RECTFMT_RGB
// (R,G,B bytes), RECTFMT_RGBA (R,G,B,A) or RECTFMT_ARGB (A,R,G,B).
struct PixelSource {
    const uint8_t *pixels;
    uint32_t width;
    uint32_t height;
    size_t modulo;
    uint8_t format;
};

// width x height pixels, each a 32-bit word 0xAARRGGBB in host order, rows
// pitch bytes apart (a multiple of 4).
struct PixelTarget {
    uint32_t *words;
    size_t pitch;
    uint32_t width;
    uint32_t height;
};

// Scales the whole source to the rectangle (x, y, width, height) of the
// target, clipped to the target. The scaled pixels are laid over what is
// there: out = pixel + under * (1 - alpha) on every channel, alpha
// included, with the pixel's colour premultiplied (an alpha of 0 leaves
// what is there, 255 replaces it); RGB pixels are opaque. Drawn 1:1, a
// translucent pixel blends straight, rounded once:
// (pixel * alpha + under * (255 - alpha)) / 255. Returns the number of
// target pixels written. The caller vouches that the source holds height
// rows of modulo bytes, each at least width pixels long.
long scale_pixels(const PixelSource &source, const PixelTarget &target, int x, int y, uint32_t width,
                  uint32_t height);

// Sets every pixel of the target to word.
void fill_pixels(const PixelTarget &target, uint32_t word);

// For tests: whether the processor's vector instructions may be used where
// it has them (the default). Either way the pixels drawn are the same.
void scaling_allow_simd(bool allowed);

} // namespace platform

#endif

// Nearest-neighbour scaling of true-colour pixels onto an SDL surface, with
// alpha blending; the heart of ScalePixelArray. Platform-internal.
#ifndef QUILLPEEK_PLATFORM_SCALING_H
#define QUILLPEEK_PLATFORM_SCALING_H

#include <SDL.h>

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

// The source pixel that destination pixel i of n takes when a source of
// size pixels is scaled to n: the one under the destination pixel's centre,
// floor((i + 1/2) * size / n), computed exactly.
inline uint32_t nearest_source(uint32_t i, uint32_t n, uint32_t size)
{
    return static_cast<uint32_t>(((2 * static_cast<uint64_t>(i) + 1) * size) /
                                 (2 * static_cast<uint64_t>(n)));
}

// Scales the whole source to the rectangle (x, y, width, height) of the
// surface, clipped to the surface. Pixels with alpha are blended over what
// is there (0 leaves it, 255 replaces it); RGB pixels are opaque. Returns
// the number of destination pixels written, or -1 when the surface's
// pixels could not be reached. The caller vouches that the source holds
// height rows of modulo bytes, each at least width pixels long.
long scale_pixels(const PixelSource &source, SDL_Surface *surface, int x, int y, uint32_t width,
                  uint32_t height);

} // namespace platform

#endif

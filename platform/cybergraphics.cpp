// cybergraphics.library: true-colour pixel transfer.
//
// ScalePixelArray draws inside the call boundary (guarded); ReadPixelArray
// copies plain memory and cannot throw.
#include "platform/cybergraphics.h"

#include <algorithm>
#include <cstring>

#include "platform/internal/internal.h"
#include "platform/internal/layer.h"
#include "platform/internal/scaling.h"

namespace
{

// One bitmap word 0xAARRGGBB as bytes in the order alpha, red, green, blue.
void store_argb(UBYTE *to, uint32_t word)
{
    to[0] = static_cast<UBYTE>(word >> 24);
    to[1] = static_cast<UBYTE>(word >> 16);
    to[2] = static_cast<UBYTE>(word >> 8);
    to[3] = static_cast<UBYTE>(word);
}

// The pixels drawn, scaled, into the port; how many were drawn.
long draw(struct RastPort *rp, const platform::PixelSource &source, int x, int y, uint32_t width,
          uint32_t height)
{
    platform::DrawTarget target;
    if (!platform::begin_drawing(rp, target))
        return 0;
    long drawn = platform::scale_pixels(source, target.pixels, x, y, width, height);
    platform::end_drawing(target);
    return drawn;
}

} // namespace

ULONG LVO_ReadPixelArray(struct Library *base, APTR destRect, UWORD destX, UWORD destY, UWORD destMod,
                         struct RastPort *rp, UWORD srcX, UWORD srcY, UWORD sizeX, UWORD sizeY,
                         UBYTE destFormat)
{
    if (!platform::library_ready(base, "cybergraphics.library", "ReadPixelArray"))
        return 0;
    platform::journal("ReadPixelArray %u %u %u %ux%u %u", destX, destY, destMod, sizeX, sizeY, destFormat);
    const struct BitMap *bitmap = rp != nullptr ? rp->BitMap : nullptr;
    if (destRect == nullptr || bitmap == nullptr || bitmap->Planes[0] == nullptr ||
        destFormat != RECTFMT_ARGB)
        return 0;
    ULONG columns = bitmap->BytesPerRow / 4;
    ULONG width = srcX < columns ? std::min<ULONG>(sizeX, columns - srcX) : 0;
    ULONG height = srcY < bitmap->Rows ? std::min<ULONG>(sizeY, bitmap->Rows - srcY) : 0;
    UBYTE *destination = static_cast<UBYTE *>(destRect);
    // Rows that meet are written whole; rows with gaps between them are not.
    if (width != 0 && height != 0 && destMod == width * 4)
        platform::prepare_for_writing(destination + static_cast<size_t>(destY) * destMod + size_t(destX) * 4,
                                      static_cast<size_t>(height - 1) * destMod + size_t(width) * 4);
    for (ULONG y = 0; y < height; ++y) {
        const UBYTE *row = bitmap->Planes[0] + static_cast<size_t>(srcY + y) * bitmap->BytesPerRow;
        UBYTE *out = destination + static_cast<size_t>(destY + y) * destMod + static_cast<size_t>(destX) * 4;
        ULONG x = 0;
#if __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
        // Four words at a time, each turned to the bytes A, R, G, B.
        typedef uint32_t Words __attribute__((vector_size(16)));
        for (; x + 4 <= width; x += 4) {
            Words w;
            std::memcpy(&w, row + static_cast<size_t>(srcX + x) * 4, sizeof w);
            w = w << 24 | (w << 8 & 0xFF0000u) | (w >> 8 & 0xFF00u) | w >> 24;
            std::memcpy(out + static_cast<size_t>(x) * 4, &w, sizeof w);
        }
#endif
        for (; x < width; ++x) {
            uint32_t word;
            std::memcpy(&word, row + static_cast<size_t>(srcX + x) * 4, 4);
            store_argb(out + static_cast<size_t>(x) * 4, word);
        }
    }
    return width * height;
}

LONG LVO_ScalePixelArray(struct Library *base, APTR srcRect, UWORD srcW, UWORD srcH, UWORD srcMod,
                         struct RastPort *rp, UWORD destX, UWORD destY, UWORD destW, UWORD destH,
                         UBYTE srcFormat)
{
    if (!platform::library_ready(base, "cybergraphics.library", "ScalePixelArray"))
        return 0;
    unsigned bytes = srcFormat == RECTFMT_RGB ? 3 : 4;
    if (srcRect == nullptr || srcFormat > RECTFMT_ARGB || srcMod < unsigned(srcW) * bytes) {
        platform::journal("ScalePixelArray FAULT %s", srcRect == nullptr         ? "no source"
                                                      : srcFormat > RECTFMT_ARGB ? "unknown source format"
                                                                                 : "rows overlap");
        return 0;
    }
    platform::journal("ScalePixelArray %ux%u -> %ux%u", srcW, srcH, destW, destH);
    platform::PixelSource source = {static_cast<const uint8_t *>(srcRect), srcW, srcH, srcMod, srcFormat};
    long drawn = platform::guarded("ScalePixelArray", 0L,
                                   [&] { return draw(rp, source, destX, destY, destW, destH); });
    return drawn > 0 ? static_cast<LONG>(drawn) : 0;
}

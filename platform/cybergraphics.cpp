// cybergraphics.library: true-colour pixel transfer.
#include "platform/cybergraphics.h"

#include <algorithm>
#include <cstring>

#include "platform/internal.h"

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
    for (ULONG y = 0; y < height; ++y) {
        const UBYTE *row = bitmap->Planes[0] + static_cast<size_t>(srcY + y) * bitmap->BytesPerRow;
        UBYTE *out = destination + static_cast<size_t>(destY + y) * destMod + static_cast<size_t>(destX) * 4;
        for (ULONG x = 0; x < width; ++x) {
            uint32_t word;
            std::memcpy(&word, row + static_cast<size_t>(srcX + x) * 4, 4);
            store_argb(out + static_cast<size_t>(x) * 4, word);
        }
    }
    return width * height;
}

LONG LVO_ScalePixelArray(struct Library *, APTR, UWORD, UWORD, UWORD, struct RastPort *, UWORD, UWORD, UWORD,
                         UWORD, UBYTE)
{
    return 0;
}

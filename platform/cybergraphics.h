// cybergraphics.library: true-colour pixel transfer between memory and
// raster ports.
//
// Positions, sizes and row lengths are 16-bit, as the library takes them.
// RECTFMT_ARGB pixels in memory are 4 bytes each in the byte order alpha,
// red, green, blue.
#ifndef QUILLPEEK_PLATFORM_CYBERGRAPHICS_H
#define QUILLPEEK_PLATFORM_CYBERGRAPHICS_H

#include "platform/graphics.h"

extern struct Library *CyberGfxBase;

enum : UBYTE {
    RECTFMT_RGB = 0,
    RECTFMT_RGBA = 1,
    RECTFMT_ARGB = 2,
};

// Copies sizeX x sizeY pixels from the raster port at (srcX, srcY) into
// memory at destRect + destY * destMod + destX * 4. Returns the number of
// pixels copied; pixels outside the port's bitmap are not copied.
ULONG LVO_ReadPixelArray(struct Library *base, APTR destRect, UWORD destX, UWORD destY, UWORD destMod,
                         struct RastPort *rp, UWORD srcX, UWORD srcY, UWORD sizeX, UWORD sizeY,
                         UBYTE destFormat);

// Scales the whole srcW x srcH source (rows srcMod bytes apart) to
// destW x destH at (destX, destY) of the raster port, filtered: linear
// interpolation where it enlarges, area averaging where it shrinks, an
// exact copy at 1:1 (platform/internal/scaling.h). Pixels with alpha are blended over
// what is there. A raster port over a BitMap in memory is drawn the same
// way, without any window system. Returns the number of pixels drawn.
LONG LVO_ScalePixelArray(struct Library *base, APTR srcRect, UWORD srcW, UWORD srcH, UWORD srcMod,
                         struct RastPort *rp, UWORD destX, UWORD destY, UWORD destW, UWORD destH,
                         UBYTE srcFormat);

inline ULONG ReadPixelArray(APTR destRect, UWORD destX, UWORD destY, UWORD destMod, struct RastPort *rp,
                            UWORD srcX, UWORD srcY, UWORD sizeX, UWORD sizeY, UBYTE destFormat)
{
    return LVO_ReadPixelArray(CyberGfxBase, destRect, destX, destY, destMod, rp, srcX, srcY, sizeX, sizeY,
                              destFormat);
}
inline LONG ScalePixelArray(APTR srcRect, UWORD srcW, UWORD srcH, UWORD srcMod, struct RastPort *rp,
                            UWORD destX, UWORD destY, UWORD destW, UWORD destH, UBYTE srcFormat)
{
    return LVO_ScalePixelArray(CyberGfxBase, srcRect, srcW, srcH, srcMod, rp, destX, destY, destW, destH,
                               srcFormat);
}

#endif

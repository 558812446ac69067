// graphics.library: bitmaps, raster ports, pens.
//
// A BitMap here is chunky true colour: Planes[0] points to Rows rows of
// BytesPerRow bytes, each pixel one 32-bit word 0xAARRGGBB in host order;
// Depth is 32. The bitmap belongs to whoever made it (for a picture, its
// datatype object).
//
// A RastPort draws either into a BitMap (Layer null) or into a window's
// pixels (Layer set by intuition.library; drawing is clipped to the window).
#ifndef QUILLPEEK_PLATFORM_GRAPHICS_H
#define QUILLPEEK_PLATFORM_GRAPHICS_H

#include "platform/exec.h"

extern struct Library *GfxBase;

typedef UBYTE *PLANEPTR;

struct BitMap {
    UWORD BytesPerRow;
    UWORD Rows;
    UBYTE Flags;
    UBYTE Depth;
    UWORD pad;
    PLANEPTR Planes[8];
};

// The window system's side of a RastPort; its fields are intuition's own.
struct Layer;

struct RastPort {
    struct Layer *Layer;
    struct BitMap *BitMap;
    UBYTE FgPen;
    UBYTE BgPen;
    UBYTE DrawMode;
};

// 256 pens, each a colour of 8 bits per gun.
struct ColorMap {
    UWORD Count;
    ULONG Colors[256]; // 0x00RRGGBB
    UWORD RefCount[256];
    UBYTE Exclusive[256];
};

struct ViewPort {
    struct ColorMap *ColorMap;
    WORD DWidth;
    WORD DHeight;
};

enum : ULONG {
    OBP_Precision = 0x84000000u,
    OBP_FailIfBad = 0x84000001u,
};

enum : LONG {
    PRECISION_EXACT = -1,
    PRECISION_IMAGE = 0,
    PRECISION_ICON = 16,
    PRECISION_GUI = 32,
};

void LVO_InitRastPort(struct Library *base, struct RastPort *rp);
LONG LVO_ObtainBestPenA(struct Library *base, struct ColorMap *cm, ULONG r, ULONG g, ULONG b,
                        const struct TagItem *tags);
void LVO_ReleasePen(struct Library *base, struct ColorMap *cm, ULONG pen);
void LVO_SetRast(struct Library *base, struct RastPort *rp, ULONG pen);
void LVO_SetAPen(struct Library *base, struct RastPort *rp, ULONG pen);

inline void InitRastPort(struct RastPort *rp)
{
    LVO_InitRastPort(GfxBase, rp);
}
inline LONG ObtainBestPenA(struct ColorMap *cm, ULONG r, ULONG g, ULONG b, const struct TagItem *tags)
{
    return LVO_ObtainBestPenA(GfxBase, cm, r, g, b, tags);
}
inline void ReleasePen(struct ColorMap *cm, ULONG pen)
{
    LVO_ReleasePen(GfxBase, cm, pen);
}
inline void SetRast(struct RastPort *rp, ULONG pen)
{
    LVO_SetRast(GfxBase, rp, pen);
}
inline void SetAPen(struct RastPort *rp, ULONG pen)
{
    LVO_SetAPen(GfxBase, rp, pen);
}

#endif

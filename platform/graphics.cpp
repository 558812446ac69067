// graphics.library: raster ports and pens. A window's raster port draws
// into the window's pixels through its Layer (platform/internal/layer.h).
//
// SetRast draws inside the call boundary (guarded); the pen and port calls
// do plain C work and cannot throw.
#include "platform/graphics.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "platform/internal/internal.h"
#include "platform/internal/layer.h"

void LVO_InitRastPort(struct Library *base, struct RastPort *rp)
{
    if (!platform::library_ready(base, "graphics.library", "InitRastPort") || rp == nullptr)
        return;
    platform::journal("InitRastPort");
    std::memset(rp, 0, sizeof *rp);
    rp->FgPen = 1;
}

namespace
{

// How far (in steps of 1/255 per gun) a shared pen may lie from the colour
// asked for at a precision: exact, image, icon, GUI, or the number given.
long tolerance(LONG precision)
{
    if (precision < 0)
        return 0;
    return precision == PRECISION_IMAGE ? 2 : precision;
}

long gun_distance(uint32_t colour, uint32_t r, uint32_t g, uint32_t b)
{
    long dr = std::labs(long((colour >> 16) & 0xFF) - long(r));
    long dg = std::labs(long((colour >> 8) & 0xFF) - long(g));
    long db = std::labs(long(colour & 0xFF) - long(b));
    return std::max(dr, std::max(dg, db));
}

// The shared pen nearest the colour, or -1 when no pen is shared.
LONG nearest_shared_pen(const struct ColorMap *cm, uint32_t r, uint32_t g, uint32_t b, long &distance)
{
    LONG best = -1;
    distance = 256;
    for (UWORD pen = 0; pen < cm->Count && pen < 256; ++pen) {
        if (cm->RefCount[pen] == 0 || cm->Exclusive[pen] != 0)
            continue;
        long d = gun_distance(cm->Colors[pen], r, g, b);
        if (d < distance) {
            best = pen;
            distance = d;
        }
    }
    return best;
}

LONG free_pen(const struct ColorMap *cm)
{
    for (UWORD pen = 0; pen < cm->Count && pen < 256; ++pen)
        if (cm->RefCount[pen] == 0)
            return pen;
    return -1;
}

} // namespace

// A shared pen within the precision of the colour, else a free pen set to
// it, else (unless OBP_FailIfBad) the nearest shared pen; -1 when none.
LONG LVO_ObtainBestPenA(struct Library *base, struct ColorMap *cm, ULONG r, ULONG g, ULONG b,
                        const struct TagItem *tags)
{
    if (!platform::library_ready(base, "graphics.library", "ObtainBestPenA"))
        return -1;
    if (cm == nullptr) {
        platform::journal("ObtainBestPenA FAULT no colour map");
        return -1;
    }
    LONG precision = static_cast<LONG>(GetTagData(OBP_Precision, IPTR(PRECISION_IMAGE), tags));
    bool fail_if_bad = GetTagData(OBP_FailIfBad, FALSE, tags) != 0;
    uint32_t r8 = r >> 24, g8 = g >> 24, b8 = b >> 24;
    long distance = 0;
    LONG pen = nearest_shared_pen(cm, r8, g8, b8, distance);
    if (pen < 0 || distance > tolerance(precision)) {
        LONG fresh = free_pen(cm);
        if (fresh >= 0) {
            cm->Colors[fresh] = r8 << 16 | g8 << 8 | b8;
            pen = fresh;
        } else if (fail_if_bad) {
            pen = -1;
        }
    }
    if (pen >= 0)
        ++cm->RefCount[pen];
    platform::journal("ObtainBestPenA 0x%08lx 0x%08lx 0x%08lx -> %ld", static_cast<unsigned long>(r),
                      static_cast<unsigned long>(g), static_cast<unsigned long>(b), static_cast<long>(pen));
    return pen;
}

void LVO_ReleasePen(struct Library *base, struct ColorMap *cm, ULONG pen)
{
    if (!platform::library_ready(base, "graphics.library", "ReleasePen"))
        return;
    if (cm == nullptr || pen == ULONG(-1))
        return; // -1 is what a failed ObtainBestPen gave: nothing to give back
    if (pen >= 256 || cm->RefCount[pen] == 0) {
        platform::journal("ReleasePen FAULT pen %lu is not obtained", static_cast<unsigned long>(pen));
        return;
    }
    platform::journal("ReleasePen %lu", static_cast<unsigned long>(pen));
    --cm->RefCount[pen];
}

namespace
{

void fill_with_pen(struct RastPort *rp, ULONG pen)
{
    platform::DrawTarget target;
    if (!platform::begin_drawing(rp, target))
        return;
    uint32_t colour = platform::pen_colour(target, pen);
    platform::fill_pixels(target.pixels, 0xFF000000u | colour);
    platform::end_drawing(target);
}

} // namespace

void LVO_SetRast(struct Library *base, struct RastPort *rp, ULONG pen)
{
    if (!platform::library_ready(base, "graphics.library", "SetRast"))
        return;
    platform::journal("SetRast %lu", static_cast<unsigned long>(pen));
    platform::guarded("SetRast", [&] { fill_with_pen(rp, pen); });
}

void LVO_SetAPen(struct Library *base, struct RastPort *rp, ULONG pen)
{
    if (!platform::library_ready(base, "graphics.library", "SetAPen") || rp == nullptr)
        return;
    platform::journal("SetAPen %lu", static_cast<unsigned long>(pen));
    rp->FgPen = static_cast<UBYTE>(pen);
}

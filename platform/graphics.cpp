// graphics.library: raster ports and pens. (Window drawing being built.)
#include "platform/graphics.h"

#include <cstring>

#include "platform/internal.h"

void LVO_InitRastPort(struct Library *base, struct RastPort *rp)
{
    if (!platform::library_ready(base, "graphics.library", "InitRastPort") || rp == nullptr)
        return;
    platform::journal("InitRastPort");
    std::memset(rp, 0, sizeof *rp);
    rp->FgPen = 1;
}

LONG LVO_ObtainBestPenA(struct Library *, struct ColorMap *, ULONG, ULONG, ULONG, const struct TagItem *)
{
    return -1;
}
void LVO_ReleasePen(struct Library *, struct ColorMap *, ULONG) {}
void LVO_SetRast(struct Library *, struct RastPort *, ULONG) {}
void LVO_SetAPen(struct Library *, struct RastPort *, ULONG) {}

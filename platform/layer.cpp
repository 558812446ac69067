// Drawing targets of raster ports: a window's surface or a 32-bit BitMap.
#include "platform/layer.h"

#include <cstring>

namespace
{

const uint32_t default_pens[4] = {0xAAAAAA, 0x000000, 0xFFFFFF, 0x6688BB};

// A surface over the BitMap's own pixels (0xAARRGGBB words), or null.
SDL_Surface *surface_over_bitmap(struct BitMap *bitmap)
{
    if (bitmap == nullptr || bitmap->Depth != 32 || bitmap->Planes[0] == nullptr || bitmap->BytesPerRow < 4 ||
        bitmap->Rows == 0)
        return nullptr;
    if (!platform::sdl_load())
        return nullptr; // no window system to draw with
    return platform::sdl().CreateRGBSurfaceWithFormatFrom(bitmap->Planes[0], bitmap->BytesPerRow / 4,
                                                          bitmap->Rows, 32, bitmap->BytesPerRow,
                                                          SDL_PIXELFORMAT_ARGB8888);
}

} // namespace

namespace platform
{

void default_colormap(struct ColorMap *colormap)
{
    std::memset(colormap, 0, sizeof *colormap);
    colormap->Count = 256;
    for (int pen = 0; pen < 4; ++pen) {
        colormap->Colors[pen] = default_pens[pen];
        colormap->RefCount[pen] = 1; // held by the screen, shareable
    }
}

bool begin_drawing(struct RastPort *rp, DrawTarget &target)
{
    target = DrawTarget{nullptr, nullptr, false};
    if (rp == nullptr)
        return false;
    if (rp->Layer != nullptr) {
        target.layer = rp->Layer;
        target.surface = rp->Layer->surface;
        return target.surface != nullptr;
    }
    target.surface = surface_over_bitmap(rp->BitMap);
    target.made = target.surface != nullptr;
    return target.made;
}

void end_drawing(DrawTarget &target)
{
    if (target.layer != nullptr)
        target.layer->drawn = true;
    if (target.made)
        platform::sdl().FreeSurface(target.surface);
    target = DrawTarget{nullptr, nullptr, false};
}

uint32_t pen_colour(const DrawTarget &target, ULONG pen)
{
    pen &= 0xFF; // a pen is one byte wide, as in the RastPort
    if (target.layer != nullptr && target.layer->colormap != nullptr)
        return target.layer->colormap->Colors[pen] & 0xFFFFFF;
    return pen < 4 ? default_pens[pen] : 0;
}

} // namespace platform

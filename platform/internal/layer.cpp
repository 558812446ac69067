// Drawing targets of raster ports: a window's surface or a 32-bit BitMap.
#include "platform/internal/layer.h"

#include <cstdint>
#include <cstring>

namespace
{

const uint32_t default_pens[4] = {0xAAAAAA, 0x000000, 0xFFFFFF, 0x6688BB};

// The BitMap's own pixels (0xAARRGGBB words), when it has them in rows of
// whole words.
bool bitmap_pixels(struct BitMap *bitmap, platform::PixelTarget &pixels)
{
    if (bitmap == nullptr || bitmap->Depth != 32 || bitmap->Planes[0] == nullptr || bitmap->BytesPerRow < 4 ||
        bitmap->BytesPerRow % 4 != 0 || reinterpret_cast<uintptr_t>(bitmap->Planes[0]) % 4 != 0 ||
        bitmap->Rows == 0)
        return false;
    pixels = {reinterpret_cast<uint32_t *>(bitmap->Planes[0]), bitmap->BytesPerRow, bitmap->BytesPerRow / 4u,
              bitmap->Rows};
    return true;
}

bool has_word_layout(const SDL_Surface *surface)
{
    Uint32 format = surface->format->format;
    return format == SDL_PIXELFORMAT_RGB888 || format == SDL_PIXELFORMAT_ARGB8888;
}

// The window's pixels, locked: the surface's own when they are 32-bit
// words, else a 32-bit copy of them.
bool surface_pixels(SDL_Surface *surface, platform::DrawTarget &target)
{
    if (surface == nullptr || platform::sdl().LockSurface(surface) != 0)
        return false;
    target.locked = surface;
    uint32_t width = uint32_t(surface->w), height = uint32_t(surface->h);
    if (has_word_layout(surface)) {
        target.pixels = {static_cast<uint32_t *>(surface->pixels), size_t(surface->pitch), width, height};
        return true;
    }
    target.copy.resize(size_t(width) * height);
    target.pixels = {target.copy.data(), size_t(width) * 4, width, height};
    if (platform::sdl().ConvertPixels(surface->w, surface->h, surface->format->format, surface->pixels,
                                      surface->pitch, SDL_PIXELFORMAT_ARGB8888, target.copy.data(),
                                      surface->w * 4) == 0)
        return true;
    platform::sdl().UnlockSurface(surface);
    target.locked = nullptr;
    return false;
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

DrawTarget::~DrawTarget()
{
    if (locked != nullptr)
        end_drawing(*this);
}

bool begin_drawing(struct RastPort *rp, DrawTarget &target)
{
    target.pixels = PixelTarget{nullptr, 0, 0, 0};
    target.layer = nullptr;
    target.locked = nullptr;
    if (rp == nullptr)
        return false;
    if (rp->Layer == nullptr)
        return bitmap_pixels(rp->BitMap, target.pixels);
    target.layer = rp->Layer;
    return surface_pixels(rp->Layer->surface, target);
}

void end_drawing(DrawTarget &target)
{
    SDL_Surface *surface = target.locked;
    if (surface != nullptr) {
        if (!target.copy.empty())
            platform::sdl().ConvertPixels(surface->w, surface->h, SDL_PIXELFORMAT_ARGB8888,
                                          target.copy.data(), surface->w * 4, surface->format->format,
                                          surface->pixels, surface->pitch);
        platform::sdl().UnlockSurface(surface);
    }
    if (target.layer != nullptr)
        target.layer->drawn = true;
    target.locked = nullptr;
    target.copy.clear();
}

uint32_t pen_colour(const DrawTarget &target, ULONG pen)
{
    pen &= 0xFF; // a pen is one byte wide, as in the RastPort
    if (target.layer != nullptr && target.layer->colormap != nullptr)
        return target.layer->colormap->Colors[pen] & 0xFFFFFF;
    return pen < 4 ? default_pens[pen] : 0;
}

} // namespace platform

// Nearest-neighbour scaling with alpha blending, straight from the caller's
// pixels into 32-bit 0x??RRGGBB surfaces (what X11 and the offscreen driver
// give a window). Other surface formats go through a 32-bit copy.
//
// Each destination pixel takes the source pixel under its centre (exact
// integer arithmetic, no accumulated step). A source row that is wholly
// opaque is scaled once into a row buffer and copied to every destination
// row that shows it, which keeps an enlarged redraw close to the cost of
// filling the destination.
#include "platform/scaling.h"

#include <cstring>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "platform/cybergraphics.h"
#include "platform/sdl.h"

namespace
{

// Where red, green, blue and alpha lie within one source pixel.
struct Layout {
    unsigned bytes;
    unsigned red, green, blue, alpha; // alpha == bytes: no alpha (opaque)
};

bool layout_of(uint8_t format, Layout &layout)
{
    switch (format) {
    case RECTFMT_ARGB:
        layout = {4, 1, 2, 3, 0};
        return true;
    case RECTFMT_RGBA:
        layout = {4, 0, 1, 2, 3};
        return true;
    case RECTFMT_RGB:
        layout = {3, 0, 1, 2, 3};
        return true;
    }
    return false;
}

// The visible part of the destination rectangle and the source column or
// row that each of its columns and rows shows.
struct Plan {
    int left, top, right, bottom; // visible, in surface coordinates
    std::vector<uint32_t> column; // source x per visible column
};

uint32_t opaque_word(const uint8_t *pixel, const Layout &l)
{
    return 0xFF000000u | uint32_t(pixel[l.red]) << 16 | uint32_t(pixel[l.green]) << 8 | pixel[l.blue];
}

// Rounded (s * a + d * (255 - a)) / 255 for one 8-bit channel.
uint32_t blend_channel(uint32_t s, uint32_t d, uint32_t a)
{
    uint32_t t = s * a + d * (255 - a) + 128;
    return (t + (t >> 8)) >> 8;
}

uint32_t blend_word(const uint8_t *pixel, const Layout &l, uint32_t under)
{
    uint32_t a = pixel[l.alpha];
    if (a == 255)
        return opaque_word(pixel, l);
    if (a == 0)
        return under;
    uint32_t r = blend_channel(pixel[l.red], (under >> 16) & 0xFF, a);
    uint32_t g = blend_channel(pixel[l.green], (under >> 8) & 0xFF, a);
    uint32_t b = blend_channel(pixel[l.blue], under & 0xFF, a);
    uint32_t alpha = a + blend_channel(0, under >> 24, a);
    return alpha << 24 | r << 16 | g << 8 | b;
}

bool row_is_opaque(const uint8_t *row, uint32_t width, const Layout &l)
{
    if (l.alpha == l.bytes)
        return true;
    for (uint32_t x = 0; x < width; ++x)
        if (row[size_t(x) * l.bytes + l.alpha] != 255)
            return false;
    return true;
}

// Copies a row of words; large redraws bypass the cache, as a fill does,
// so that the copies cost what writing the destination costs.
void copy_row(uint32_t *to, const uint32_t *from, size_t count, bool stream)
{
#if defined(__SSE2__)
    if (stream) {
        size_t i = 0;
        for (; i < count && (reinterpret_cast<uintptr_t>(to + i) & 15) != 0; ++i)
            to[i] = from[i];
        for (; i + 4 <= count; i += 4)
            _mm_stream_si128(reinterpret_cast<__m128i *>(to + i),
                             _mm_loadu_si128(reinterpret_cast<const __m128i *>(from + i)));
        for (; i < count; ++i)
            to[i] = from[i];
        return;
    }
#endif
    (void)stream;
    std::memcpy(to, from, count * 4);
}

// One opaque source row scaled into words: the source pixels are turned
// into words once (when there are no more of them than columns), then
// picked per column.
void build_row(uint32_t *out, const uint8_t *row, uint32_t width, const Layout &l, const Plan &plan)
{
    static thread_local std::vector<uint32_t> source_words;
    size_t visible = plan.column.size();
    if (width <= visible) {
        source_words.resize(width);
        for (uint32_t x = 0; x < width; ++x)
            source_words[x] = opaque_word(row + size_t(x) * l.bytes, l);
        const uint32_t *words = source_words.data();
        for (size_t i = 0; i < visible; ++i)
            out[i] = words[plan.column[i]];
    } else {
        for (size_t i = 0; i < visible; ++i)
            out[i] = opaque_word(row + size_t(plan.column[i]) * l.bytes, l);
    }
}

// Draws into a surface whose pixels are 32-bit 0x??RRGGBB words. Opaque
// rows are built once in a buffer and copied to every destination row that
// shows them; rows with alpha are blended pixel by pixel.
long scale_into_words(const platform::PixelSource &source, const Layout &l, SDL_Surface *surface, int y,
                      uint32_t height, const Plan &plan)
{
    static thread_local std::vector<uint32_t> row_words;
    size_t visible = size_t(plan.right - plan.left);
    size_t rows = size_t(plan.bottom - plan.top);
    bool stream = visible * rows * 4 >= (size_t(4) << 20);
    row_words.resize(visible);
    uint8_t *base = static_cast<uint8_t *>(surface->pixels);
    int64_t built = -1; // source row now held in row_words
    for (int dy = plan.top; dy < plan.bottom; ++dy) {
        uint32_t sy = platform::nearest_source(uint32_t(dy - y), height, source.height);
        const uint8_t *row = source.pixels + size_t(sy) * source.modulo;
        uint32_t *out = reinterpret_cast<uint32_t *>(base + size_t(dy) * surface->pitch) + plan.left;
        if (built != sy && row_is_opaque(row, source.width, l)) {
            build_row(row_words.data(), row, source.width, l, plan);
            built = sy;
        }
        if (built == sy) {
            copy_row(out, row_words.data(), visible, stream);
        } else {
            for (size_t i = 0; i < visible; ++i)
                out[i] = blend_word(row + size_t(plan.column[i]) * l.bytes, l, out[i]);
        }
    }
#if defined(__SSE2__)
    if (stream)
        _mm_sfence();
#endif
    return long(visible) * rows;
}

bool has_word_layout(const SDL_Surface *surface)
{
    Uint32 format = surface->format->format;
    return format == SDL_PIXELFORMAT_RGB888 || format == SDL_PIXELFORMAT_ARGB8888;
}

} // namespace

namespace platform
{

long scale_pixels(const PixelSource &source, SDL_Surface *surface, int x, int y, uint32_t width,
                  uint32_t height)
{
    Layout l;
    if (source.pixels == nullptr || surface == nullptr || !layout_of(source.format, l) || source.width == 0 ||
        source.height == 0 || width == 0 || height == 0)
        return 0;
    Plan plan;
    plan.left = x < 0 ? 0 : x;
    plan.top = y < 0 ? 0 : y;
    int64_t right = int64_t(x) + width, bottom = int64_t(y) + height;
    plan.right = int(right < surface->w ? right : surface->w);
    plan.bottom = int(bottom < surface->h ? bottom : surface->h);
    if (plan.left >= plan.right || plan.top >= plan.bottom)
        return 0;
    plan.column.resize(size_t(plan.right - plan.left));
    for (int dx = plan.left; dx < plan.right; ++dx)
        plan.column[size_t(dx - plan.left)] = nearest_source(uint32_t(dx - x), width, source.width);

    if (has_word_layout(surface)) {
        if (platform::sdl().LockSurface(surface) != 0)
            return -1;
        long drawn = scale_into_words(source, l, surface, y, height, plan);
        platform::sdl().UnlockSurface(surface);
        return drawn;
    }
    // Any other format: draw into a 32-bit copy of the visible part and
    // convert it back.
    SDL_Rect area = {plan.left, plan.top, plan.right - plan.left, plan.bottom - plan.top};
    SDL_Surface *copy =
        platform::sdl().CreateRGBSurfaceWithFormat(0, area.w, area.h, 32, SDL_PIXELFORMAT_RGB888);
    if (copy == nullptr)
        return -1;
    long drawn = -1;
    SDL_BlendMode mode = SDL_BLENDMODE_NONE;
    platform::sdl().GetSurfaceBlendMode(surface, &mode);
    platform::sdl().SetSurfaceBlendMode(surface, SDL_BLENDMODE_NONE);
    if (platform::sdl().UpperBlit(surface, &area, copy, nullptr) == 0) {
        Plan shifted = plan;
        shifted.left = shifted.top = 0;
        shifted.right = area.w;
        shifted.bottom = area.h;
        drawn = scale_into_words(source, l, copy, y - area.y, height, shifted);
        SDL_Rect back = area;
        if (platform::sdl().UpperBlit(copy, nullptr, surface, &back) != 0)
            drawn = -1;
    }
    platform::sdl().SetSurfaceBlendMode(surface, mode);
    platform::sdl().FreeSurface(copy);
    return drawn;
}

} // namespace platform

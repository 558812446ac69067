// Filtered scaling with alpha blending, straight from the caller's pixels
// into 32-bit words in memory.
//
// The filter is separable. Each source row that the visible destination
// rows need is scaled across once, into premultiplied pixels of 16 bits per
// channel (0x00AA00RR00GG00BB, 8 significant bits each); a destination row
// is then mixed from one or more of those rows and laid over the target.
// The two most recently scaled rows are kept, which is all that an
// enlargement (two rows per destination row) or an area average (whose
// rows overlap by at most one) asks for again.
//
// Weights are fixed point: a linear step in 1/256, an area share in
// 1/65536, the shares of one destination pixel summing to exactly 65536 so
// that a flat colour stays flat.
#include "platform/scaling.h"

#include <algorithm>
#include <cstring>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "platform/cybergraphics.h"

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

const uint64_t lane_mask = 0x00FF00FF00FF00FFull; // the low byte of each 16-bit channel
const uint64_t lane_half = 0x0080008000800080ull; // 1/2 in each channel, for rounding
const uint64_t pair_mask = 0x0000FFFF0000FFFFull; // two channels in 32-bit lanes
const uint32_t area_one = 65536;

// Rounded x / 255 for x up to 255 * 255.
uint32_t div255(uint32_t x)
{
    x += 128;
    return (x + (x >> 8)) >> 8;
}

// ---------------------------------------------------------------------------
// The visible part of the destination and how each axis samples the source.

struct Visible {
    int left, top, right, bottom; // in target coordinates
};

// For each visible destination pixel of one axis: the first source pixel
// it takes, and either the linear weight of the pixel after it (in 1/256)
// or a run of area shares.
struct Axis {
    bool area = false;
    std::vector<uint32_t> first;
    std::vector<uint32_t> fraction; // linear
    std::vector<uint32_t> start;    // area: pixel i's shares are weights[start[i]..start[i + 1])
    std::vector<uint32_t> weights;  // area
};

// Destination pixel i of n has its centre at (i + 1/2) * size / n in the
// source, that is between source centres first - 1/2 and first + 1/2.
void plan_linear(Axis &axis, uint32_t size, uint32_t n, uint32_t from, uint32_t to)
{
    for (uint32_t i = from; i < to; ++i) {
        int64_t at = (2 * int64_t(i) + 1) * size - n; // (centre - 1/2) * 2n
        uint32_t first = 0, fraction = 0;
        if (at > 0) {
            first = uint32_t(at / (2 * int64_t(n)));
            fraction = uint32_t(((at % (2 * int64_t(n))) * 256 + n) / (2 * int64_t(n)));
            if (fraction == 256) {
                ++first;
                fraction = 0;
            }
        }
        if (first >= size - 1) {
            first = size - 1;
            fraction = 0;
        }
        axis.first.push_back(first);
        axis.fraction.push_back(fraction);
    }
}

// Destination pixel i of n covers [i * size, (i + 1) * size) in units in
// which source pixel j covers [j * n, (j + 1) * n). Each share is rounded
// as a running total, so that the shares add up exactly.
void plan_area(Axis &axis, uint32_t size, uint32_t n, uint32_t from, uint32_t to)
{
    axis.area = true;
    for (uint32_t i = from; i < to; ++i) {
        uint64_t start = uint64_t(i) * size, end = start + size;
        uint32_t first = uint32_t(start / n), last = uint32_t((end - 1) / n);
        axis.first.push_back(first);
        axis.start.push_back(uint32_t(axis.weights.size()));
        uint32_t before = 0;
        for (uint32_t j = first; j <= last; ++j) {
            uint64_t covered = std::min<uint64_t>(end, uint64_t(j + 1) * n) - start;
            uint32_t total = uint32_t((covered * area_one + size / 2) / size);
            axis.weights.push_back(total - before);
            before = total;
        }
    }
    axis.start.push_back(uint32_t(axis.weights.size()));
}

void plan_axis(Axis &axis, uint32_t size, uint32_t n, uint32_t from, uint32_t to)
{
    if (n < size)
        plan_area(axis, size, n, from, to);
    else
        plan_linear(axis, size, n, from, to);
}

// ---------------------------------------------------------------------------
// Scaling across.

// One source row as premultiplied wide pixels, its last pixel repeated once
// beyond it so that a linear step never reads past the row. True when every
// pixel of the row is opaque.
bool expand_row(const uint8_t *row, uint32_t width, const Layout &l, uint64_t *out)
{
    bool opaque = true;
    for (uint32_t x = 0; x < width; ++x, row += l.bytes) {
        uint32_t a = l.alpha == l.bytes ? 255 : row[l.alpha];
        uint32_t r = row[l.red], g = row[l.green], b = row[l.blue];
        if (a != 255) {
            opaque = false;
            r = div255(r * a);
            g = div255(g * a);
            b = div255(b * a);
        }
        out[x] = uint64_t(a) << 48 | uint64_t(r) << 32 | uint64_t(g) << 16 | b;
    }
    out[width] = out[width - 1];
    return opaque;
}

// Each channel's a * (256 - f) + b * f stays below 65536, so one 64-bit
// multiply weighs all four channels at once.
uint64_t mix_wide(uint64_t a, uint64_t b, uint32_t f)
{
    return ((a * (256 - f) + b * f + lane_half) >> 8) & lane_mask;
}

void across_linear(const uint64_t *row, const Axis &axis, uint64_t *out)
{
    size_t n = axis.first.size();
    for (size_t i = 0; i < n; ++i) {
        const uint64_t *at = row + axis.first[i];
        out[i] = mix_wide(at[0], at[1], axis.fraction[i]);
    }
}

// Area sums in two 64-bit words of two 32-bit lanes each: blue and red,
// green and alpha. A lane never exceeds 255 * 65536.
struct Sum {
    uint64_t low = 0, high = 0;
};

void add_weighted(Sum &sum, uint64_t wide, uint32_t weight)
{
    sum.low += (wide & pair_mask) * weight;
    sum.high += ((wide >> 16) & pair_mask) * weight;
}

uint64_t sum_value(const Sum &sum)
{
    const uint64_t half = 0x0000800000008000ull;
    return (((sum.low + half) >> 16) & pair_mask) | (((sum.high + half) >> 16) & pair_mask) << 16;
}

void across_area(const uint64_t *row, const Axis &axis, uint64_t *out)
{
    size_t n = axis.first.size();
    for (size_t i = 0; i < n; ++i) {
        Sum sum;
        const uint64_t *at = row + axis.first[i];
        for (uint32_t k = axis.start[i]; k < axis.start[i + 1]; ++k)
            add_weighted(sum, *at++, axis.weights[k]);
        out[i] = sum_value(sum);
    }
}

// The rows scaled across that the destination rows draw on, two kept.
struct AcrossRows {
    const platform::PixelSource *source;
    const Layout *layout;
    const Axis *axis;
    std::vector<uint64_t> expanded;
    std::vector<uint64_t> rows[2];
    int64_t held[2] = {-1, -1};
    bool opaque[2] = {false, false};
    unsigned recent = 0;
};

struct Row {
    const uint64_t *pixels;
    bool opaque;
};

Row across_row(AcrossRows &cache, uint32_t sy)
{
    for (unsigned slot = 0; slot < 2; ++slot)
        if (cache.held[slot] == sy) {
            cache.recent = slot;
            return {cache.rows[slot].data(), cache.opaque[slot]};
        }
    unsigned slot = cache.recent ^ 1;
    const platform::PixelSource &s = *cache.source;
    cache.opaque[slot] =
        expand_row(s.pixels + size_t(sy) * s.modulo, s.width, *cache.layout, cache.expanded.data());
    if (cache.axis->area)
        across_area(cache.expanded.data(), *cache.axis, cache.rows[slot].data());
    else
        across_linear(cache.expanded.data(), *cache.axis, cache.rows[slot].data());
    cache.held[slot] = sy;
    cache.recent = slot;
    return {cache.rows[slot].data(), cache.opaque[slot]};
}

// ---------------------------------------------------------------------------
// Mixing down and laying the result over the target, four pixels at a time.

typedef uint16_t Wide4 __attribute__((vector_size(32)));
typedef uint8_t Bytes4 __attribute__((vector_size(16)));

// out = a * (256 - f) + b * f, laid over what out holds unless opaque.
template <bool Over>
inline __attribute__((always_inline)) void mix_four(const uint64_t *a, const uint64_t *b, uint16_t f,
                                                    uint32_t *out)
{
    Wide4 va, vb;
    std::memcpy(&va, a, sizeof va);
    std::memcpy(&vb, b, sizeof vb);
    Wide4 pixel = (va * uint16_t(256 - f) + vb * f + 128) >> 8;
    if (Over) {
        Bytes4 under_bytes;
        std::memcpy(&under_bytes, out, sizeof under_bytes);
        Wide4 under = __builtin_convertvector(under_bytes, Wide4);
        Wide4 alpha =
            __builtin_shufflevector(pixel, pixel, 3, 3, 3, 3, 7, 7, 7, 7, 11, 11, 11, 11, 15, 15, 15, 15);
        Wide4 t = under * (255 - alpha) + 128;
        pixel += (t + (t >> 8)) >> 8;
    }
    Bytes4 bytes = __builtin_convertvector(pixel, Bytes4);
    std::memcpy(out, &bytes, sizeof bytes);
}

template <bool Over> void mix_row(const uint64_t *a, const uint64_t *b, uint16_t f, uint32_t *out, size_t n)
{
    size_t i = 0;
    for (; i + 4 <= n; i += 4)
        mix_four<Over>(a + i, b + i, f, out + i);
    if (i == n)
        return;
    // The last one to three pixels through a copy of four.
    uint64_t wa[4] = {}, wb[4] = {};
    uint32_t words[4] = {};
    std::memcpy(wa, a + i, (n - i) * 8);
    std::memcpy(wb, b + i, (n - i) * 8);
    std::memcpy(words, out + i, (n - i) * 4);
    mix_four<Over>(wa, wb, f, words);
    std::memcpy(out + i, words, (n - i) * 4);
}

void put_row(const uint64_t *a, const uint64_t *b, uint32_t f, bool opaque, uint32_t *out, size_t n)
{
    if (opaque)
        mix_row<false>(a, b, uint16_t(f), out, n);
    else
        mix_row<true>(a, b, uint16_t(f), out, n);
}

// ---------------------------------------------------------------------------
// The whole draw.

// Where visible destination row k lies in the target.
uint32_t *target_row(const platform::PixelTarget &target, const Visible &v, int k)
{
    return reinterpret_cast<uint32_t *>(reinterpret_cast<uint8_t *>(target.words) +
                                        size_t(v.top + k) * target.pitch) +
           v.left;
}

void draw_linear_down(AcrossRows &cache, const Axis &down, const platform::PixelTarget &target,
                      const Visible &v)
{
    size_t n = size_t(v.right - v.left);
    for (size_t k = 0; k < down.first.size(); ++k) {
        uint32_t f = down.fraction[k];
        Row a = across_row(cache, down.first[k]);
        Row b = f != 0 ? across_row(cache, down.first[k] + 1) : a;
        put_row(a.pixels, b.pixels, f, a.opaque && b.opaque, target_row(target, v, int(k)), n);
    }
}

void draw_area_down(AcrossRows &cache, const Axis &down, const platform::PixelTarget &target,
                    const Visible &v)
{
    size_t n = size_t(v.right - v.left);
    std::vector<Sum> sums(n);
    std::vector<uint64_t> mixed(n);
    for (size_t k = 0; k < down.first.size(); ++k) {
        std::fill(sums.begin(), sums.end(), Sum());
        bool opaque = true;
        uint32_t sy = down.first[k];
        for (uint32_t w = down.start[k]; w < down.start[k + 1]; ++w) {
            Row row = across_row(cache, sy++);
            opaque = opaque && row.opaque;
            for (size_t i = 0; i < n; ++i)
                add_weighted(sums[i], row.pixels[i], down.weights[w]);
        }
        for (size_t i = 0; i < n; ++i)
            mixed[i] = sum_value(sums[i]);
        put_row(mixed.data(), mixed.data(), 0, opaque, target_row(target, v, int(k)), n);
    }
}

// Rounded (s * a + d * (255 - a)) / 255 for one 8-bit channel.
uint32_t blend_channel(uint32_t s, uint32_t d, uint32_t a)
{
    return div255(s * a + d * (255 - a));
}

uint32_t blend_word(const uint8_t *pixel, const Layout &l, uint32_t under)
{
    uint32_t a = l.alpha == l.bytes ? 255 : pixel[l.alpha];
    uint32_t r = pixel[l.red], g = pixel[l.green], b = pixel[l.blue];
    if (a == 255)
        return 0xFF000000u | r << 16 | g << 8 | b;
    if (a == 0)
        return under;
    r = blend_channel(r, (under >> 16) & 0xFF, a);
    g = blend_channel(g, (under >> 8) & 0xFF, a);
    b = blend_channel(b, under & 0xFF, a);
    uint32_t alpha = a + blend_channel(0, under >> 24, a);
    return alpha << 24 | r << 16 | g << 8 | b;
}

// 1:1: each pixel straight from the source, blended with one rounding.
void draw_unscaled(const platform::PixelSource &source, const Layout &l, const platform::PixelTarget &target,
                   const Visible &v, int x, int y)
{
    for (int dy = v.top; dy < v.bottom; ++dy) {
        const uint8_t *pixel = source.pixels + size_t(dy - y) * source.modulo + size_t(v.left - x) * l.bytes;
        uint32_t *out = target_row(target, v, dy - v.top);
        for (int dx = v.left; dx < v.right; ++dx, pixel += l.bytes, ++out)
            *out = blend_word(pixel, l, *out);
    }
}

void draw_scaled(const platform::PixelSource &source, const Layout &l, const platform::PixelTarget &target,
                 const Visible &v, int x, int y, uint32_t width, uint32_t height)
{
    Axis across, down;
    plan_axis(across, source.width, width, uint32_t(v.left - x), uint32_t(v.right - x));
    plan_axis(down, source.height, height, uint32_t(v.top - y), uint32_t(v.bottom - y));
    AcrossRows cache;
    cache.source = &source;
    cache.layout = &l;
    cache.axis = &across;
    cache.expanded.resize(size_t(source.width) + 1);
    for (std::vector<uint64_t> &row : cache.rows)
        row.resize(size_t(v.right - v.left));
    if (down.area)
        draw_area_down(cache, down, target, v);
    else
        draw_linear_down(cache, down, target, v);
}

// Writes of a large fill bypass the cache.
void fill_row(uint32_t *to, size_t count, uint32_t word, bool stream)
{
    size_t i = 0;
#if defined(__SSE2__)
    if (stream) {
        for (; i < count && (reinterpret_cast<uintptr_t>(to + i) & 15) != 0; ++i)
            to[i] = word;
        __m128i four = _mm_set1_epi32(int(word));
        for (; i + 4 <= count; i += 4)
            _mm_stream_si128(reinterpret_cast<__m128i *>(to + i), four);
    }
#endif
    (void)stream;
    std::fill(to + i, to + count, word);
}

} // namespace

namespace platform
{

long scale_pixels(const PixelSource &source, const PixelTarget &target, int x, int y, uint32_t width,
                  uint32_t height)
{
    Layout l;
    if (source.pixels == nullptr || target.words == nullptr || !layout_of(source.format, l) ||
        source.width == 0 || source.height == 0 || width == 0 || height == 0)
        return 0;
    int64_t right = int64_t(x) + width, bottom = int64_t(y) + height;
    Visible v = {std::max(x, 0), std::max(y, 0), int(std::min<int64_t>(right, target.width)),
                 int(std::min<int64_t>(bottom, target.height))};
    if (v.left >= v.right || v.top >= v.bottom)
        return 0;
    if (width == source.width && height == source.height)
        draw_unscaled(source, l, target, v, x, y);
    else
        draw_scaled(source, l, target, v, x, y, width, height);
    return long(v.right - v.left) * (v.bottom - v.top);
}

void fill_pixels(const PixelTarget &target, uint32_t word)
{
    bool stream = size_t(target.width) * target.height * 4 >= (size_t(4) << 20);
    uint8_t *row = reinterpret_cast<uint8_t *>(target.words);
    for (uint32_t y = 0; y < target.height; ++y, row += target.pitch)
        fill_row(reinterpret_cast<uint32_t *>(row), target.width, word, stream);
#if defined(__SSE2__)
    if (stream)
        _mm_sfence();
#endif
}

} // namespace platform

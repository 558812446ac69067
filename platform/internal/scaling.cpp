// Filtered scaling with alpha blending, straight from the caller's pixels
// into 32-bit words in memory.
//
// The filter is separable. Each source row that the visible destination
// rows need is premultiplied and scaled across once, into a row of words
// 0xAARRGGBB; a destination row is then mixed from one or more of those
// rows and laid over the target. The two most recently scaled rows are
// kept, which is all that an enlargement (two rows per destination row) or
// an area average (whose rows overlap by at most one) asks for again.
//
// Weights are fixed point: a linear step in 1/128, rounded once,
// (a * (128 - f) + b * f + 64) / 128; an area share in 1/65536, the shares
// of one destination pixel summing to exactly 65536 so that a flat colour
// stays flat. Processors with AVX2 run the two linear steps and the laying
// over eight pixels at a time, with the same arithmetic and results.
#include "platform/internal/scaling.h"

#include <algorithm>
#include <cstring>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__x86_64__) && defined(__GNUC__)
#define QUILLPEEK_AVX2 1
#include <immintrin.h>
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

const uint32_t linear_one = 128;
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
// it takes, and either the linear weight of the pixel after it or a run of
// area shares.
struct Axis {
    bool area = false;
    std::vector<uint32_t> first;
    std::vector<uint32_t> fraction; // linear, in 1/128
    std::vector<uint32_t> start;    // area: pixel i's shares are weights[start[i]..start[i + 1])
    std::vector<uint32_t> weights;  // area, in 1/65536
};

// Destination pixel i of n has its centre at (i + 1/2) * size / n in the
// source, that is between source centres first + 1/2 and first + 3/2.
void plan_linear(Axis &axis, uint32_t size, uint32_t n, uint32_t from, uint32_t to)
{
    int64_t twice_n = 2 * int64_t(n);
    for (uint32_t i = from; i < to; ++i) {
        int64_t at = (2 * int64_t(i) + 1) * size - n; // (centre - 1/2) * 2n
        uint32_t first = 0, fraction = 0;
        if (at > 0) {
            first = uint32_t(at / twice_n);
            fraction = uint32_t(((at % twice_n) * linear_one + n) / twice_n);
            if (fraction == linear_one) {
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
// One pixel at a time.

// a * (128 - f) + b * f on each channel, rounded; two channels per 16-bit
// half of a word never carry into each other.
uint32_t mix_word(uint32_t a, uint32_t b, uint32_t f)
{
    uint32_t g = linear_one - f;
    uint32_t rb = ((a & 0xFF00FF) * g + (b & 0xFF00FF) * f + 0x400040) >> 7;
    uint32_t ag = (((a >> 8) & 0xFF00FF) * g + ((b >> 8) & 0xFF00FF) * f + 0x400040) >> 7;
    return (rb & 0xFF00FF) | (ag & 0xFF00FF) << 8;
}

// A premultiplied pixel over what lies beneath, on every channel.
uint32_t over_word(uint32_t pixel, uint32_t under)
{
    uint32_t keep = 255 - (pixel >> 24), out = 0;
    for (int shift = 0; shift < 32; shift += 8) {
        uint32_t c = ((pixel >> shift) & 0xFF) + div255(((under >> shift) & 0xFF) * keep);
        out |= std::min<uint32_t>(c, 255) << shift;
    }
    return out;
}

void across_linear_words(const uint32_t *row, const Axis &axis, uint32_t *out, size_t from, size_t n)
{
    for (size_t i = from; i < n; ++i) {
        const uint32_t *at = row + axis.first[i];
        out[i] = mix_word(at[0], at[1], axis.fraction[i]);
    }
}

void down_linear_words(const uint32_t *a, const uint32_t *b, uint32_t f, bool opaque, uint32_t *out,
                       size_t from, size_t to)
{
    for (size_t i = from; i < to; ++i) {
        uint32_t pixel = mix_word(a[i], b[i], f);
        out[i] = opaque ? pixel : over_word(pixel, out[i]);
    }
}

// Area sums of one pixel, a 32-bit lane per channel; a lane never exceeds
// 255 * 65536.
typedef uint32_t Sum __attribute__((vector_size(16)));
typedef uint8_t Channels __attribute__((vector_size(4)));

inline __attribute__((always_inline)) Sum channels_of(uint32_t word)
{
    Channels c;
    std::memcpy(&c, &word, sizeof c);
    return __builtin_convertvector(c, Sum);
}

inline __attribute__((always_inline)) uint32_t sum_value(Sum sum)
{
    Channels c = __builtin_convertvector((sum + area_one / 2) >> 16, Channels);
    uint32_t word;
    std::memcpy(&word, &c, sizeof word);
    return word;
}

inline __attribute__((always_inline)) void across_area_body(const uint32_t *row, const Axis &axis,
                                                            uint32_t *out)
{
    size_t n = axis.first.size();
    for (size_t i = 0; i < n; ++i) {
        Sum sum = {0, 0, 0, 0};
        const uint32_t *at = row + axis.first[i];
        for (uint32_t k = axis.start[i]; k < axis.start[i + 1]; ++k)
            sum += channels_of(*at++) * axis.weights[k];
        out[i] = sum_value(sum);
    }
}

inline __attribute__((always_inline)) void add_row_body(Sum *sums, const uint32_t *row, uint32_t weight,
                                                        size_t n)
{
    for (size_t i = 0; i < n; ++i)
        sums[i] += channels_of(row[i]) * weight;
}

void across_area_words(const uint32_t *row, const Axis &axis, uint32_t *out)
{
    across_area_body(row, axis, out);
}

void add_row_words(Sum *sums, const uint32_t *row, uint32_t weight, size_t n)
{
    add_row_body(sums, row, weight, n);
}

// ---------------------------------------------------------------------------
// Eight pixels at a time, on processors with AVX2. The bytes of a pixel are
// weighed with one multiply-add of unsigned weights and signed values, the
// values offset by -128 and the offset taken off again after the sum.

bool simd_allowed = true;

#if defined(QUILLPEEK_AVX2)

bool has_avx2()
{
    static const bool present = [] {
        __builtin_cpu_init();
        return __builtin_cpu_supports("avx2") != 0;
    }();
    return present;
}

// The weights (128 - f, f) of one column, repeated for its four channels.
uint64_t column_weights(uint32_t f)
{
    return uint64_t((linear_one - f) | f << 8) * 0x0001000100010001ull;
}

// Columns in the order the kernel takes them: of each eight, 0 1 4 5 2 3 6 7.
std::vector<uint64_t> kernel_weights(const Axis &axis)
{
    static const unsigned order[8] = {0, 1, 4, 5, 2, 3, 6, 7};
    size_t n = axis.fraction.size() / 8 * 8;
    std::vector<uint64_t> weights(n);
    for (size_t i = 0; i < n; ++i)
        weights[i] = column_weights(axis.fraction[i - i % 8 + order[i % 8]]);
    return weights;
}

inline __attribute__((target("avx2"), always_inline)) __m256i weigh(__m256i values, __m256i weights)
{
    __m256i offset = _mm256_set1_epi8(char(0x80));
    __m256i sum = _mm256_maddubs_epi16(weights, _mm256_xor_si256(values, offset));
    return _mm256_srli_epi16(_mm256_add_epi16(sum, _mm256_set1_epi16(128 * 128 + 64)), 7);
}

// The pairs of source pixels of four columns, two per half.
inline __attribute__((target("avx2"), always_inline)) __m256i
pairs_at(const uint32_t *row, const uint32_t *first, size_t a, size_t b, size_t c, size_t d)
{
    __m128i low = _mm_loadl_epi64(reinterpret_cast<const __m128i *>(row + first[a]));
    __m128i high = _mm_loadl_epi64(reinterpret_cast<const __m128i *>(row + first[c]));
    low = _mm_unpacklo_epi64(low, _mm_loadl_epi64(reinterpret_cast<const __m128i *>(row + first[b])));
    high = _mm_unpacklo_epi64(high, _mm_loadl_epi64(reinterpret_cast<const __m128i *>(row + first[d])));
    return _mm256_inserti128_si256(_mm256_castsi128_si256(low), high, 1);
}

// Returns how many columns it did (a multiple of eight).
__attribute__((target("avx2"))) size_t across_linear_avx2(const uint32_t *row, const uint32_t *first,
                                                          const uint64_t *weights, uint32_t *out, size_t n)
{
    const __m256i pair_channels = _mm256_setr_epi8(0, 4, 1, 5, 2, 6, 3, 7, 8, 12, 9, 13, 10, 14, 11, 15, 0, 4,
                                                   1, 5, 2, 6, 3, 7, 8, 12, 9, 13, 10, 14, 11, 15);
    size_t i = 0;
    for (; i + 8 <= n; i += 8) {
        __m256i near = _mm256_shuffle_epi8(pairs_at(row, first, i, i + 1, i + 4, i + 5), pair_channels);
        __m256i far = _mm256_shuffle_epi8(pairs_at(row, first, i + 2, i + 3, i + 6, i + 7), pair_channels);
        near = weigh(near, _mm256_loadu_si256(reinterpret_cast<const __m256i *>(weights + i)));
        far = weigh(far, _mm256_loadu_si256(reinterpret_cast<const __m256i *>(weights + i + 4)));
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(out + i), _mm256_packus_epi16(near, far));
    }
    return i;
}

// The area shares of each column in pairs, each share repeated for the four
// channels of its pixel; a column of an odd number of shares ends its last
// pair with a share of 0 (on the pixel after it, which the expanded row
// always holds).
void pair_area_weights(const Axis &axis, std::vector<uint32_t> &weights, std::vector<uint32_t> &start)
{
    for (size_t i = 0; i + 1 < axis.start.size(); ++i) {
        start.push_back(uint32_t(weights.size() / 8));
        for (uint32_t k = axis.start[i]; k < axis.start[i + 1]; k += 2) {
            uint32_t a = axis.weights[k], b = k + 1 < axis.start[i + 1] ? axis.weights[k + 1] : 0;
            weights.insert(weights.end(), {a, a, a, a, b, b, b, b});
        }
    }
    start.push_back(uint32_t(weights.size() / 8));
}

// Two source pixels of a column per step, their sums added at the end: the
// same integer sums as one pixel at a time.
__attribute__((target("avx2"))) void across_area_avx2(const uint32_t *row, const Axis &axis,
                                                      const uint32_t *pair_weights,
                                                      const uint32_t *pair_start, uint32_t *out)
{
    size_t n = axis.first.size();
    for (size_t i = 0; i < n; ++i) {
        __m256i sum = _mm256_setzero_si256();
        const uint32_t *at = row + axis.first[i];
        for (uint32_t p = pair_start[i]; p < pair_start[i + 1]; ++p, at += 2) {
            __m256i two = _mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i *>(at)));
            __m256i w = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(pair_weights + 8 * size_t(p)));
            sum = _mm256_add_epi32(sum, _mm256_mullo_epi32(two, w));
        }
        __m128i total = _mm_add_epi32(_mm256_castsi256_si128(sum), _mm256_extracti128_si256(sum, 1));
        total = _mm_srli_epi32(_mm_add_epi32(total, _mm_set1_epi32(int(area_one / 2))), 16);
        total = _mm_packus_epi16(_mm_packus_epi32(total, total), total);
        out[i] = uint32_t(_mm_cvtsi128_si32(total));
    }
}

// Opaque A, R, G, B pixels as words, eight at a time; returns how many it
// did, stopping before the first eight that are not all opaque.
__attribute__((target("avx2"))) uint32_t opaque_argb_avx2(const uint8_t *pixels, uint32_t width,
                                                          uint32_t *out)
{
    const __m256i reverse = _mm256_setr_epi8(3, 2, 1, 0, 7, 6, 5, 4, 11, 10, 9, 8, 15, 14, 13, 12, 3, 2, 1, 0,
                                             7, 6, 5, 4, 11, 10, 9, 8, 15, 14, 13, 12);
    const __m256i opaque = _mm256_set1_epi8(char(0xFF));
    uint32_t x = 0;
    for (; x + 8 <= width; x += 8) {
        __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(pixels + size_t(x) * 4));
        unsigned alphas = unsigned(_mm256_movemask_epi8(_mm256_cmpeq_epi8(v, opaque))) & 0x11111111u;
        if (alphas != 0x11111111u)
            break;
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(out + x), _mm256_shuffle_epi8(v, reverse));
    }
    return x;
}

// Two pixels' sums at a time.
__attribute__((target("avx2"))) void add_row_avx2(Sum *sums, const uint32_t *row, uint32_t weight, size_t n)
{
    __m256i w = _mm256_set1_epi32(int(weight));
    size_t i = 0;
    for (; i + 2 <= n; i += 2) {
        __m256i pixels = _mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i *>(row + i)));
        __m256i *at = reinterpret_cast<__m256i *>(sums + i);
        _mm256_storeu_si256(at, _mm256_add_epi32(_mm256_loadu_si256(at), _mm256_mullo_epi32(pixels, w)));
    }
    add_row_body(sums + i, row + i, weight, n - i);
}

// pixel + under * (255 - alpha) / 255 on 16-bit channels of two pixels per
// half; (t * 257) >> 16 with t = x + 128 is x / 255 rounded, exactly.
inline __attribute__((target("avx2"), always_inline)) __m256i over_avx2(__m256i pixel, __m256i under)
{
    __m256i alpha = _mm256_shufflehi_epi16(_mm256_shufflelo_epi16(pixel, 0xFF), 0xFF);
    __m256i keep = _mm256_sub_epi16(_mm256_set1_epi16(255), alpha);
    __m256i t = _mm256_add_epi16(_mm256_mullo_epi16(under, keep), _mm256_set1_epi16(128));
    return _mm256_add_epi16(pixel, _mm256_mulhi_epu16(t, _mm256_set1_epi16(257)));
}

// Pixels [from, to) of a destination row, from % 8 == to % 8; stores bypass
// the cache when stream is set (out + from then 32-byte aligned).
__attribute__((target("avx2"))) void down_linear_avx2(const uint32_t *a, const uint32_t *b, uint32_t f,
                                                      bool opaque, bool stream, uint32_t *out, size_t from,
                                                      size_t to)
{
    __m256i weights = _mm256_set1_epi16(short((linear_one - f) | f << 8));
    __m256i zero = _mm256_setzero_si256();
    for (size_t i = from; i < to; i += 8) {
        __m256i va = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(a + i));
        __m256i vb = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(b + i));
        __m256i low = weigh(_mm256_unpacklo_epi8(va, vb), weights);
        __m256i high = weigh(_mm256_unpackhi_epi8(va, vb), weights);
        __m256i *at = reinterpret_cast<__m256i *>(out + i);
        if (!opaque) {
            // What lies beneath is read a little ahead: a blended row is
            // bound by reading the window's pixels, not by the arithmetic.
            _mm_prefetch(reinterpret_cast<const char *>(at) + 1024, _MM_HINT_T0);
            __m256i under = _mm256_loadu_si256(at);
            low = over_avx2(low, _mm256_unpacklo_epi8(under, zero));
            high = over_avx2(high, _mm256_unpackhi_epi8(under, zero));
        }
        __m256i pixel = _mm256_packus_epi16(low, high);
        if (stream)
            _mm256_stream_si256(at, pixel);
        else
            _mm256_storeu_si256(at, pixel);
    }
}

#endif

[[maybe_unused]] bool use_simd()
{
#if defined(QUILLPEEK_AVX2)
    return simd_allowed && has_avx2();
#else
    return false;
#endif
}

// ---------------------------------------------------------------------------
// Scaling across.

// Four A, R, G, B pixels as words, when all four are opaque.
bool opaque_argb_four(const uint8_t *pixels, uint32_t *out)
{
#if __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    typedef uint32_t Words __attribute__((vector_size(16)));
    Words w;
    std::memcpy(&w, pixels, sizeof w);
    if ((w[0] & w[1] & w[2] & w[3] & 0xFF) != 0xFF)
        return false;
    w = w << 24 | (w << 8 & 0xFF0000u) | (w >> 8 & 0xFF00u) | w >> 24;
    std::memcpy(out, &w, sizeof w);
    return true;
#else
    (void)pixels;
    (void)out;
    return false;
#endif
}

uint32_t premultiplied_word(const uint8_t *pixel, const Layout &l)
{
    uint32_t a = l.alpha == l.bytes ? 255 : pixel[l.alpha];
    uint32_t r = pixel[l.red], g = pixel[l.green], b = pixel[l.blue];
    if (a != 255) {
        r = div255(r * a);
        g = div255(g * a);
        b = div255(b * a);
    }
    return a << 24 | r << 16 | g << 8 | b;
}

// One source row as premultiplied words, its last pixel repeated once beyond
// it so that a linear step never reads past the row. True when every pixel
// of the row is opaque.
bool expand_row(const uint8_t *row, uint32_t width, const Layout &l, uint32_t *out)
{
    uint32_t x = 0;
    if (l.bytes == 4 && l.alpha == 0) {
#if defined(QUILLPEEK_AVX2)
        if (use_simd())
            x = opaque_argb_avx2(row, width, out);
#endif
        while (x + 4 <= width && opaque_argb_four(row + size_t(x) * 4, out + x))
            x += 4;
    }
    uint32_t alpha = 0xFF000000u;
    for (; x < width; ++x) {
        out[x] = premultiplied_word(row + size_t(x) * l.bytes, l);
        alpha &= out[x];
    }
    out[width] = out[width - 1];
    return alpha == 0xFF000000u;
}

// The rows scaled across that the destination rows draw on, two kept.
struct AcrossRows {
    const platform::PixelSource *source;
    const Layout *layout;
    const Axis *axis;
    std::vector<uint64_t> kernel_weights;              // empty: one column at a time
    std::vector<uint32_t> area_pairs, area_pair_start; // empty: one pixel at a time
    std::vector<uint32_t> expanded;
    std::vector<uint32_t> rows[2];
    int64_t held[2] = {-1, -1};
    bool opaque[2] = {false, false};
    unsigned recent = 0;
};

struct Row {
    const uint32_t *pixels;
    bool opaque;
};

void scale_across(AcrossRows &cache, uint32_t *out)
{
    const uint32_t *row = cache.expanded.data();
    if (cache.axis->area) {
#if defined(QUILLPEEK_AVX2)
        if (!cache.area_pair_start.empty()) {
            across_area_avx2(row, *cache.axis, cache.area_pairs.data(), cache.area_pair_start.data(), out);
            return;
        }
#endif
        across_area_words(row, *cache.axis, out);
        return;
    }
    size_t done = 0, n = cache.axis->first.size();
#if defined(QUILLPEEK_AVX2)
    if (!cache.kernel_weights.empty())
        done = across_linear_avx2(row, cache.axis->first.data(), cache.kernel_weights.data(), out, n);
#endif
    across_linear_words(row, *cache.axis, out, done, n);
}

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
    scale_across(cache, cache.rows[slot].data());
    cache.held[slot] = sy;
    cache.recent = slot;
    return {cache.rows[slot].data(), cache.opaque[slot]};
}

// ---------------------------------------------------------------------------
// Mixing down and laying the result over the target.

// Rows of a large draw are written past the cache, as a large fill is.
struct Output {
    bool stream;
};

void put_row(const uint32_t *a, const uint32_t *b, uint32_t f, bool opaque, const Output &output,
             uint32_t *out, size_t n)
{
    size_t from = 0, to = 0;
#if defined(QUILLPEEK_AVX2)
    if (use_simd()) {
        bool stream = output.stream;
        if (stream)
            from = std::min(n, ((32 - reinterpret_cast<uintptr_t>(out) % 32) % 32) / 4);
        to = from + (n - from) / 8 * 8;
        down_linear_words(a, b, f, opaque, out, 0, from);
        down_linear_avx2(a, b, f, opaque, stream, out, from, to);
    }
#endif
    (void)output;
    down_linear_words(a, b, f, opaque, out, to, n);
}

// Where visible destination row k lies in the target.
uint32_t *target_row(const platform::PixelTarget &target, const Visible &v, size_t k)
{
    return reinterpret_cast<uint32_t *>(reinterpret_cast<uint8_t *>(target.words) +
                                        (size_t(v.top) + k) * target.pitch) +
           v.left;
}

void draw_linear_down(AcrossRows &cache, const Axis &down, const platform::PixelTarget &target,
                      const Visible &v, const Output &output)
{
    size_t n = size_t(v.right - v.left);
    for (size_t k = 0; k < down.first.size(); ++k) {
        uint32_t f = down.fraction[k];
        Row a = across_row(cache, down.first[k]);
        Row b = f != 0 ? across_row(cache, down.first[k] + 1) : a;
        put_row(a.pixels, b.pixels, f, a.opaque && b.opaque, output, target_row(target, v, k), n);
    }
}

void draw_area_down(AcrossRows &cache, const Axis &down, const platform::PixelTarget &target,
                    const Visible &v, const Output &output)
{
    size_t n = size_t(v.right - v.left);
    std::vector<Sum> sums(n);
    void (*add_row)(Sum *, const uint32_t *, uint32_t, size_t) = add_row_words;
#if defined(QUILLPEEK_AVX2)
    if (use_simd())
        add_row = add_row_avx2;
#endif
    std::vector<uint32_t> mixed(n);
    for (size_t k = 0; k < down.first.size(); ++k) {
        std::fill(sums.begin(), sums.end(), Sum{0, 0, 0, 0});
        bool opaque = true;
        uint32_t sy = down.first[k];
        for (uint32_t w = down.start[k]; w < down.start[k + 1]; ++w) {
            Row row = across_row(cache, sy++);
            opaque = opaque && row.opaque;
            add_row(sums.data(), row.pixels, down.weights[w], n);
        }
        for (size_t i = 0; i < n; ++i)
            mixed[i] = sum_value(sums[i]);
        put_row(mixed.data(), mixed.data(), 0, opaque, output, target_row(target, v, k), n);
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
#if defined(QUILLPEEK_AVX2)
    if (!across.area && use_simd())
        cache.kernel_weights = kernel_weights(across);
    if (across.area && use_simd())
        pair_area_weights(across, cache.area_pairs, cache.area_pair_start);
#endif
    cache.expanded.resize(size_t(source.width) + 1);
    for (std::vector<uint32_t> &row : cache.rows)
        row.resize(size_t(v.right - v.left));
    Output output = {size_t(v.right - v.left) * size_t(v.bottom - v.top) * 4 >= (size_t(4) << 20)};
    if (down.area)
        draw_area_down(cache, down, target, v, output);
    else
        draw_linear_down(cache, down, target, v, output);
#if defined(QUILLPEEK_AVX2)
    if (output.stream)
        _mm_sfence();
#endif
}

// ---------------------------------------------------------------------------
// 1:1: each pixel straight from the source, blended with one rounding.

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

void draw_unscaled(const platform::PixelSource &source, const Layout &l, const platform::PixelTarget &target,
                   const Visible &v, int x, int y)
{
    for (int dy = v.top; dy < v.bottom; ++dy) {
        const uint8_t *pixel = source.pixels + size_t(dy - y) * source.modulo + size_t(v.left - x) * l.bytes;
        uint32_t *out = target_row(target, v, size_t(dy - v.top));
        for (int dx = v.left; dx < v.right; ++dx, pixel += l.bytes, ++out)
            *out = blend_word(pixel, l, *out);
    }
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

void scaling_allow_simd(bool allowed)
{
    simd_allowed = allowed;
}

} // namespace platform

#include "reference_scale.h"

#include <pixman.h>

#include <algorithm>
#include <cstdlib>

namespace testing_support
{

namespace
{

struct Image {
    uint32_t width, height;
    std::vector<uint32_t> words; // premultiplied a8r8g8b8
    pixman_image_t *image;
    Image(uint32_t w, uint32_t h, std::vector<uint32_t> pixels)
        : width(w), height(h), words(std::move(pixels)),
          image(pixman_image_create_bits(PIXMAN_a8r8g8b8, int(w), int(h), words.data(), int(w * 4)))
    {
    }
    ~Image() { pixman_image_unref(image); }
    Image(const Image &) = delete;
    Image &operator=(const Image &) = delete;
};

uint32_t premultiplied(uint32_t word)
{
    uint32_t a = word >> 24, out = a << 24;
    for (int shift = 0; shift < 24; shift += 8)
        out |= (((word >> shift) & 0xFF) * a + 127) / 255 << shift;
    return out;
}

// Sets the filter of one pass: along x when horizontal, else along y; the
// other axis keeps its pixels (a box of one pixel, sampled at its centre).
void set_filter(pixman_image_t *image, bool horizontal, uint32_t from, uint32_t to)
{
    bool shrink = to < from;
    pixman_kernel_t reconstruct = shrink ? PIXMAN_KERNEL_BOX : PIXMAN_KERNEL_LINEAR;
    pixman_kernel_t sample = shrink ? PIXMAN_KERNEL_BOX : PIXMAN_KERNEL_IMPULSE;
    pixman_fixed_t scale = shrink ? pixman_double_to_fixed(double(from) / to) : pixman_fixed_1;
    int n = 0;
    pixman_fixed_t *params =
        horizontal
            ? pixman_filter_create_separable_convolution(&n, scale, pixman_fixed_1, reconstruct,
                                                         PIXMAN_KERNEL_BOX, sample, PIXMAN_KERNEL_IMPULSE, 8,
                                                         0)
            : pixman_filter_create_separable_convolution(&n, pixman_fixed_1, scale, PIXMAN_KERNEL_BOX,
                                                         reconstruct, PIXMAN_KERNEL_IMPULSE, sample, 0, 8);
    pixman_image_set_filter(image, PIXMAN_FILTER_SEPARABLE_CONVOLUTION, params, n);
    free(params);
}

// A view of part of an image: columns [x, x + width), rows [y, y + height).
pixman_image_t *part_of(const Image &image, uint32_t x, uint32_t y, uint32_t width, uint32_t height)
{
    uint32_t *first = const_cast<uint32_t *>(image.words.data()) + size_t(y) * image.width + x;
    return pixman_image_create_bits(PIXMAN_a8r8g8b8, int(width), int(height), first, int(image.width * 4));
}

// One axis of the scaling, composited with op into to: the source
// position of a destination pixel centre is (x + 1/2) * from / to. The
// transform's scale is fixed point, so it is drawn in strips of 64 pixels,
// each from its own exact start, lest the scale's rounding add up along a
// row; and pixman's regions are 16-bit, so each strip reads only the part
// of the source it needs, in bands of at most 8192 along the other axis.
void pass(const Image &from, Image &to, bool horizontal, pixman_op_t op)
{
    uint32_t source = horizontal ? from.width : from.height, target = horizontal ? to.width : to.height;
    uint32_t other = horizontal ? to.height : to.width, step = source == target ? 8192 : 64;
    for (uint32_t band = 0; band < other; band += 8192)
        for (uint32_t start = 0; start < target; start += step) {
            uint32_t length = std::min(step, target - start), across = std::min<uint32_t>(8192, other - band);
            uint64_t low = uint64_t(start) * source / target,
                     high = uint64_t(start + length) * source / target;
            uint32_t lo = uint32_t(low < 2 ? 0 : low - 2),
                     hi = uint32_t(std::min<uint64_t>(source, high + 3));
            pixman_image_t *part = horizontal ? part_of(from, lo, band, hi - lo, across)
                                              : part_of(from, band, lo, across, hi - lo);
            if (source != target) {
                pixman_image_set_repeat(part, PIXMAN_REPEAT_PAD);
                set_filter(part, horizontal, source, target);
                pixman_transform_t transform;
                pixman_transform_init_identity(&transform);
                int axis = horizontal ? 0 : 1;
                transform.matrix[axis][axis] = pixman_double_to_fixed(double(source) / target);
                transform.matrix[axis][2] = pixman_double_to_fixed(double(source) * start / target - lo);
                pixman_image_set_transform(part, &transform);
            }
            int x = int(horizontal ? start : band), y = int(horizontal ? band : start);
            // A copy reads from its own place in the part; a transform says where.
            int copy = source == target;
            pixman_image_composite32(op, part, nullptr, to.image, copy * (x - int(horizontal ? lo : band)),
                                     copy * (y - int(horizontal ? band : lo)), 0, 0, x, y,
                                     int(horizontal ? length : across), int(horizontal ? across : length));
            pixman_image_unref(part);
        }
}

} // namespace

std::vector<uint32_t> reference_scale(const std::vector<uint32_t> &argb, uint32_t picture_width,
                                      uint32_t picture_height, uint32_t width, uint32_t height,
                                      uint32_t background)
{
    std::vector<uint32_t> words(argb.size());
    std::transform(argb.begin(), argb.end(), words.begin(), premultiplied);
    Image picture(picture_width, picture_height, words);
    Image across(width, picture_height, std::vector<uint32_t>(size_t(width) * picture_height));
    Image view(width, height, std::vector<uint32_t>(size_t(width) * height, 0xFF000000u | background));
    pass(picture, across, true, PIXMAN_OP_SRC);
    pass(across, view, false, PIXMAN_OP_OVER);
    for (uint32_t &word : view.words)
        word &= 0xFFFFFF;
    return view.words;
}

int largest_difference(const std::vector<uint32_t> &a, const std::vector<uint32_t> &b)
{
    int largest = a.size() == b.size() ? 0 : 256;
    for (size_t i = 0; i < a.size() && i < b.size(); ++i)
        for (int shift = 0; shift < 24; shift += 8)
            largest = std::max(largest, std::abs(int((a[i] >> shift) & 0xFF) - int((b[i] >> shift) & 0xFF)));
    return largest;
}

} // namespace testing_support

// The reference that scaled drawings are compared against: pixman, the
// rasteriser of the X server and cairo.
#ifndef QUILLPEEK_TESTS_REFERENCE_SCALE_H
#define QUILLPEEK_TESTS_REFERENCE_SCALE_H

#include <cstdint>
#include <vector>

namespace testing_support
{

// A picture of 0xAARRGGBB words (straight alpha) scaled to width x height
// and laid over an opaque background (0x00RRGGBB), as 0x00RRGGBB words.
// Per axis: bilinear with pixel centres aligned and edges repeated when it
// enlarges or keeps the size, the area average when it shrinks. Each axis
// is one pass with an exact (projective) transform, so that no error
// accumulates along a row.
std::vector<uint32_t> reference_scale(const std::vector<uint32_t> &argb, uint32_t picture_width,
                                      uint32_t picture_height, uint32_t width, uint32_t height,
                                      uint32_t background);

// The largest difference of one channel between two pictures of 0x??RRGGBB.
int largest_difference(const std::vector<uint32_t> &a, const std::vector<uint32_t> &b);

} // namespace testing_support

#endif

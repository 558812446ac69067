// The thumbnailer's check of a WMF (thumbnailer/wmf_check.h): the input is
// the metafile. Whatever it passes, its frame must be one a picture can be
// drawn in.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "thumbnailer/wmf_check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // A copy of exactly size bytes, so reads past the end are caught.
    std::vector<uint8_t> block(data, data + size);
    WmfFrame frame;
    const char *problem = wmf_check(size != 0 ? block.data() : nullptr, size, &frame);
    if (problem == nullptr && frame.square_viewport && (frame.width == 0 || frame.height == 0))
        __builtin_trap();
    if (problem != nullptr && (frame.width != 0 || frame.square_viewport))
        __builtin_trap(); // a refused metafile has no frame
    return 0;
}

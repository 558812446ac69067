// The picture class through DTLoad, DT_width and DT_height: the input is the
// picture file in memory.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "flow/libraries.h"
#include "picture/picture.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    GfxBase = OpenLibrary("graphics.library", 0);
    CyberGfxBase = OpenLibrary("cybergraphics.library", 0);
    // A copy of exactly size bytes, so reads past the end are caught.
    std::vector<uint8_t> block(data, data + size);
    void *pointer = size != 0 ? block.data() : nullptr;
    void *picture = DTLoad(pointer, static_cast<uint32_t>(size));
    uint32_t width = DT_width(pointer, static_cast<uint32_t>(size));
    uint32_t height = DT_height(pointer, static_cast<uint32_t>(size));
    if (picture != nullptr && (width == 0 || height == 0))
        __builtin_trap(); // a picture always has a size
    if (picture != nullptr) {
        // The tail after the pixels stays zero.
        const uint8_t *bytes = static_cast<const uint8_t *>(picture);
        size_t pixels = static_cast<size_t>(width) * height * 4;
        for (size_t i = pixels; i < pixels * 4; i += 4093)
            if (bytes[i] != 0)
                __builtin_trap();
    }
    FreeVec(picture);
    CloseLibrary(CyberGfxBase);
    CloseLibrary(GfxBase);
    return 0;
}

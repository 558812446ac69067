// A WMF preview drawn as the thumbnailer draws it (thumbnailer/metafile.h):
// the input is the metafile, drawn at 64 pixels. libwmf itself is not
// instrumented; what it is given and what it calls back are.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/exec.h"
#include "thumbnailer/metafile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    std::vector<uint8_t> block(data, data + size);
    uint32_t width = 0, height = 0;
    const char *problem = nullptr;
    void *picture = metafile_draw(size != 0 ? block.data() : nullptr, static_cast<uint32_t>(size), 64, &width,
                                  &height, &problem);
    if ((picture == nullptr) == (problem == nullptr) || (picture != nullptr && (width > 64 || height > 64)))
        __builtin_trap();
    FreeVec(picture);
    return 0;
}

// The program's messages about a document it cannot show.
#include "flow/report.h"

#include <cstdio>

#include "flow/libraries.h"
#include "picture/picture.h"

bool report_problem(const char *path, const char *problem)
{
    fprintf(stderr, "quillpeek: %s: %s\n", path, problem);
    return false;
}

const char *picture_problem(void *block, uint32_t size)
{
    static char text[128];
    uint32_t width = DT_width(block, size);
    uint32_t height = DT_height(block, size);
    if (width == 0 || height == 0)
        return "its thumbnail is not a picture that can be decoded";
    // The header was read; the picture class refuses pictures beyond its
    // limits from the header alone, anything else failed in the pixels.
    bool too_large = width >= 16384 || static_cast<uint64_t>(width) * height > PICTURE_MAX_PIXELS;
    snprintf(text, sizeof text,
             too_large ? "its thumbnail (%lu x %lu pixels) is too large to show"
                       : "its thumbnail (%lu x %lu pixels) could not be decoded: its data is damaged "
                         "or memory ran out",
             static_cast<unsigned long>(width), static_cast<unsigned long>(height));
    return text;
}

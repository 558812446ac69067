// The program's messages about a document it cannot show.
#include "flow/report.h"

#include <cstdio>

#include "picture/picture.h"

bool report_problem(const char *path, const char *problem)
{
    fprintf(stderr, "quillpeek: %s: %s\n", path, problem);
    return false;
}

const char *picture_problem(void *block, uint32_t size)
{
    if (DT_width(block, size) != 0 && DT_height(block, size) != 0)
        return "its thumbnail is too large to show";
    return "its thumbnail is not a picture that can be decoded";
}

// Why a thumbnail gives no picture: the decode is tried again through the
// routines of picture.cpp (the picture class remembers the last picture it
// decoded, so this costs no second decode) and dos.library's IoErr tells
// why the class gave no object or no bitmap.
#include <cstdio>

#include "flow/libraries.h"
#include "flow/report.h"
#include "picture/picture.h"
#include "platform/limits.h"

namespace
{

// Why no object or no header was had.
const CodeMessage problems_without_size[] = {
    {DTERROR_BEYOND_BLOCK, "it changed while it was being read", 0},
    {DTERROR_METADATA_LIMIT, "its thumbnail carries more metadata than the limit of 16 MiB", 0},
    {ERROR_NO_FREE_STORE, "there is not enough memory to decode its thumbnail", 0},
};

// Why a picture whose header was read gave no pixels, after "its thumbnail
// (W x H pixels) ".
const CodeMessage problems_with_size[] = {
    {ERROR_OBJECT_TOO_LARGE, "is too large to show", 0},
    {0, "could not be decoded: memory ran out", 0}, // the pixels were had; the PictureBuffer was not
    {ERROR_NO_FREE_STORE, "could not be decoded: memory ran out", 0},
    {DTERROR_NOT_ENOUGH_DATA, "could not be decoded: its data is cut short", 0},
    {DTERROR_WORK_LIMIT, "was not decoded: it takes more work than the limit of 300 million pixel scans", 0},
    {DTERROR_MEMORY_LIMIT, "was not decoded: it needs more memory than the limit of 64 MiB", 0},
    // a PNG's chunks, read as it is decoded
    {DTERROR_METADATA_LIMIT, "was not decoded: it carries more metadata than the limit of 16 MiB", 0},
};

// No row here has a number: the limits are written out (and checked below).
const char *problem_without_size(LONG code)
{
    return code_message(problems_without_size, sizeof problems_without_size / sizeof problems_without_size[0],
                        code, "its thumbnail is not a picture that can be decoded", nullptr, 0);
}

const char *problem_with_size(LONG code)
{
    return code_message(problems_with_size, sizeof problems_with_size / sizeof problems_with_size[0], code,
                        "could not be decoded: its data is damaged", nullptr, 0);
}

static_assert(platform::limits::jpeg_decode_work == 300000000u, "the message names the limit");
static_assert(platform::limits::jpeg_decode_memory == 64l << 20, "the message names the limit");
static_assert(platform::limits::picture_metadata_bytes == 16u << 20, "the message names the limit");

} // namespace

const char *picture_problem(void *block, uint32_t size)
{
    static char text[160];
    SetIoErr(0);
    uint32_t width = DT_width(block, size);
    uint32_t height = DT_height(block, size);
    LONG code = IoErr();
    if (width == 0 || height == 0)
        return problem_without_size(code);
    snprintf(text, sizeof text, "its thumbnail (%lu x %lu pixels) %s", static_cast<unsigned long>(width),
             static_cast<unsigned long>(height), problem_with_size(code));
    return text;
}

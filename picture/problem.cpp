// Why a thumbnail gives no picture: the decode is tried again through the
// routines of picture.cpp (the picture class remembers the last picture it
// decoded, so this costs no second decode) and dos.library's IoErr tells
// why the class gave no object or no bitmap.
#include <cstdio>

#include "flow/libraries.h"
#include "picture/picture.h"
#include "platform/limits.h"

namespace
{

// Why no object or no header was had.
const char *problem_without_size(LONG code)
{
    switch (code) {
    case DTERROR_BEYOND_BLOCK:
        return "it changed while it was being read";
    case DTERROR_METADATA_LIMIT:
        return "its thumbnail carries more metadata than the limit of 16 MiB";
    case ERROR_NO_FREE_STORE:
        return "there is not enough memory to decode its thumbnail";
    default:
        return "its thumbnail is not a picture that can be decoded";
    }
}

// Why a picture whose header was read gave no pixels, after "its thumbnail
// (W x H pixels) ".
const char *problem_with_size(LONG code)
{
    switch (code) {
    case ERROR_OBJECT_TOO_LARGE:
        return "is too large to show";
    case 0: // the pixels were had; the PictureBuffer was not
    case ERROR_NO_FREE_STORE:
        return "could not be decoded: memory ran out";
    case DTERROR_NOT_ENOUGH_DATA:
        return "could not be decoded: its data is cut short";
    case DTERROR_WORK_LIMIT:
        return "was not decoded: it takes more work than the limit of 300 million pixel scans";
    case DTERROR_MEMORY_LIMIT:
        return "was not decoded: it needs more memory than the limit of 64 MiB";
    case DTERROR_METADATA_LIMIT: // a PNG's chunks, read as it is decoded
        return "was not decoded: it carries more metadata than the limit of 16 MiB";
    default:
        return "could not be decoded: its data is damaged";
    }
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

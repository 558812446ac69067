// JPEG pictures through libjpeg-turbo: baseline, progressive, greyscale and
// CMYK (Adobe's inverted convention when an Adobe marker is present).
//
// libjpeg reports errors through its error manager; ours jumps back to the
// call that began the work (setjmp/longjmp), so no error ends the process.
// Functions that call setjmp hold no C++ objects with destructors.
//
// The budgets of platform/limits.h: the metadata is counted before libjpeg
// sees the data, libjpeg's own memory is its max_memory_to_use, and the
// work (scans times pixels) is checked by the progress monitor, which
// libjpeg calls while it reads each scan.
#include <csetjmp>
#include <cstdio>
#include <cstring>

#include <jpeglib.h>

#include <jerror.h>

#include "platform/datatypes.h"
#include "platform/decoders/decoder.h"
#include "platform/dos.h"
#include "platform/limits.h"

namespace platform
{
namespace
{

// A progressive picture may not take more scans than this: each scan costs a
// pass over the whole picture, and real pictures use about ten.
const uint64_t max_scans = 1000;

struct ErrorManager {
    struct jpeg_error_mgr manager; // first, so that cinfo->err is ours
    jmp_buf escape;
    int32_t problem; // the IoErr code of the first error or damaging warning
    uint64_t pixels; // of the picture, for the work budget
};

// The IoErr code for one of libjpeg's errors.
int32_t error_code(int msg_code)
{
    switch (msg_code) {
    case JERR_OUT_OF_MEMORY:
        return ERROR_NO_FREE_STORE;
    case JERR_NO_BACKING_STORE: // what max_memory_to_use leads to
        return DTERROR_MEMORY_LIMIT;
    case JERR_INPUT_EMPTY:
        return DTERROR_NOT_ENOUGH_DATA;
    default:
        return DTERROR_INVALID_DATA;
    }
}

[[noreturn]] void on_error(j_common_ptr cinfo)
{
    ErrorManager *errors = reinterpret_cast<ErrorManager *>(cinfo->err);
    if (errors->problem == 0)
        errors->problem = error_code(cinfo->err->msg_code);
    longjmp(errors->escape, 1);
}

// Warnings are never printed; those that mean the picture's data is cut
// short or corrupt mark it damaged.
void on_message(j_common_ptr cinfo, int level)
{
    if (level >= 0)
        return;
    ErrorManager *errors = reinterpret_cast<ErrorManager *>(cinfo->err);
    switch (cinfo->err->msg_code) {
    case JWRN_JPEG_EOF:
        if (errors->problem == 0)
            errors->problem = DTERROR_NOT_ENOUGH_DATA;
        break;
    case JWRN_HIT_MARKER:
    case JWRN_MUST_RESYNC:
    case JWRN_HUFF_BAD_CODE:
    case JWRN_ARITH_BAD_CODE:
    case JWRN_NOT_SEQUENTIAL:
        if (errors->problem == 0)
            errors->problem = DTERROR_INVALID_DATA;
        break;
    default:
        break;
    }
    cinfo->err->num_warnings++;
}

// Ends the decode once the scans begun so far, each over the whole picture,
// exceed the work budget (or libjpeg's own cap on scans).
void on_progress(j_common_ptr cinfo)
{
    if (!cinfo->is_decompressor)
        return;
    ErrorManager *errors = reinterpret_cast<ErrorManager *>(cinfo->err);
    uint64_t scans = static_cast<uint64_t>(reinterpret_cast<j_decompress_ptr>(cinfo)->input_scan_number);
    if (scans > max_scans || scans * errors->pixels > limits::jpeg_decode_work) {
        errors->problem = DTERROR_WORK_LIMIT;
        longjmp(errors->escape, 1);
    }
}

void set_up(struct jpeg_decompress_struct *cinfo, ErrorManager *errors, struct jpeg_progress_mgr *progress)
{
    cinfo->err = jpeg_std_error(&errors->manager);
    errors->manager.error_exit = on_error;
    errors->manager.emit_message = on_message;
    errors->problem = 0;
    errors->pixels = 0;
    progress->progress_monitor = on_progress;
}

// Begins the work on the bytes: created, with the memory budget, reading
// from memory. Call after setjmp.
void begin(struct jpeg_decompress_struct *cinfo, struct jpeg_progress_mgr *progress, const uint8_t *data,
           size_t size)
{
    jpeg_create_decompress(cinfo);
    cinfo->mem->max_memory_to_use = limits::jpeg_decode_memory;
    cinfo->progress = progress;
    jpeg_mem_src(cinfo, data, static_cast<unsigned long>(size));
}

// The bytes of the APPn and COM segments of the data, counted up to just
// past the budget. Each marker segment states its length; entropy-coded data
// runs to the next 0xFF that is not a stuffed zero or a restart marker.
size_t metadata_bytes(const uint8_t *data, size_t size)
{
    size_t total = 0;
    for (size_t at = 2; at + 4 <= size && total <= limits::picture_metadata_bytes;) {
        const void *next = std::memchr(data + at, 0xFF, size - at);
        if (next == nullptr)
            break;
        at = static_cast<size_t>(static_cast<const uint8_t *>(next) - data);
        if (at + 4 > size)
            break;
        uint8_t marker = data[at + 1];
        if (marker == 0xD9) // end of image
            break;
        if (marker == 0x00 || marker == 0x01 || marker == 0xFF || (marker >= 0xD0 && marker <= 0xD7)) {
            at += marker == 0xFF ? 1 : 2;
            continue;
        }
        size_t length = static_cast<size_t>(data[at + 2]) << 8 | data[at + 3];
        if ((marker >= 0xE0 && marker <= 0xEF) || marker == 0xFE)
            total += length;
        at += 2 + length;
    }
    return total;
}

bool recognises_jpeg(const uint8_t *data, size_t size)
{
    return size >= 3 && data[0] == 0xFF && data[1] == 0xD8 && data[2] == 0xFF;
}

bool colour_space_supported(J_COLOR_SPACE space)
{
    return space == JCS_GRAYSCALE || space == JCS_YCbCr || space == JCS_RGB || space == JCS_CMYK ||
           space == JCS_YCCK;
}

int32_t read_jpeg_size(const uint8_t *data, size_t size, PictureSize *size_out)
{
    if (metadata_bytes(data, size) > limits::picture_metadata_bytes)
        return DTERROR_METADATA_LIMIT;
    struct jpeg_decompress_struct cinfo;
    ErrorManager errors;
    struct jpeg_progress_mgr progress = {};
    std::memset(&cinfo, 0, sizeof cinfo);
    set_up(&cinfo, &errors, &progress);
    if (setjmp(errors.escape) != 0) {
        jpeg_destroy_decompress(&cinfo);
        return errors.problem;
    }
    begin(&cinfo, &progress, data, size);
    bool read =
        jpeg_read_header(&cinfo, TRUE) == JPEG_HEADER_OK && colour_space_supported(cinfo.jpeg_color_space);
    if (read)
        *size_out = PictureSize{cinfo.image_width, cinfo.image_height};
    jpeg_destroy_decompress(&cinfo);
    return read ? 0 : errors.problem != 0 ? errors.problem : DTERROR_INVALID_DATA;
}

// One row of CMYK samples into 0xAARRGGBB words in place. With an Adobe
// marker the samples are stored inverted (0 is full ink).
void cmyk_to_argb(uint32_t *row, uint32_t width, bool inverted)
{
    uint8_t *bytes = reinterpret_cast<uint8_t *>(row);
    for (uint32_t x = 0; x < width; ++x, bytes += 4) {
        uint32_t c = bytes[0], m = bytes[1], y = bytes[2], k = bytes[3];
        if (!inverted) {
            c = 255 - c;
            m = 255 - m;
            y = 255 - y;
            k = 255 - k;
        }
        uint32_t word =
            0xFF000000u | (c * k + 127) / 255 << 16 | (m * k + 127) / 255 << 8 | (y * k + 127) / 255;
        std::memcpy(bytes, &word, 4);
    }
}

int32_t decode_jpeg(const uint8_t *data, size_t size, PictureSize picture, uint32_t *pixels)
{
    struct jpeg_decompress_struct cinfo;
    ErrorManager errors;
    struct jpeg_progress_mgr progress = {};
    std::memset(&cinfo, 0, sizeof cinfo);
    set_up(&cinfo, &errors, &progress);
    errors.pixels = static_cast<uint64_t>(picture.width) * picture.height;
    if (setjmp(errors.escape) != 0) {
        jpeg_destroy_decompress(&cinfo);
        return errors.problem;
    }
    begin(&cinfo, &progress, data, size);
    if (jpeg_read_header(&cinfo, TRUE) != JPEG_HEADER_OK || cinfo.image_width != picture.width ||
        cinfo.image_height != picture.height || !colour_space_supported(cinfo.jpeg_color_space)) {
        jpeg_destroy_decompress(&cinfo);
        return DTERROR_INVALID_DATA;
    }
    bool cmyk = cinfo.jpeg_color_space == JCS_CMYK || cinfo.jpeg_color_space == JCS_YCCK;
#if __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    const J_COLOR_SPACE host_argb = JCS_EXT_BGRA; // 0xAARRGGBB as bytes B, G, R, A
#else
    const J_COLOR_SPACE host_argb = JCS_EXT_ARGB;
#endif
    cinfo.out_color_space = cmyk ? JCS_CMYK : host_argb;
    jpeg_start_decompress(&cinfo);
    if (cinfo.output_width != picture.width || cinfo.output_height != picture.height ||
        cinfo.output_components != 4) {
        jpeg_destroy_decompress(&cinfo);
        return DTERROR_INVALID_DATA;
    }
    while (cinfo.output_scanline < cinfo.output_height) {
        uint32_t *row = pixels + static_cast<size_t>(cinfo.output_scanline) * picture.width;
        JSAMPROW rows[1] = {reinterpret_cast<JSAMPROW>(row)};
        if (jpeg_read_scanlines(&cinfo, rows, 1) != 1)
            break;
        if (cmyk)
            cmyk_to_argb(row, picture.width, cinfo.saw_Adobe_marker != 0);
    }
    bool complete = cinfo.output_scanline == cinfo.output_height;
    if (complete)
        jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    if (errors.problem != 0)
        return errors.problem;
    return complete ? 0 : DTERROR_NOT_ENOUGH_DATA;
}

} // namespace

const Decoder jpeg_decoder = {"jpeg", recognises_jpeg, read_jpeg_size, decode_jpeg};

} // namespace platform

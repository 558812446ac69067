// JPEG pictures through libjpeg-turbo: baseline, progressive, greyscale and
// CMYK (Adobe's inverted convention when an Adobe marker is present).
//
// libjpeg reports errors through its error manager; ours jumps back to the
// call that began the work (setjmp/longjmp), so no error ends the process.
// Functions that call setjmp hold no C++ objects with destructors.
#include <csetjmp>
#include <cstdio>
#include <cstring>

#include <jpeglib.h>

#include <jerror.h>

#include "platform/decoders/decoder.h"

namespace platform
{
namespace
{

// A progressive picture may not take more scans than this: each scan costs a
// pass over the whole picture, and real pictures use about ten.
const int max_scans = 1000;

struct ErrorManager {
    struct jpeg_error_mgr manager; // first, so that cinfo->err is ours
    jmp_buf escape;
    bool damaged; // a warning that means pixels are missing or wrong
};

[[noreturn]] void on_error(j_common_ptr cinfo)
{
    ErrorManager *errors = reinterpret_cast<ErrorManager *>(cinfo->err);
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
    case JWRN_HIT_MARKER:
    case JWRN_MUST_RESYNC:
    case JWRN_HUFF_BAD_CODE:
    case JWRN_ARITH_BAD_CODE:
    case JWRN_NOT_SEQUENTIAL:
        errors->damaged = true;
        break;
    default:
        break;
    }
    cinfo->err->num_warnings++;
}

void on_progress(j_common_ptr cinfo)
{
    if (cinfo->is_decompressor && reinterpret_cast<j_decompress_ptr>(cinfo)->input_scan_number > max_scans)
        on_error(cinfo);
}

void set_up(struct jpeg_decompress_struct *cinfo, ErrorManager *errors, struct jpeg_progress_mgr *progress)
{
    cinfo->err = jpeg_std_error(&errors->manager);
    errors->manager.error_exit = on_error;
    errors->manager.emit_message = on_message;
    errors->damaged = false;
    progress->progress_monitor = on_progress;
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

bool read_jpeg_size(const uint8_t *data, size_t size, PictureSize *size_out)
{
    struct jpeg_decompress_struct cinfo;
    ErrorManager errors;
    struct jpeg_progress_mgr progress = {};
    std::memset(&cinfo, 0, sizeof cinfo);
    set_up(&cinfo, &errors, &progress);
    if (setjmp(errors.escape) != 0) {
        jpeg_destroy_decompress(&cinfo);
        return false;
    }
    jpeg_create_decompress(&cinfo);
    cinfo.progress = &progress;
    jpeg_mem_src(&cinfo, data, static_cast<unsigned long>(size));
    bool read =
        jpeg_read_header(&cinfo, TRUE) == JPEG_HEADER_OK && colour_space_supported(cinfo.jpeg_color_space);
    if (read)
        *size_out = PictureSize{cinfo.image_width, cinfo.image_height};
    jpeg_destroy_decompress(&cinfo);
    return read;
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

bool decode_jpeg(const uint8_t *data, size_t size, PictureSize picture, uint32_t *pixels)
{
    struct jpeg_decompress_struct cinfo;
    ErrorManager errors;
    struct jpeg_progress_mgr progress = {};
    std::memset(&cinfo, 0, sizeof cinfo);
    set_up(&cinfo, &errors, &progress);
    if (setjmp(errors.escape) != 0) {
        jpeg_destroy_decompress(&cinfo);
        return false;
    }
    jpeg_create_decompress(&cinfo);
    cinfo.progress = &progress;
    jpeg_mem_src(&cinfo, data, static_cast<unsigned long>(size));
    if (jpeg_read_header(&cinfo, TRUE) != JPEG_HEADER_OK || cinfo.image_width != picture.width ||
        cinfo.image_height != picture.height || !colour_space_supported(cinfo.jpeg_color_space)) {
        jpeg_destroy_decompress(&cinfo);
        return false;
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
        return false;
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
    return complete && !errors.damaged;
}

} // namespace

const Decoder jpeg_decoder = {"jpeg", recognises_jpeg, read_jpeg_size, decode_jpeg};

} // namespace platform

// Windows metafiles (WMF) made by the tests, record by record.
#ifndef QUILLPEEK_TESTS_THUMBNAILER_METAFILES_H
#define QUILLPEEK_TESTS_THUMBNAILER_METAFILES_H

#include <cstdint>
#include <string>
#include <vector>

namespace metafiles
{

// Record functions the tests write.
enum : uint16_t {
    set_map_mode = 0x0103,
    set_window_org = 0x020B,
    set_window_ext = 0x020C,
    set_viewport_ext = 0x020E,
    save_dc = 0x001E,
    select_object = 0x012D,
    create_brush = 0x02FC,
    create_pen = 0x02FA,
    create_font = 0x02FB,
    rectangle = 0x041B,
    ellipse = 0x0418,
    line_to = 0x0213,
    polygon = 0x0324,
    ext_text_out = 0x0A32,
    intersect_clip_rect = 0x0416,
    flood_fill = 0x0419,
    stretch_dib = 0x0F43,
    create_region = 0x06FF,
};

// 16-bit little-endian words (negative values as two's complement).
std::string words(const std::vector<int32_t> &values);

// Records appended one by one; bytes() puts the standard header before
// them, its largest record and the file's size filled in, and the end
// record after them.
struct Wmf {
    std::string records;
    uint32_t largest = 3; // words of the largest record
    uint16_t objects = 8; // what the header claims

    Wmf &record(uint16_t function, const std::vector<int32_t> &params);
    // A record whose size field says `size` words whatever it holds.
    Wmf &raw(uint32_t size, uint16_t function, const std::string &params);
    std::string bytes() const;
    // With a placeable header naming that rectangle before it.
    std::string placeable(int16_t left, int16_t top, int16_t right, int16_t bottom) const;
};

// The way office suites begin: an anisotropic window of width x height.
Wmf window(int16_t width, int16_t height);

// Selects a solid brush of colour 0xRRGGBB and no pen (objects 0 and 1).
Wmf &solid_fill(Wmf &wmf, uint32_t rgb);

// A rectangle from (left, top) to (right, bottom).
Wmf &box(Wmf &wmf, int16_t left, int16_t top, int16_t right, int16_t bottom);

// A DIB of width x height at `bits` bits per pixel, every byte of its rows
// `fill`, its header naming `compression`.
std::string dib(int32_t width, int32_t height, uint16_t bits, uint32_t compression = 0, uint8_t fill = 0);

} // namespace metafiles

#endif

// See wmf_check.h.
#include "thumbnailer/wmf_check.h"

#include <cstring>

#include "platform/limits.h"

namespace
{

namespace limits = platform::limits;

const size_t placeable_bytes = 22;
const size_t header_bytes = 18;

// The record functions read here.
enum Function : uint16_t {
    end_of_file = 0x0000,
    set_map_mode = 0x0103,
    set_window_org = 0x020B,
    set_window_ext = 0x020C,
    set_viewport_org = 0x020D,
    set_viewport_ext = 0x020E,
    offset_window_org = 0x020F,
    offset_viewport_org = 0x0211,
    scale_window_ext = 0x0410,
    scale_viewport_ext = 0x0412,
    exclude_clip_rect = 0x0415,
    intersect_clip_rect = 0x0416,
    offset_clip_region = 0x0220,
    select_clip_region = 0x012C,
    flood_fill = 0x0419,
    ext_flood_fill = 0x0548,
    text_out = 0x0521,
    ext_text_out = 0x0A32,
    polygon = 0x0324,
    polyline = 0x0325,
    poly_polygon = 0x0538,
    bit_blt = 0x0922,
    stretch_blt = 0x0B23,
    create_pattern_brush = 0x01F9,
    dib_bit_blt = 0x0940,
    dib_stretch_blt = 0x0B41,
    stretch_dib = 0x0F43,
    set_dib_to_dev = 0x0D33,
    dib_create_pattern_brush = 0x0142,
    create_font = 0x02FB,
    create_region = 0x06FF,
};

const uint16_t anisotropic = 8;

uint16_t u16(const unsigned char *p)
{
    return static_cast<uint16_t>(p[0] | p[1] << 8);
}

int16_t s16(const unsigned char *p)
{
    return static_cast<int16_t>(u16(p));
}

uint32_t u32(const unsigned char *p)
{
    return uint32_t(u16(p)) | uint32_t(u16(p + 2)) << 16;
}

uint32_t magnitude(int32_t value)
{
    return value < 0 ? uint32_t(-int64_t(value)) : uint32_t(value);
}

// One record's parameters: words after its size and function.
struct Record {
    uint16_t function;
    const unsigned char *params;
    size_t bytes;
};

// What the walk keeps from record to record.
struct Walk {
    uint32_t records = 0;
    uint32_t clips = 0;
    size_t text = 0;
    bool drawing_begun = false;
    uint16_t map_mode = 0;
    bool window_set = false;
    bool window_moved = false; // changed once drawing had begun
    bool viewport_set = false; // any viewport, window scaling or offset
    int32_t window_width = 0, window_height = 0;
};

// What the walk knows of a record function: the fewest parameter words
// libwmf reads of it at fixed places (those with counts of their own are
// checked by them too), and whether it draws. Functions not listed are
// never read past their size.
struct Known {
    uint16_t function;
    uint8_t words;
    bool draws;
};

// clang-format off
const Known known[] = {
    // Modes, colours, objects: one or two words.
    {0x0102, 1, false}, {0x0103, 1, false}, {0x0104, 1, false}, {0x0105, 1, false}, {0x0106, 1, false},
    {0x0107, 1, false}, {0x0108, 1, false}, {0x0127, 1, false}, {0x012C, 1, false}, {0x012D, 1, false},
    {0x012E, 1, false}, {0x0139, 1, false}, {0x01F0, 1, false}, {0x0234, 1, false}, {0x0201, 2, false},
    {0x0209, 2, false}, {0x020A, 2, false}, {0x0231, 2, false},
    // Window, viewport and clipping.
    {0x020B, 2, false}, {0x020C, 2, false}, {0x020D, 2, false}, {0x020E, 2, false}, {0x020F, 2, false},
    {0x0211, 2, false}, {0x0214, 2, false}, {0x0220, 2, false}, {0x0410, 4, false}, {0x0412, 4, false},
    {0x0415, 4, false}, {0x0416, 4, false},
    // Pens, brushes, fonts, regions.
    {0x02FA, 5, false}, {0x02FC, 4, false}, {create_font, 9, false}, {create_region, 11, false},
    {dib_create_pattern_brush, 2, false},
    // Drawing: lines, shapes, regions, text, bitmaps.
    {0x0213, 2, true}, {0x0418, 4, true}, {0x041B, 4, true}, {0x041F, 4, true}, {0x061C, 6, true},
    {0x061D, 6, true}, {0x0817, 8, true}, {0x081A, 8, true}, {0x0830, 8, true}, {0x0228, 2, true},
    {0x0429, 4, true}, {0x012A, 1, true}, {0x012B, 1, true}, {polygon, 1, true}, {polyline, 1, true},
    {poly_polygon, 1, true}, {text_out, 1, true}, {ext_text_out, 4, true}, {dib_bit_blt, 8, true},
    {dib_stretch_blt, 10, true}, {stretch_dib, 11, true}, {set_dib_to_dev, 9, true},
};
// clang-format on

const Known *known_function(uint16_t function)
{
    for (const Known &entry : known)
        if (entry.function == function)
            return &entry;
    return nullptr;
}

// See wmf_dib_problem.
const char *dib_problem(const unsigned char *dib, size_t bytes)
{
    if (bytes < 12)
        return "one of its bitmaps is cut short";
    uint32_t header = u32(dib);
    uint32_t width, height, bits, colours = 0, compression = 0;
    size_t entry = 4;
    if (header == 12) { // the OS/2 core header
        width = u16(dib + 4);
        height = u16(dib + 6);
        bits = u16(dib + 10);
        entry = 3;
    } else if (header >= 40 && header <= 124 && bytes >= 40) {
        int32_t signed_width = int32_t(u32(dib + 4)), signed_height = int32_t(u32(dib + 8));
        width = signed_width < 0 ? 0 : uint32_t(signed_width);
        height = magnitude(signed_height);
        bits = u16(dib + 14);
        compression = u32(dib + 16);
        colours = u32(dib + 32);
    } else {
        return "one of its bitmaps has a header of no known kind";
    }
    if (u16(dib + (header == 12 ? 8 : 12)) != 1 ||
        (bits != 1 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32))
        return "one of its bitmaps has a header of no known kind";
    // Run-length, JPEG and PNG bitmaps are not decoded; bit fields only for
    // 16 and 32 bits.
    if (compression != 0 && !(compression == 3 && (bits == 16 || bits == 32)))
        return "one of its bitmaps is compressed, which is not drawn";
    if (width == 0 || height == 0 || uint64_t(width) * height > limits::metafile_bitmap_pixels)
        return "one of its bitmaps is empty or larger than the limit of 16 Mi pixels";
    if (bits <= 8 && (colours == 0 || colours > (1u << bits)))
        colours = 1u << bits;
    else if (bits > 8 && colours > 256)
        return "one of its bitmaps has a header of no known kind";
    uint64_t table = uint64_t(colours) * entry + (compression == 3 && header == 40 ? 12 : 0);
    uint64_t rows = (uint64_t(width) * bits + 31) / 32 * 4 * height;
    return header + table + rows > bytes ? "one of its bitmaps holds fewer rows than it claims" : nullptr;
}

// The DIB a bitmap record carries after its fixed words.
const char *bitmap_problem(const Record &record)
{
    size_t offset = 0;
    switch (record.function) {
    case dib_bit_blt:
        if (record.bytes == 18)
            return nullptr; // no bitmap: a fill with the brush
        offset = 16;
        break;
    case dib_stretch_blt:
        offset = 20;
        break;
    case stretch_dib:
        offset = 22;
        break;
    case set_dib_to_dev:
        offset = 18;
        break;
    default:
        offset = 4; // dib_create_pattern_brush
        break;
    }
    return dib_problem(record.params + offset, record.bytes - offset);
}

// Points counted by the record itself, within its parameters.
const char *points_problem(const Record &record)
{
    const unsigned char *p = record.params;
    uint64_t need = 2;
    if (record.function == poly_polygon) {
        uint64_t polygons = u16(p);
        need += 2 * polygons;
        if (need > record.bytes)
            return "one of its records claims more than it holds";
        for (uint64_t i = 0; i < polygons; ++i)
            need += 4 * uint64_t(u16(p + 2 + 2 * i));
    } else {
        need += 4 * uint64_t(u16(p));
    }
    return need > record.bytes ? "one of its records claims more than it holds" : nullptr;
}

const char *text_problem(const Record &record, Walk &walk)
{
    const unsigned char *p = record.params;
    size_t length, need;
    if (record.function == text_out) {
        length = u16(p);
        need = 2 + (length + 1) / 2 * 2 + 4;
    } else {
        length = u16(p + 4);
        uint16_t options = u16(p + 6);
        need = 8 + ((options & 0x0006) != 0 ? 8 : 0) + length;
    }
    if (need > record.bytes)
        return "one of its records claims more than it holds";
    walk.text += length;
    return walk.text > limits::metafile_text_bytes ? "it holds more text than the limit of 16 KiB" : nullptr;
}

// A region's bands, as libwmf walks them: a count, two rows, count
// columns and the count again.
const char *region_problem(const Record &record)
{
    size_t words = record.bytes / 2;
    const unsigned char *p = record.params;
    size_t bands = u16(p + 10), at = 11, pairs = 0;
    for (size_t band = 0; band < bands; ++band) {
        if (at >= words)
            return "one of its regions claims more than it holds";
        size_t count = u16(p + 2 * at);
        if (count % 2 != 0 || at + count + 3 >= words || u16(p + 2 * (at + count + 3)) != count)
            return "one of its regions claims more than it holds";
        pairs += count / 2;
        at += count + 4;
    }
    return pairs > limits::metafile_region_rectangles
               ? "one of its regions has more rectangles than the limit of 1024"
               : nullptr;
}

// The window and viewport records: what the frame is made of.
void follow_mapping(const Record &record, Walk &walk)
{
    switch (record.function) {
    case set_map_mode:
        walk.window_moved = walk.window_moved || (walk.drawing_begun && u16(record.params) != walk.map_mode);
        walk.map_mode = u16(record.params);
        break;
    case set_window_ext:
        walk.window_moved = walk.window_moved || walk.drawing_begun;
        walk.window_height = s16(record.params);
        walk.window_width = s16(record.params + 2);
        walk.window_set = true;
        break;
    case set_window_org:
        walk.window_moved = walk.window_moved || walk.drawing_begun;
        break;
    case set_viewport_org:
    case set_viewport_ext:
    case offset_window_org:
    case offset_viewport_org:
    case scale_window_ext:
    case scale_viewport_ext:
        walk.viewport_set = true;
        break;
    default:
        break;
    }
}

const char *record_problem(const Record &record, Walk &walk)
{
    const Known *entry = known_function(record.function);
    if (entry != nullptr && record.bytes < 2u * entry->words)
        return "one of its records is too short for what it holds";
    follow_mapping(record, walk);
    walk.drawing_begun = walk.drawing_begun || (entry != nullptr && entry->draws);
    switch (record.function) {
    case flood_fill:
    case ext_flood_fill:
        return "it fills by flooding, which is not drawn";
    case bit_blt:
    case stretch_blt:
    case create_pattern_brush:
        return "it holds a device-dependent bitmap, which is not drawn";
    case exclude_clip_rect:
    case intersect_clip_rect:
    case offset_clip_region:
    case select_clip_region:
    case create_region:
        if (++walk.clips > limits::metafile_clip_records)
            return "it changes its clipping more often than the limit of 4096";
        return record.function == create_region ? region_problem(record) : nullptr;
    case text_out:
    case ext_text_out:
        return text_problem(record, walk);
    case polygon:
    case polyline:
    case poly_polygon:
        return points_problem(record);
    case dib_bit_blt:
    case dib_stretch_blt:
    case stretch_dib:
    case set_dib_to_dev:
    case dib_create_pattern_brush:
        return bitmap_problem(record);
    case create_font:
        // The face name libwmf copies must end within the record.
        return memchr(record.params + 18, '\0', record.bytes - 18) == nullptr
                   ? "one of its records is too short for what it holds"
                   : nullptr;
    default:
        return nullptr;
    }
}

// The standard header at bytes; *max_record is its largest record, in words.
const char *header_problem(const unsigned char *bytes, size_t size, uint32_t *max_record)
{
    if (size < header_bytes)
        return "its header is cut short";
    uint16_t type = u16(bytes), words = u16(bytes + 2), version = u16(bytes + 4);
    if ((type != 1 && type != 2) || words != 9 || (version != 0x0100 && version != 0x0300))
        return "its header is damaged";
    if (u16(bytes + 10) > limits::metafile_objects)
        return "it claims more objects than the limit of 4096";
    *max_record = u32(bytes + 12);
    if (*max_record < 3 || *max_record > (size - header_bytes) / 2)
        return "its header claims records larger than the whole metafile";
    return nullptr;
}

const char *records_problem(const unsigned char *bytes, size_t size, uint32_t max_record, Walk &walk)
{
    size_t at = 0;
    for (;;) {
        if (size - at < 6)
            return "it is cut short before its last record";
        uint32_t words = u32(bytes + at);
        uint16_t function = u16(bytes + at + 4);
        if (words < 3 || words - 3 > max_record || words > (size - at) / 2)
            return "one of its records runs past its end or past the largest record its header names";
        if (function == end_of_file)
            return nullptr;
        if (++walk.records > limits::metafile_records)
            return "it has more records than the limit of 65536";
        const char *problem = record_problem({function, bytes + at + 6, size_t(words) * 2 - 6}, walk);
        if (problem != nullptr)
            return problem;
        at += size_t(words) * 2;
    }
}

void set_frame(const unsigned char *placeable, const Walk &walk, WmfFrame *frame)
{
    if (placeable != nullptr) {
        frame->width = magnitude(int32_t(s16(placeable + 10)) - s16(placeable + 6));
        frame->height = magnitude(int32_t(s16(placeable + 12)) - s16(placeable + 8));
    } else if (walk.window_set) {
        frame->width = magnitude(walk.window_width);
        frame->height = magnitude(walk.window_height);
    }
    frame->square_viewport = walk.map_mode == anisotropic && walk.window_set && !walk.window_moved &&
                             !walk.viewport_set && walk.window_width != 0 && walk.window_height != 0;
    if (frame->width == 0 || frame->height == 0)
        frame->width = frame->height = 0;
}

} // namespace

const char *wmf_dib_problem(const unsigned char *dib, size_t bytes)
{
    return dib_problem(dib, bytes);
}

bool wmf_recognised(const unsigned char *bytes, size_t size)
{
    return bytes != nullptr && size >= 4 &&
           ((u32(bytes) == 0x9AC6CDD7u) || ((bytes[0] == 1 || bytes[0] == 2) && u16(bytes + 2) == 9));
}

const char *wmf_check(const unsigned char *bytes, size_t size, WmfFrame *frame)
{
    *frame = WmfFrame();
    if (!wmf_recognised(bytes, size))
        return "it is not a WMF";
    if (size > limits::metafile_bytes)
        return "it is larger than the limit of 8 MiB";
    const unsigned char *placeable = nullptr;
    if (u32(bytes) == 0x9AC6CDD7u) {
        if (size < placeable_bytes + header_bytes)
            return "its header is cut short";
        placeable = bytes;
        bytes += placeable_bytes;
        size -= placeable_bytes;
    }
    uint32_t max_record = 0;
    const char *problem = header_problem(bytes, size, &max_record);
    Walk walk;
    if (problem == nullptr)
        problem = records_problem(bytes + header_bytes, size - header_bytes, max_record, walk);
    if (problem == nullptr)
        set_frame(placeable, walk, frame);
    return problem;
}

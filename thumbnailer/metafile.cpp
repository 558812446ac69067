// See metafile.h.
#include "thumbnailer/metafile.h"

#include <libwmf/api.h>
#include <libwmf/gd.h>
#include <libwmf/macro.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "platform/exec.h"
#include "platform/internal/loaded_library.h"
#include "platform/limits.h"
#include "thumbnailer/wmf_check.h"

namespace
{

namespace limits = platform::limits;

// --- libwmf, loaded when the first WMF is met ---

#define METAFILE_CALLS(X)                                                                                    \
    X(wmf_api_create)                                                                                        \
    X(wmf_api_destroy)                                                                                       \
    X(wmf_mem_open)                                                                                          \
    X(wmf_scan)                                                                                              \
    X(wmf_play)                                                                                              \
    X(wmf_gd_function)                                                                                       \
    X(wmf_gd_image_pixels)

struct MetafileCalls {
#define METAFILE_CALL_MEMBER(name) decltype(&::name) name;
    METAFILE_CALLS(METAFILE_CALL_MEMBER)
#undef METAFILE_CALL_MEMBER
};

MetafileCalls calls;
platform::LoadedLibrary libwmf("libwmf-0.2.so.7");

bool resolve_libwmf(platform::LoadedLibrary &from)
{
    bool complete = true;
#define METAFILE_RESOLVE(name) complete = complete && from.resolve(#name, calls.name);
    METAFILE_CALLS(METAFILE_RESOLVE)
#undef METAFILE_RESOLVE
    return complete;
}

// --- The memory libwmf holds: blocks tagged with their size ---

struct Budget {
    size_t held = 0;
    bool met = false;
};

struct alignas(16) Tag {
    size_t size;
};

void *budget_realloc(void *context, void *memory, size_t size)
{
    Budget *budget = static_cast<Budget *>(context);
    Tag *tag = memory != nullptr ? static_cast<Tag *>(memory) - 1 : nullptr;
    size_t old = tag != nullptr ? tag->size : 0;
    if (size > limits::metafile_memory - (budget->held - old)) {
        budget->met = true;
        return nullptr;
    }
    Tag *moved = static_cast<Tag *>(realloc(tag, sizeof(Tag) + size));
    if (moved == nullptr)
        return nullptr;
    moved->size = size;
    budget->held = budget->held - old + size;
    return moved + 1;
}

void *budget_malloc(void *context, size_t size)
{
    return budget_realloc(context, nullptr, size);
}

void budget_free(void *context, void *memory)
{
    if (memory == nullptr)
        return;
    Tag *tag = static_cast<Tag *>(memory) - 1;
    static_cast<Budget *>(context)->held -= tag->size;
    free(tag);
}

// --- The drawing: gd's device, each shape costed before it is drawn ---

// One drawing's state, as the device's calls see it (API->user_data).
struct Drawing {
    uint64_t work = 0;
    double clip_rectangles = 1;      // every pixel drawn is tested against each
    double scale_x = 1, scale_y = 1; // pixels per device unit
    double longest = 1;
    bool image_handed_over = false; // the gd image's slot was found (see hand_back)
    const char *problem = nullptr;
};

// gd's own device functions, as wmf_gd_function set them.
wmfFunctionReference gd;

Drawing &drawing(wmfAPI *api)
{
    return *static_cast<Drawing *>(api->user_data);
}

// Whether the drawing may go on to spend pixels more; the drawing stops
// (libwmf ends its play) when it may not.
bool afford(wmfAPI *api, double pixels)
{
    if (api->err != wmf_E_None)
        return false;
    Drawing &state = drawing(api);
    double cost = pixels * state.clip_rectangles;
    if (cost >= 0 && cost < double(limits::metafile_pixel_work - state.work)) {
        state.work += uint64_t(cost);
        return true;
    }
    state.problem = "drawing it would take more work than the limit of 64 Mi pixels";
    api->err = wmf_E_UserExit;
    return false;
}

bool refuse(wmfAPI *api, const char *problem)
{
    drawing(api).problem = problem;
    api->err = wmf_E_UserExit;
    return false;
}

// The pixels between two device coordinates, ends included.
double span_x(wmfAPI *api, double from, double to)
{
    return std::fabs(to - from) * drawing(api).scale_x + 1;
}

double span_y(wmfAPI *api, double from, double to)
{
    return std::fabs(to - from) * drawing(api).scale_y + 1;
}

double area(wmfAPI *api, wmfD_Coord a, wmfD_Coord b)
{
    return span_x(api, a.x, b.x) * span_y(api, a.y, b.y);
}

// The pixels a stroke of the current pen paints per pixel of its length:
// gd stamps a pen wider than a pixel as a brush of its size. 0 for no pen;
// -1 (the drawing refused) for a pen wider than the picture, whose brush
// alone would be larger than it.
double pen_pixels(wmfAPI *api, wmfDC *dc)
{
    wmfPen *pen = WMF_DC_PEN(dc);
    if (WMF_PEN_STYLE(pen) == PS_NULL)
        return 0;
    Drawing &state = drawing(api);
    double width = std::ceil(std::fabs(WMF_PEN_WIDTH(pen)) * state.scale_x);
    double height = std::ceil(std::fabs(WMF_PEN_HEIGHT(pen)) * state.scale_y);
    if (!(width <= state.longest && height <= state.longest))
        return refuse(api, "one of its pens is wider than the picture"), -1;
    return std::max(width, 1.0) * std::max(height, 1.0);
}

// The pixels gd spends on filling with the current brush beyond the shape's
// own: a bitmap brush is made anew, pixel by pixel, for every shape.
double brush_pixels(wmfDC *dc)
{
    wmfBrush *brush = WMF_DC_BRUSH(dc);
    if (WMF_BRUSH_STYLE(brush) == BS_DIBPATTERN)
        return double(WMF_BRUSH_BITMAP(brush)->width) * WMF_BRUSH_BITMAP(brush)->height;
    return 0;
}

bool fills(wmfDC *dc)
{
    return WMF_BRUSH_STYLE(WMF_DC_BRUSH(dc)) != BS_NULL;
}

// The cost of a shape of `inside` pixels and an outline `length` pixels long.
bool afford_shape(wmfAPI *api, wmfDC *dc, double inside, double length)
{
    double pen = pen_pixels(api, dc);
    return pen >= 0 && afford(api, (fills(dc) ? inside + brush_pixels(dc) : 0) + length * pen);
}

double segment(wmfAPI *api, wmfD_Coord a, wmfD_Coord b)
{
    return std::max(span_x(api, a.x, b.x), span_y(api, a.y, b.y));
}

double outline(wmfAPI *api, const wmfD_Coord *points, unsigned count, bool closed)
{
    double length = 0;
    for (unsigned i = 1; i < count; ++i)
        length += segment(api, points[i - 1], points[i]);
    return closed && count > 1 ? length + segment(api, points[count - 1], points[0]) : length;
}

// gd fills a polygon row by row: on every row of its height it crosses
// every edge, sorts the crossings and paints the row's span.
double polygon_inside(wmfAPI *api, const wmfD_Coord *points, unsigned count)
{
    if (count == 0)
        return 0;
    wmfD_Coord low = points[0], high = points[0];
    for (unsigned i = 1; i < count; ++i) {
        low = {std::min(low.x, points[i].x), std::min(low.y, points[i].y)};
        high = {std::max(high.x, points[i].x), std::max(high.y, points[i].y)};
    }
    double crossings = count * (1 + std::log2(double(count)));
    return span_y(api, low.y, high.y) * (crossings + span_x(api, low.x, high.x));
}

void guarded_line(wmfAPI *api, wmfDrawLine_t *line)
{
    if (afford_shape(api, line->dc, 0, segment(api, line->from, line->to)))
        gd.draw_line(api, line);
}

void guarded_poly_line(wmfAPI *api, wmfPolyLine_t *poly)
{
    if (afford_shape(api, poly->dc, 0, outline(api, poly->pt, poly->count, false)))
        gd.poly_line(api, poly);
}

void guarded_polygon(wmfAPI *api, wmfPolyLine_t *poly)
{
    if (afford_shape(api, poly->dc, polygon_inside(api, poly->pt, poly->count),
                     outline(api, poly->pt, poly->count, true)))
        gd.draw_polygon(api, poly);
}

void guarded_polypolygon(wmfAPI *api, wmfPolyPoly_t *poly)
{
    double inside = 0, length = 0;
    for (unsigned i = 0; i < poly->npoly; ++i) {
        inside += polygon_inside(api, poly->pt[i], poly->count[i]);
        length += outline(api, poly->pt[i], poly->count[i], true);
    }
    if (afford_shape(api, poly->dc, inside, length))
        gd.draw_polypolygon(api, poly);
}

void guarded_rectangle(wmfAPI *api, wmfDrawRectangle_t *rectangle)
{
    double perimeter =
        2 * (span_x(api, rectangle->TL.x, rectangle->BR.x) + span_y(api, rectangle->TL.y, rectangle->BR.y));
    if (afford_shape(api, rectangle->dc, area(api, rectangle->TL, rectangle->BR), perimeter))
        gd.draw_rectangle(api, rectangle);
}

// Ellipses, arcs, pies and chords: their box, and at most its perimeter
// twice over for the outline.
bool afford_arc(wmfAPI *api, wmfDrawArc_t *arc)
{
    double perimeter = 4 * (span_x(api, arc->TL.x, arc->BR.x) + span_y(api, arc->TL.y, arc->BR.y));
    return afford_shape(api, arc->dc, area(api, arc->TL, arc->BR), perimeter);
}

// Any of gd's four: ellipse, arc, pie and chord.
template <void (*wmfFunctionReference::*draw)(wmfAPI *, wmfDrawArc_t *)>
void guarded_arc_shape(wmfAPI *api, wmfDrawArc_t *arc)
{
    if (afford_arc(api, arc))
        (gd.*draw)(api, arc);
}

void guarded_pixel(wmfAPI *api, wmfDrawPixel_t *pixel)
{
    wmfD_Coord corner = {float(pixel->pt.x + pixel->pixel_width), float(pixel->pt.y + pixel->pixel_height)};
    if (afford(api, area(api, pixel->pt, corner)))
        gd.draw_pixel(api, pixel);
}

void guarded_rop(wmfAPI *api, wmfROP_Draw_t *rop)
{
    if (afford(api, area(api, rop->TL, rop->BR) + brush_pixels(rop->dc)))
        gd.rop_draw(api, rop);
}

// Flood fills are refused by the check; none reaches gd, whose fill
// recurses once for every run it paints.
void guarded_flood(wmfAPI *api, wmfFlood_t *)
{
    refuse(api, "it fills by flooding, which is not drawn");
}

// gd draws every bitmap as a copy: one meant to be combined with what lies
// beneath it (a mask, an inversion) is left out rather than pasted over it.
void guarded_bitmap(wmfAPI *api, wmfBMP_Draw_t *bitmap)
{
    if (bitmap->type != SRCCOPY)
        return;
    wmfD_Coord corner = {float(bitmap->pt.x + bitmap->crop.w * bitmap->pixel_width),
                         float(bitmap->pt.y + bitmap->crop.h * bitmap->pixel_height)};
    if (afford(api, area(api, bitmap->pt, corner) + double(bitmap->crop.w) * bitmap->crop.h))
        gd.bmp_draw(api, bitmap);
}

void guarded_bitmap_read(wmfAPI *api, wmfBMP_Read_t *read)
{
    read->bmp.data = nullptr;
    const char *problem = read->buffer != nullptr && read->length > 0
                              ? wmf_dib_problem(read->buffer, size_t(read->length))
                              : "one of its bitmaps is cut short";
    if (problem != nullptr)
        refuse(api, problem);
    else if (afford(api, double(read->length)))
        gd.bmp_read(api, read);
}

void guarded_text(wmfAPI *api, wmfDrawText_t *text)
{
    Drawing &state = drawing(api);
    double size = std::fabs(text->font_height) * state.scale_y;
    if (!(size <= 2 * state.longest)) {
        refuse(api, "one of its texts is larger than twice the picture");
        return;
    }
    double glyph = (size + 1) * (size * std::max(1.0, std::fabs(text->font_ratio)) + 1);
    if (text->str != nullptr && afford(api, glyph * double(strlen(text->str))))
        gd.draw_text(api, text);
}

// Regions: each rectangle painted, or framed by four bars as wide as the
// frame's pen.
void guarded_region_paint(wmfAPI *api, wmfPolyRectangle_t *region)
{
    double pixels = 0;
    for (unsigned i = 0; i < region->count; ++i)
        pixels += area(api, region->TL[i], region->BR[i]) + brush_pixels(region->dc);
    if (afford(api, pixels))
        gd.region_paint(api, region);
}

void guarded_region_frame(wmfAPI *api, wmfPolyRectangle_t *region)
{
    double bar_x = std::fabs(region->width) * drawing(api).scale_x + 1;
    double bar_y = std::fabs(region->height) * drawing(api).scale_y + 1;
    double pixels = 0;
    for (unsigned i = 0; i < region->count; ++i) {
        double across = span_x(api, region->TL[i].x, region->BR[i].x) + 2 * bar_x;
        double down = span_y(api, region->TL[i].y, region->BR[i].y) + 2 * bar_y;
        pixels += 2 * (across * bar_y + down * bar_x);
    }
    if (afford(api, pixels))
        gd.region_frame(api, region);
}

void guarded_region_clip(wmfAPI *api, wmfPolyRectangle_t *region)
{
    if (!afford(api, region->count))
        return;
    drawing(api).clip_rectangles = std::max(1u, region->count);
    gd.region_clip(api, region);
}

// The page itself, painted white when the play begins.
void guarded_begin(wmfAPI *api)
{
    wmf_gd_t *device = WMF_GD_GetData(api);
    if (afford(api, double(device->width) * device->height))
        gd.device_begin(api);
}

// gd keeps its image in the first field of its own data, gives it out at
// the end of the play and forgets it; device_close destroys only what that
// field holds. The slot is trusted only once seen to hold the image given
// out, so that the image can be put back to be destroyed (hand_back).
void guarded_end(wmfAPI *api)
{
    wmf_gd_t *device = WMF_GD_GetData(api);
    void *held = *static_cast<void **>(device->gd_data);
    gd.device_end(api);
    drawing(api).image_handed_over =
        held != nullptr && device->gd_image == held && *static_cast<void **>(device->gd_data) == nullptr;
}

// wmf_gd_function, then the costing in front of every drawing call gd has.
void guarded_device(wmfAPI *api)
{
    calls.wmf_gd_function(api);
    auto *device = static_cast<wmfFunctionReference *>(api->function_reference);
    if (api->err != wmf_E_None || device == nullptr)
        return;
    gd = *device;
#define METAFILE_GUARD(call, guard) device->call = gd.call != nullptr ? guard : nullptr;
    METAFILE_GUARD(device_begin, guarded_begin)
    METAFILE_GUARD(device_end, guarded_end)
    METAFILE_GUARD(draw_pixel, guarded_pixel)
    METAFILE_GUARD(draw_pie, guarded_arc_shape<&wmfFunctionReference::draw_pie>)
    METAFILE_GUARD(draw_chord, guarded_arc_shape<&wmfFunctionReference::draw_chord>)
    METAFILE_GUARD(draw_arc, guarded_arc_shape<&wmfFunctionReference::draw_arc>)
    METAFILE_GUARD(draw_ellipse, guarded_arc_shape<&wmfFunctionReference::draw_ellipse>)
    METAFILE_GUARD(draw_line, guarded_line)
    METAFILE_GUARD(poly_line, guarded_poly_line)
    METAFILE_GUARD(draw_polygon, guarded_polygon)
    METAFILE_GUARD(draw_polypolygon, guarded_polypolygon)
    METAFILE_GUARD(draw_rectangle, guarded_rectangle)
    METAFILE_GUARD(rop_draw, guarded_rop)
    METAFILE_GUARD(bmp_draw, guarded_bitmap)
    METAFILE_GUARD(bmp_read, guarded_bitmap_read)
    METAFILE_GUARD(draw_text, guarded_text)
    METAFILE_GUARD(region_frame, guarded_region_frame)
    METAFILE_GUARD(region_paint, guarded_region_paint)
    METAFILE_GUARD(region_clip, guarded_region_clip)
#undef METAFILE_GUARD
    device->flood_interior = guarded_flood;
    device->flood_exterior = guarded_flood;
}

// --- From the block to the picture ---

// The device rectangle drawn and the picture's size: the square viewport
// the window is mapped onto, in the frame's proportions, else the extent
// libwmf found the drawing to have, in its own.
bool place(const WmfFrame &frame, wmfD_Rect scanned, uint32_t longest, wmf_gd_t *device)
{
    device->bbox = scanned;
    double across = double(scanned.BR.x) - scanned.TL.x, down = double(scanned.BR.y) - scanned.TL.y;
    if (frame.square_viewport) {
        device->bbox = {{0, 0}, {wmf_default_viewport, wmf_default_viewport}};
        across = frame.width;
        down = frame.height;
    }
    if (!(across > 0 && down > 0 && across < 1e30 && down < 1e30))
        return false;
    double ratio = std::min(across, down) / std::max(across, down);
    uint32_t shorter = static_cast<uint32_t>(std::max(1.0, std::round(longest * ratio)));
    device->width = across >= down ? longest : shorter;
    device->height = across >= down ? shorter : longest;
    return true;
}

// gd's picture, composed over white, as ARGB bytes in a new block.
unsigned char *copy_picture(const int *pixels, uint32_t width, uint32_t height)
{
    size_t count = size_t(width) * height;
    auto *argb = static_cast<unsigned char *>(AllocVec(static_cast<ULONG>(count * 4), MEMF_ANY));
    for (size_t i = 0; argb != nullptr && i < count; ++i) {
        unsigned pixel = static_cast<unsigned>(pixels[i]);
        unsigned clear = (pixel >> 24) & 0x7F; // gd's alpha: 0 opaque, 127 clear
        unsigned char *p = argb + 4 * i;
        p[0] = 255;
        for (int c = 0; c < 3; ++c) {
            unsigned value = (pixel >> (16 - 8 * c)) & 0xFF;
            p[1 + c] = static_cast<unsigned char>((value * (127 - clear) + 255 * clear + 63) / 127);
        }
    }
    return argb;
}

// Puts gd's image back where device_close destroys it.
void hand_back(const Drawing &state, wmf_gd_t *device)
{
    if (state.image_handed_over && device->gd_image != nullptr) {
        *static_cast<void **>(device->gd_data) = device->gd_image;
        device->gd_image = nullptr;
    }
}

const char *library_problem(wmf_error_t error, const Budget &budget, const char *what)
{
    if (budget.met)
        return "libwmf would need more memory than the limit of 64 MiB";
    return error == wmf_E_InsMem ? "there is not enough memory to draw it" : what;
}

// Scans and plays the open metafile into the device.
const char *play(wmfAPI *api, const WmfFrame &frame, uint32_t longest, const Budget &budget)
{
    Drawing &state = drawing(api);
    wmfD_Rect box = {{0, 0}, {0, 0}};
    wmf_error_t error = calls.wmf_scan(api, 0, &box);
    if (error != wmf_E_None)
        return state.problem != nullptr ? state.problem
                                        : library_problem(error, budget, "libwmf cannot read it");
    wmf_gd_t *device = WMF_GD_GetData(api);
    device->type = wmf_gd_image;
    if (!place(frame, box, longest, device))
        return "it draws nothing";
    state.scale_x = device->width / (double(device->bbox.BR.x) - device->bbox.TL.x);
    state.scale_y = device->height / (double(device->bbox.BR.y) - device->bbox.TL.y);
    state.longest = longest;
    error = calls.wmf_play(api, 0, &box);
    if (error != wmf_E_None)
        return state.problem != nullptr ? state.problem
                                        : library_problem(error, budget, "libwmf cannot draw it");
    return device->gd_image == nullptr ? "libwmf drew no picture" : nullptr;
}

void *draw(const unsigned char *bytes, uint32_t size, const WmfFrame &frame, uint32_t longest,
           uint32_t *width, uint32_t *height, const char **problem)
{
    Budget budget;
    wmfAPI_Options options = {};
    options.context = &budget;
    options.malloc = budget_malloc;
    options.realloc = budget_realloc;
    options.free = budget_free;
    options.function = guarded_device;
    unsigned long flags =
        WMF_OPT_ALLOC | WMF_OPT_FUNCTION | WMF_OPT_IGNORE_NONFATAL | WMF_OPT_NO_ERROR | WMF_OPT_NO_DEBUG;
    wmfAPI *api = nullptr;
    wmf_error_t error = calls.wmf_api_create(&api, flags, &options);
    Drawing state;
    void *picture = nullptr;
    if (error != wmf_E_None || api == nullptr) {
        *problem = library_problem(error, budget, "libwmf cannot be started");
    } else {
        api->user_data = &state;
        *problem = calls.wmf_mem_open(api, const_cast<unsigned char *>(bytes), long(size)) != wmf_E_None
                       ? "libwmf cannot read it"
                       : play(api, frame, longest, budget);
        wmf_gd_t *device = WMF_GD_GetData(api);
        if (*problem == nullptr) {
            const int *pixels = calls.wmf_gd_image_pixels(device->gd_image);
            picture = pixels != nullptr ? copy_picture(pixels, device->width, device->height) : nullptr;
            *problem = picture == nullptr ? "there is not enough memory to draw it" : nullptr;
            *width = device->width;
            *height = device->height;
        }
        hand_back(state, device);
    }
    if (api != nullptr)
        calls.wmf_api_destroy(api);
    return picture;
}

} // namespace

void *metafile_draw(const void *block, uint32_t size, uint32_t longest, uint32_t *width, uint32_t *height,
                    const char **problem)
{
    *width = *height = 0;
    const auto *bytes = static_cast<const unsigned char *>(block);
    if (bytes != nullptr && size >= 44 && memcmp(bytes + 40, " EMF", 4) == 0) {
        *problem = "it is an EMF, which is not drawn";
        return nullptr;
    }
    WmfFrame frame;
    *problem = wmf_check(bytes, size, &frame);
    if (*problem != nullptr)
        return nullptr;
    if (!libwmf.load(resolve_libwmf)) {
        *problem = "libwmf (libwmf-0.2.so.7) cannot be loaded";
        return nullptr;
    }
    longest = std::clamp(longest, 1u, limits::metafile_side);
    return draw(bytes, size, frame, longest, width, height, problem);
}

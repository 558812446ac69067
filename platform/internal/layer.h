// The window system's side of a RastPort, shared by intuition.library,
// graphics.library and cybergraphics.library; not for the program's code.
//
// A window's RastPort carries a Layer: the SDL window, its current surface
// (the window's pixels) and the colour map of the window's screen. The
// surface is replaced after every resize; whoever draws takes it from the
// Layer at the moment of drawing and never keeps it.
#ifndef QUILLPEEK_PLATFORM_LAYER_H
#define QUILLPEEK_PLATFORM_LAYER_H

#include "platform/internal/sdl.h"

#include <vector>

#include "platform/graphics.h"
#include "platform/internal/scaling.h"

struct Window;

struct Layer {
    SDL_Window *window;
    SDL_Surface *surface; // owned by SDL; valid until the next resize
    struct ColorMap *colormap;
    bool drawn; // drawn into since the pixels last reached the screen
};

namespace platform
{

// Where a raster port's drawing goes, as plain 32-bit pixels: the window's
// surface (locked for the length of one call; a surface of another format
// through a 32-bit copy), or the port's 32-bit BitMap itself, which needs
// no window system at all.
// A target still locked when it goes (drawing cut short by an exception)
// is ended then.
struct DrawTarget {
    PixelTarget pixels;
    struct Layer *layer;        // null for a BitMap
    SDL_Surface *locked;        // the window's surface while it is drawn into
    std::vector<uint32_t> copy; // the 32-bit copy of a surface of another format
    ~DrawTarget();
};

// False (nothing to draw into) for a null port, a port with neither a Layer
// nor a 32-bit BitMap, or a window whose pixels cannot be had.
bool begin_drawing(struct RastPort *rp, DrawTarget &target);
// Hands the pixels back to the window and marks them for presenting.
void end_drawing(DrawTarget &target);

// The colour of a pen as 0x00RRGGBB: from the window's colour map, or from
// the default pens for a BitMap.
uint32_t pen_colour(const DrawTarget &target, ULONG pen);

// The default screen's first pens: 0 grey, 1 black, 2 white, 3 blue.
void default_colormap(struct ColorMap *colormap);

// For tests: called with the window each time its port is about to sleep,
// after the window's drawing has been presented. Null to stop.
typedef void (*WaitHook)(struct Window *window, void *data);
void intuition_set_wait_hook(WaitHook hook, void *data);

} // namespace platform

#endif

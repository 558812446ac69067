// The viewer window: a PictureBuffer on screen until the user closes it.
#ifndef QUILLPEEK_WINDOW_WINDOW_H
#define QUILLPEEK_WINDOW_WINDOW_H

#include <cstdint>

#include "platform/intuition.h"

// Opens a window of the picture's size, draws the picture and redraws it
// scaled on every resize until the window is closed. Needs GfxBase and
// CyberGfxBase open. Returns true when the picture was shown and the user
// closed the window; false at once when there is nothing to show (null
// buffer, width or height 0, a picture too large for the drawing calls) or
// intuition.library or the window cannot be opened.
bool WINDOW_Open(void *buffer, uint32_t width, uint32_t height);

// One scaled draw of the whole picture into the raster port, filling
// (0, 0) to the window's current Width x Height.
void render(struct RastPort *rastport, void *buffer, struct Window *window, uint32_t width, uint32_t height);

#endif

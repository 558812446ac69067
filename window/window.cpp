// Placeholder until the viewer window lands.
#include "window/window.h"

bool WINDOW_Open(void *, uint32_t, uint32_t)
{
    return false;
}
void render(struct RastPort *, void *, struct Window *, uint32_t, uint32_t) {}

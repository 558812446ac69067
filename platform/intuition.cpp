// intuition.library on SDL2. (Being built.)
#include "platform/intuition.h"

#include "platform/internal.h"

namespace platform
{
bool intuition_first_open()
{
    return true;
}
void intuition_last_close() {}
} // namespace platform

struct Window *LVO_OpenWindowTagList(struct Library *, const struct NewWindow *, const struct TagItem *)
{
    return nullptr;
}
void LVO_CloseWindow(struct Library *, struct Window *) {}

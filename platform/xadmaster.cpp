// xadmaster.library on libarchive. (Being built.)
#include "platform/xadmaster.h"

#include "platform/internal.h"

APTR LVO_xadAllocObjectA(struct Library *, LONG, const struct TagItem *)
{
    return nullptr;
}
void LVO_xadFreeObjectA(struct Library *, APTR, const struct TagItem *) {}
LONG LVO_xadGetInfoA(struct Library *, struct xadArchiveInfo *, const struct TagItem *)
{
    return XADERR_UNKNOWN;
}
void LVO_xadFreeInfo(struct Library *, struct xadArchiveInfo *) {}
LONG LVO_xadFileUnArcA(struct Library *, struct xadArchiveInfo *, const struct TagItem *)
{
    return XADERR_UNKNOWN;
}

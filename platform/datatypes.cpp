// datatypes.library and its picture class. (Being built.)
#include "platform/datatypes.h"

#include "platform/internal.h"

Object *LVO_NewDTObjectA(struct Library *, APTR, const struct TagItem *)
{
    return nullptr;
}
void LVO_DisposeDTObject(struct Library *, Object *) {}
IPTR LVO_DoDTMethodA(struct Library *, Object *, struct Window *, struct Requester *, Msg)
{
    return 0;
}
ULONG LVO_GetDTAttrsA(struct Library *, Object *, const struct TagItem *)
{
    return 0;
}

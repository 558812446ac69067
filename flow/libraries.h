// The system library services: the process-wide library bases and the
// variable-argument forms of the libraries' tag-list calls.
//
// Each form takes the fixed leading arguments of its tag-list call, then
// tag/value words ended by TAG_DONE, and passes those words as one
// contiguous tag list (for DoDTMethod, as the method message). The call goes
// through the library's base variable as it is at that moment.
#ifndef QUILLPEEK_FLOW_LIBRARIES_H
#define QUILLPEEK_FLOW_LIBRARIES_H

#include <cstring>
#include <type_traits>

#include "platform/cybergraphics.h"
#include "platform/datatypes.h"
#include "platform/dos.h"
#include "platform/exec.h"
#include "platform/graphics.h"
#include "platform/intuition.h"
#include "platform/xadmaster/xadmaster.h"

extern struct Library *DOSBase1;

// One word of a tag list or method message.
template <typename T> inline IPTR tag_word(T value)
{
    if constexpr (std::is_null_pointer_v<T>)
        return 0;
    else if constexpr (std::is_pointer_v<T>)
        return reinterpret_cast<IPTR>(value);
    else
        return static_cast<IPTR>(value);
}

// The words as a tag list; an odd count ends in a lone TAG_DONE.
template <size_t N> struct TagWords {
    struct TagItem items[(N + 1) / 2];
};

template <typename... T> inline TagWords<sizeof...(T)> tag_list(T... words)
{
    const IPTR list[] = {tag_word(words)...};
    TagWords<sizeof...(T)> tags = {};
    std::memcpy(tags.items, list, sizeof list);
    return tags;
}

template <typename... T> inline APTR xadAllocObject(LONG type, T... tags)
{
    return xadAllocObjectA(type, tag_list(tags...).items);
}

template <typename... T> inline LONG xadGetInfo(struct xadArchiveInfo *ai, T... tags)
{
    return xadGetInfoA(ai, tag_list(tags...).items);
}

template <typename... T> inline LONG xadFileUnArc(struct xadArchiveInfo *ai, T... tags)
{
    return xadFileUnArcA(ai, tag_list(tags...).items);
}

template <typename... T> inline void xadFreeObject(APTR object, T... tags)
{
    xadFreeObjectA(object, tag_list(tags...).items);
}

template <typename... T> inline Object *NewDTObject(APTR name, T... tags)
{
    return NewDTObjectA(name, tag_list(tags...).items);
}

template <typename... T> inline ULONG GetDTAttrs(Object *o, T... tags)
{
    return GetDTAttrsA(o, tag_list(tags...).items);
}

template <typename... T>
inline IPTR DoDTMethod(Object *o, struct Window *win, struct Requester *req, T... words)
{
    IPTR message[] = {tag_word(words)...};
    return DoDTMethodA(o, win, req, reinterpret_cast<Msg>(message));
}

template <typename... T> inline LONG ObtainBestPen(struct ColorMap *cm, ULONG r, ULONG g, ULONG b, T... tags)
{
    return ObtainBestPenA(cm, r, g, b, tag_list(tags...).items);
}

template <typename... T> inline struct Window *OpenWindowTags(const struct NewWindow *nw, T... tags)
{
    return OpenWindowTagList(nw, tag_list(tags...).items);
}

#endif

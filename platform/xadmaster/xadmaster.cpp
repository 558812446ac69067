// xadmaster.library on libarchive: objects and the library's entry points.
//
// The work is done in the files beside this one (see xadmaster_intern.h).
// xadGetInfoA and xadFileUnArcA run it inside the call boundary (guarded);
// xadAllocObjectA, xadFreeObjectA and xadFreeInfo cannot throw.
#include "platform/xadmaster/xadmaster.h"

#include <cstdio>

#include "platform/control.h"
#include "platform/internal/internal.h"
#include "platform/internal/registry.h"
#include "platform/xadmaster/xadmaster_intern.h"

using namespace platform::xad;

namespace
{

const char *const library_name = "xadmaster.library";

// The archive infos handed out and not yet freed.
platform::Registry<struct xadArchiveInfo> &live_objects()
{
    return platform::Registry<struct xadArchiveInfo>::instance();
}

bool is_live(const struct xadArchiveInfo *ai)
{
    return live_objects().contains(ai);
}

} // namespace

APTR LVO_xadAllocObjectA(struct Library *base, LONG type, const struct TagItem *)
{
    if (!platform::library_ready(base, library_name, "xadAllocObjectA"))
        return nullptr;
    void *object = type == XADOBJ_ARCHIVEINFO ? platform::allocate(sizeof(struct xadArchiveInfo)) : nullptr;
    if (object != nullptr && !live_objects().add(static_cast<struct xadArchiveInfo *>(object))) {
        platform::release(object);
        object = nullptr;
    }
    platform::journal("xadAllocObjectA %ld%s", static_cast<long>(type), object != nullptr ? "" : " -> NULL");
    return object;
}

void LVO_xadFreeObjectA(struct Library *base, APTR object, const struct TagItem *)
{
    if (!platform::library_ready(base, library_name, "xadFreeObjectA") || object == nullptr)
        return;
    if (!live_objects().remove(static_cast<struct xadArchiveInfo *>(object))) {
        platform::journal("xadFreeObjectA FAULT not an object of xadAllocObjectA");
        return;
    }
    platform::journal("xadFreeObjectA");
    struct xadArchiveInfo *ai = static_cast<struct xadArchiveInfo *>(object);
    release_state(ai); // a listing the caller did not free
    platform::release(ai);
}

LONG LVO_xadGetInfoA(struct Library *base, struct xadArchiveInfo *ai, const struct TagItem *tags)
{
    if (!platform::library_ready(base, library_name, "xadGetInfoA"))
        return XADERR_BADPARAMS;
    const char *path = reinterpret_cast<const char *>(GetTagData(XAD_INFILENAME, 0, tags));
    LONG code = XADERR_BADPARAMS;
    if (ai != nullptr && is_live(ai) && path != nullptr) {
        release_state(ai);
        // get_info gives ai its listing last, when nothing can fail any more.
        code = platform::guarded("xadGetInfoA", LONG(XADERR_NOMEMORY), [&] {
            UTF8Names names;
            return get_info(ai, path);
        });
    }
    if (code == XADERR_OK)
        platform::journal("xadGetInfoA %s", path);
    else
        platform::journal("xadGetInfoA %s -> %ld", path != nullptr ? path : "(null)",
                          static_cast<long>(code));
    return code;
}

void LVO_xadFreeInfo(struct Library *base, struct xadArchiveInfo *ai)
{
    if (!platform::library_ready(base, library_name, "xadFreeInfo"))
        return;
    if (ai == nullptr || !is_live(ai) || ai->xai_Private == nullptr) {
        platform::journal("xadFreeInfo FAULT no listing");
        return;
    }
    platform::journal("xadFreeInfo");
    release_state(ai);
}

namespace
{

// "xadFileUnArcA <entry> file <name>[ overwrite]" or "... memory <size>",
// then the code of a failure.
void journal_unarc(const struct TagItem *tags, LONG code)
{
    unsigned long number = static_cast<unsigned long>(GetTagData(XAD_ENTRYNUMBER, 0, tags));
    const char *file = reinterpret_cast<const char *>(GetTagData(XAD_OUTFILENAME, 0, tags));
    char failure[32] = "";
    if (code != XADERR_OK)
        std::snprintf(failure, sizeof failure, " -> %ld", static_cast<long>(code));
    if (file != nullptr)
        platform::journal("xadFileUnArcA %lu file %s%s%s", number, file,
                          GetTagData(XAD_OVERWRITE, 0, tags) != 0 ? " overwrite" : "", failure);
    else
        platform::journal("xadFileUnArcA %lu memory %llu%s", number,
                          static_cast<unsigned long long>(GetTagData(XAD_OUTSIZE, 0, tags)), failure);
}

} // namespace

LONG LVO_xadFileUnArcA(struct Library *base, struct xadArchiveInfo *ai, const struct TagItem *tags)
{
    if (!platform::library_ready(base, library_name, "xadFileUnArcA"))
        return XADERR_BADPARAMS;
    LONG code = XADERR_BADPARAMS;
    if (ai != nullptr && is_live(ai))
        code = platform::guarded("xadFileUnArcA", LONG(XADERR_NOMEMORY), [&] {
            UTF8Names names;
            return file_unarc(ai, tags);
        });
    journal_unarc(tags, code);
    return code;
}

void platform_forget_archive_listings()
{
    forget_listings();
}

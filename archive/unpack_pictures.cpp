// Every picture member of an archive, written into "t:temp" under the last
// part of its name.
#include <cstdio>
#include <cstring>

#include "archive/archive.h"
#include "flow/libraries.h"
#include "platform/limits.h"

// A picture written to t:temp is never larger than one taken into memory.
static_assert(platform::limits::archive_file_member <= XAD_MEMBER_LIMIT,
              "the file cap exceeds the member limit");

namespace
{

// The name copy and the output path hold at most this many bytes, the
// terminating zero included.
constexpr size_t NAME_BUFFER = 150;

// Whether a file part may name a file of its own inside "t:temp": not
// empty, not a step to this folder or its parent.
bool usable_file_part(const char *part)
{
    return part != nullptr && part[0] != '\0' && std::strcmp(part, ".") != 0 && std::strcmp(part, "..") != 0;
}

// Extracts member into "t:temp" under its file part. Returns the status of
// the attempt: 1 when the member was written, 0 when not. A file part that
// is no file name of its own, or an output path longer than the buffer,
// writes nothing and fails.
LONG extract_member(struct xadArchiveInfo *ai, struct xadFileInfo *member, char *output)
{
    const char *part = FilePart(member->xfi_FileName);
    if (!usable_file_part(part))
        return 0;
    int length = std::snprintf(output, NAME_BUFFER, "t:temp/%s", part);
    if (length < 0 || static_cast<size_t>(length) >= NAME_BUFFER)
        return 0;
    LONG error = xadFileUnArc(ai, XAD_OUTFILENAME, output, XAD_ENTRYNUMBER, member->xfi_EntryNumber,
                              XAD_OVERWRITE, TRUE, TAG_DONE);
    return error == XADERR_OK ? 1 : 0;
}

// The status after the attempt that wanted calls for in the member's name
// (status unchanged when the name does not contain it). A full name too long
// for the name copy is not extracted: its attempt fails.
LONG attempt_if_named(struct xadArchiveInfo *ai, struct xadFileInfo *member, const char *wanted,
                      const char *name, bool fits, char *output, LONG status)
{
    if (std::strstr(fits ? name : member->xfi_FileName, wanted) == nullptr)
        return status;
    return fits ? extract_member(ai, member, output) : 0;
}

// Runs the ".jpg" attempt and then, independently, the ".png" attempt for
// one member, and returns the status after them.
LONG unpack_member(struct xadArchiveInfo *ai, struct xadFileInfo *member, char *name, char *output,
                   LONG status)
{
    if (member->xfi_FileName == nullptr)
        return status;
    int length = std::snprintf(name, NAME_BUFFER, "%s", member->xfi_FileName);
    bool fits = length >= 0 && static_cast<size_t>(length) < NAME_BUFFER;
    status = attempt_if_named(ai, member, ".jpg", name, fits, output, status);
    return attempt_if_named(ai, member, ".png", name, fits, output, status);
}

} // namespace

int32_t XAD_picture_unpacker(const char *path)
{
    LONG status = 0;
    char name[NAME_BUFFER] = {};
    char output[NAME_BUFFER] = {};

    struct Library *base = OpenLibrary("xadmaster.library", 0);
    if (base == nullptr)
        return status;
    xadMasterBase = base;

    struct xadArchiveInfo *ai =
        static_cast<struct xadArchiveInfo *>(xadAllocObject(XADOBJ_ARCHIVEINFO, TAG_DONE));
    if (ai == nullptr) {
        status = -2;
        CloseLibrary(base);
        return status;
    }
    if (xadGetInfo(ai, XAD_INFILENAME, path, TAG_DONE) != XADERR_OK) {
        status = -1;
        xadFreeObject(ai, TAG_DONE);
        CloseLibrary(base);
        return status;
    }

    // Whether it was made now or stood there already, the folder is tried;
    // the extractions decide the status.
    UnLock(CreateDir("t:temp"));

    for (struct xadFileInfo *member = ai->xai_FileInfo; member != nullptr; member = member->xfi_Next)
        status = unpack_member(ai, member, name, output, status);

    xadFreeInfo(ai);
    xadFreeObject(ai, TAG_DONE);
    CloseLibrary(base);
    return status;
}

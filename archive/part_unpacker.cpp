// One member of a document package, found by its exact name, into memory,
// and never more of it than the caller's budget.
//
// The member routines of unpack_memory.cpp choose by a piece of the name, so
// "content.xml" could give "Object 1/content.xml"; a package's parts are
// named exactly. A member larger than the budget is cut: the extraction is
// given room for the budget alone and stops there, so a member of hundreds
// of megabytes costs the budget's worth of unpacking, no more.
#include <strings.h>

#include <cstdio>
#include <cstring>

#include "archive/archive.h"
#include "flow/libraries.h"
#include "flow/report.h"
#include "platform/limits.h"

namespace
{

char problem_text[160];

// The member named name: exactly, else the first equal but for ASCII case.
const struct xadFileInfo *find_part(const struct xadArchiveInfo *ai, const char *name)
{
    const struct xadFileInfo *folded = nullptr;
    for (const struct xadFileInfo *fi = ai->xai_FileInfo; fi != nullptr; fi = fi->xfi_Next) {
        if (strcmp(fi->xfi_FileName, name) == 0)
            return fi;
        if (folded == nullptr && strcasecmp(fi->xfi_FileName, name) == 0)
            folded = fi;
    }
    return folded;
}

// Why xadFileUnArcA could not give the part (an enciphered one is named).
const CodeMessage extraction_causes[] = {
    {XADERR_TRUNCATED, "the archive is cut short", 0},
    {XADERR_ILLEGALDATA, "the archive's data is damaged", 0},
    {XADERR_NOMEMORY, "there is not enough memory", 0},
    {XADERR_RESOURCE, "libarchive.so.13 cannot be loaded", 0},
    {XADERR_LIMIT_UNPACKED, "reaching its parts would unpack more than the limit of %llu MiB",
     platform::limits::archive_extract_unpacked >> 20},
};

const char *extraction_problem(LONG code, const char *name)
{
    if (code == XADERR_ENCRYPTED) {
        snprintf(problem_text, sizeof problem_text, "its %.100s is encrypted", name);
        return problem_text;
    }
    return code_message(extraction_causes, sizeof extraction_causes / sizeof extraction_causes[0], code,
                        "the archive cannot be read", problem_text, sizeof problem_text);
}

// The part's first bytes, at most limit of them, into a block of its own.
void *unpack_part(struct xadArchiveInfo *ai, const struct xadFileInfo *fi, uint32_t limit, uint32_t *size,
                  XadPartOutcome *outcome, const char **problem)
{
    ULONG room = fi->xfi_Size < limit ? fi->xfi_Size : limit;
    // Not cleared: a part given is written whole, and cleared first, its
    // pages would be touched twice.
    char *block = static_cast<char *>(AllocVec(room + 1, MEMF_ANY));
    if (block == nullptr) {
        *problem = "there is not enough memory";
        return nullptr;
    }
    block[room] = '\0';
    if (room == 0) {
        *outcome = XAD_PART_WHOLE;
        return block;
    }
    LONG code = xadFileUnArc(ai, XAD_OUTMEMORY, block, XAD_OUTSIZE, room, XAD_ENTRYNUMBER,
                             fi->xfi_EntryNumber, TAG_DONE);
    if (code == XADERR_OK || (code == XADERR_SHORTBUFFER && room == limit)) {
        *size = room;
        *outcome = code == XADERR_OK ? XAD_PART_WHOLE : XAD_PART_CUT;
        return block;
    }
    FreeVec(block);
    *problem = extraction_problem(code == XADERR_SHORTBUFFER ? XADERR_ILLEGALDATA : code, fi->xfi_FileName);
    return nullptr;
}

} // namespace

void *XAD_part_unpacker(const char *path, const char *name, uint32_t limit, uint32_t *size,
                        XadPartOutcome *outcome, const char **problem)
{
    *size = 0;
    *outcome = XAD_PART_FAILED;
    *problem = nullptr;
    xadMasterBase = OpenLibrary("xadmaster.library", 0);
    if (xadMasterBase == nullptr) {
        *problem = "xadmaster.library cannot be opened";
        return nullptr;
    }
    void *block = nullptr;
    auto *ai = static_cast<struct xadArchiveInfo *>(xadAllocObject(XADOBJ_ARCHIVEINFO, TAG_DONE));
    if (ai == nullptr) {
        *problem = "there is not enough memory to list it";
    } else if (xadGetInfo(ai, XAD_INFILENAME, path, TAG_DONE) != XADERR_OK) {
        xadFreeObject(ai, TAG_DONE);
        ai = nullptr;
    } else {
        const struct xadFileInfo *fi = find_part(ai, name);
        if (fi == nullptr)
            *outcome = XAD_PART_MISSING;
        else
            block = unpack_part(ai, fi, limit, size, outcome, problem);
        xadFreeInfo(ai);
        xadFreeObject(ai, TAG_DONE);
    }
    CloseLibrary(xadMasterBase);
    if (*outcome == XAD_PART_FAILED && *problem == nullptr)
        *problem = XAD_file_problem(path, ""); // the listing failed: say why
    return block;
}

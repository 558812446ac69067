// xadmaster.library: reading archives, on libarchive.
//
// Every format that libarchive reads is an archive here: zip (and so every
// OpenDocument and OOXML document), 7z, tar with any compression, cpio,
// iso9660, rar, lha, cab, ar. Plain text, an empty file and mtree (a text
// that names files of this machine) are not archives. A zip opened by
// name is listed from its central directory. Only regular files are members;
// directories and links are not listed. The listing order is libarchive's.
// xar is not read: libarchive builds its whole table of contents, whatever
// its size, before a single member is seen.
//
// Member names (xfi_FileName) are the archive's own names in UTF-8, whatever
// the process's locale; a name that has no UTF-8 form is given as stored.
// Enciphered members are marked XADFIF_CRYPTED; extracting one without its
// passphrase gives XADERR_ENCRYPTED, one cut short XADERR_TRUNCATED and
// damaged data XADERR_ILLEGALDATA.
//
// libarchive is loaded when a call first needs it (platform/internal/
// libarchive.h): a zip listed from its central directory needs none. A call
// that needs it when it cannot be loaded fails with XADERR_RESOURCE.
//
// The work of every call is bounded by the budgets in platform/limits.h; a
// call that meets one fails with the XADERR_LIMIT_* code that names it.
//
// Extraction to a file (XAD_OUTFILENAME) never follows a link: below the T:
// assign every folder must be a real folder of the effective user, and a
// link or anything but a regular file where the file is to go fails the
// call. The member is written to an unnamed file in the target's folder
// (O_TMPFILE) and linked into place only when all of it was written, so a
// failure, or the process killed at any moment, leaves whatever was there
// untouched and nothing partial behind. Where the file system has no unnamed
// files, a named temporary beside the target is used instead, locked while
// it is written; temporaries of processes that died are removed by the next
// extraction into that folder. A member larger than archive_file_member is
// not written (XADERR_LIMIT_FILE).
//
// Ownership: an object from xadAllocObjectA belongs to the caller until
// xadFreeObjectA. The listing that xadGetInfoA hangs at xai_FileInfo belongs
// to the archive info and is released by xadFreeInfo; its records and texts
// must not be touched afterwards. Memory given with XAD_OUTMEMORY stays the
// caller's; at most XAD_OUTSIZE bytes of it are written.
#ifndef QUILLPEEK_PLATFORM_XADMASTER_XADMASTER_H
#define QUILLPEEK_PLATFORM_XADMASTER_XADMASTER_H

#include "platform/exec.h"

extern struct Library *xadMasterBase;

struct xadFileInfo {
    struct xadFileInfo *xfi_Next;
    ULONG xfi_EntryNumber; // 1 for the first member, counting on
    ULONG xfi_Flags;       // XADFIF_*
    STRPTR xfi_FileName;   // full name inside the archive
    ULONG xfi_Size;        // uncompressed size; 0xFFFFFFFF when larger
    ULONG xfi_CrunchSize;  // stored size where known, else 0
};

struct xadArchiveInfo {
    struct xadFileInfo *xai_FileInfo; // the listing, after xadGetInfoA
    ULONG xai_Flags;
    STRPTR xai_Password; // passphrase for enciphered members, or null
    APTR xai_Private;    // the library's own
};

enum : ULONG {
    XADFIF_CRYPTED = 1u << 0,
};

enum : LONG {
    XADOBJ_ARCHIVEINFO = 1,
};

enum : ULONG {
    XAD_INFILENAME = 0x80000002u,  // archive path
    XAD_OUTSIZE = 0x8000000Au,     // bytes available at XAD_OUTMEMORY
    XAD_OUTFILENAME = 0x8000000Bu, // file to extract into
    XAD_OUTMEMORY = 0x8000000Du,   // memory to extract into
    XAD_ENTRYNUMBER = 0x80000034u, // the member, by xfi_EntryNumber
    XAD_OVERWRITE = 0x80000036u,   // replace an existing output file
};

enum : LONG {
    XADERR_OK = 0,
    XADERR_UNKNOWN = 1,   // not an archive the library reads
    XADERR_INPUT = 2,     // the archive cannot be read
    XADERR_OUTPUT = 3,    // the output cannot be written
    XADERR_BADPARAMS = 4, // missing or contradicting tags
    XADERR_NOMEMORY = 5,
    XADERR_ILLEGALDATA = 6,  // damaged data
    XADERR_RESOURCE = 7,     // a library it needs cannot be loaded
    XADERR_ENCRYPTED = 8,    // enciphered, and no or a wrong passphrase
    XADERR_FILEEXISTS = 9,   // the output file exists and XAD_OVERWRITE is off
    XADERR_SHORTBUFFER = 10, // the member is larger than XAD_OUTSIZE
    XADERR_ENTRYNUMBER = 11, // no member of that number
    XADERR_TRUNCATED = 12,   // the archive ends inside the member's data
    // A work budget of platform/limits.h was met.
    XADERR_LIMIT_MEMBERS = 13,  // more members than archive_listing_members
    XADERR_LIMIT_LISTING = 14,  // names or a declared directory over archive_listing_names
    XADERR_LIMIT_UNPACKED = 15, // more unpacked than archive_listing_unpacked / _extract_unpacked
    XADERR_LIMIT_FILE = 16,     // a member larger than archive_file_member to a file
};

APTR LVO_xadAllocObjectA(struct Library *base, LONG type, const struct TagItem *tags);
void LVO_xadFreeObjectA(struct Library *base, APTR object, const struct TagItem *tags);
LONG LVO_xadGetInfoA(struct Library *base, struct xadArchiveInfo *ai, const struct TagItem *tags);
void LVO_xadFreeInfo(struct Library *base, struct xadArchiveInfo *ai);
LONG LVO_xadFileUnArcA(struct Library *base, struct xadArchiveInfo *ai, const struct TagItem *tags);

inline APTR xadAllocObjectA(LONG type, const struct TagItem *tags)
{
    return LVO_xadAllocObjectA(xadMasterBase, type, tags);
}
inline void xadFreeObjectA(APTR object, const struct TagItem *tags)
{
    LVO_xadFreeObjectA(xadMasterBase, object, tags);
}
inline LONG xadGetInfoA(struct xadArchiveInfo *ai, const struct TagItem *tags)
{
    return LVO_xadGetInfoA(xadMasterBase, ai, tags);
}
inline void xadFreeInfo(struct xadArchiveInfo *ai)
{
    LVO_xadFreeInfo(xadMasterBase, ai);
}
inline LONG xadFileUnArcA(struct xadArchiveInfo *ai, const struct TagItem *tags)
{
    return LVO_xadFileUnArcA(xadMasterBase, ai, tags);
}

#endif

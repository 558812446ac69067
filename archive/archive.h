// Archive access: members of an archive, found by a piece of their name.
//
// Every routine opens xadmaster.library at its start and closes it before it
// returns; none may run while another runs. Blocks returned belong to the
// caller (FreeVec releases them).
#ifndef QUILLPEEK_ARCHIVE_ARCHIVE_H
#define QUILLPEEK_ARCHIVE_ARCHIVE_H

#include <cstddef>
#include <cstdint>

// The largest member that XAD_file_unpacker takes into memory, in bytes: its
// block is four times as large, and a document must stay well within 256 MiB
// of memory whatever it claims.
constexpr uint32_t XAD_MEMBER_LIMIT = 64u * 1024u * 1024u;

// The first member, in listing order, whose full name contains wanted, in a
// zero-filled block of four times its size; null when the archive cannot be
// read, no member's name contains wanted, the member is empty or larger than
// XAD_MEMBER_LIMIT, or the block cannot be had.
void *XAD_file_unpacker(const char *path, const char *wanted);

// The size in bytes of the member XAD_file_unpacker chooses; 0 when the
// archive cannot be read or no member's name contains wanted.
uint32_t XAD_file_grosse(const char *path, const char *wanted);

// Writes every member whose full name contains ".jpg" or ".png" into the
// directory "t:temp" under the last part of its name. Returns 1 when the last
// extraction attempted succeeded; 0 when it failed, when there was none or
// xadmaster.library is missing; -1 when the archive cannot be read; -2 when
// no archive info can be had.
int32_t XAD_picture_unpacker(const char *path);

// Why XAD_file_unpacker gives nothing for this document, in a few words fit
// for a message ("cannot be read as an archive", ...); for diagnostics after
// a failure, never on the viewing path itself.
const char *XAD_file_problem(const char *path, const char *wanted);

// Why the member XAD_file_unpacker chose did not come out of the archive
// whole ("its thumbnail could not be extracted: it is encrypted", ...), or
// null when nothing is wrong with it as the archive holds it. For diagnostics
// after its block failed to give a picture, never on the viewing path itself.
const char *XAD_member_problem(const char *path, const char *wanted);

// The member that an Office Open XML package names as its preview picture
// (the relationship of type metadata/thumbnail in "_rels/.rels",
// conventionally "docProps/thumbnail.jpeg"), its target resolved against the
// package root (archive/relationships.h) and copied into name (room for size
// bytes). False when the document is no such package, names no preview, or
// the preview cannot be followed; *problem (when given) then says why the
// package's own relationship was refused ("its preview is named outside the
// document ..."), or is null when there is no such relationship.
bool XAD_preview_name(const char *path, char *name, size_t size, const char **problem = nullptr);

// Whether a preview member that the picture class refused is a Windows
// metafile (WMF or EMF): by its first bytes or by its name's extension.
bool XAD_preview_is_metafile(const char *name, const void *block, uint32_t size);

// What XAD_part_unpacker gave.
enum XadPartOutcome {
    XAD_PART_WHOLE,   // the whole member
    XAD_PART_CUT,     // its first limit bytes: the member holds more
    XAD_PART_MISSING, // no member has that name (nor one differing only in case)
    XAD_PART_FAILED,  // the archive or the member cannot be read; why in *problem
};

// The member named exactly name, or when none is, the first whose name
// differs from it only in the case of ASCII letters (package part names are
// compared so), the first such in listing order. At most limit bytes of it
// are unpacked into a block from AllocVec one byte longer than they are,
// its last byte zero; *size is the number of the member's bytes in it.
// Null, with *size 0, for XAD_PART_MISSING and XAD_PART_FAILED; *problem is
// then why in a few words ("the archive is cut short", ...), else null.
void *XAD_part_unpacker(const char *path, const char *name, uint32_t limit, uint32_t *size,
                        XadPartOutcome *outcome, const char **problem);

#endif

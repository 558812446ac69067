// What the parts of xadmaster.library share among themselves; not for the
// program's code.
//
//   source.cpp   the archive file as libarchive reads it, and the reader
//   listing.cpp  the listing of an archive, and the one remembered
//   zip_view.cpp reaching one zip member without walking those before it
//   extract.cpp  a member into memory or into a file
//   xadmaster.cpp objects and the library's entry points
#ifndef QUILLPEEK_PLATFORM_XADMASTER_INTERN_H
#define QUILLPEEK_PLATFORM_XADMASTER_INTERN_H

#include <archive.h>
#include <archive_entry.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/xadmaster/xadmaster.h"

namespace platform::xad
{

// --- The archive file (source.cpp) ---

// The archive file as libarchive reads it: pread through a buffer, with seeks
// inside the buffer answered from it.
//
// A source may lay bytes of its own over the file from overlay_start on (and
// end where they end): a view of a zip whose central directory names one
// member only (see zip_member_view).

struct Source {
    int fd = -1;
    int64_t size = 0;
    int64_t position = 0;     // where the next read starts
    int64_t buffer_start = 0; // file offset of buffer[0]
    size_t buffer_length = 0; // valid bytes in buffer
    std::vector<char> buffer;
    int64_t overlay_start = INT64_MAX;
    std::string overlay;
    size_t block = 0; // the size of the last read
};

// A reader of every archive format we accept over the source; null when the
// source is no archive we read.
struct archive *open_reader(Source &source, const char *passphrase);

// Owns a reader: freed on every path out of the scope that holds it.
struct ReaderFree {
    void operator()(struct archive *a) const { archive_read_free(a); }
};
using Reader = std::unique_ptr<struct archive, ReaderFree>;

// Owns a descriptor.
struct Descriptor {
    int fd;
    explicit Descriptor(int descriptor) : fd(descriptor) {}
    ~Descriptor();
    Descriptor(const Descriptor &) = delete;
    Descriptor &operator=(const Descriptor &) = delete;
    int release()
    {
        int kept = fd;
        fd = -1;
        return kept;
    }
};

// Outcome of one step of a walk over the headers.
enum class Step { Header, Unreadable, End, Failed };

// The next header, counting each header libarchive gives (readable or not)
// once, so that two walks over the same file count alike.
Step next_header(struct archive *a, struct archive_entry **entry);

// Regular files are members; directories, symbolic links and hard links
// that carry no data of their own are not.
bool is_member(struct archive_entry *entry);

// The member's name as libarchive gives it; its UTF-8 form where the
// locale's cannot be had.
const char *member_name(struct archive_entry *entry);

bool read_exactly(int fd, std::string &data, size_t length, int64_t offset);

// --- Listings (listing.cpp) ---

// One member as listed.
struct Listed {
    uint64_t ordinal; // its header's position in libarchive's walk, from 0
    uint64_t size;
    ULONG flags;
    size_t name_offset; // into Listing::names, zero-terminated
};

struct Listing {
    std::vector<Listed> members;
    std::string names;
    bool zip = false; // read as a zip
};

// What xai_Private holds between xadGetInfoA and xadFreeInfo.
struct InfoState {
    int fd = -1;
    int64_t size = 0;
    std::shared_ptr<const Listing> listing;
    std::vector<struct xadFileInfo> records; // the chain at xai_FileInfo
    std::vector<char> names;                 // the texts the records point into
};

// Lists the archive at path into a fresh InfoState at ai->xai_Private.
LONG get_info(struct xadArchiveInfo *ai, const char *path);
void release_state(struct xadArchiveInfo *ai);
void forget_listings();

// --- One zip member (zip_view.cpp) ---

// The file seen as a zip whose central directory holds only the
// occurrence-th record named name (in the order of the members' places);
// false when that view cannot be had.
bool zip_member_view(int fd, int64_t size, const char *name, size_t occurrence, Source &source);

// --- Extraction (extract.cpp) ---

LONG file_unarc(struct xadArchiveInfo *ai, const struct TagItem *tags);

} // namespace platform::xad

#endif

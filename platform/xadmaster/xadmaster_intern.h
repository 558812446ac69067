// What the parts of xadmaster.library share among themselves; not for the
// program's code.
//
//   source.cpp      the archive file as libarchive reads it, and the reader
//   listing.cpp     the listing of an archive, and the one remembered
//   zip_listing.cpp a plain zip listed from its own records
//   zip_view.cpp    reaching one zip member without walking those before it
//   zip_direct.cpp  a plain zip member into memory with zlib
//   zip_records.h   the zip records those two read, decoded into fields
//   extract.cpp     a member into memory or into a file
//   output.cpp      output files that appear whole or not at all
//   xadmaster.cpp   objects and the library's entry points
#ifndef QUILLPEEK_PLATFORM_XADMASTER_INTERN_H
#define QUILLPEEK_PLATFORM_XADMASTER_INTERN_H

#include <clocale>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/internal/large_memory.h"
#include "platform/internal/libarchive.h"
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
    // Bytes the reader may unpack, counted through its filters and through
    // data read with read_through; past it every read fails.
    struct archive *reader = nullptr;
    uint64_t budget = UINT64_MAX;
    uint64_t data_bytes = 0;
    bool over_budget = false;
};

// Bytes the reader over source has unpacked so far.
uint64_t decompressed(const Source &source);

// Whether libarchive is loaded, loading it on the first call; the first
// failure is journalled. Every path that reads with libarchive asks first.
bool libarchive_ready();

// A reader of every archive format we accept over the source; null when the
// source is no archive we read. Only once libarchive_ready().
struct archive *open_reader(Source &source, const char *passphrase);

// Owns a reader: freed on every path out of the scope that holds it.
struct ReaderFree {
    void operator()(struct archive *a) const { libarchive().read_free(a); }
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

// The member's name as the archive stores it, in UTF-8 where it has a UTF-8
// form, else its bytes as stored; "" when it has none.
const char *member_name(struct archive_entry *entry);

// While one lives, libarchive converts names on this thread in a UTF-8
// locale, whatever the process's locale is (in the C locale it gives no name
// at all for any that is not ASCII). The locale is made and entered only
// once libarchive is about to be used (libarchive_ready), so that a zip read
// without it never loads the locale's file.
struct UTF8Names {
    UTF8Names();
    ~UTF8Names();
    UTF8Names(const UTF8Names &) = delete;
    UTF8Names &operator=(const UTF8Names &) = delete;
    // Enters the UTF-8 locale for the innermost living one on this thread.
    static void enter();
    locale_t previous = static_cast<locale_t>(0);
    bool was_utf8;
    bool entered = false;
    UTF8Names *outer; // the one living when this one began
};

// Whether getting past the current member's data means unpacking it: a
// solid format, or one that knows the member's end only by reading to it.
bool skipping_unpacks(struct archive *a, struct archive_entry *entry);

// Reads the current member's data to its end, counting it against the
// source's budget; the member's size as read.
uint64_t read_through(Source &source, struct archive *a);

// XADERR_OK, or the XADERR_LIMIT_* code of a budget that the file's own
// records declare it would exceed (a zip's central directory, a 7z's
// header), before libarchive builds anything from them.
LONG declared_work(int fd, int64_t size);

bool read_exactly(int fd, std::string &data, size_t length, int64_t offset);

// --- Listings (listing.cpp) ---

// One member as listed.
struct Listed {
    uint64_t ordinal; // its header's position in libarchive's walk, from 0
    uint64_t size;
    ULONG flags;
    size_t name_offset; // into Listing::names, zero-terminated
    // Where its central record lies in the file, when the listing was made
    // from a zip's own records; else -1.
    int64_t central = -1;
};

// A large listing's arrays take their pages a huge page at a time
// (platform/internal/large_memory.h).
struct Listing {
    LargeVector<Listed> members;
    LargeString names;           // in no particular order
    bool zip = false;            // read as a zip
    int64_t directory_start = 0; // of a zip listed from its own records
};

// What xai_Private holds between xadGetInfoA and xadFreeInfo.
struct InfoState {
    int fd = -1;
    int64_t size = 0;
    std::shared_ptr<const Listing> listing;
    LargeVector<struct xadFileInfo> records; // the chain at xai_FileInfo
    LargeVector<char> names;                 // the texts the records point into
};

// Lists the archive at path into a fresh InfoState at ai->xai_Private.
LONG get_info(struct xadArchiveInfo *ai, const char *path);
void release_state(struct xadArchiveInfo *ai);
void forget_listings();

// --- A plain zip's listing (zip_listing.cpp) ---

// Lists a plain zip from its own records into listing, as libarchive's walk
// would list it, with code XADERR_OK or the budget it met; false, with
// listing untouched, for a zip outside that plain form or no zip at all.
bool list_plain_zip(int fd, int64_t size, Listing &listing, LONG &code);

// --- One zip member (zip_view.cpp) ---

// The file seen as a zip whose central directory holds only the
// occurrence-th record named name (in the order of the members' places);
// false when that view cannot be had.
bool zip_member_view(int fd, int64_t size, const char *name, size_t occurrence, Source &source);

// The same view from the member's central record at central, the central
// directory starting at directory_start; false when the file no longer
// holds that record for name.
bool zip_member_view_at(int fd, int64_t directory_start, int64_t central, const char *name, Source &source);

// The member whose central record lies at central (named name, listed
// with size listed) inflated or copied into memory with zlib; true only when
// all of it came out, with the size and CRC-32 of its record, within room.
// False for anything else: the member is then for libarchive to take.
bool zip_member_to_memory(int fd, int64_t directory_start, int64_t central, const char *name, uint64_t listed,
                          char *memory, size_t room);
// Its first room bytes, for a room smaller than the member, as libarchive
// gives them before it says the room is too short; true only when all of
// them came out. No CRC-32 can vouch for them, as for libarchive's.
bool zip_member_start_to_memory(int fd, int64_t directory_start, int64_t central, const char *name,
                                uint64_t listed, char *memory, size_t room);

// Whether libarchive, stepping over a stored member whose sizes follow its
// data, ends it where its central record does: bytes holds from at on the
// data (size bytes) and then at least what its data descriptor takes. It ends
// the member at the first descriptor whose sizes and CRC-32 fit the bytes
// before it; that must be the one right after the data, stating the
// record's CRC-32 crc and size. A member it ends elsewhere throws its
// reading of the rest of the archive out of step.
bool stored_member_ends_as_recorded(const std::string &bytes, size_t at, uint64_t size, uint32_t crc);

// The number of records and the length of the zip's central directory, when
// its end records can be found; false otherwise.
bool zip_directory_extent(int fd, int64_t size, uint64_t &records, uint64_t &length);

// Where the zip's central directory lies (its file offset and length), as
// zip_directory finds it, without reading it; false where zip_directory
// would give none.
bool zip_directory_place(int fd, int64_t size, int64_t &start, uint64_t &length);

// --- Output files (output.cpp) ---

// The folder an output file goes into, opened without following links below
// the temporary directory, each of those levels the user's own. -1 when it
// cannot be had safely; leaf receives the file's own name.
int open_output_directory(const char *name, std::string &leaf);

// A file being written in directory: unnamed, or named temporary while it
// has a name of its own.
// Abandoned when it goes, however the extraction ended.
struct Output {
    int directory = -1;
    int fd = -1;
    std::string temporary;
    Output() = default;
    Output(const Output &) = delete;
    Output &operator=(const Output &) = delete;
    ~Output();
};

// A fresh output file in directory; false when none can be made.
bool output_begin(int directory, Output &output);
// Puts the whole written file at leaf; XADERR_FILEEXISTS when a file is there
// and overwrite is false.
LONG output_commit(Output &output, const char *leaf, bool overwrite);
// Closes the file; whatever was not committed is gone.
void output_abandon(Output &output);

// --- Extraction (extract.cpp) ---

LONG file_unarc(struct xadArchiveInfo *ai, const struct TagItem *tags);

} // namespace platform::xad

#endif

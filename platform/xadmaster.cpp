// xadmaster.library on libarchive.
//
// xadGetInfoA opens the archive file once and keeps it open until
// xadFreeInfo, so that every extraction reads the very file that was listed.
// libarchive reads it through a buffer of this library's own (see Source), so
// that the zip reader's seek to each member's local header costs no system
// call when the headers lie close together.
//
// A listing is remembered for the last archive listed, keyed by the file's
// identity (device, inode, size, modification and change times), and only
// once the file has stood unchanged for a while: listing the same document
// again, as the viewing flow does, then costs one fstat.
#include "platform/xadmaster.h"

#include <archive.h>
#include <archive_entry.h>
#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <set>
#include <string>
#include <vector>

#include "platform/control.h"
#include "platform/internal.h"

namespace
{

const char *const library_name = "xadmaster.library";

// ---------------------------------------------------------------------------
// Reading the archive file

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

// Reads start small where libarchive jumps about (a zip's headers between
// large members) and grow while it reads on from where the last read ended.
constexpr size_t source_block_min = 4 * 1024;
constexpr size_t source_block_max = 1024 * 1024;

la_ssize_t source_read(struct archive *a, void *client, const void **block)
{
    Source *source = static_cast<Source *>(client);
    if (source->position >= source->overlay_start) {
        size_t skip = static_cast<size_t>(source->position - source->overlay_start);
        size_t left = skip < source->overlay.size() ? source->overlay.size() - skip : 0;
        *block = source->overlay.data() + (source->overlay.size() - left);
        source->position += static_cast<int64_t>(left);
        return static_cast<la_ssize_t>(left);
    }
    int64_t end = source->buffer_start + static_cast<int64_t>(source->buffer_length);
    if (source->position < source->buffer_start || source->position >= end) {
        bool onward = source->buffer_length > 0 && source->position >= end &&
                      source->position < end + static_cast<int64_t>(source->block);
        source->block = onward ? std::min(source->block * 2, source_block_max) : source_block_min;
        if (source->buffer.size() < source->block)
            source->buffer.resize(source->block);
        ssize_t got;
        do
            got = pread(source->fd, source->buffer.data(), source->block, source->position);
        while (got < 0 && errno == EINTR);
        if (got < 0) {
            archive_set_error(a, errno, "cannot read the archive");
            return ARCHIVE_FATAL;
        }
        source->buffer_start = source->position;
        source->buffer_length = static_cast<size_t>(got);
        end = source->buffer_start + got;
        if (got == 0) {
            *block = source->buffer.data();
            return 0;
        }
    }
    if (end > source->overlay_start)
        end = source->overlay_start;
    *block = source->buffer.data() + (source->position - source->buffer_start);
    la_ssize_t length = static_cast<la_ssize_t>(end - source->position);
    source->position = end;
    return length;
}

la_int64_t source_seek(struct archive *, void *client, la_int64_t offset, int whence)
{
    Source *source = static_cast<Source *>(client);
    int64_t base = whence == SEEK_CUR ? source->position : whence == SEEK_END ? source->size : 0;
    int64_t target = base + offset;
    if (target < 0)
        return ARCHIVE_FATAL;
    source->position = target;
    return target;
}

la_int64_t source_skip(struct archive *, void *client, la_int64_t request)
{
    Source *source = static_cast<Source *>(client);
    int64_t left = source->size > source->position ? source->size - source->position : 0;
    int64_t step = request < left ? request : left;
    source->position += step;
    return step;
}

// The decompression filters libarchive runs in-process. Others (lrzip,
// grzip, lzop without its library) would start an outside program on the
// document's data, which a document must never be able to do.
void support_builtin_filters(struct archive *a)
{
    typedef int (*FilterSupport)(struct archive *);
    static const FilterSupport filters[] = {
        archive_read_support_filter_gzip,  archive_read_support_filter_bzip2,
        archive_read_support_filter_xz,    archive_read_support_filter_lzma,
        archive_read_support_filter_lzip,  archive_read_support_filter_zstd,
        archive_read_support_filter_lz4,   archive_read_support_filter_compress,
        archive_read_support_filter_uu,    archive_read_support_filter_lzop,
        archive_read_support_filter_grzip, archive_read_support_filter_lrzip,
    };
    static const unsigned builtin = [] {
        unsigned mask = 0;
        for (unsigned i = 0; i < sizeof filters / sizeof filters[0]; ++i) {
            struct archive *probe = archive_read_new();
            if (probe != nullptr && filters[i](probe) == ARCHIVE_OK)
                mask |= 1u << i;
            archive_read_free(probe);
        }
        return mask;
    }();
    for (unsigned i = 0; i < sizeof filters / sizeof filters[0]; ++i)
        if ((builtin & (1u << i)) != 0)
            filters[i](a);
}

// A reader of every archive format we accept over the source. Plain "raw"
// and "empty" input is not an archive; nor is mtree, a text format whose
// members are files of this machine named in the text.
struct archive *open_reader(Source &source, const char *passphrase)
{
    struct archive *a = archive_read_new();
    if (a == nullptr)
        return nullptr;
    support_builtin_filters(a);
    archive_read_support_format_7zip(a);
    archive_read_support_format_ar(a);
    archive_read_support_format_cab(a);
    archive_read_support_format_cpio(a);
    archive_read_support_format_iso9660(a);
    archive_read_support_format_lha(a);
    archive_read_support_format_rar(a);
    archive_read_support_format_rar5(a);
    archive_read_support_format_tar(a);
    archive_read_support_format_xar(a);
    archive_read_support_format_zip(a); // seekable reader, streaming as fallback
    if (passphrase != nullptr)
        archive_read_add_passphrase(a, passphrase);
    archive_read_set_read_callback(a, source_read);
    archive_read_set_seek_callback(a, source_seek);
    archive_read_set_skip_callback(a, source_skip);
    archive_read_set_callback_data(a, &source);
    if (archive_read_open1(a) != ARCHIVE_OK) {
        archive_read_free(a);
        return nullptr;
    }
    return a;
}

// Owns a reader: freed on every path out of the scope that holds it.
struct ReaderFree {
    void operator()(struct archive *a) const { archive_read_free(a); }
};
using Reader = std::unique_ptr<struct archive, ReaderFree>;

// Owns a descriptor.
struct Descriptor {
    int fd;
    explicit Descriptor(int descriptor) : fd(descriptor) {}
    ~Descriptor()
    {
        if (fd >= 0)
            close(fd);
    }
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
Step next_header(struct archive *a, struct archive_entry **entry)
{
    for (int retries = 0; retries < 16; ++retries) {
        int status = archive_read_next_header(a, entry);
        if (status == ARCHIVE_OK || status == ARCHIVE_WARN)
            return Step::Header;
        if (status == ARCHIVE_EOF)
            return Step::End;
        if (status == ARCHIVE_FAILED)
            return Step::Unreadable;
        if (status != ARCHIVE_RETRY)
            return Step::Failed;
    }
    return Step::Failed;
}

// Regular files are members; directories, symbolic links and hard links
// that carry no data of their own are not.
bool is_member(struct archive_entry *entry)
{
    if (archive_entry_filetype(entry) != AE_IFREG)
        return false;
    return archive_entry_hardlink(entry) == nullptr || archive_entry_size(entry) > 0;
}

// The member's name as libarchive gives it; its UTF-8 form where the
// locale's cannot be had.
const char *member_name(struct archive_entry *entry)
{
    const char *name = archive_entry_pathname(entry);
    if (name == nullptr)
        name = archive_entry_pathname_utf8(entry);
    return name != nullptr ? name : "";
}

// Bytes of the current member, counted by reading it (for formats that do not
// record sizes); stops counting past 32 bits.
uint64_t measure_member(struct archive *a)
{
    uint64_t total = 0;
    const void *block;
    size_t length;
    la_int64_t offset;
    while (total <= 0xFFFFFFFFull && archive_read_data_block(a, &block, &length, &offset) == ARCHIVE_OK)
        total =
            static_cast<uint64_t>(offset) + length > total ? static_cast<uint64_t>(offset) + length : total;
    return total;
}

// ---------------------------------------------------------------------------
// Listings

struct Identity {
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    struct timespec modified = {}, changed = {};

    bool operator==(const Identity &other) const
    {
        return device == other.device && inode == other.inode && size == other.size &&
               modified.tv_sec == other.modified.tv_sec && modified.tv_nsec == other.modified.tv_nsec &&
               changed.tv_sec == other.changed.tv_sec && changed.tv_nsec == other.changed.tv_nsec;
    }
};

Identity identity_of(const struct stat &st)
{
    Identity id;
    id.device = st.st_dev;
    id.inode = st.st_ino;
    id.size = st.st_size;
    id.modified = st.st_mtim;
    id.changed = st.st_ctim;
    return id;
}

// A file whose times are this close to now may still be changed within the
// same clock tick without its identity changing; it is not remembered.
bool settled(const Identity &id)
{
    struct timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    time_t latest = id.modified.tv_sec > id.changed.tv_sec ? id.modified.tv_sec : id.changed.tv_sec;
    return now.tv_sec - latest >= 2;
}

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

// The listing of the last settled archive listed.
struct RememberedListing {
    std::mutex lock;
    Identity id;
    std::shared_ptr<const Listing> listing;
};

RememberedListing &remembered()
{
    static RememberedListing *instance = new RememberedListing;
    return *instance;
}

std::shared_ptr<const Listing> recall(const Identity &id)
{
    RememberedListing &r = remembered();
    std::lock_guard<std::mutex> hold(r.lock);
    return r.listing != nullptr && r.id == id ? r.listing : nullptr;
}

void remember(const Identity &id, const std::shared_ptr<const Listing> &listing)
{
    RememberedListing &r = remembered();
    std::lock_guard<std::mutex> hold(r.lock);
    r.id = id;
    r.listing = listing;
}

// A listing larger than this is refused (XADERR_NOMEMORY): a small
// compressed archive can hold millions of headers.
constexpr size_t listing_members_limit = size_t(1) << 22;
constexpr size_t listing_names_limit = size_t(256) << 20;

// Walks the archive's headers. XADERR_OK with the listing; XADERR_UNKNOWN when
// the file is no archive we read. A walk broken off by damaged data keeps the
// members listed before the damage.
LONG walk_listing(int fd, int64_t size, const char *passphrase, Listing &listing)
{
    Source source;
    source.fd = fd;
    source.size = size;
    Reader reader(open_reader(source, passphrase));
    if (reader == nullptr)
        return XADERR_UNKNOWN;
    struct archive *a = reader.get();
    struct archive_entry *entry = nullptr;
    LONG result = XADERR_OK;
    for (uint64_t ordinal = 0;; ++ordinal) {
        Step step = next_header(a, &entry);
        if (step == Step::End || step == Step::Failed) {
            if (ordinal == 0 && step == Step::Failed)
                result = XADERR_UNKNOWN;
            break;
        }
        if (ordinal == 0)
            listing.zip = (archive_format(a) & ARCHIVE_FORMAT_BASE_MASK) == ARCHIVE_FORMAT_ZIP;
        if (step == Step::Unreadable || !is_member(entry))
            continue;
        if (listing.members.size() >= listing_members_limit || listing.names.size() >= listing_names_limit) {
            result = XADERR_NOMEMORY;
            break;
        }
        Listed member;
        member.ordinal = ordinal;
        member.size = archive_entry_size_is_set(entry) ? static_cast<uint64_t>(archive_entry_size(entry))
                                                       : measure_member(a);
        member.flags = archive_entry_is_encrypted(entry) ? ULONG(XADFIF_CRYPTED) : 0u;
        member.name_offset = listing.names.size();
        listing.names.append(member_name(entry));
        listing.names.push_back('\0');
        listing.members.push_back(member);
    }
    return result;
}

// What xai_Private holds between xadGetInfoA and xadFreeInfo.
struct InfoState {
    int fd = -1;
    int64_t size = 0;
    std::shared_ptr<const Listing> listing;
    std::vector<struct xadFileInfo> records; // the chain at xai_FileInfo
    std::vector<char> names;                 // the texts the records point into
};

void release_state(struct xadArchiveInfo *ai)
{
    InfoState *state = static_cast<InfoState *>(ai->xai_Private);
    if (state != nullptr) {
        if (state->fd >= 0)
            close(state->fd);
        delete state;
    }
    ai->xai_Private = nullptr;
    ai->xai_FileInfo = nullptr;
}

// The chain the caller reads: its own copy of the names, so that nothing the
// caller does can alter a remembered listing.
void build_chain(InfoState &state)
{
    const Listing &listing = *state.listing;
    state.names.assign(listing.names.begin(), listing.names.end());
    state.records.assign(listing.members.size(), xadFileInfo{});
    for (size_t i = 0; i < listing.members.size(); ++i) {
        const Listed &member = listing.members[i];
        struct xadFileInfo &record = state.records[i];
        record.xfi_Next = i + 1 < listing.members.size() ? &state.records[i + 1] : nullptr;
        record.xfi_EntryNumber = static_cast<ULONG>(i + 1);
        record.xfi_Flags = member.flags;
        record.xfi_FileName = state.names.data() + member.name_offset;
        record.xfi_Size = member.size > 0xFFFFFFFFull ? 0xFFFFFFFFu : static_cast<ULONG>(member.size);
        record.xfi_CrunchSize = 0;
    }
}

// Opens the archive file without blocking on a pipe or device; only regular
// files are read. XADERR_OK with fd and st set.
LONG open_archive_file(const char *path, int &fd, struct stat &st)
{
    fd = open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0)
        return XADERR_INPUT;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        close(fd);
        fd = -1;
        return XADERR_INPUT;
    }
    return XADERR_OK;
}

// libarchive turns each zip member's DOS time into a time_t with mktime(),
// and glibc reads /etc/localtime again on every such call while TZ is unset
// (two stat calls a member: most of the cost of listing a large zip). Naming
// that same zone file in TZ keeps every conversion as it was and drops the
// calls. Done once, before the first archive is read.
void settle_time_zone()
{
    static std::once_flag once;
    std::call_once(once, [] {
        if (std::getenv("TZ") == nullptr) {
            setenv("TZ", ":/etc/localtime", 0);
            tzset();
        }
    });
}

LONG get_info(struct xadArchiveInfo *ai, const char *path)
{
    settle_time_zone();
    int fd;
    struct stat st;
    LONG result = open_archive_file(path, fd, st);
    if (result != XADERR_OK)
        return result;
    Descriptor file(fd);
    if (!platform::allocation_allowed())
        return XADERR_NOMEMORY;
    Identity id = identity_of(st);
    std::shared_ptr<const Listing> listing = recall(id);
    if (listing == nullptr) {
        auto fresh = std::make_shared<Listing>();
        result = walk_listing(fd, st.st_size, ai->xai_Password, *fresh);
        if (result != XADERR_OK)
            return result;
        listing = fresh;
        if (settled(id))
            remember(id, listing);
    }
    std::unique_ptr<InfoState> state(new InfoState);
    state->size = st.st_size;
    state->listing = listing;
    build_chain(*state);
    state->fd = file.release();
    ai->xai_FileInfo = state->records.empty() ? nullptr : state->records.data();
    ai->xai_Private = state.release();
    return XADERR_OK;
}

// ---------------------------------------------------------------------------
// Extraction

// Reaching one member of a zip without walking the members before it.
//
// libarchive reads a zip by its central directory, then visits every
// member's local header in turn: reaching the last of 100,000 members costs
// 100,000 header reads. Instead the reader is shown the file as it is up to
// the central directory, followed by a directory of one record (the member's
// own, byte for byte) and its end record: it then reads that member's local
// header and data, just as in the full walk. Used only for a plain zip (no
// zip64 end record, no leading bytes) whose member lies wholly before the
// directory; the header the reader then gives must be the listed member, or
// the full walk is made instead.

uint32_t get_le(const std::string &data, size_t at, int bytes)
{
    uint32_t value = 0;
    for (int i = bytes - 1; i >= 0; --i)
        value = value << 8 | static_cast<uint8_t>(data[at + i]);
    return value;
}

void put_le(std::string &data, uint32_t value, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        data.push_back(static_cast<char>(value >> (8 * i)));
}

bool read_exactly(int fd, std::string &data, size_t length, int64_t offset)
{
    data.resize(length);
    size_t done = 0;
    while (done < length) {
        ssize_t got = pread(fd, &data[done], length - done, offset + static_cast<int64_t>(done));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return false;
        done += static_cast<size_t>(got);
    }
    return true;
}

// The zip's central directory, when its end record closes the file and the
// directory ends right before that record (or before its zip64 form).
bool zip_directory(int fd, int64_t size, int64_t &start, std::string &directory)
{
    if (size < 22 || size >= 0xFFFFFFFFll)
        return false;
    size_t tail_length = static_cast<size_t>(size < 65557 + 76 ? size : 65557 + 76);
    std::string tail;
    if (!read_exactly(fd, tail, tail_length, size - static_cast<int64_t>(tail_length)))
        return false;
    int64_t tail_start = size - static_cast<int64_t>(tail_length);
    for (size_t at = tail_length - 22 + 1; at-- > 0;) {
        if (tail.compare(at, 4, "PK\5\6") != 0 || at + 22 + get_le(tail, at + 20, 2) != tail_length)
            continue;
        uint64_t entries = get_le(tail, at + 10, 2), length = get_le(tail, at + 12, 4);
        uint64_t offset = get_le(tail, at + 16, 4);
        int64_t end = tail_start + static_cast<int64_t>(at);
        if (get_le(tail, at + 4, 4) != 0 || entries != get_le(tail, at + 8, 2))
            return false;
        if (at >= 20 + 56 && tail.compare(at - 20, 4, "PK\6\7") == 0) { // zip64: its own end record
            size_t record = at - 20 - 56;
            if (tail.compare(record, 4, "PK\6\6") != 0 ||
                get_le(tail, at - 20 + 8, 4) + (uint64_t(get_le(tail, at - 20 + 12, 4)) << 32) !=
                    static_cast<uint64_t>(tail_start) + record)
                return false;
            length = get_le(tail, record + 40, 4) + (uint64_t(get_le(tail, record + 44, 4)) << 32);
            offset = get_le(tail, record + 48, 4) + (uint64_t(get_le(tail, record + 52, 4)) << 32);
            end = tail_start + static_cast<int64_t>(record);
        } else if (entries == 0xFFFF || length == 0xFFFFFFFFu || offset == 0xFFFFFFFFu) {
            return false;
        }
        if (offset + length != static_cast<uint64_t>(end) || length > listing_names_limit)
            return false;
        start = static_cast<int64_t>(offset);
        return read_exactly(fd, directory, static_cast<size_t>(length), start);
    }
    return false;
}

// Lays over source a directory of the one member named name (the
// occurrence-th of that name, in the order of the members' places).
bool zip_member_view(int fd, int64_t size, const char *name, size_t occurrence, Source &source)
{
    int64_t start;
    std::string directory;
    if (!zip_directory(fd, size, start, directory))
        return false;
    struct Record {
        uint32_t local;
        size_t at, length;
    };
    std::vector<Record> found;
    size_t name_length = std::strlen(name);
    for (size_t at = 0; at + 46 <= directory.size();) {
        if (directory.compare(at, 4, "PK\1\2") != 0)
            return false;
        size_t length = 46 + get_le(directory, at + 28, 2) + get_le(directory, at + 30, 2) +
                        get_le(directory, at + 32, 2);
        if (at + length > directory.size())
            return false;
        if (get_le(directory, at + 28, 2) == name_length &&
            directory.compare(at + 46, name_length, name) == 0)
            found.push_back({get_le(directory, at + 42, 4), at, length});
        at += length;
    }
    std::stable_sort(found.begin(), found.end(),
                     [](const Record &a, const Record &b) { return a.local < b.local; });
    if (occurrence >= found.size())
        return false;
    const Record &record = found[occurrence];
    uint64_t stored = get_le(directory, record.at + 20, 4);
    if (stored == 0xFFFFFFFFu || get_le(directory, record.at + 24, 4) == 0xFFFFFFFFu ||
        record.local + 30ull + name_length + stored > static_cast<uint64_t>(start))
        return false;
    source.overlay = directory.substr(record.at, record.length);
    source.overlay += std::string("PK\5\6\0\0\0\0\1\0\1\0", 12);
    put_le(source.overlay, static_cast<uint32_t>(record.length), 4);
    put_le(source.overlay, static_cast<uint32_t>(start), 4);
    put_le(source.overlay, 0, 2);
    source.overlay_start = start;
    source.size = start + static_cast<int64_t>(source.overlay.size());
    return true;
}

// Whether the reader's current header is the listed member.
bool is_listed(struct archive_entry *entry, const Listing &listing, const Listed &member)
{
    return is_member(entry) &&
           std::strcmp(member_name(entry), listing.names.c_str() + member.name_offset) == 0 &&
           (!archive_entry_size_is_set(entry) ||
            static_cast<uint64_t>(archive_entry_size(entry)) == member.size);
}

// A reader over the one-member view of a zip, at the member; null when the
// view cannot be had or does not give the member.
struct archive *open_zip_member(InfoState &state, const char *passphrase, ULONG number, Source &source,
                                struct archive_entry **entry)
{
    const Listing &listing = *state.listing;
    const Listed &member = listing.members[number - 1];
    const char *name = listing.names.c_str() + member.name_offset;
    size_t occurrence = 0;
    for (ULONG i = 0; i + 1 < number; ++i)
        occurrence += std::strcmp(listing.names.c_str() + listing.members[i].name_offset, name) == 0;
    if (!zip_member_view(state.fd, state.size, name, occurrence, source))
        return nullptr;
    struct archive *a = open_reader(source, passphrase);
    if (a == nullptr)
        return nullptr;
    if (next_header(a, entry) == Step::Header && is_listed(*entry, listing, member))
        return a;
    archive_read_free(a);
    return nullptr;
}

// A reader positioned at the data of the numbered member, or null with code
// set. The member must still be where and what the listing says.
struct archive *open_member(InfoState &state, const char *passphrase, ULONG number, Source &source,
                            struct archive_entry **entry, LONG &code)
{
    const Listing &listing = *state.listing;
    if (number == 0 || number > listing.members.size()) {
        code = XADERR_ENTRYNUMBER;
        return nullptr;
    }
    const Listed &member = listing.members[number - 1];
    source.fd = state.fd;
    source.size = state.size;
    if (listing.zip) {
        struct archive *a = open_zip_member(state, passphrase, number, source, entry);
        if (a != nullptr)
            return a;
        source = Source();
        source.fd = state.fd;
        source.size = state.size;
    }
    struct archive *a = open_reader(source, passphrase);
    if (a == nullptr) {
        code = XADERR_INPUT;
        return nullptr;
    }
    for (uint64_t ordinal = 0;; ++ordinal) {
        Step step = next_header(a, entry);
        if (step == Step::End || step == Step::Failed || (ordinal == member.ordinal && step != Step::Header))
            break;
        if (ordinal < member.ordinal)
            continue;
        if (!is_listed(*entry, listing, member))
            break; // the file no longer holds what was listed
        return a;
    }
    archive_read_free(a);
    code = XADERR_INPUT;
    return nullptr;
}

// Why reading the current member's data failed.
LONG data_error(struct archive_entry *entry)
{
    return archive_entry_is_data_encrypted(entry) ? XADERR_ENCRYPTED : XADERR_ILLEGALDATA;
}

// Reads the member into memory, never more than room bytes. A member with more
// data than room gives XADERR_SHORTBUFFER; one whose data ends before its
// listed size gives XADERR_ILLEGALDATA. What was written stays.
LONG read_to_memory(struct archive *a, struct archive_entry *entry, uint64_t listed, char *memory,
                    size_t room)
{
    size_t written = 0;
    while (written < room) {
        la_ssize_t got = archive_read_data(a, memory + written, room - written);
        if (got < 0)
            return data_error(entry);
        if (got == 0)
            break;
        written += static_cast<size_t>(got);
    }
    if (written == room) {
        char extra;
        la_ssize_t got = archive_read_data(a, &extra, 1);
        if (got < 0)
            return data_error(entry);
        if (got > 0)
            return XADERR_SHORTBUFFER;
    }
    return written == listed ? XADERR_OK : XADERR_ILLEGALDATA;
}

bool write_all(int fd, const char *data, size_t length)
{
    while (length > 0) {
        ssize_t put = write(fd, data, length);
        if (put < 0 && errno == EINTR)
            continue;
        if (put <= 0)
            return false;
        data += put;
        length -= static_cast<size_t>(put);
    }
    return true;
}

LONG read_to_file(struct archive *a, struct archive_entry *entry, uint64_t listed, int fd)
{
    uint64_t written = 0;
    const void *block;
    size_t length;
    la_int64_t offset;
    for (;;) {
        int status = archive_read_data_block(a, &block, &length, &offset);
        if (status == ARCHIVE_EOF)
            break;
        if (status != ARCHIVE_OK) // a warning here is a checksum that does not match
            return data_error(entry);
        if (offset < 0 || static_cast<uint64_t>(offset) < written)
            return XADERR_ILLEGALDATA;
        if (static_cast<uint64_t>(offset) > written) { // a hole in a sparse member
            if (lseek(fd, offset, SEEK_SET) < 0)
                return XADERR_OUTPUT;
            written = static_cast<uint64_t>(offset);
        }
        if (!write_all(fd, static_cast<const char *>(block), length))
            return XADERR_OUTPUT;
        written += length;
    }
    if (ftruncate(fd, static_cast<off_t>(written)) != 0)
        return XADERR_OUTPUT;
    return written == listed ? XADERR_OK : XADERR_ILLEGALDATA;
}

// The directory an output file goes into, opened without following links
// below the temporary directory, each of those levels the user's own.
// -1 when it cannot be had safely; leaf receives the file's own name.
int open_output_directory(const char *name, std::string &leaf)
{
    std::string host = platform::host_path(name);
    bool assigned = (name[0] == 't' || name[0] == 'T') && name[1] == ':';
    std::string below = assigned ? std::string(name + 2) : host;
    size_t slash = below.rfind('/');
    leaf = slash == std::string::npos ? below : below.substr(slash + 1);
    std::string parents = slash == std::string::npos ? std::string() : below.substr(0, slash);
    if (leaf.empty() || leaf == "." || leaf == "..")
        return -1;
    if (!assigned) { // a path of the caller's own: its directories as named
        std::string directory = slash == std::string::npos ? "." : slash == 0 ? "/" : parents;
        return open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    }
    std::string temporary_directory = host.substr(0, host.size() - below.size());
    int fd = open(temporary_directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    for (size_t start = 0; fd >= 0 && start < parents.size();) {
        size_t end = parents.find('/', start);
        if (end == std::string::npos)
            end = parents.size();
        std::string part = parents.substr(start, end - start);
        start = end + 1;
        if (part.empty() || part == ".")
            continue;
        int next =
            part == ".." ? -1 : openat(fd, part.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        struct stat st;
        if (next >= 0 && (fstat(next, &st) != 0 || st.st_uid != geteuid())) {
            close(next);
            next = -1;
        }
        close(fd);
        fd = next;
    }
    return fd;
}

// A new, empty file of a name of its own in directory; -1 when none can be made.
int create_temporary(int directory, std::string &temporary)
{
    for (int attempt = 0; attempt < 64; ++attempt) {
        unsigned char random[6];
        if (getrandom(random, sizeof random, 0) != static_cast<ssize_t>(sizeof random))
            return -1;
        char name[32];
        std::snprintf(name, sizeof name, ".xad-%02x%02x%02x%02x%02x%02x.part", random[0], random[1],
                      random[2], random[3], random[4], random[5]);
        int fd = openat(directory, name, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
        if (fd >= 0) {
            temporary = name;
            return fd;
        }
        if (errno != EEXIST)
            return -1;
    }
    return -1;
}

// Extracts into a temporary file beside the target and renames it into place
// only when the whole member was written; nothing else is ever touched.
LONG unarc_to_file(struct archive *a, struct archive_entry *entry, uint64_t listed, const char *name,
                   bool overwrite)
{
    std::string leaf;
    Descriptor held(open_output_directory(name, leaf));
    int directory = held.fd;
    if (directory < 0)
        return XADERR_OUTPUT;
    struct stat st;
    LONG code = XADERR_OK;
    if (fstatat(directory, leaf.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0)
        code = !S_ISREG(st.st_mode) ? XADERR_OUTPUT : overwrite ? XADERR_OK : XADERR_FILEEXISTS;
    std::string temporary;
    int fd = code == XADERR_OK ? create_temporary(directory, temporary) : -1;
    if (code == XADERR_OK && fd < 0)
        code = XADERR_OUTPUT;
    if (fd >= 0) {
        code = read_to_file(a, entry, listed, fd);
        if (close(fd) != 0 && code == XADERR_OK)
            code = XADERR_OUTPUT;
        if (code == XADERR_OK) {
            unsigned flags = overwrite ? 0 : RENAME_NOREPLACE;
            if (renameat2(directory, temporary.c_str(), directory, leaf.c_str(), flags) != 0)
                code = errno == EEXIST ? XADERR_FILEEXISTS : XADERR_OUTPUT;
        }
        if (code != XADERR_OK)
            unlinkat(directory, temporary.c_str(), 0);
    }
    return code;
}

LONG file_unarc(struct xadArchiveInfo *ai, const struct TagItem *tags)
{
    InfoState *state = static_cast<InfoState *>(ai->xai_Private);
    ULONG number = static_cast<ULONG>(GetTagData(XAD_ENTRYNUMBER, 0, tags));
    char *memory = reinterpret_cast<char *>(GetTagData(XAD_OUTMEMORY, 0, tags));
    const char *file = reinterpret_cast<const char *>(GetTagData(XAD_OUTFILENAME, 0, tags));
    if (state == nullptr || (memory == nullptr) == (file == nullptr) || (file != nullptr && *file == '\0'))
        return XADERR_BADPARAMS;
    Source source;
    struct archive_entry *entry = nullptr;
    LONG code = XADERR_OK;
    Reader reader(open_member(*state, ai->xai_Password, number, source, &entry, code));
    if (reader == nullptr)
        return code;
    struct archive *a = reader.get();
    uint64_t listed = state->listing->members[number - 1].size;
    if (memory != nullptr)
        code =
            read_to_memory(a, entry, listed, memory, static_cast<size_t>(GetTagData(XAD_OUTSIZE, 0, tags)));
    else
        code = unarc_to_file(a, entry, listed, file, GetTagData(XAD_OVERWRITE, 0, tags) != 0);
    return code;
}

// ---------------------------------------------------------------------------
// Objects

// The archive infos handed out and not yet freed.
struct LiveObjects {
    std::mutex lock;
    std::set<void *> objects;
};

LiveObjects &live_objects()
{
    static LiveObjects *instance = new LiveObjects;
    return *instance;
}

bool is_live(const void *object)
{
    LiveObjects &live = live_objects();
    std::lock_guard<std::mutex> hold(live.lock);
    return live.objects.count(const_cast<void *>(object)) != 0;
}

} // namespace

APTR LVO_xadAllocObjectA(struct Library *base, LONG type, const struct TagItem *)
{
    if (!platform::library_ready(base, library_name, "xadAllocObjectA"))
        return nullptr;
    void *object = type == XADOBJ_ARCHIVEINFO ? platform::allocate(sizeof(struct xadArchiveInfo)) : nullptr;
    if (object != nullptr) {
        LiveObjects &live = live_objects();
        std::lock_guard<std::mutex> hold(live.lock);
        live.objects.insert(object);
    }
    platform::journal("xadAllocObjectA %ld%s", static_cast<long>(type), object != nullptr ? "" : " -> NULL");
    return object;
}

void LVO_xadFreeObjectA(struct Library *base, APTR object, const struct TagItem *)
{
    if (!platform::library_ready(base, library_name, "xadFreeObjectA") || object == nullptr)
        return;
    {
        LiveObjects &live = live_objects();
        std::lock_guard<std::mutex> hold(live.lock);
        if (live.objects.erase(object) == 0) {
            platform::journal("xadFreeObjectA FAULT not an object of xadAllocObjectA");
            return;
        }
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
        try {
            code = get_info(ai, path);
        } catch (const std::bad_alloc &) {
            release_state(ai);
            code = XADERR_NOMEMORY;
        }
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

LONG LVO_xadFileUnArcA(struct Library *base, struct xadArchiveInfo *ai, const struct TagItem *tags)
{
    if (!platform::library_ready(base, library_name, "xadFileUnArcA"))
        return XADERR_BADPARAMS;
    ULONG number = static_cast<ULONG>(GetTagData(XAD_ENTRYNUMBER, 0, tags));
    const char *file = reinterpret_cast<const char *>(GetTagData(XAD_OUTFILENAME, 0, tags));
    LONG code = XADERR_BADPARAMS;
    try {
        if (ai != nullptr && is_live(ai))
            code = file_unarc(ai, tags);
    } catch (const std::bad_alloc &) {
        code = XADERR_NOMEMORY;
    }
    std::string where;
    if (file != nullptr)
        where = std::string("file ") + file + (GetTagData(XAD_OVERWRITE, 0, tags) != 0 ? " overwrite" : "");
    else
        where = "memory " + std::to_string(static_cast<unsigned long long>(GetTagData(XAD_OUTSIZE, 0, tags)));
    if (code == XADERR_OK)
        platform::journal("xadFileUnArcA %lu %s", static_cast<unsigned long>(number), where.c_str());
    else
        platform::journal("xadFileUnArcA %lu %s -> %ld", static_cast<unsigned long>(number), where.c_str(),
                          static_cast<long>(code));
    return code;
}

void platform_forget_archive_listings()
{
    remember(Identity(), nullptr);
}

// xadmaster.library: the archive file as libarchive reads it.
//
// xadGetInfoA opens the archive file once and keeps it open until
// xadFreeInfo, so that every extraction reads the very file that was listed.
// libarchive reads it through a buffer of this library's own (Source), so
// that the zip reader's seek to each member's local header costs no system
// call when the headers lie close together.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <clocale>
#include <new>
#include <mutex>

#include "platform/internal/internal.h"
#include "platform/limits.h"

#include "platform/xadmaster/xadmaster_intern.h"

namespace platform::xad
{

namespace
{

// Reads start small where libarchive jumps about (a zip's headers between
// large members) and grow while it reads on from where the last read ended.
constexpr size_t source_block_min = 4 * 1024;
constexpr size_t source_block_max = 1024 * 1024;
// Under a decompression filter a block may unpack to a thousand times its
// size or more; small blocks let the budget be checked often.
constexpr size_t source_block_filtered = 16 * 1024;

// Whether the reader has unpacked more than the source's budget; then the
// read fails with a reason that names the budget.
bool over_budget(struct archive *a, Source &source)
{
    if (source.reader == nullptr || decompressed(source) <= source.budget)
        return false;
    source.over_budget = true;
    libarchive().set_error(a, ERANGE, "more than the budget of unpacked bytes");
    return true;
}

// The buffer made at least size long; false when there is no memory for it.
// libarchive calls source_read from C: nothing may be thrown through it.
bool grow(std::vector<char> &buffer, size_t size) noexcept
{
    try {
        buffer.resize(size);
    } catch (const std::bad_alloc &) {
        return false;
    }
    return true;
}

la_ssize_t source_read(struct archive *a, void *client, const void **block)
{
    Source *source = static_cast<Source *>(client);
    if (over_budget(a, *source))
        return ARCHIVE_FATAL;
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
        size_t most = source->reader != nullptr && libarchive().filter_count(source->reader) > 1
                          ? source_block_filtered
                          : source_block_max;
        source->block = onward ? std::min(source->block * 2, most) : std::min(source_block_min, most);
        if (source->buffer.size() < source->block && !grow(source->buffer, source->block)) {
            libarchive().set_error(a, ENOMEM, "no memory for reading the archive");
            return ARCHIVE_FATAL;
        }
        ssize_t got;
        do
            got = pread(source->fd, source->buffer.data(), source->block, source->position);
        while (got < 0 && errno == EINTR);
        if (got < 0) {
            libarchive().set_error(a, errno, "cannot read the archive");
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
        libarchive().read_support_filter_gzip,  libarchive().read_support_filter_bzip2,
        libarchive().read_support_filter_xz,    libarchive().read_support_filter_lzma,
        libarchive().read_support_filter_lzip,  libarchive().read_support_filter_zstd,
        libarchive().read_support_filter_lz4,   libarchive().read_support_filter_compress,
        libarchive().read_support_filter_uu,    libarchive().read_support_filter_lzop,
        libarchive().read_support_filter_grzip, libarchive().read_support_filter_lrzip,
    };
    static const unsigned builtin = [] {
        unsigned mask = 0;
        for (unsigned i = 0; i < sizeof filters / sizeof filters[0]; ++i) {
            struct archive *probe = libarchive().read_new();
            if (probe != nullptr && filters[i](probe) == ARCHIVE_OK)
                mask |= 1u << i;
            libarchive().read_free(probe);
        }
        return mask;
    }();
    for (unsigned i = 0; i < sizeof filters / sizeof filters[0]; ++i)
        if ((builtin & (1u << i)) != 0)
            filters[i](a);
}

} // namespace

bool libarchive_ready()
{
    static std::once_flag reported;
    if (libarchive_load()) {
        UTF8Names::enter();
        return true;
    }
    std::call_once(reported, [] { journal("xadmaster.library: %s", libarchive_load_error()); });
    return false;
}

// A reader of every archive format we accept over the source. Plain "raw"
// and "empty" input is not an archive; nor is mtree, a text format whose
// members are files of this machine named in the text.
struct archive *open_reader(Source &source, const char *passphrase)
{
    struct archive *a = libarchive().read_new();
    if (a == nullptr)
        return nullptr;
    support_builtin_filters(a);
    libarchive().read_support_format_7zip(a);
    libarchive().read_support_format_ar(a);
    libarchive().read_support_format_cab(a);
    libarchive().read_support_format_cpio(a);
    libarchive().read_support_format_iso9660(a);
    libarchive().read_support_format_lha(a);
    libarchive().read_support_format_rar(a);
    libarchive().read_support_format_rar5(a);
    libarchive().read_support_format_tar(a);
    libarchive().read_support_format_zip(a); // seekable reader, streaming as fallback
    if (passphrase != nullptr)
        libarchive().read_add_passphrase(a, passphrase);
    libarchive().read_set_read_callback(a, source_read);
    libarchive().read_set_seek_callback(a, source_seek);
    libarchive().read_set_skip_callback(a, source_skip);
    libarchive().read_set_callback_data(a, &source);
    source.reader = a;
    if (libarchive().read_open1(a) != ARCHIVE_OK) {
        source.reader = nullptr;
        libarchive().read_free(a);
        return nullptr;
    }
    return a;
}

uint64_t decompressed(const Source &source)
{
    if (source.reader == nullptr)
        return source.data_bytes;
    la_int64_t filtered =
        libarchive().filter_count(source.reader) > 1 ? libarchive().filter_bytes(source.reader, 0) : 0;
    return source.data_bytes + static_cast<uint64_t>(filtered > 0 ? filtered : 0);
}

bool skipping_unpacks(struct archive *a, struct archive_entry *entry)
{
    switch (libarchive().format(a) & ARCHIVE_FORMAT_BASE_MASK) {
    case ARCHIVE_FORMAT_7ZIP:
    case ARCHIVE_FORMAT_RAR:
    case ARCHIVE_FORMAT_RAR_V5:
    case ARCHIVE_FORMAT_CAB:
        return true;
    default:
        return !libarchive().entry_size_is_set(entry);
    }
}

uint64_t read_through(Source &source, struct archive *a)
{
    uint64_t total = 0;
    const void *block;
    size_t length;
    la_int64_t offset;
    while (libarchive().read_data_block(a, &block, &length, &offset) == ARCHIVE_OK) {
        source.data_bytes += length;
        uint64_t end = static_cast<uint64_t>(offset < 0 ? 0 : offset) + length;
        total = end > total ? end : total;
        if (over_budget(a, source))
            break;
    }
    return total;
}

Descriptor::~Descriptor()
{
    if (fd >= 0)
        close(fd);
}

// The next header, counting each header libarchive gives (readable or not)
// once, so that two walks over the same file count alike.
Step next_header(struct archive *a, struct archive_entry **entry)
{
    for (int retries = 0; retries < 16; ++retries) {
        int status = libarchive().read_next_header(a, entry);
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
    if (libarchive().entry_filetype(entry) != AE_IFREG)
        return false;
    return libarchive().entry_hardlink(entry) == nullptr || libarchive().entry_size(entry) > 0;
}

// Whether this thread converts in a UTF-8 locale now (see UTF8Names).
thread_local bool in_utf8 = false;

const char *member_name(struct archive_entry *entry)
{
    // In a UTF-8 locale the locale's form is the UTF-8 form, had without a
    // conversion; elsewhere the UTF-8 form is asked for.
    const char *name = in_utf8 ? libarchive().entry_pathname(entry) : libarchive().entry_pathname_utf8(entry);
    if (name == nullptr)
        name = in_utf8 ? libarchive().entry_pathname_utf8(entry) : libarchive().entry_pathname(entry);
    return name != nullptr ? name : "";
}

namespace
{

thread_local UTF8Names *innermost = nullptr;

} // namespace

UTF8Names::UTF8Names() : was_utf8(in_utf8), outer(innermost)
{
    innermost = this;
}

void UTF8Names::enter()
{
    static locale_t utf8 = [] {
        locale_t made = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(0));
        return made != static_cast<locale_t>(0)
                   ? made
                   : newlocale(LC_CTYPE_MASK, "C.utf8", static_cast<locale_t>(0));
    }();
    UTF8Names *names = innermost;
    if (names == nullptr || names->entered)
        return;
    names->entered = true;
    names->previous = utf8 != static_cast<locale_t>(0) ? uselocale(utf8) : static_cast<locale_t>(0);
    in_utf8 = in_utf8 || names->previous != static_cast<locale_t>(0);
}

UTF8Names::~UTF8Names()
{
    if (previous != static_cast<locale_t>(0))
        uselocale(previous);
    in_utf8 = was_utf8;
    innermost = outer;
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

LONG declared_work(int fd, int64_t size)
{
    uint64_t records = 0, length = 0;
    if (zip_directory_extent(fd, size, records, length)) {
        if (records > limits::archive_listing_members)
            return XADERR_LIMIT_MEMBERS;
        return length > limits::archive_listing_names ? XADERR_LIMIT_LISTING : XADERR_OK;
    }
    // A 7z's start header: its signature, version, a CRC, then where the
    // header lies and its size; libarchive reads that size into memory.
    std::string start;
    if (size >= 32 && read_exactly(fd, start, 32, 0) && start.compare(0, 6, "7z\xBC\xAF\x27\x1C") == 0) {
        uint64_t header_size = 0;
        for (int i = 7; i >= 0; --i)
            header_size = header_size << 8 | static_cast<uint8_t>(start[20 + i]);
        if (header_size > limits::archive_listing_names)
            return XADERR_LIMIT_LISTING;
    }
    return XADERR_OK;
}

} // namespace platform::xad

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

#include "platform/xadmaster/xadmaster_intern.h"

namespace platform::xad
{

namespace
{

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

} // namespace

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

} // namespace platform::xad

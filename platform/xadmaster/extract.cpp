// xadmaster.library: a member into memory or into a file.
#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/internal.h"
#include "platform/xadmaster/xadmaster_intern.h"

namespace platform::xad
{

namespace
{

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

} // namespace

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

} // namespace platform::xad

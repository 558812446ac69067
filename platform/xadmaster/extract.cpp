// xadmaster.library: a member into memory or into a file.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "platform/limits.h"
#include "platform/startup.h"
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
           (!libarchive().entry_size_is_set(entry) ||
            static_cast<uint64_t>(libarchive().entry_size(entry)) == member.size);
}

// A reader over the one-member view of a zip, at the member; null when the
// view cannot be had or does not give the member.
struct archive *open_zip_member(InfoState &state, const char *passphrase, ULONG number, Source &source,
                                struct archive_entry **entry)
{
    const Listing &listing = *state.listing;
    const Listed &member = listing.members[number - 1];
    const char *name = listing.names.c_str() + member.name_offset;
    if (member.central >= 0) {
        if (!zip_member_view_at(state.fd, listing.directory_start, member.central, name, source))
            return nullptr;
    } else {
        size_t occurrence = 0;
        for (ULONG i = 0; i + 1 < number; ++i)
            occurrence += std::strcmp(listing.names.c_str() + listing.members[i].name_offset, name) == 0;
        if (!zip_member_view(state.fd, state.size, name, occurrence, source))
            return nullptr;
    }
    source.budget = limits::archive_extract_unpacked;
    Reader a(open_reader(source, passphrase));
    if (a != nullptr && next_header(a.get(), entry) == Step::Header && is_listed(*entry, listing, member))
        return a.release();
    return nullptr;
}

// Walks the reader to the member's header, unpacking the data of the members
// before it under the source's budget where skipping them would unpack them
// anyway. False when the member is not there, or no longer what was listed.
bool walk_to(Source &source, struct archive *a, const Listed &member, const Listing &listing,
             struct archive_entry **entry)
{
    for (uint64_t ordinal = 0;; ++ordinal) {
        Step step = next_header(a, entry);
        if (source.over_budget || step == Step::End || step == Step::Failed ||
            (ordinal == member.ordinal && step != Step::Header))
            return false;
        if (ordinal == member.ordinal)
            return is_listed(*entry, listing, member);
        if (step == Step::Header && skipping_unpacks(a, *entry))
            read_through(source, a);
    }
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
    if (!libarchive_ready()) {
        code = XADERR_RESOURCE;
        return nullptr;
    }
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
    source.budget = limits::archive_extract_unpacked;
    Reader a(open_reader(source, passphrase));
    if (a == nullptr) {
        code = XADERR_INPUT;
        return nullptr;
    }
    if (walk_to(source, a.get(), listing.members[number - 1], listing, entry))
        return a.release();
    code = source.over_budget ? XADERR_LIMIT_UNPACKED : XADERR_INPUT;
    return nullptr;
}

// The member being extracted: the reader at its data.
struct Opened {
    Source &source;
    struct archive *a;
    struct archive_entry *entry;
    uint64_t listed; // its size in the listing
};

// Why reading the member's data failed.
LONG data_error(const Opened &m)
{
    if (m.source.over_budget)
        return XADERR_LIMIT_UNPACKED;
    if (libarchive().entry_is_data_encrypted(m.entry))
        return XADERR_ENCRYPTED;
    const char *why = libarchive().error_string(m.a);
    bool cut_short = why != nullptr && (std::strstr(why, "runcated") != nullptr ||
                                        std::strstr(why, "nexpected end") != nullptr);
    return cut_short ? XADERR_TRUNCATED : XADERR_ILLEGALDATA;
}

// Reads the member into memory, never more than room bytes. A member with more
// data than room gives XADERR_SHORTBUFFER; one whose data ends before its
// listed size gives XADERR_ILLEGALDATA. What was written stays.
LONG read_to_memory(const Opened &m, char *memory, size_t room)
{
    size_t written = 0;
    while (written < room) {
        la_ssize_t got = libarchive().read_data(m.a, memory + written, room - written);
        if (got < 0)
            return data_error(m);
        if (got == 0)
            break;
        written += static_cast<size_t>(got);
    }
    if (written == room) {
        char extra;
        la_ssize_t got = libarchive().read_data(m.a, &extra, 1);
        if (got < 0)
            return data_error(m);
        if (got > 0)
            return XADERR_SHORTBUFFER;
    }
    return written == m.listed ? XADERR_OK : XADERR_ILLEGALDATA;
}

// Writes the member to fd, never more than archive_file_member bytes of it.
LONG read_to_file(const Opened &m, int fd)
{
    uint64_t written = 0;
    const void *block;
    size_t length;
    la_int64_t offset;
    for (;;) {
        int status = libarchive().read_data_block(m.a, &block, &length, &offset);
        if (status == ARCHIVE_EOF)
            break;
        if (status != ARCHIVE_OK) // a warning here is a checksum that does not match
            return data_error(m);
        if (offset < 0 || static_cast<uint64_t>(offset) < written)
            return XADERR_ILLEGALDATA;
        if (static_cast<uint64_t>(offset) + length > limits::archive_file_member)
            return XADERR_LIMIT_FILE;
        if (static_cast<uint64_t>(offset) > written) { // a hole in a sparse member
            if (lseek(fd, offset, SEEK_SET) < 0)
                return XADERR_OUTPUT;
            written = static_cast<uint64_t>(offset);
        }
        if (platform_write_all(fd, block, length) != length)
            return XADERR_OUTPUT;
        written += length;
    }
    if (ftruncate(fd, static_cast<off_t>(written)) != 0)
        return XADERR_OUTPUT;
    return written == m.listed ? XADERR_OK : XADERR_ILLEGALDATA;
}

// Extracts into an output file in the target's folder and puts it into place
// only when the whole member was written; nothing else is ever touched.
LONG unarc_to_file(const Opened &m, const char *name, bool overwrite)
{
    std::string leaf;
    Descriptor held(open_output_directory(name, leaf));
    int directory = held.fd;
    if (directory < 0)
        return XADERR_OUTPUT;
    struct stat st;
    if (fstatat(directory, leaf.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
        if (!S_ISREG(st.st_mode))
            return XADERR_OUTPUT;
        if (!overwrite)
            return XADERR_FILEEXISTS;
    }
    Output output;
    if (!output_begin(directory, output))
        return XADERR_OUTPUT;
    LONG code = read_to_file(m, output.fd);
    if (code == XADERR_OK)
        code = output_commit(output, leaf.c_str(), overwrite);
    return code; // output is abandoned as it goes
}

// What the numbered member of a zip listed from its own records gave in
// memory without libarchive: XADERR_OK when it came out whole,
// XADERR_SHORTBUFFER when the room took its first bytes, XADERR_RESOURCE
// when it is for libarchive to give.
LONG direct_to_memory(const InfoState &state, ULONG number, char *memory, size_t room)
{
    const Listing &listing = *state.listing;
    if (number == 0 || number > listing.members.size() || listing.members[number - 1].central < 0)
        return XADERR_RESOURCE;
    const Listed &member = listing.members[number - 1];
    const char *name = listing.names.c_str() + member.name_offset;
    if (zip_member_to_memory(state.fd, listing.directory_start, member.central, name, member.size, memory,
                             room))
        return XADERR_OK;
    if (zip_member_start_to_memory(state.fd, listing.directory_start, member.central, name, member.size,
                                   memory, room))
        return XADERR_SHORTBUFFER;
    return XADERR_RESOURCE;
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
    size_t room = static_cast<size_t>(GetTagData(XAD_OUTSIZE, 0, tags));
    LONG direct = memory != nullptr ? direct_to_memory(*state, number, memory, room) : XADERR_RESOURCE;
    if (direct != XADERR_RESOURCE)
        return direct;
    Source source;
    struct archive_entry *entry = nullptr;
    LONG code = XADERR_OK;
    Reader reader(open_member(*state, ai->xai_Password, number, source, &entry, code));
    if (reader == nullptr)
        return code;
    Opened m{source, reader.get(), entry, state->listing->members[number - 1].size};
    if (memory != nullptr)
        return read_to_memory(m, memory, room);
    return unarc_to_file(m, file, GetTagData(XAD_OVERWRITE, 0, tags) != 0);
}

} // namespace platform::xad

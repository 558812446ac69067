// xadmaster.library: a plain zip listed from its own records.
//
// libarchive lists a zip by building a full entry for every member (times
// converted, names converted twice) and then visiting each member's local
// header through its reader: most of the cost of listing a zip of many small
// members. A plain zip, whose records leave no room for libarchive to read
// them otherwise, is listed here from the same records instead, giving the
// listing that libarchive's walk gives: the members in the order of their
// local headers, each named by its local header, sized by its central
// record. Anything outside that plain form (encryption, zip64, Unicode path
// fields, links, records that disagree) is left to libarchive.
#include <algorithm>
#include <atomic>
#include <cstring>
#include <sys/stat.h>

#include "platform/control.h"
#include "platform/limits.h"
#include "platform/xadmaster/xadmaster_intern.h"
#include "platform/xadmaster/zip_records.h"

namespace platform::xad
{

namespace
{

std::atomic<bool> enabled{true};
std::atomic<long> direct_listings{0};

// What the listing keeps of a central record. A plain record's sizes and
// offsets fit 32 bits (zip64 is not plain), as does the directory's length
// (at most the listing's budget for names).
struct Record {
    uint32_t local_offset; // of its local header
    uint32_t size;         // uncompressed
    uint32_t central_at;   // of the record, from the directory's start
    uint32_t name_at;      // in the names read from the directory
    uint32_t crc;          // as the central record states them, for its local header
    uint32_t compressed;
    uint16_t name_length;
    uint16_t method;
    uint16_t flags;
    bool folder;
};

// Whether the extra field at data[at, at + length) parses whole and holds
// neither zip64 sizes (0x0001) nor a Unicode path (0x7075).
bool plain_extra(const std::string &data, size_t at, size_t length)
{
    size_t offset = 0;
    while (offset + 4 <= length) {
        Fields f{data, at + offset};
        uint64_t id = f.le(0, 2), size = f.le(2, 2);
        if (id == 0x0001 || id == 0x7075 || offset + 4 + size > length)
            return false;
        offset += 4 + static_cast<size_t>(size);
    }
    return offset == length;
}

// Strict UTF-8: no overlong forms, surrogates or code points past U+10FFFF.
bool valid_utf8(const char *text, size_t length)
{
    for (size_t i = 0; i < length;) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        size_t more = c < 0x80 ? 0 : c < 0xC2 ? 4 : c < 0xE0 ? 1 : c < 0xF0 ? 2 : c < 0xF5 ? 3 : 4;
        if (more == 4 || i + more >= length + (more == 0))
            return false;
        unsigned char next = more > 0 ? static_cast<unsigned char>(text[i + 1]) : 0x80;
        if ((c == 0xE0 && next < 0xA0) || (c == 0xED && next >= 0xA0) || (c == 0xF0 && next < 0x90) ||
            (c == 0xF4 && next >= 0x90))
            return false;
        for (size_t k = 1; k <= more; ++k)
            if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80)
                return false;
        i += more + 1;
    }
    return true;
}

// Whether the record is a folder as libarchive reads it: by the MS-DOS
// folder attribute or the Unix file type, and always when its name ends in
// "/". False for any other Unix file type (a link, a device), and for a
// Unix folder whose name does not end in "/": libarchive reads some of
// those as files.
bool plain_kind(const CentralRecord &r, const char *name, bool &folder)
{
    uint32_t host = r.made_by >> 8;
    uint32_t type = host == 3   ? (r.external_attributes >> 16) & S_IFMT
                    : host == 0 ? ((r.external_attributes & 0x10) != 0 ? S_IFDIR : S_IFREG)
                                : 0;
    bool slash = name[r.name_length - 1] == '/';
    folder = type == S_IFDIR || slash;
    return type == 0 || type == S_IFREG || (type == S_IFDIR && (slash || host != 3));
}

bool plain_record(const std::string &directory, size_t at, const CentralRecord &r, bool &folder)
{
    const char *name = directory.data() + at + CentralRecord::size;
    if ((r.flags & (ZIP_ENCRYPTED | ZIP_STRONG_ENCRYPTION | ZIP_MASKED_HEADERS)) != 0 ||
        r.method == ZIP_METHOD_AES || r.compressed_size == 0xFFFFFFFFu ||
        r.uncompressed_size == 0xFFFFFFFFu || r.local_offset == 0xFFFFFFFFu || r.name_length == 0 ||
        std::memchr(name, '\0', r.name_length) != nullptr)
        return false;
    if ((r.flags & ZIP_UTF8_NAME) != 0 && !valid_utf8(name, r.name_length))
        return false;
    return plain_kind(r, name, folder) &&
           plain_extra(directory, at + CentralRecord::size + r.name_length, r.extra_length);
}

// Reads the file through a window: a large one while the records lie close
// together (the central directory, the local headers of a zip of many small
// members), a small one for each where they lie far apart (a few large
// members). Only the window's bytes are held, however large the file.
struct Window {
    int fd;
    int64_t end; // where the records must end: the directory's start or end
    int64_t start = -1;
    std::string data;

    bool holds(int64_t at, size_t length) const
    {
        return start >= 0 && at >= start &&
               at + static_cast<int64_t>(length) <= start + static_cast<int64_t>(data.size());
    }

    // Where the file's byte at lies in data, once get has given it.
    size_t offset(int64_t at) const { return static_cast<size_t>(at - start); }

    // The bytes [at, at + length), or null when they lie past end.
    const char *get(int64_t at, size_t length)
    {
        if (at < 0 || at + static_cast<int64_t>(length) > end)
            return nullptr;
        if (!holds(at, length)) {
            const int64_t near = 64 * 1024;
            bool close = start >= 0 && at >= start && at < start + static_cast<int64_t>(data.size()) + near;
            size_t want = std::max<size_t>(length, close ? 256 * 1024 : 4 * 1024);
            want = static_cast<size_t>(std::min<int64_t>(static_cast<int64_t>(want), end - at));
            if (!read_exactly(fd, data, want, at)) {
                start = -1;
                return nullptr;
            }
            start = at;
        }
        return data.data() + (at - start);
    }

    // Reads [at, until) at once, unless the window already holds at's
    // first bytes; later gets within it read nothing.
    void cover(int64_t at, int64_t until)
    {
        if (holds(at, LocalHeader::size) || until <= at || until > end)
            return;
        if (read_exactly(fd, data, static_cast<size_t>(until - at), at))
            start = at;
        else
            start = -1;
    }
};

// Where one read of the local headers from records[first] on should end:
// it takes the headers that follow while the members between them are
// small, so that a zip of many small members is read a few times, and one
// of a few large members once for each header rather than whole.
int64_t headers_reach(const LargeVector<Record> &records, size_t first, int64_t directory)
{
    const int64_t small_member = 16 * 1024, most = 256 * 1024;
    const int64_t slack = 256; // for the header's extra field, most often short
    auto header_end = [&](const Record &r) {
        return static_cast<int64_t>(r.local_offset) + static_cast<int64_t>(LocalHeader::size) +
               r.name_length + slack;
    };
    int64_t from = records[first].local_offset;
    int64_t reach = header_end(records[first]);
    for (size_t next = first + 1; next < records.size(); ++next) {
        const Record &before = records[next - 1];
        if (before.compressed > small_member || header_end(records[next]) - from > most)
            break;
        reach = header_end(records[next]);
    }
    return std::min(reach, directory);
}

// The records of the directory of length bytes at start, read through a
// window (never the whole directory at once), in the order of their local
// headers, with their names in names; false when one is not plain or two
// share a local header.
bool plain_records(int fd, int64_t start, uint64_t length, LargeString &names, LargeVector<Record> &records)
{
    Window window{fd, start + static_cast<int64_t>(length), -1, std::string()};
    records.reserve(length / CentralRecord::size);
    names.reserve(length); // more than the names take: only what they fill is touched
    for (uint64_t at = 0; at < length;) {
        int64_t place = start + static_cast<int64_t>(at);
        if (window.get(place, CentralRecord::size) == nullptr ||
            !Fields{window.data, window.offset(place)}.signature("PK\1\2"))
            return false;
        CentralRecord r = decode_central({window.data, window.offset(place)});
        bool folder;
        if (at + r.length() > length || window.get(place, r.length()) == nullptr ||
            !plain_record(window.data, window.offset(place), r, folder))
            return false;
        Checks checks = central_checks({window.data, window.offset(place)});
        records.push_back({static_cast<uint32_t>(r.local_offset), static_cast<uint32_t>(r.uncompressed_size),
                           static_cast<uint32_t>(at), static_cast<uint32_t>(names.size()),
                           static_cast<uint32_t>(checks.crc), static_cast<uint32_t>(r.compressed_size),
                           static_cast<uint16_t>(r.name_length), static_cast<uint16_t>(r.method),
                           static_cast<uint16_t>(r.flags), folder});
        names.append(window.data, window.offset(place) + CentralRecord::size, r.name_length);
        names.push_back('\0');
        at += r.length();
    }
    auto by_place = [](const Record &a, const Record &b) { return a.local_offset < b.local_offset; };
    if (!std::is_sorted(records.begin(), records.end(), by_place)) // as a zip is written, they are
        std::stable_sort(records.begin(), records.end(), by_place);
    for (size_t i = 1; i < records.size(); ++i)
        if (records[i].local_offset == records[i - 1].local_offset)
            return false;
    return records.empty() || records.front().local_offset == 0;
}

// Whether libarchive, which steps over a stored member whose sizes follow
// its data by looking for its data descriptor, finds it where the record
// says: when it does not, its reading of every later member goes astray,
// and so the listing is left to it. Members larger than a mebibyte are
// left to it unread.
bool stored_ends_as_recorded(Window &window, const Record &c, int64_t data_start, int64_t next)
{
    const int64_t most = 1 << 20;
    int64_t reach = std::min<int64_t>(data_start + static_cast<int64_t>(c.compressed) + 16, next);
    if (c.compressed > most || reach <= data_start ||
        window.get(data_start, static_cast<size_t>(reach - data_start)) == nullptr)
        return false;
    return stored_member_ends_as_recorded(window.data, window.offset(data_start), c.compressed, c.crc);
}

// Whether the record's local header is plain, names the member as its
// central record does (its name at names[record.name_at]), agrees with it on
// how the data is read, and the data ends by next (the following local
// header, or the directory): members that overlap each other or the
// directory are left to libarchive. The header is read in place in the
// window, not copied.
bool plain_local(Window &window, const LargeString &names, const Record &record, int64_t next)
{
    const Record &c = record;
    int64_t at = static_cast<int64_t>(c.local_offset);
    if (window.get(at, LocalHeader::size) == nullptr ||
        !Fields{window.data, window.offset(at)}.signature("PK\3\4"))
        return false;
    Fields head{window.data, window.offset(at)};
    LocalHeader local = decode_local(head);
    Checks central = {c.crc, c.compressed, c.size};
    uint64_t data_end = c.local_offset + local.length() + c.compressed;
    if (local.name_length != c.name_length || (local.flags & ZIP_ENCRYPTED) != 0 ||
        local.method == ZIP_METHOD_AES || !local_agrees(head, c.method, c.flags, central) ||
        data_end > static_cast<uint64_t>(next))
        return false;
    const char *rest = window.get(at, local.length());
    if (rest == nullptr ||
        std::memcmp(rest + LocalHeader::size, names.data() + record.name_at, c.name_length) != 0)
        return false;
    if (!plain_extra(window.data, window.offset(at) + LocalHeader::size + local.name_length,
                     local.extra_length))
        return false;
    return c.method != 0 || (c.flags & ZIP_LENGTH_AT_END) == 0 ||
           stored_ends_as_recorded(window, c, at + local.length(), next);
}

} // namespace

bool list_plain_zip(int fd, int64_t size, Listing &listing, LONG &code)
{
    int64_t start;
    uint64_t length;
    std::string magic;
    LargeString names;
    LargeVector<Record> records;
    if (!enabled || !read_exactly(fd, magic, 4, 0) || magic != std::string("PK\3\4", 4) ||
        !zip_directory_place(fd, size, start, length) || !plain_records(fd, start, length, names, records))
        return false;
    Window window{fd, start, -1, std::string()};
    for (size_t i = 0; i < records.size(); ++i) {
        window.cover(records[i].local_offset, headers_reach(records, i, start));
        if (!plain_local(window, names, records[i],
                         i + 1 < records.size() ? static_cast<int64_t>(records[i + 1].local_offset) : start))
            return false;
    }
    Listing made;
    made.zip = true;
    made.directory_start = start;
    // Room for every member at once: grown a push at a time, the vector of
    // a large listing would be copied and its pages touched twice over.
    made.members.reserve(records.size());
    code = XADERR_OK;
    size_t named = 0; // the bytes of the members' names so far
    for (size_t ordinal = 0; ordinal < records.size() && code == XADERR_OK; ++ordinal) {
        const Record &record = records[ordinal];
        if (record.folder)
            continue;
        code = made.members.size() >= limits::archive_listing_members ? XADERR_LIMIT_MEMBERS
               : named >= limits::archive_listing_names               ? XADERR_LIMIT_LISTING
                                                                      : XADERR_OK;
        if (code != XADERR_OK)
            break;
        made.members.push_back({ordinal, record.size, 0, record.name_at, start + record.central_at});
        named += record.name_length + 1u;
    }
    made.names = std::move(names); // a folder's name stays in it, unused
    listing = std::move(made);
    ++direct_listings;
    return true;
}

} // namespace platform::xad

void platform_xad_direct_zip_listing(bool on)
{
    platform::xad::enabled = on;
}

long platform_xad_direct_zip_listings()
{
    return platform::xad::direct_listings;
}

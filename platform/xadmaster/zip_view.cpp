// xadmaster.library: one zip member, reached without the members before it.
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
//
// Each record is decoded into a struct of its named fields before use.
#include <algorithm>
#include <cstring>

#include "platform/limits.h"
#include "platform/xadmaster/xadmaster_intern.h"
#include "platform/xadmaster/zip_records.h"

namespace platform::xad
{

namespace
{

void put_le(std::string &data, uint64_t value, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        data.push_back(static_cast<char>(value >> (8 * i)));
}

// End of central directory record, "PK\5\6".
struct EndRecord {
    static constexpr size_t size = 22;
    uint32_t disk, directory_disk;
    uint64_t disk_records, records, directory_length, directory_offset;
    uint32_t comment_length;
};

EndRecord decode_end(const Fields &f)
{
    return {uint32_t(f.le(4, 2)), uint32_t(f.le(6, 2)), f.le(8, 2),           f.le(10, 2),
            f.le(12, 4),          f.le(16, 4),          uint32_t(f.le(20, 2))};
}

// Zip64 end of central directory locator, "PK\6\7", right before the end record.
struct Zip64Locator {
    static constexpr size_t size = 20;
    uint64_t end_offset; // of the zip64 end record
};

Zip64Locator decode_locator(const Fields &f)
{
    return {f.le(8, 8)};
}

// Zip64 end of central directory record, "PK\6\6".
struct Zip64EndRecord {
    static constexpr size_t size = 56;
    uint64_t records, directory_length, directory_offset;
};

Zip64EndRecord decode_zip64_end(const Fields &f)
{
    return {f.le(32, 8), f.le(40, 8), f.le(48, 8)};
}

// Where a zip's central directory lies and how many records it has.
struct Directory {
    uint64_t records = 0, offset = 0, length = 0;
};

// The directory named by the end record at tail[at], where tail_start is the
// file offset of tail[0]; false when the records contradict each other or
// the directory does not end right before them.
bool directory_from_end(const std::string &tail, size_t at, int64_t tail_start, Directory &found)
{
    EndRecord end = decode_end({tail, at});
    if (end.disk != 0 || end.records != end.disk_records)
        return false;
    Directory d{end.records, end.directory_offset, end.directory_length};
    uint64_t directory_end = static_cast<uint64_t>(tail_start) + at;
    size_t locator_at = at - Zip64Locator::size;
    if (at >= Zip64Locator::size + Zip64EndRecord::size && Fields{tail, locator_at}.signature("PK\6\7")) {
        size_t record = locator_at - Zip64EndRecord::size;
        if (!Fields{tail, record}.signature("PK\6\6") ||
            decode_locator({tail, locator_at}).end_offset != static_cast<uint64_t>(tail_start) + record)
            return false;
        Zip64EndRecord zip64 = decode_zip64_end({tail, record});
        d.records = zip64.records;
        d.length = zip64.directory_length;
        d.offset = zip64.directory_offset;
        directory_end = static_cast<uint64_t>(tail_start) + record;
    } else if (end.records == 0xFFFF || end.directory_length == 0xFFFFFFFFu ||
               end.directory_offset == 0xFFFFFFFFu) {
        return false;
    }
    if (d.offset + d.length != directory_end)
        return false;
    found = d;
    return true;
}

// What the end record in the file's last bytes said.
enum class TailSays { Directory, Damaged, Undecided };

// The directory named by the end record in the file's last tail_length
// bytes, searched from the end. Undecided when no end record there closes
// the file, or when one lies too near the bytes' start to show the zip64
// records that may come before it.
TailSays directory_in_tail(int fd, int64_t size, size_t tail_length, Directory &found)
{
    std::string tail;
    int64_t tail_start = size - static_cast<int64_t>(tail_length);
    if (!read_exactly(fd, tail, tail_length, tail_start))
        return TailSays::Damaged;
    for (size_t at = tail_length - EndRecord::size + 1; at-- > 0;) {
        Fields f{tail, at};
        if (!f.signature("PK\5\6") || at + EndRecord::size + decode_end(f).comment_length != tail_length)
            continue;
        if (tail_start != 0 && at < Zip64Locator::size + Zip64EndRecord::size)
            return TailSays::Undecided;
        return directory_from_end(tail, at, tail_start, found) ? TailSays::Directory : TailSays::Damaged;
    }
    return TailSays::Undecided;
}

// The zip's central directory, when its end record closes the file and the
// directory ends right before that record (or before its zip64 form). The
// last 4 KiB are read first: only a zip with a long comment needs all the
// 64 KiB that a comment may take.
bool find_directory(int fd, int64_t size, Directory &found)
{
    if (size < int64_t(EndRecord::size) || size >= 0xFFFFFFFFll)
        return false;
    const size_t longest = EndRecord::size + 0xFFFF + Zip64Locator::size + Zip64EndRecord::size;
    const size_t first = 4096;
    TailSays said = TailSays::Undecided;
    if (size > int64_t(first))
        said = directory_in_tail(fd, size, first, found);
    if (said == TailSays::Undecided)
        said = directory_in_tail(fd, size, static_cast<size_t>(std::min<int64_t>(size, int64_t(longest))),
                                 found);
    return said == TailSays::Directory;
}

// One central record named as wanted.
struct Match {
    CentralRecord record;
    size_t at; // in the directory
};

// The records of the directory named name; false when it is damaged.
bool records_named(const std::string &directory, const char *name, std::vector<Match> &found)
{
    size_t name_length = std::strlen(name);
    for (size_t at = 0; at + CentralRecord::size <= directory.size();) {
        Fields f{directory, at};
        if (!f.signature("PK\1\2"))
            return false;
        CentralRecord record = decode_central(f);
        if (at + record.length() > directory.size())
            return false;
        if (record.name_length == name_length &&
            directory.compare(at + CentralRecord::size, name_length, name) == 0)
            found.push_back({record, at});
        at += record.length();
    }
    return true;
}

} // namespace

bool zip_directory_place(int fd, int64_t size, int64_t &start, uint64_t &length)
{
    Directory found;
    if (!find_directory(fd, size, found) || found.length > platform::limits::archive_listing_names)
        return false;
    start = static_cast<int64_t>(found.offset);
    length = found.length;
    return true;
}

bool zip_directory(int fd, int64_t size, int64_t &start, std::string &directory)
{
    uint64_t length;
    return zip_directory_place(fd, size, start, length) &&
           read_exactly(fd, directory, static_cast<size_t>(length), start);
}

bool zip_directory_extent(int fd, int64_t size, uint64_t &records, uint64_t &length)
{
    Directory found;
    if (!find_directory(fd, size, found))
        return false;
    records = found.records;
    length = found.length;
    return true;
}

// Lays over source a directory of the one record at directory[at]; false
// when the member's data does not lie wholly before the directory at start.
bool lay_view(const std::string &directory, size_t at, const CentralRecord &record, int64_t start,
              Source &source)
{
    const uint64_t local_header = 30;
    if (record.compressed_size == 0xFFFFFFFFu || record.uncompressed_size == 0xFFFFFFFFu ||
        record.local_offset + local_header + record.name_length + record.compressed_size >
            static_cast<uint64_t>(start))
        return false;
    source.overlay = directory.substr(at, record.length());
    source.overlay += std::string("PK\5\6\0\0\0\0\1\0\1\0", 12);
    put_le(source.overlay, record.length(), 4);
    put_le(source.overlay, static_cast<uint64_t>(start), 4);
    put_le(source.overlay, 0, 2);
    source.overlay_start = start;
    source.size = start + static_cast<int64_t>(source.overlay.size());
    return true;
}

bool zip_member_view_at(int fd, int64_t directory_start, int64_t central, const char *name, Source &source)
{
    std::string record_bytes;
    if (central < directory_start || !read_exactly(fd, record_bytes, CentralRecord::size, central) ||
        !Fields{record_bytes, 0}.signature("PK\1\2"))
        return false;
    CentralRecord record = decode_central({record_bytes, 0});
    size_t name_length = std::strlen(name);
    if (record.name_length != name_length || !read_exactly(fd, record_bytes, record.length(), central) ||
        record_bytes.compare(CentralRecord::size, name_length, name) != 0)
        return false;
    return lay_view(record_bytes, 0, record, directory_start, source);
}

// Lays over source a directory of the one member named name (the
// occurrence-th of that name, in the order of the members' places).
bool zip_member_view(int fd, int64_t size, const char *name, size_t occurrence, Source &source)
{
    int64_t start;
    std::string directory;
    std::vector<Match> found;
    if (!zip_directory(fd, size, start, directory) || !records_named(directory, name, found))
        return false;
    std::stable_sort(found.begin(), found.end(), [](const Match &a, const Match &b) {
        return a.record.local_offset < b.record.local_offset;
    });
    if (occurrence >= found.size())
        return false;
    return lay_view(directory, found[occurrence].at, found[occurrence].record, start, source);
}

} // namespace platform::xad

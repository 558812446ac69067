// xadmaster.library: a plain zip member, stored or deflated, into memory
// with zlib.
//
// Taking the thumbnail of a document listed from its own records needs
// nothing of libarchive but its inflate, and loading libarchive brings in
// the compression, XML and Unicode libraries behind it: a third of a
// viewing run's resident size. zlib is in the process already (libspng uses
// it). Only a member that comes out whole here is taken: its size and CRC-32
// as its central record gives them. Anything else (another method, a record
// that changed, damaged or short data) goes to libarchive, which gives the
// call's result as it always has.
#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <cstring>

#include "platform/control.h"
#include "platform/limits.h"
#include "platform/xadmaster/xadmaster_intern.h"
#include "platform/xadmaster/zip_records.h"

namespace platform::xad
{

namespace
{

std::atomic<long> direct_extractions{0};

constexpr uint32_t method_stored = 0, method_deflated = 8;
constexpr size_t chunk = 64 * 1024;

// Where a member's data lies and what it must come out as.
struct Stored {
    uint32_t method, crc;
    int64_t data_start;
    uint64_t compressed, size;
};

// Whether the data descriptor at bytes[at] (its signature optional) states
// these CRC-32 and sizes.
bool descriptor_states(const std::string &bytes, size_t at, uint32_t crc, uint64_t compressed, uint64_t size)
{
    bool signed_descriptor = bytes.size() >= at + 4 && bytes.compare(at, 4, "PK\7\10") == 0;
    size_t fields = at + (signed_descriptor ? 4u : 0u);
    if (bytes.size() < fields + 12)
        return false;
    Fields f{bytes, fields};
    return f.le(0, 4) == crc && f.le(4, 4) == compressed && f.le(8, 4) == size;
}

// Whether a data descriptor after the data (when the flags say there is
// one) states the central record's CRC and sizes: libarchive checks it.
bool descriptor_agrees(int fd, const Stored &m, uint32_t flags)
{
    std::string d;
    if ((flags & ZIP_LENGTH_AT_END) == 0)
        return true;
    return read_exactly(fd, d, 16, m.data_start + static_cast<int64_t>(m.compressed)) &&
           descriptor_states(d, 0, m.crc, m.compressed, m.size);
}

// Where, in data[0, size), the first data descriptor lies whose sizes and
// CRC-32 fit the bytes before it; size when none does.
uint64_t first_fitting_descriptor(const char *data, uint64_t size)
{
    auto le32 = [](const char *p) {
        const unsigned char *b = reinterpret_cast<const unsigned char *>(p);
        return uint64_t(b[0]) | uint64_t(b[1]) << 8 | uint64_t(b[2]) << 16 | uint64_t(b[3]) << 24;
    };
    const char *end = data + size;
    for (const char *at = data; end - at >= 16; ++at) {
        at = static_cast<const char *>(memmem(at, static_cast<size_t>(end - at), "PK\7\10", 4));
        if (at == nullptr || end - at < 16)
            break;
        uint64_t before = static_cast<uint64_t>(at - data);
        if (le32(at + 8) == before &&
            le32(at + 4) == crc32(0, reinterpret_cast<const Bytef *>(data), static_cast<uInt>(before)))
            return before;
    }
    return size;
}

// Whether a stored member whose sizes follow its data holds, before its
// end, a data descriptor that fits the bytes before it: libarchive ends the
// member at the first such descriptor.
bool early_descriptor(const Stored &m, uint32_t flags, const char *memory)
{
    return m.method == method_stored && (flags & ZIP_LENGTH_AT_END) != 0 &&
           first_fitting_descriptor(memory, m.size) < m.size;
}

// The member whose central record lies at central, named name and sized
// listed, when it is plain enough to be taken here.
bool locate(int fd, int64_t directory_start, int64_t central, const char *name, uint64_t listed, Stored &m,
            uint32_t &flags)
{
    std::string bytes;
    size_t name_length = std::strlen(name);
    if (central < directory_start || !read_exactly(fd, bytes, CentralRecord::size + name_length, central) ||
        !Fields{bytes, 0}.signature("PK\1\2"))
        return false;
    CentralRecord c = decode_central({bytes, 0});
    if (c.name_length != name_length || bytes.compare(CentralRecord::size, name_length, name) != 0 ||
        (c.flags & (ZIP_ENCRYPTED | ZIP_STRONG_ENCRYPTION | ZIP_MASKED_HEADERS)) != 0 ||
        (c.method != method_stored && c.method != method_deflated) || c.uncompressed_size != listed ||
        c.compressed_size == 0xFFFFFFFFu || c.uncompressed_size == 0xFFFFFFFFu ||
        (c.method == method_stored && c.compressed_size != c.uncompressed_size))
        return false;
    m = {c.method, uint32_t(Fields{bytes, 0}.le(16, 4)), 0, c.compressed_size, c.uncompressed_size};
    flags = c.flags;
    std::string record = bytes.substr(0, CentralRecord::size);
    if (c.local_offset >= static_cast<uint64_t>(directory_start) ||
        !read_exactly(fd, bytes, LocalHeader::size + name_length, static_cast<int64_t>(c.local_offset)) ||
        !Fields{bytes, 0}.signature("PK\3\4"))
        return false;
    LocalHeader local = decode_local({bytes, 0});
    m.data_start = static_cast<int64_t>(c.local_offset + local.length());
    return local.name_length == name_length && bytes.compare(LocalHeader::size, name_length, name) == 0 &&
           local_agrees({bytes, 0}, {record, 0}) && (local.flags & ZIP_ENCRYPTED) == 0 &&
           m.data_start + static_cast<int64_t>(m.compressed) <= directory_start &&
           descriptor_agrees(fd, m, c.flags);
}

// The member's data inflated (or copied) into memory[0, m.size); false
// unless it ends exactly there. With a room smaller than the member, its
// first room bytes: false unless they all came out.
bool unpack(int fd, const Stored &m, char *memory, uint64_t room)
{
    bool whole = room >= m.size;
    uint64_t wanted = whole ? m.size : room;
    z_stream z = {};
    if (m.method == method_deflated && inflateInit2(&z, -MAX_WBITS) != Z_OK)
        return false;
    z.next_out = reinterpret_cast<Bytef *>(memory);
    z.avail_out = static_cast<uInt>(wanted);
    std::string in;
    int status = Z_OK;
    uint64_t reach = m.method == method_stored ? wanted : m.compressed;
    // Inflating stops once the room is full; a copy, at its reach.
    auto filled = [&] { return !whole && m.method == method_deflated && z.avail_out == 0; };
    for (uint64_t done = 0; done < reach && status == Z_OK && !filled();) {
        size_t length = static_cast<size_t>(std::min<uint64_t>(chunk, reach - done));
        if (!read_exactly(fd, in, length, m.data_start + static_cast<int64_t>(done)))
            status = Z_ERRNO;
        else if (m.method == method_stored)
            std::memcpy(memory + done, in.data(), length);
        else {
            z.next_in = reinterpret_cast<Bytef *>(&in[0]);
            z.avail_in = static_cast<uInt>(length);
            status = inflate(&z, Z_NO_FLUSH);
        }
        done += length;
    }
    if (m.method == method_stored)
        return status == Z_OK;
    inflateEnd(&z);
    return whole ? status == Z_STREAM_END && z.total_out == m.size
                 : (status == Z_OK || status == Z_STREAM_END) && z.total_out == wanted;
}

} // namespace

bool zip_member_to_memory(int fd, int64_t directory_start, int64_t central, const char *name, uint64_t listed,
                          char *memory, size_t room)
{
    Stored m = {};
    uint32_t flags = 0;
    if (listed > room || listed > limits::archive_extract_unpacked || listed > UINT32_MAX ||
        !locate(fd, directory_start, central, name, listed, m, flags))
        return false;
    if (!unpack(fd, m, memory, m.size) || early_descriptor(m, flags, memory) ||
        crc32(0, reinterpret_cast<const Bytef *>(memory), static_cast<uInt>(m.size)) != m.crc) {
        // Nothing of a member that did not come out whole is left behind:
        // what libarchive then gives is all the caller sees.
        std::memset(memory, 0, static_cast<size_t>(m.size));
        return false;
    }
    ++direct_extractions;
    return true;
}

bool zip_member_start_to_memory(int fd, int64_t directory_start, int64_t central, const char *name,
                                uint64_t listed, char *memory, size_t room)
{
    Stored m = {};
    uint32_t flags = 0;
    // A stored member whose sizes follow it may end, for libarchive, at a
    // descriptor within the bytes asked for: left to it.
    if (room >= listed || !locate(fd, directory_start, central, name, listed, m, flags) ||
        (m.method == method_stored && (flags & ZIP_LENGTH_AT_END) != 0))
        return false;
    if (!unpack(fd, m, memory, room)) {
        std::memset(memory, 0, room);
        return false;
    }
    ++direct_extractions;
    return true;
}

bool stored_member_ends_as_recorded(const std::string &bytes, size_t at, uint64_t size, uint32_t crc)
{
    return at <= bytes.size() && bytes.size() - at >= size &&
           first_fitting_descriptor(bytes.data() + at, size) == size &&
           descriptor_states(bytes, at + static_cast<size_t>(size), crc, size, size);
}

} // namespace platform::xad

long platform_xad_direct_zip_extractions()
{
    return platform::xad::direct_extractions;
}

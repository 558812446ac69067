// The zip records that xadmaster.library reads itself, each decoded into its
// named fields before use; not for the program's code.
#ifndef QUILLPEEK_PLATFORM_XADMASTER_ZIP_RECORDS_H
#define QUILLPEEK_PLATFORM_XADMASTER_ZIP_RECORDS_H

#include <cstdint>
#include <string>

namespace platform::xad
{

// Little-endian fields of a record that starts at data[at].
struct Fields {
    const std::string &data;
    size_t at;

    uint64_t le(size_t offset, int bytes) const
    {
        uint64_t value = 0;
        for (int i = bytes - 1; i >= 0; --i)
            value = value << 8 | static_cast<uint8_t>(data[at + offset + i]);
        return value;
    }
    bool signature(const char *magic) const { return data.compare(at, 4, magic) == 0; }
};

enum : uint32_t {
    ZIP_ENCRYPTED = 1u << 0,         // general purpose flags
    ZIP_LENGTH_AT_END = 1u << 3,     // (sizes in a data descriptor after the data)
    ZIP_STRONG_ENCRYPTION = 1u << 6, //
    ZIP_MASKED_HEADERS = 1u << 13,   //
    ZIP_UTF8_NAME = 1u << 11,        //
    ZIP_METHOD_AES = 99,
};

// Central directory record, "PK\1\2", and its name, extra field and comment.
struct CentralRecord {
    static constexpr size_t size = 46;
    uint32_t made_by; // the host system in its high byte
    uint32_t flags, method;
    uint64_t compressed_size, uncompressed_size;
    uint32_t name_length, extra_length, comment_length;
    uint32_t external_attributes;
    uint64_t local_offset; // of the member's local header
    size_t length() const { return size + name_length + extra_length + comment_length; }
};

inline CentralRecord decode_central(const Fields &f)
{
    CentralRecord r;
    r.made_by = uint32_t(f.le(4, 2));
    r.flags = uint32_t(f.le(8, 2));
    r.method = uint32_t(f.le(10, 2));
    r.compressed_size = f.le(20, 4);
    r.uncompressed_size = f.le(24, 4);
    r.name_length = uint32_t(f.le(28, 2));
    r.extra_length = uint32_t(f.le(30, 2));
    r.comment_length = uint32_t(f.le(32, 2));
    r.external_attributes = uint32_t(f.le(38, 4));
    r.local_offset = f.le(42, 4);
    return r;
}

// Local file header, "PK\3\4", followed by its name and extra field.
struct LocalHeader {
    static constexpr size_t size = 30;
    uint32_t flags, method;
    uint32_t name_length, extra_length;
    size_t length() const { return size + name_length + extra_length; }
};

inline LocalHeader decode_local(const Fields &f)
{
    return {uint32_t(f.le(6, 2)), uint32_t(f.le(8, 2)), uint32_t(f.le(26, 2)), uint32_t(f.le(28, 2))};
}

// The CRC-32 and sizes a record states, at their places in it.
struct Checks {
    uint64_t crc, compressed, uncompressed;
};

inline Checks central_checks(const Fields &f)
{
    return {f.le(16, 4), f.le(20, 4), f.le(24, 4)};
}

inline Checks local_checks(const Fields &f)
{
    return {f.le(14, 4), f.le(18, 4), f.le(22, 4)};
}

// Whether a member's local header (at local) and its central record (at
// central) say the same about how its data is read: method, the flags that
// change the reading, and each of CRC and sizes that the local header
// states (0 when it leaves them to the central record); a stored member's
// two sizes must be one. Where they differ, libarchive's reading is the
// document's, and the member is left to libarchive.
inline bool local_agrees(const Fields &local, uint32_t method, uint32_t flags, const Checks &central)
{
    const uint32_t reading =
        ZIP_ENCRYPTED | ZIP_LENGTH_AT_END | ZIP_STRONG_ENCRYPTION | ZIP_UTF8_NAME | ZIP_MASKED_HEADERS;
    LocalHeader l = decode_local(local);
    Checks lc = local_checks(local);
    auto states = [](uint64_t local_value, uint64_t value) {
        return local_value == 0 || local_value == value;
    };
    bool stored_plainly = method != 0 || central.compressed == central.uncompressed;
    return l.method == method && ((l.flags ^ flags) & reading) == 0 && stored_plainly &&
           states(lc.crc, central.crc) && states(lc.compressed, central.compressed) &&
           states(lc.uncompressed, central.uncompressed);
}

inline bool local_agrees(const Fields &local, const Fields &central)
{
    CentralRecord c = decode_central(central);
    return local_agrees(local, c.method, c.flags, central_checks(central));
}

// The zip's central directory, when its end record closes the file and the
// directory ends right before that record (or before its zip64 form): its
// file offset in start and its bytes in directory.
bool zip_directory(int fd, int64_t size, int64_t &start, std::string &directory);

} // namespace platform::xad

#endif

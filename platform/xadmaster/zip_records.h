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

// The zip's central directory, when its end record closes the file and the
// directory ends right before that record (or before its zip64 form): its
// file offset in start and its bytes in directory.
bool zip_directory(int fd, int64_t size, int64_t &start, std::string &directory);

} // namespace platform::xad

#endif

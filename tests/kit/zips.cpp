// Zips written record by record, and the hostile ones made from them.
#include "testkit.h"

namespace testkit
{

void put_le(std::string &bytes, size_t at, uint64_t value, int width)
{
    for (int i = 0; i < width; ++i)
        bytes[at + static_cast<size_t>(i)] = static_cast<char>(value >> (8 * i));
}

namespace
{

std::string le(uint64_t value, int width)
{
    std::string bytes(static_cast<size_t>(width), '\0');
    put_le(bytes, 0, value, width);
    return bytes;
}

// The fields both headers share, from the version needed to the extra
// length; a local header whose sizes follow the data states none.
std::string common_fields(const ZipMember &m, size_t extra_length, bool local)
{
    bool stated = !(local && m.descriptor);
    return le(20, 2) + le(m.descriptor ? 8 : 0, 2) + le(0, 2) + le(0, 2) + le(0x21, 2) +
           le(stated ? crc32(m.data) : 0, 4) + le(stated ? m.data.size() : 0, 4) +
           le(stated ? m.data.size() : 0, 4) + le(m.name.size(), 2) + le(extra_length, 2);
}

} // namespace

std::string local_header(const ZipMember &m)
{
    return "PK\3\4" + common_fields(m, 0, true) + m.name;
}

ZipLayout stored_zip(const std::vector<ZipMember> &members)
{
    ZipLayout zip;
    for (const ZipMember &m : members) {
        zip.local.push_back(zip.bytes.size());
        zip.bytes += local_header(m) + m.data;
        if (m.descriptor)
            zip.bytes += "PK\7\10" + le(crc32(m.data), 4) + le(m.data.size(), 4) + le(m.data.size(), 4);
    }
    zip.directory = zip.bytes.size();
    for (size_t i = 0; i < members.size(); ++i) {
        const ZipMember &m = members[i];
        zip.central.push_back(zip.bytes.size());
        zip.bytes += "PK\1\2" + le(0x031E, 2) + common_fields(m, m.central_extra.size(), false) + le(0, 2) +
                     le(0, 2) + le(0, 2) + le(0100644u << 16, 4) + le(zip.local[i], 4) + m.name +
                     m.central_extra;
    }
    zip.end = zip.bytes.size();
    zip.bytes += "PK\5\6" + le(0, 4) + le(members.size(), 2) + le(members.size(), 2) +
                 le(zip.end - zip.directory, 4) + le(zip.directory, 4) + le(0, 2);
    return zip;
}

namespace
{

const char *const thumbnail_name = "Thumbnails/thumbnail.png";

// Offsets of the fields in each record.
enum { local_flags = 6, local_method = 8, local_crc = 14, local_sizes = 18, local_name = 30 };
enum { central_crc = 16, central_sizes = 20, central_offset = 42 };

// The thumbnail's records in zip (its first member) claim length bytes
// from its data on, with their CRC: the sizes lie, the CRC matches.
void claim_length(ZipLayout &zip, size_t at, size_t length)
{
    size_t data = zip.local[at] + local_name + std::string(thumbnail_name).size();
    uint32_t crc = crc32(zip.bytes.substr(data, length));
    for (size_t record : {zip.local[at] + local_crc, zip.central[at] + central_crc}) {
        put_le(zip.bytes, record, crc, 4);
        put_le(zip.bytes, record + 4, length, 4);
        put_le(zip.bytes, record + 8, length, 4);
    }
}

// The directory given twice over, the end record counting both.
void repeat_directory(ZipLayout &zip)
{
    std::string directory = zip.bytes.substr(zip.directory, zip.end - zip.directory);
    std::string end = zip.bytes.substr(zip.end);
    put_le(end, 8, 2 * zip.central.size(), 2);
    put_le(end, 10, 2 * zip.central.size(), 2);
    put_le(end, 12, 2 * directory.size(), 4);
    zip.bytes = zip.bytes.substr(0, zip.end) + directory + end;
}

} // namespace

std::vector<HostileZip> hostile_zips(const std::string &thumbnail)
{
    const std::vector<ZipMember> plain = {{thumbnail_name, thumbnail, "", false}, {"b", "bee", "", false}};
    const std::vector<ZipMember> last = {{"b", "bee", "", false}, {thumbnail_name, thumbnail, "", false}};
    // The thumbnail's data holds a local header of its own, which b's
    // central record names: the two members overlap.
    const std::vector<ZipMember> nested = {
        {thumbnail_name, thumbnail + local_header({"b", "bee", "", false}) + "bee", "", false},
        {"b", "bee", "", false}};
    // zip64 sizes of 2^62 in the thumbnail's central record.
    std::string zip64 = le(1, 2) + le(16, 2) + le(uint64_t(1) << 62, 8) + le(uint64_t(1) << 62, 8);
    const std::vector<ZipMember> huge = {{thumbnail_name, thumbnail, zip64, false}, {"b", "bee", "", false}};
    std::vector<HostileZip> zips;
    auto add = [&](const char *name, const std::vector<ZipMember> &members, void (*patch)(ZipLayout &)) {
        ZipLayout zip = stored_zip(members);
        patch(zip);
        zips.push_back({name, zip.bytes});
    };
    add("plain.zip", plain, [](ZipLayout &) {});
    add("local-name.zip", plain, [](ZipLayout &z) { z.bytes[z.local[0] + local_name + 23] = 'x'; });
    add("local-name-length.zip", plain, [](ZipLayout &z) { put_le(z.bytes, z.local[0] + 26, 23, 2); });
    add("local-sizes.zip", plain, [](ZipLayout &z) {
        put_le(z.bytes, z.local[0] + local_sizes, 7, 4);
        put_le(z.bytes, z.local[0] + local_sizes + 4, 7, 4);
    });
    add("local-method.zip", plain, [](ZipLayout &z) { put_le(z.bytes, z.local[0] + local_method, 8, 2); });
    add("local-encrypted.zip", plain, [](ZipLayout &z) { put_le(z.bytes, z.local[0] + local_flags, 1, 2); });
    add("local-descriptor.zip", plain, [](ZipLayout &z) { put_le(z.bytes, z.local[0] + local_flags, 8, 2); });
    add("overlapping-members.zip", nested, [](ZipLayout &z) {
        put_le(z.bytes, z.central[1] + central_offset, z.local[1] - 34,
               4); // the header inside, 34 bytes long
    });
    add("sizes-lie-into-next.zip", plain,
        [](ZipLayout &z) { claim_length(z, 0, z.local[1] - z.local[0] - local_name - 24 + 10); });
    add("sizes-lie-into-directory.zip", last,
        [](ZipLayout &z) { claim_length(z, 1, z.directory - z.local[1] - local_name - 24 + 20); });
    add("sizes-lie-short.zip", plain,
        [](ZipLayout &z) { claim_length(z, 0, (z.local[1] - z.local[0] - local_name - 24) / 2); });
    // A stored member, its sizes after its data, whose central record
    // gives two sizes.
    const std::vector<ZipMember> described = {{thumbnail_name, thumbnail, "", true}, {"b", "bee", "", true}};
    add("stored-sizes-differ.zip", described,
        [](ZipLayout &z) { put_le(z.bytes, z.central[1] + central_sizes + 4, 4099, 4); });
    add("offset-past-end.zip", plain,
        [](ZipLayout &z) { put_le(z.bytes, z.central[0] + central_offset, 0x7FFF0000u, 4); });
    add("zip64-huge.zip", huge, [](ZipLayout &z) {
        put_le(z.bytes, z.central[0] + central_sizes, 0xFFFFFFFFu, 4);
        put_le(z.bytes, z.central[0] + central_sizes + 4, 0xFFFFFFFFu, 4);
    });
    add("directory-repeated.zip", plain, repeat_directory);
    add("directory-cut.zip", plain, [](ZipLayout &z) {
        put_le(z.bytes, z.end + 12, z.end - z.directory - 20, 4); // its last record cut
    });
    add("directory-short-count.zip", plain, [](ZipLayout &z) {
        put_le(z.bytes, z.end + 8, 5, 2);
        put_le(z.bytes, z.end + 10, 5, 2);
    });
    return zips;
}

} // namespace testkit

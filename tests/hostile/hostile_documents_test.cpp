// Hostile documents given to the program: each ends with one clear message
// or a shown picture, never a crash, and within a fixed memory ceiling.
#include <archive.h>
#include <archive_entry.h>
#include <gtest/gtest.h>
#include <zlib.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "support.h"

namespace
{

using namespace testing_support;

const long ceiling_kib = testing_support::memory_ceiling_kib(128 * 1024);
const double cpu_limit_seconds = testing_support::sanitized ? 15 : 5;

// Runs the program on a document; a window that opens is closed by the
// platform once it has been shown.
ProcessResult view(const std::string &document, bool as_nobody = false)
{
    ProcessOptions options;
    options.env["QUILLPEEK_CLOSE_WHEN_SHOWN"] = "1";
    options.env["SDL_VIDEODRIVER"] = "offscreen";
    options.as_nobody = as_nobody;
    options.timeout_seconds = 120;
    ProcessResult result = testing_support::run_quillpeek({document}, options);
    ::testing::Test::RecordProperty("peak_rss_kib_" + document.substr(document.rfind('/') + 1),
                                    std::to_string(result.peak_rss_kib));
    return result;
}

void expect_message(const ProcessResult &result, const std::string &document, const std::string &words = "")
{
    EXPECT_EQ(result.exit_code, 1) << result.err;
    EXPECT_EQ(result.signal, 0);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err.rfind("quillpeek: " + document + ": ", 0), 0u) << result.err;
    EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 1) << result.err;
    if (!words.empty()) {
        EXPECT_NE(result.err.find(words), std::string::npos) << result.err;
    }
    EXPECT_LT(result.peak_rss_kib, ceiling_kib);
}

void expect_shown(const ProcessResult &result)
{
    EXPECT_EQ(result.exit_code, 0) << result.err;
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, "");
    EXPECT_LT(result.peak_rss_kib, ceiling_kib);
}

void put_be32(std::string &bytes, size_t at, uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        bytes[at + i] = static_cast<char>(value >> (24 - 8 * i));
}

void put_le32(std::string &bytes, size_t at, uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        bytes[at + i] = static_cast<char>(value >> (8 * i));
}

// A small PNG whose header claims width x height.
std::string png_claiming(uint32_t width, uint32_t height)
{
    std::string png = testing_support::encode_png(4, 4, testing_support::test_pattern(4, 4));
    put_be32(png, 16, width);
    put_be32(png, 20, height);
    put_be32(png, 29, testing_support::crc32(png.substr(12, 17)));
    return png;
}

// Sets the sizes that the local header and the central directory record of
// every member claim.
void claim_sizes(std::string &zip, uint32_t compressed, uint32_t uncompressed)
{
    for (size_t at = zip.find("PK\x03\x04"); at != std::string::npos; at = zip.find("PK\x03\x04", at + 4)) {
        put_le32(zip, at + 18, compressed);
        put_le32(zip, at + 22, uncompressed);
    }
    for (size_t at = zip.find("PK\x01\x02"); at != std::string::npos; at = zip.find("PK\x01\x02", at + 4)) {
        put_le32(zip, at + 20, compressed);
        put_le32(zip, at + 24, uncompressed);
    }
}

std::string thumbnail()
{
    return testing_support::encode_png(40, 30, testing_support::test_pattern(40, 30));
}

class HostileDocuments : public ::testing::Test
{
  protected:
    std::string document(const std::string &name, const std::string &format,
                         const std::vector<Member> &members)
    {
        std::string path = dir.file(name);
        testing_support::write_archive(path, format, members);
        return path;
    }
    TempDir dir;
};

TEST_F(HostileDocuments, AThumbnailThatInflatesFarBeyondWhatItsHeaderSaysIsCutAtItsSize)
{
    std::string path =
        document("bomb.odt", "zip",
                 {regular("Thumbnails/thumbnail.png", thumbnail() + std::string(512u << 20, '\0'))});
    std::string zip = testing_support::read_file(path);
    std::string only_png = thumbnail();
    // Both headers now claim the picture's own size; the data inflates to 512 MiB more.
    for (size_t at = zip.find("PK\x03\x04"); at != std::string::npos; at = zip.find("PK\x03\x04", at + 4))
        put_le32(zip, at + 22, static_cast<uint32_t>(only_png.size()));
    for (size_t at = zip.find("PK\x01\x02"); at != std::string::npos; at = zip.find("PK\x01\x02", at + 4))
        put_le32(zip, at + 24, static_cast<uint32_t>(only_png.size()));
    testing_support::write_file(path, zip);
    ProcessResult result = view(path);
    EXPECT_EQ(result.signal, 0);
    EXPECT_FALSE(result.timed_out);
    EXPECT_LT(result.peak_rss_kib, ceiling_kib);
    EXPECT_EQ(result.out, "");
    if (result.exit_code != 0)
        expect_message(result, path);
}

TEST_F(HostileDocuments, AThumbnailLargerThanTheMemberLimitIsRefusedUnread)
{
    std::string path =
        document("huge.odt", "zip",
                 {regular("Thumbnails/thumbnail.png", thumbnail() + std::string(300u << 20, '\0'))});
    expect_message(view(path), path, "larger than");
}

TEST_F(HostileDocuments, APictureClaimingHugeDimensionsIsRefusedFromItsHeader)
{
    for (auto size : {std::pair<uint32_t, uint32_t>{60000, 60000}, {16384, 1}, {1, 65536}, {8192, 8192}}) {
        std::string path =
            document("claims.odt", "zip",
                     {regular("Thumbnails/thumbnail.png", png_claiming(size.first, size.second))});
        expect_message(view(path), path, "thumbnail");
    }
}

TEST_F(HostileDocuments, HeadersThatLieAboutSizesNeverOverrunTheBlock)
{
    std::string path = document("lies.odt", "zip-stored", {regular("Thumbnails/thumbnail.png", thumbnail())});
    std::string zip = testing_support::read_file(path);
    for (uint32_t claimed : {1u, 100u, 0x7FFFFFFFu, 0xFFFFFFFFu}) {
        std::string lying = zip;
        claim_sizes(lying, claimed, claimed);
        testing_support::write_file(path, lying);
        ProcessResult result = view(path);
        EXPECT_EQ(result.signal, 0) << claimed;
        EXPECT_LT(result.peak_rss_kib, ceiling_kib) << claimed;
        if (result.exit_code != 0)
            expect_message(result, path);
    }
}

TEST_F(HostileDocuments, TruncatedAndEmptyDocumentsEndWithAMessage)
{
    std::string writer = testing_support::read_file(testing_support::corpus_dir() + "/writer.odt");
    for (size_t length : {writer.size() / 2, writer.size() - 10, size_t{30}, size_t{4}, size_t{0}}) {
        std::string path = dir.file("cut-" + std::to_string(length) + ".odt");
        testing_support::write_file(path, writer.substr(0, length));
        ProcessResult result = view(path);
        EXPECT_EQ(result.signal, 0) << length;
        if (length > 0 && length == writer.size() - 10)
            continue; // the thumbnail may survive losing the tail
        expect_message(result, path);
    }
}

TEST_F(HostileDocuments, AnArchiveOfAHundredThousandMembersStillShowsItsThumbnail)
{
    std::vector<Member> members;
    for (int i = 0; i < 100000; ++i)
        members.push_back(regular("m/" + std::to_string(i), "x"));
    members.push_back(regular("Thumbnails/thumbnail.png", thumbnail()));
    expect_shown(view(document("many.odt", "zip", members)));
}

TEST_F(HostileDocuments, NamesOfSixtyFourKibibytesAreHandled)
{
    std::string long_name(65000, 'n');
    std::string path =
        document("names.odt", "zip",
                 {regular(long_name, "x"), regular(long_name + "/Thumbnails/thumbnail.png", thumbnail())});
    expect_shown(view(path));
    std::string without = document("names-without.odt", "zip", {regular(long_name, "x")});
    expect_message(view(without), without, "thumbnail.png");
}

TEST_F(HostileDocuments, ThumbnailsThatAreNotPngPicturesAreShownOrNamed)
{
    std::string gif =
        "GIF89a\x01\x00\x01\x00\x80\x00\x00\x00\x00\x00\xff\xff\xff!\xf9\x04\x01\x00\x00\x00\x00,"
        "\x00\x00\x00\x00\x01\x00\x01\x00\x00\x02\x02\x44\x01\x00;";
    std::string gif_path = document("gif.odt", "zip", {regular("Thumbnails/thumbnail.png", gif)});
    expect_message(view(gif_path), gif_path, "thumbnail");
    std::string text_path =
        document("text.odt", "zip", {regular("Thumbnails/thumbnail.png", "just some text\n")});
    expect_message(view(text_path), text_path, "thumbnail");
    std::string empty_path = document("empty.odt", "zip", {regular("Thumbnails/thumbnail.png", "")});
    expect_message(view(empty_path), empty_path, "thumbnail");
}

TEST_F(HostileDocuments, PathsThatAreNoDocumentNameTheProblem)
{
    expect_message(view(dir.path()), dir.path());
    std::string missing = dir.file("missing.odt");
    expect_message(view(missing), missing, "No such file");
    std::string text = dir.file("notes.txt");
    testing_support::write_file(text, "not an archive\n");
    expect_message(view(text), text, "archive");
    std::string locked = document("locked.odt", "zip", {regular("Thumbnails/thumbnail.png", thumbnail())});
    chmod(locked.c_str(), 0);
    chmod(dir.path().c_str(), 0755);
    ProcessResult result = view(locked, geteuid() == 0);
    if (result.exit_code == 126 || result.exit_code == 127)
        GTEST_SKIP() << "the program cannot be run as an unprivileged user here";
    expect_message(result, locked, "ermission");
}

// --- Documents that ask for unbounded work ---

// A document that meets a work budget ends with a message naming the limit,
// within the CPU and memory a thumbnailer is given.
void expect_limit(const ProcessResult &result, const std::string &document, const std::string &words)
{
    expect_message(result, document, words);
    EXPECT_LT(result.cpu_seconds, cpu_limit_seconds) << document;
}

// Compresses with zlib: a gzip member (window_bits 31) or raw deflate (-15)
// ended by flush (Z_SYNC_FLUSH leaves the stream open at a byte boundary).
std::string compress(const std::string &data, int window_bits, int flush, z_stream *stream = nullptr)
{
    z_stream own = {};
    z_stream &z = stream != nullptr ? *stream : own;
    if (stream == nullptr || z.state == nullptr)
        deflateInit2(&z, 1, Z_DEFLATED, window_bits, 8, Z_DEFAULT_STRATEGY);
    std::string out(deflateBound(&z, data.size()) + 64, '\0');
    z.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(data.data()));
    z.avail_in = static_cast<uInt>(data.size());
    z.next_out = reinterpret_cast<Bytef *>(&out[0]);
    z.avail_out = static_cast<uInt>(out.size());
    deflate(&z, flush);
    out.resize(out.size() - z.avail_out);
    if (stream == nullptr || flush == Z_FINISH)
        deflateEnd(&z);
    return out;
}

const size_t zeros_chunk = 16u << 20;

// A gzip stream of many members that unpacks to count chunks of zeros.
std::string gzip_zeros(size_t count)
{
    std::string member = compress(std::string(zeros_chunk, '\0'), 31, Z_FINISH), out;
    for (size_t i = 0; i < count; ++i)
        out += member;
    return out;
}

// Raw deflate data of count chunks of zeros: after the first chunk the window
// holds only zeros, so one flushed chunk can stand for every later one.
std::string deflate_zeros(size_t count)
{
    z_stream z = {};
    std::string zeros(zeros_chunk, '\0');
    std::string out = compress(zeros, -15, Z_SYNC_FLUSH, &z);
    std::string again = compress(zeros, -15, Z_SYNC_FLUSH, &z);
    for (size_t i = 1; i < count; ++i)
        out += again;
    return out + compress("", -15, Z_FINISH, &z);
}

// A ustar header for a regular file.
std::string tar_header(const std::string &name, uint64_t size)
{
    std::string h(512, '\0');
    h.replace(0, name.size(), name);
    std::snprintf(&h[100], 8, "%07o", 0644);
    std::snprintf(&h[108], 8, "%07o", 0);
    std::snprintf(&h[116], 8, "%07o", 0);
    std::snprintf(&h[124], 12, "%011llo", static_cast<unsigned long long>(size));
    std::snprintf(&h[136], 12, "%011o", 1700000000u);
    h.replace(148, 8, 8, ' ');
    h[156] = '0';
    h.replace(257, 8,
              std::string("ustar\0"
                          "00",
                          8));
    unsigned sum = 0;
    for (unsigned char c : h)
        sum += c;
    std::snprintf(&h[148], 8, "%06o", sum);
    return h;
}

// The thumbnail as the last member of a tar, with the tar's end.
std::string tar_thumbnail_and_end()
{
    std::string png = thumbnail();
    std::string data = tar_header("Thumbnails/thumbnail.png", png.size()) + png;
    data.resize((data.size() + 511) / 512 * 512 + 1024, '\0');
    return data;
}

// A zip local header; with flags bit 3 the sizes follow the data.
std::string local_header(const std::string &name, uint16_t flags, uint16_t method, uint32_t crc,
                         uint32_t size)
{
    std::string h("PK\3\4", 4);
    auto put = [&h](uint64_t value, int bytes) {
        for (int i = 0; i < bytes; ++i)
            h.push_back(static_cast<char>(value >> (8 * i)));
    };
    put(20, 2), put(flags, 2), put(method, 2), put(0, 4), put(crc, 4), put(size, 4), put(size, 4);
    put(name.size(), 2), put(0, 2);
    return h + name;
}

std::string zeros_tar_gz()
{
    return compress(tar_header("zeros", uint64_t(256) * zeros_chunk), 31, Z_FINISH) + gzip_zeros(256) +
           compress(tar_thumbnail_and_end(), 31, Z_FINISH);
}

std::string many_members_tar_gz()
{
    std::string headers;
    for (int i = 0; i < 65536; ++i)
        headers += tar_header("m", 0);
    std::string block = compress(headers, 31, Z_FINISH), out;
    for (int i = 0; i < 64; ++i) // 4 Mi members
        out += block;
    return out + compress(tar_thumbnail_and_end(), 31, Z_FINISH);
}

// No central directory, and a first member whose end is known only by
// inflating it: 4 GiB of zeros.
std::string zip_without_directory()
{
    std::string png = thumbnail();
    std::string descriptor("PK\7\x08\0\0\0\0\0\0\0\0\0\0\0\0", 16);
    return local_header("zeros", 8, 8, 0, 0) + deflate_zeros(256) + descriptor +
           local_header("Thumbnails/thumbnail.png", 0, 0, testing_support::crc32(png),
                        static_cast<uint32_t>(png.size())) +
           png;
}

// A member for write_members: its text, followed by this many zeros.
struct Written {
    const char *name;
    std::string data;
    uint64_t zeros;
};

// Writes members with libarchive in the format that configure sets.
void write_members(const std::string &path, int (*configure)(struct archive *),
                   const std::vector<Written> &members)
{
    struct archive *a = archive_write_new();
    configure(a);
    archive_write_open_filename(a, path.c_str());
    std::string zeros(zeros_chunk, '\0');
    for (const Written &member : members) {
        struct archive_entry *entry = archive_entry_new();
        archive_entry_set_pathname(entry, member.name);
        archive_entry_set_filetype(entry, AE_IFREG);
        archive_entry_set_perm(entry, 0644);
        archive_entry_set_size(entry, static_cast<la_int64_t>(member.data.size() + member.zeros));
        archive_write_header(a, entry);
        archive_write_data(a, member.data.data(), member.data.size());
        for (uint64_t done = 0; done < member.zeros; done += zeros.size())
            archive_write_data(a, zeros.data(),
                               static_cast<size_t>(std::min<uint64_t>(zeros.size(), member.zeros - done)));
        archive_entry_free(entry);
    }
    archive_write_close(a);
    archive_write_free(a);
}

// One solid deflate block in a 7z.
int solid_7z(struct archive *a)
{
    archive_write_set_format_7zip(a);
    return archive_write_set_options(a, "7zip:compression=deflate");
}

// A zip whose zip64 end record declares 300,000 members: refused before
// libarchive reads its directory.
std::string zip64_declaring_many()
{
    TempDir scratch;
    testing_support::write_archive(scratch.file("z.zip"), "zip",
                                   {regular("Thumbnails/thumbnail.png", thumbnail())});
    std::string zip = testing_support::read_file(scratch.file("z.zip"));
    size_t end = zip.rfind("PK\x05\x06");
    std::string eocd = zip.substr(end), tail;
    auto put = [&tail](uint64_t value, int bytes) {
        for (int i = 0; i < bytes; ++i)
            tail.push_back(static_cast<char>(value >> (8 * i)));
    };
    auto le32 = [&eocd](size_t at) {
        return static_cast<uint32_t>(
            static_cast<unsigned char>(eocd[at]) | static_cast<unsigned char>(eocd[at + 1]) << 8 |
            static_cast<unsigned char>(eocd[at + 2]) << 16 | static_cast<unsigned char>(eocd[at + 3]) << 24);
    };
    tail = "PK\x06\x06";
    put(44, 8), put(45, 2), put(45, 2), put(0, 4), put(0, 4), put(300000, 8), put(300000, 8);
    put(le32(12), 8), put(le32(16), 8);
    tail += "PK\x06\x07";
    put(0, 4), put(end, 8), put(1, 4);
    eocd.replace(8, 4, "\xff\xff\xff\xff");
    return zip.substr(0, end) + tail + eocd;
}

TEST_F(HostileDocuments, DocumentsThatAskForUnboundedWorkStopAtAStatedLimit)
{
    struct Case {
        const char *name;
        std::string (*make)();
        const char *words;
    } cases[] = {
        {"zeros.tar.gz", zeros_tar_gz, "listing it would unpack more than the limit of 256 MiB"},
        {"streamed.zip", zip_without_directory, "listing it would unpack more than the limit of 256 MiB"},
        {"members.tar.gz", many_members_tar_gz, "it has more members than the limit of 262144"},
        {"declared.zip", zip64_declaring_many, "it has more members than the limit of 262144"},
    };
    for (const Case &c : cases) {
        std::string path = dir.file(c.name);
        testing_support::write_file(path, c.make());
        expect_limit(view(path), path, c.words);
    }
    std::string solid = dir.file("solid.7z"); // 640 MiB of zeros before the thumbnail
    write_members(solid, solid_7z,
                  {{"zeros", "", 40 * zeros_chunk}, {"Thumbnails/thumbnail.png", thumbnail(), 0}});
    expect_limit(view(solid), solid, "its thumbnail could not be extracted: reaching it would unpack more");
}

TEST_F(HostileDocuments, AXarIsNotReadAtAll)
{
    struct archive *a = archive_write_new();
    if (archive_write_set_format_xar(a) != ARCHIVE_OK) {
        archive_write_free(a);
        GTEST_SKIP() << "this libarchive writes no xar";
    }
    archive_write_free(a);
    std::string path = dir.file("doc.xar");
    write_members(path, archive_write_set_format_xar, {{"Thumbnails/thumbnail.png", thumbnail(), 0}});
    expect_message(view(path), path, "cannot be read as an archive");
}

} // namespace

// Hostile documents given to the program: each ends with one clear message
// or a shown picture, never a crash, and within a fixed memory ceiling.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "support.h"

namespace
{

using testing_support::Member;
using testing_support::ProcessOptions;
using testing_support::ProcessResult;
using testing_support::TempDir;

#if defined(__SANITIZE_ADDRESS__)
const long ceiling_kib = 600 * 1024; // the sanitizers' shadow memory and quarantine
#else
const long ceiling_kib = 128 * 1024;
#endif

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

Member file(const std::string &name, const std::string &data)
{
    Member member;
    member.name = name;
    member.data = data;
    return member;
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
    std::string path = document(
        "bomb.odt", "zip", {file("Thumbnails/thumbnail.png", thumbnail() + std::string(512u << 20, '\0'))});
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
    std::string path = document(
        "huge.odt", "zip", {file("Thumbnails/thumbnail.png", thumbnail() + std::string(300u << 20, '\0'))});
    expect_message(view(path), path, "larger than");
}

TEST_F(HostileDocuments, APictureClaimingHugeDimensionsIsRefusedFromItsHeader)
{
    for (auto size : {std::pair<uint32_t, uint32_t>{60000, 60000}, {16384, 1}, {1, 65536}, {8192, 8192}}) {
        std::string path = document(
            "claims.odt", "zip", {file("Thumbnails/thumbnail.png", png_claiming(size.first, size.second))});
        expect_message(view(path), path, "thumbnail");
    }
}

TEST_F(HostileDocuments, HeadersThatLieAboutSizesNeverOverrunTheBlock)
{
    std::string path = document("lies.odt", "zip-stored", {file("Thumbnails/thumbnail.png", thumbnail())});
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
        members.push_back(file("m/" + std::to_string(i), "x"));
    members.push_back(file("Thumbnails/thumbnail.png", thumbnail()));
    expect_shown(view(document("many.odt", "zip", members)));
}

TEST_F(HostileDocuments, NamesOfSixtyFourKibibytesAreHandled)
{
    std::string long_name(65000, 'n');
    std::string path =
        document("names.odt", "zip",
                 {file(long_name, "x"), file(long_name + "/Thumbnails/thumbnail.png", thumbnail())});
    expect_shown(view(path));
    std::string without = document("names-without.odt", "zip", {file(long_name, "x")});
    expect_message(view(without), without, "thumbnail.png");
}

TEST_F(HostileDocuments, ThumbnailsThatAreNotPngPicturesAreShownOrNamed)
{
    std::string gif =
        "GIF89a\x01\x00\x01\x00\x80\x00\x00\x00\x00\x00\xff\xff\xff!\xf9\x04\x01\x00\x00\x00\x00,"
        "\x00\x00\x00\x00\x01\x00\x01\x00\x00\x02\x02\x44\x01\x00;";
    std::string gif_path = document("gif.odt", "zip", {file("Thumbnails/thumbnail.png", gif)});
    expect_message(view(gif_path), gif_path, "thumbnail");
    std::string text_path =
        document("text.odt", "zip", {file("Thumbnails/thumbnail.png", "just some text\n")});
    expect_message(view(text_path), text_path, "thumbnail");
    std::string empty_path = document("empty.odt", "zip", {file("Thumbnails/thumbnail.png", "")});
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
    std::string locked = document("locked.odt", "zip", {file("Thumbnails/thumbnail.png", thumbnail())});
    chmod(locked.c_str(), 0);
    chmod(dir.path().c_str(), 0755);
    ProcessResult result = view(locked, geteuid() == 0);
    if (result.exit_code == 126 || result.exit_code == 127)
        GTEST_SKIP() << "the program cannot be run as an unprivileged user here";
    expect_message(result, locked, "ermission");
}

} // namespace

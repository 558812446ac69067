// XAD_file_unpacker and XAD_file_grosse: the member chosen, the block made,
// and the library calls made and released on every path.
#include <cstring>

#include "archive/archive.h"
#include "archive_tests.h"
#include "platform/control.h"
#include "platform_fixture.h"

using namespace archive_tests;
using testing_support::TempDir;
using testing_support::write_archive;

namespace
{

class Unpacker : public PlatformTest
{
  protected:
    // The block's bytes (4 x size of them).
    static std::string block_bytes(void *block, uint32_t size)
    {
        return block == nullptr ? std::string() : std::string(static_cast<char *>(block), 4ull * size);
    }

    std::vector<std::string> xad_calls()
    {
        return calls({"OpenLibrary", "CloseLibrary", "AllocVec", "xadAllocObjectA", "xadGetInfoA",
                      "xadFileUnArcA", "xadFreeInfo", "xadFreeObjectA"});
    }

    void free_block(void *block)
    {
        if (block != nullptr)
            FreeVec(block);
    }

    TempDir dir;
};

TEST_F(Unpacker, MemberInAFolderIsFoundAndDeliveredWithZerosAfterIt)
{
    std::string path = dir.file("doc.odt");
    std::string thumbnail = noise(1000);
    write_archive(path, "zip",
                  {regular("mimetype", "application/vnd.oasis.opendocument.text"),
                   regular("Thumbnails/thumbnail.png", thumbnail), regular("content.xml", "<x/>")});
    void *block = XAD_file_unpacker(path.c_str(), "thumbnail.png");
    uint32_t size = XAD_file_grosse(path.c_str(), "thumbnail.png");
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(size, 1000u);
    EXPECT_EQ(block_bytes(block, 1000), thumbnail + std::string(3000, '\0'));
    free_block(block);
}

TEST_F(Unpacker, FirstOfTwoMatchesIsChosenByBoth)
{
    std::string path = dir.file("two.zip");
    write_archive(
        path, "zip",
        {regular("a/thumbnail.png.bak", "first!"), regular("Thumbnails/thumbnail.png", "second member")});
    void *block = XAD_file_unpacker(path.c_str(), "thumbnail.png");
    uint32_t size = XAD_file_grosse(path.c_str(), "thumbnail.png");
    EXPECT_EQ(size, 6u);
    EXPECT_EQ(block_bytes(block, 6), std::string("first!") + std::string(18, '\0'));
    free_block(block);
}

TEST_F(Unpacker, MatchIsCaseSensitiveAndEmptyTextTakesTheFirstMember)
{
    std::string path = dir.file("case.zip");
    write_archive(path, "zip", {regular("mimetype", "abc"), regular("Thumbnails/Thumbnail.PNG", "upper")});
    EXPECT_EQ(XAD_file_unpacker(path.c_str(), "thumbnail.png"), nullptr);
    EXPECT_EQ(XAD_file_grosse(path.c_str(), "thumbnail.png"), 0u);
    void *block = XAD_file_unpacker(path.c_str(), "");
    EXPECT_EQ(XAD_file_grosse(path.c_str(), ""), 3u);
    EXPECT_EQ(block_bytes(block, 3), std::string("abc") + std::string(9, '\0'));
    free_block(block);
    EXPECT_STREQ(XAD_file_problem(path.c_str(), "thumbnail.png"),
                 "has no member whose name contains \"thumbnail.png\"");
}

TEST_F(Unpacker, TwentyNinthThirtiethAndLaterMembersCanBeChosen)
{
    for (int count : {29, 30, 1000}) {
        std::string path = dir.file("n" + std::to_string(count) + ".zip");
        std::vector<Member> members;
        for (int i = 1; i <= count; ++i)
            members.push_back(
                regular("m" + std::to_string(i), std::string(static_cast<size_t>(i), 'a' + i % 26)));
        write_archive(path, "zip", members);
        std::string last = "m" + std::to_string(count);
        void *block = XAD_file_unpacker(path.c_str(), last.c_str());
        EXPECT_EQ(XAD_file_grosse(path.c_str(), last.c_str()), static_cast<uint32_t>(count));
        EXPECT_EQ(block_bytes(block, count).substr(0, count), members.back().data) << count;
        free_block(block);
        EXPECT_EQ(XAD_file_grosse(path.c_str(), "m29"), 29u) << count;
    }
}

TEST_F(Unpacker, LongNamesAreSearchedWhole)
{
    std::string path = dir.file("long.zip");
    std::string folder(151, 'd');
    write_archive(
        path, "zip",
        {regular(folder + "/x", "short"), regular(folder + "/Thumbnails/thumbnail.png", "long name")});
    void *block = XAD_file_unpacker(path.c_str(), "thumbnail.png");
    EXPECT_EQ(XAD_file_grosse(path.c_str(), "thumbnail.png"), 9u);
    EXPECT_EQ(block_bytes(block, 9).substr(0, 9), "long name");
    free_block(block);
    // A text that only the part past 151 bytes holds.
    EXPECT_EQ(XAD_file_grosse(path.c_str(), (folder + "/x").c_str()), 5u);
}

TEST_F(Unpacker, EmptyMemberGivesNoBlock)
{
    std::string path = dir.file("empty.zip");
    write_archive(path, "zip", {regular("Thumbnails/thumbnail.png", "")});
    EXPECT_EQ(XAD_file_unpacker(path.c_str(), "thumbnail.png"), nullptr);
    EXPECT_EQ(XAD_file_grosse(path.c_str(), "thumbnail.png"), 0u);
    EXPECT_STREQ(XAD_file_problem(path.c_str(), "thumbnail.png"), "its thumbnail member is empty");
}

TEST_F(Unpacker, MemberBeyondTheLimitIsRefusedWithoutAllocating)
{
    // A stored member whose headers claim 300 MiB: listed at that size, never
    // allocated for.
    std::string path = dir.file("huge.zip");
    write_archive(path, "zip-stored", {regular("Thumbnails/thumbnail.png", "tiny")});
    std::string zip = testing_support::read_file(path);
    ZipHeaders headers = find_zip_headers(zip, "Thumbnails/thumbnail.png");
    const uint32_t claimed = 300u << 20;
    put_le32(zip, headers.local + 22, claimed);
    put_le32(zip, headers.central + 24, claimed);
    testing_support::write_file(path, zip);
    uint32_t size = XAD_file_grosse(path.c_str(), "thumbnail.png");
    if (size == 0)
        GTEST_SKIP() << "the library refuses the forged sizes itself";
    EXPECT_EQ(size, claimed);
    clear_journal();
    EXPECT_EQ(XAD_file_unpacker(path.c_str(), "thumbnail.png"), nullptr);
    EXPECT_TRUE(calls({"AllocVec"}).empty());
    EXPECT_STREQ(XAD_file_problem(path.c_str(), "thumbnail.png"),
                 "its thumbnail member is larger than 64 MiB");
}

TEST_F(Unpacker, MissingFileAndNonArchiveGiveNothingAndCloseTheLibrary)
{
    std::string text = dir.file("notes.odt");
    testing_support::write_file(text, "plain words, no archive");
    for (const std::string &path : {dir.file("missing.odt"), text, dir.path()}) {
        EXPECT_EQ(XAD_file_unpacker(path.c_str(), "thumbnail.png"), nullptr) << path;
        EXPECT_EQ(XAD_file_grosse(path.c_str(), "thumbnail.png"), 0u) << path;
        EXPECT_EQ(platform_open_count("xadmaster.library"), 0);
    }
    EXPECT_STREQ(XAD_file_problem(dir.file("missing.odt").c_str(), "thumbnail.png"),
                 "No such file or directory");
    EXPECT_STREQ(XAD_file_problem(text.c_str(), "thumbnail.png"), "cannot be read as an archive");
    EXPECT_STREQ(XAD_file_problem(dir.path().c_str(), "thumbnail.png"), "is a directory");
}

TEST_F(Unpacker, DataDescriptorAndOtherFormatsWork)
{
    std::string thumbnail = noise(700);
    std::vector<Member> members = {regular("content.xml", "<doc/>"),
                                   regular("Thumbnails/thumbnail.png", thumbnail)};
    std::string streamed = dir.file("streamed.zip");
    write_archive(streamed, "zip", members, true);
    for (const char *format : {"7z", "tar.gz", "iso"}) {
        std::string path = dir.file(std::string("doc.") + format);
        write_archive(path, format, members);
        void *block = XAD_file_unpacker(path.c_str(), "thumbnail.png");
        EXPECT_EQ(XAD_file_grosse(path.c_str(), "thumbnail.png"), 700u) << format;
        EXPECT_EQ(block_bytes(block, 700).substr(0, 700), thumbnail) << format;
        free_block(block);
    }
    void *block = XAD_file_unpacker(streamed.c_str(), "thumbnail.png");
    EXPECT_EQ(XAD_file_grosse(streamed.c_str(), "thumbnail.png"), 700u);
    EXPECT_EQ(block_bytes(block, 700).substr(0, 700), thumbnail);
    free_block(block);
}

// The journal of each row of the failure table.

TEST_F(Unpacker, JournalOfASuccessfulCall)
{
    std::string path = dir.file("doc.zip");
    write_archive(path, "zip", {regular("x", "y"), regular("Thumbnails/thumbnail.png", noise(1000))});
    clear_journal();
    void *block = XAD_file_unpacker(path.c_str(), "thumbnail.png");
    EXPECT_EQ(xad_calls(), (std::vector<std::string>{"OpenLibrary xadmaster.library 0", "xadAllocObjectA 1",
                                                     "xadGetInfoA " + path, "AllocVec 4000 0x10000",
                                                     "xadFileUnArcA 2 memory 1000", "xadFreeInfo",
                                                     "xadFreeObjectA", "CloseLibrary xadmaster.library"}));
    clear_journal();
    EXPECT_EQ(XAD_file_grosse(path.c_str(), "thumbnail.png"), 1000u);
    EXPECT_EQ(xad_calls(), (std::vector<std::string>{"OpenLibrary xadmaster.library 0", "xadAllocObjectA 1",
                                                     "xadGetInfoA " + path, "xadFreeInfo", "xadFreeObjectA",
                                                     "CloseLibrary xadmaster.library"}));
    free_block(block);
}

TEST_F(Unpacker, JournalWhenTheLibraryIsMissing)
{
    platform_set_library_missing("xadmaster.library", true);
    EXPECT_EQ(XAD_file_unpacker("/any", "thumbnail.png"), nullptr);
    EXPECT_EQ(XAD_file_grosse("/any", "thumbnail.png"), 0u);
    EXPECT_EQ(xad_calls(), (std::vector<std::string>(2, "OpenLibrary xadmaster.library 0 -> NULL")));
}

TEST_F(Unpacker, JournalWhenNoArchiveInfoCanBeHad)
{
    std::string path = dir.file("doc.zip");
    write_archive(path, "zip", {regular("thumbnail.png", "x")});
    clear_journal();
    platform_fail_allocations_after(0);
    EXPECT_EQ(XAD_file_unpacker(path.c_str(), "thumbnail.png"), nullptr);
    EXPECT_EQ(XAD_file_grosse(path.c_str(), "thumbnail.png"), 0u);
    std::vector<std::string> once = {"OpenLibrary xadmaster.library 0", "xadAllocObjectA 1 -> NULL",
                                     "CloseLibrary xadmaster.library"};
    std::vector<std::string> twice = once;
    twice.insert(twice.end(), once.begin(), once.end());
    EXPECT_EQ(xad_calls(), twice);
}

TEST_F(Unpacker, JournalWhenTheArchiveCannotBeRead)
{
    std::string path = dir.file("missing.odt");
    EXPECT_EQ(XAD_file_unpacker(path.c_str(), "thumbnail.png"), nullptr);
    std::vector<std::string> seen = xad_calls();
    ASSERT_EQ(seen.size(), 5u);
    EXPECT_EQ(seen[0], "OpenLibrary xadmaster.library 0");
    EXPECT_EQ(seen[1], "xadAllocObjectA 1");
    EXPECT_EQ(seen[2].rfind("xadGetInfoA " + path + " -> ", 0), 0u) << seen[2];
    EXPECT_EQ(seen[3], "xadFreeObjectA");
    EXPECT_EQ(seen[4], "CloseLibrary xadmaster.library");
}

TEST_F(Unpacker, JournalWhenTheBlockCannotBeHad)
{
    std::string path = dir.file("doc.zip");
    write_archive(path, "zip", {regular("Thumbnails/thumbnail.png", noise(10))});
    clear_journal();
    platform_fail_allocations_after(2); // the archive info and the listing
    EXPECT_EQ(XAD_file_unpacker(path.c_str(), "thumbnail.png"), nullptr);
    EXPECT_EQ(xad_calls(),
              (std::vector<std::string>{"OpenLibrary xadmaster.library 0", "xadAllocObjectA 1",
                                        "xadGetInfoA " + path, "AllocVec 40 0x10000 -> NULL", "xadFreeInfo",
                                        "xadFreeObjectA", "CloseLibrary xadmaster.library"}));
    platform_fail_allocations_after(-1);
    EXPECT_STREQ(XAD_file_problem(path.c_str(), "thumbnail.png"),
                 "there is not enough memory for its thumbnail member");
}

TEST_F(Unpacker, JournalWhenTheExtractionFails)
{
    std::string path = dir.file("secret.zip");
    Member secret = regular("Thumbnails/thumbnail.png", noise(100));
    secret.passphrase = "hidden";
    write_archive(path, "zip", {secret});
    clear_journal();
    void *block = XAD_file_unpacker(path.c_str(), "thumbnail.png");
    EXPECT_EQ(XAD_file_grosse(path.c_str(), "thumbnail.png"), 100u);
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(block_bytes(block, 100), std::string(400, '\0'));
    std::vector<std::string> seen = xad_calls();
    ASSERT_GE(seen.size(), 8u);
    EXPECT_EQ(seen[4], "xadFileUnArcA 1 memory 100 -> " + std::to_string(XADERR_ENCRYPTED));
    EXPECT_EQ(std::vector<std::string>(seen.begin() + 5, seen.begin() + 8),
              (std::vector<std::string>{"xadFreeInfo", "xadFreeObjectA", "CloseLibrary xadmaster.library"}));
    free_block(block);
}

TEST_F(Unpacker, NoMatchReadsNoEmptyRow)
{
    std::string path = dir.file("doc.zip");
    write_archive(path, "zip", {regular("content.xml", "x")});
    clear_journal();
    EXPECT_EQ(XAD_file_unpacker(path.c_str(), "thumbnail.png"), nullptr);
    EXPECT_TRUE(calls({"AllocVec"}).empty());
    EXPECT_TRUE(calls({"xadFileUnArcA"}).empty());
    EXPECT_EQ(calls({"CloseLibrary"}).size(), 1u);
}

// A member that cannot be taken out whole is reported with the archive's
// cause; one that can is not reported at all.
TEST_F(Unpacker, AMemberThatCannotBeExtractedIsReportedWithItsCause)
{
    const std::string prefix = "its thumbnail could not be extracted: ";
    Member secret = regular("Thumbnails/thumbnail.png", noise(3000));
    secret.passphrase = "hidden";
    std::string encrypted = dir.file("secret.zip");
    write_archive(encrypted, "zip", {secret});
    std::string whole = dir.file("whole.zip");
    write_archive(whole, "zip",
                  {regular("Thumbnails/thumbnail.png", noise(3000)), regular("z", noise(9000))});
    std::string zip = testing_support::read_file(whole);
    ZipHeaders headers = find_zip_headers(zip, "Thumbnails/thumbnail.png");
    std::string damaged = dir.file("damaged.zip"), cut = dir.file("cut.tar");
    zip[headers.local + 30 + 24 + 1000] ^= 0x55; // inside the compressed data
    testing_support::write_file(damaged, zip);
    write_archive(cut, "tar", {regular("Thumbnails/thumbnail.png", noise(3000))});
    testing_support::write_file(cut, testing_support::read_file(cut).substr(0, 512 + 1000));
    const struct {
        std::string path;
        const char *problem; // null: nothing wrong
    } cases[] = {
        {whole, nullptr},
        {encrypted, "it is encrypted"},
        {damaged, "the archive's data is damaged"},
        {cut, "the archive is cut short"},
    };
    for (const auto &c : cases) {
        const char *problem = XAD_member_problem(c.path.c_str(), "thumbnail.png");
        if (c.problem == nullptr)
            EXPECT_EQ(problem, nullptr) << c.path << ": " << problem;
        else
            EXPECT_STREQ(problem, (prefix + c.problem).c_str()) << c.path;
    }
}

TEST_F(Unpacker, AThumbnailThatTheManifestEnciphersIsReportedEncrypted)
{
    const std::string entry = "<manifest:file-entry manifest:full-path=\"Thumbnails/thumbnail.png\" "
                              "manifest:media-type=\"image/png\"";
    const std::string enciphered =
        entry + "><manifest:encryption-data manifest:checksum-type=\"SHA1/1K\"/></manifest:file-entry>";
    for (const std::string &manifest : {entry + "/>", enciphered}) {
        std::string path = dir.file("doc.odt");
        write_archive(
            path, "zip",
            {regular("META-INF/manifest.xml", "<manifest:manifest>" + manifest + "</manifest:manifest>"),
             regular("Thumbnails/thumbnail.png", noise(500))});
        const char *problem = XAD_member_problem(path.c_str(), "thumbnail.png");
        if (manifest == enciphered)
            EXPECT_STREQ(problem, "its thumbnail could not be extracted: it is encrypted (the document is "
                                  "protected by a password)");
        else
            EXPECT_EQ(problem, nullptr);
    }
}

TEST_F(Unpacker, NamesThatAreNotAsciiAreFoundAsTheirUtf8Bytes)
{
    // Written as a desktop's programs write them: in UTF-8, and marked so.
    std::string path = dir.file("names.zip");
    testing_support::write_archive_utf8(path, "zip",
                                        {regular("Ordner-\xc3\xa4/Thumbnails/thumbnail.png", "umlaut"),
                                         regular("\xc3\xa9t\xc3\xa9.png", "accents")});
    EXPECT_EQ(XAD_file_grosse(path.c_str(), "thumbnail.png"), 6u);
    EXPECT_EQ(XAD_file_grosse(path.c_str(), "Ordner-\xc3\xa4/"), 6u);
    void *block = XAD_file_unpacker(path.c_str(), "\xc3\xa9t\xc3\xa9");
    EXPECT_EQ(block_bytes(block, 7).substr(0, 7), "accents");
    free_block(block);
}

} // namespace

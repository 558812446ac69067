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

// The failure table of both routines. Each row: the document and the test
// control that makes the row's step fail, the journal each routine leaves
// ("{path}" standing for the document) and what each returns.

enum class Document { thumbnail, encrypted, missing };
enum class Block { none, member, zeros };

struct JournalRow {
    const char *name;
    Document document;
    uint32_t member_size;
    bool library_missing;
    long allocations; // successes before allocations fail; -1: never
    std::vector<std::string> unpacker;
    Block block;
    const char *problem; // XAD_file_problem where no block came
    std::vector<std::string> grosse;
    uint32_t size;
};

const std::string open_xad = "OpenLibrary xadmaster.library 0", close_xad = "CloseLibrary xadmaster.library";
const std::vector<std::string> no_library = {open_xad + " -> NULL"};
const std::vector<std::string> no_object = {open_xad, "xadAllocObjectA 1 -> NULL", close_xad};
const std::vector<std::string> not_read = {open_xad, "xadAllocObjectA 1",
                                           "xadGetInfoA {path} -> " + std::to_string(XADERR_INPUT),
                                           "xadFreeObjectA", close_xad};

// A listed archive's journal, with these calls between the listing and its release.
std::vector<std::string> listed(const std::vector<std::string> &between = {})
{
    std::vector<std::string> lines = {open_xad, "xadAllocObjectA 1", "xadGetInfoA {path}"};
    lines.insert(lines.end(), between.begin(), between.end());
    lines.insert(lines.end(), {"xadFreeInfo", "xadFreeObjectA", close_xad});
    return lines;
}

const std::string encrypted = "xadFileUnArcA 2 memory 100 -> " + std::to_string(XADERR_ENCRYPTED);
const char *const no_memory = "there is not enough memory for its thumbnail member";

const JournalRow journal_rows[] = {
    {"Nothing", Document::thumbnail, 1000, false, -1,
     listed({"AllocVec 4000 0x10000", "xadFileUnArcA 2 memory 1000"}), Block::member, nullptr, listed(),
     1000},
    {"TheLibrary", Document::thumbnail, 10, true, -1, no_library, Block::none,
     "xadmaster.library cannot be opened", no_library, 0},
    {"TheArchiveInfo", Document::thumbnail, 10, false, 0, no_object, Block::none,
     "there is not enough memory to list it", no_object, 0},
    {"TheArchive", Document::missing, 10, false, -1, not_read, Block::none, "No such file or directory",
     not_read, 0},
    // Two allocations succeed: the archive info and the listing.
    {"TheBlock", Document::thumbnail, 10, false, 2, listed({"AllocVec 40 0x10000 -> NULL"}), Block::none,
     no_memory, listed(), 10},
    {"TheExtraction", Document::encrypted, 100, false, -1, listed({"AllocVec 400 0x10000", encrypted}),
     Block::zeros, nullptr, listed(), 100},
};

void PrintTo(const JournalRow &row, std::ostream *out)
{
    *out << row.name;
}

class UnpackerJournal : public Unpacker, public testing::WithParamInterface<JournalRow>
{
  protected:
    void SetUp() override
    {
        Unpacker::SetUp();
        const JournalRow &row = GetParam();
        path = dir.file(row.document == Document::missing ? "missing.odt" : "doc.zip");
        std::vector<Member> members = {regular("x", "y"),
                                       regular("Thumbnails/thumbnail.png", noise(row.member_size))};
        for (Member &m : members)
            m.passphrase = row.document == Document::encrypted ? "hidden" : "";
        if (row.document != Document::missing)
            write_archive(path, "zip", members);
        member = members.back().data;
        clear_journal();
    }

    // Arms the row's test control, fresh for each call.
    void arm()
    {
        platform_set_library_missing("xadmaster.library", GetParam().library_missing);
        platform_fail_allocations_after(GetParam().allocations);
    }

    std::vector<std::string> expected(std::vector<std::string> lines) const
    {
        for (std::string &line : lines)
            if (size_t at = line.find("{path}"); at != std::string::npos)
                line.replace(at, 6, path);
        return lines;
    }

    std::string path, member;
};

TEST_P(UnpackerJournal, OfXadFileUnpacker)
{
    const JournalRow &row = GetParam();
    arm();
    void *block = XAD_file_unpacker(path.c_str(), "thumbnail.png");
    EXPECT_EQ(xad_calls(), expected(row.unpacker));
    std::string bytes = row.block == Block::member ? member : std::string(row.member_size, '\0');
    if (row.block == Block::none)
        EXPECT_EQ(block, nullptr);
    else
        EXPECT_EQ(block_bytes(block, row.member_size), bytes + std::string(3 * row.member_size, '\0'));
    free_block(block);
    if (row.problem != nullptr) {
        arm();
        EXPECT_STREQ(XAD_file_problem(path.c_str(), "thumbnail.png"), row.problem);
    }
}

TEST_P(UnpackerJournal, OfXadFileGrosse)
{
    const JournalRow &row = GetParam();
    arm();
    EXPECT_EQ(XAD_file_grosse(path.c_str(), "thumbnail.png"), row.size);
    EXPECT_EQ(xad_calls(), expected(row.grosse));
}

INSTANTIATE_TEST_SUITE_P(WhenFails, UnpackerJournal, testing::ValuesIn(journal_rows),
                         [](const testing::TestParamInfo<JournalRow> &info) { return info.param.name; });

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

// A plain zip listed from its own records gives exactly the listing that
// libarchive's walk gives: same members, order, names, sizes and flags; and
// its members come out of it as libarchive gives them.
#include <dirent.h>

#include <cstdio>

#include <string>
#include <vector>

#include "archive/archive.h"
#include "archive_tests.h"
#include "platform/control.h"
#include "platform_fixture.h"

using namespace archive_tests;
using testing_support::Member;
using testing_support::TempDir;

namespace
{

bool expect_same_members(const std::string &path);

// The zip at path given a comment of length bytes after its end record.
void add_comment(const std::string &path, size_t length)
{
    std::string zip = testing_support::read_file(path);
    ASSERT_GE(zip.size(), 22u);
    ASSERT_EQ(zip.compare(zip.size() - 22, 4, "PK\5\6"), 0);
    zip[zip.size() - 2] = static_cast<char>(length & 0xFF);
    zip[zip.size() - 1] = static_cast<char>(length >> 8);
    zip += std::string(length, 'c');
    testing_support::write_file(path, zip);
}

class ZipListing : public PlatformTest
{
  protected:
    // The listing with and without the direct path, and whether it was taken.
    void expect_same_listing(const std::string &path, bool &direct)
    {
        long before = platform_xad_direct_zip_listings();
        std::vector<std::string> listed[2];
        for (bool on : {true, false}) {
            platform_xad_direct_zip_listing(on);
            platform_forget_archive_listings();
            OpenArchive archive(path);
            listed[on] = {std::to_string(archive.info_result())};
            for (const Listed &m : archive.members())
                listed[on].push_back(std::to_string(m.number) + " " + m.name + " " + std::to_string(m.size) +
                                     " " + std::to_string(m.flags));
        }
        platform_xad_direct_zip_listing(true);
        direct = platform_xad_direct_zip_listings() > before;
        EXPECT_EQ(listed[true], listed[false]) << path;
    }

    std::vector<std::string> documents(const std::string &folder)
    {
        std::vector<std::string> paths;
        DIR *dir = opendir(folder.c_str());
        for (struct dirent *e = dir != nullptr ? readdir(dir) : nullptr; e != nullptr; e = readdir(dir))
            if (e->d_name[0] != '.' && std::string(e->d_name) != "INDEX.tsv")
                paths.push_back(folder + "/" + e->d_name);
        if (dir != nullptr)
            closedir(dir);
        return paths;
    }

    TempDir dir;
};

TEST_F(ZipListing, EveryCorpusDocumentIsListedAndUnpackedAsLibarchiveDoesIt)
{
    REQUIRE_REALCORPUS();
    int direct = 0, total = 0;
    for (const std::string &folder : {testing_support::corpus_dir(), testing_support::realcorpus_dir()})
        for (const std::string &path : documents(folder)) {
            bool taken;
            expect_same_listing(path, taken);
            expect_same_members(path);
            direct += taken;
            ++total;
        }
    EXPECT_GT(total, 380);
    EXPECT_GT(direct, total * 3 / 4) << "the direct listing should serve most real documents";
}

TEST_F(ZipListing, ZipsOfEveryShapeAreListedAsLibarchiveListsThem)
{
    Member secret = regular("Thumbnails/thumbnail.png", "secret");
    secret.passphrase = "pw";
    std::vector<Member> many;
    for (int i = 0; i < 300; ++i)
        many.push_back(regular("m/" + std::to_string(i), std::string(static_cast<size_t>(i % 7), 'x')));
    // A directory read in many windows, and a chain large enough for the
    // mapped blocks, which the second listing takes again after the first.
    std::vector<Member> large = {directory("parts/")};
    char name[32];
    for (int i = 1; i <= 40000; ++i) {
        std::snprintf(name, sizeof name, "parts/%06d.xml", i);
        large.push_back(regular(name, std::to_string(i)));
    }
    // Small members with large ones between them, whose headers are read
    // apart rather than with the data between.
    std::vector<Member> spread = {regular("a", "a"), regular("big", noise(300000)), regular("b", "b"),
                                  regular("c", noise(20000)), regular("d", "d")};
    const struct {
        const char *name;
        std::vector<Member> members;
        bool utf8, streamed, plain;
        size_t comment = 0;
    } cases[] = {
        {"folders.zip", {directory("a/"), regular("a/b", "b"), symlink_to("a/l", "b")}, false, false, false},
        {"plain.zip",
         {regular("mimetype", "x"), directory("d/"), regular("d/thumbnail.png", "png")},
         false,
         false,
         true},
        // Written without sizes, its local headers carry zip64 fields.
        {"streamed.zip", {regular("one", "1111"), regular("two", "2")}, false, true, false},
        {"names.zip",
         {regular("Ordner-\xc3\xa4/\xc3\xa9t\xc3\xa9.png", "e"), regular("x", "")},
         true,
         false,
         true},
        {"secret.zip", {secret, regular("a", "a")}, false, false, false},
        {"many.zip", many, false, false, true},
        {"large.zip", large, false, false, true},
        {"spread.zip", spread, false, false, true},
        // The end record past the last 4 KiB, and at their very start.
        {"commented.zip", {regular("a", "a")}, false, false, true, 40000},
        {"near.zip", spread, false, false, true, 4096 - 22 - 10},
    };
    for (const auto &c : cases) {
        std::string path = dir.file(c.name);
        if (c.utf8)
            testing_support::write_archive_utf8(path, "zip", c.members);
        else
            testing_support::write_archive(path, "zip", c.members, c.streamed);
        if (c.comment != 0)
            add_comment(path, c.comment);
        bool taken;
        expect_same_listing(path, taken);
        EXPECT_EQ(taken, c.plain) << c.name;
    }
}

// Every member into memory, with the direct path and through libarchive
// alone: the same result and bytes. True when the direct path gave any.
bool expect_same_members(const std::string &path)
{
    std::vector<std::string> taken[2];
    long before = platform_xad_direct_zip_extractions();
    for (bool on : {true, false}) {
        platform_xad_direct_zip_listing(on);
        platform_forget_archive_listings();
        OpenArchive archive(path);
        for (const Listed &m : archive.members()) {
            std::string out;
            // Whole, and its first half only, as a part is taken.
            for (size_t room : {size_t(m.size), size_t(m.size / 2)}) {
                LONG code = m.size <= (8u << 20) ? archive.to_memory(m.number, room, out) : -1;
                taken[on].push_back(m.name + " " + std::to_string(room) + " " + std::to_string(code) + " " +
                                    std::to_string(std::hash<std::string>()(out)));
            }
        }
    }
    platform_xad_direct_zip_listing(true);
    EXPECT_EQ(taken[true], taken[false]) << path;
    return platform_xad_direct_zip_extractions() > before;
}

TEST_F(ZipListing, MembersComeOutWithoutLibarchiveAsLibarchiveGivesThem)
{
    std::string zip = dir.file("shapes.zip");
    testing_support::write_archive(zip, "zip",
                                   {regular("empty", ""), regular("noise", noise(300000, 7)),
                                    regular("words", std::string(200000, 'w')), regular("x", "x")});
    std::string damaged = testing_support::read_file(zip);
    damaged[static_cast<size_t>(find_zip_headers(damaged, "words").local) + 40] ^= 0x55; // into its data
    testing_support::write_file(dir.file("damaged.zip"), damaged);
    std::string stored = dir.file("stored.zip");
    testing_support::write_archive(stored, "zip-stored", {regular("a", noise(70000, 3)), regular("b", "b")});
    for (const std::string &path : {zip, dir.file("damaged.zip"), stored})
        EXPECT_TRUE(expect_same_members(path)) << path;
    for (const std::string &path : documents(testing_support::corpus_dir()))
        EXPECT_TRUE(expect_same_members(path)) << path;
}

} // namespace

namespace
{

// Zips whose records lie: the document gets libarchive's answer, whether
// the library's own reader takes it or steps aside.
TEST_F(ZipListing, HostileZipsGetLibarchivesAnswer)
{
    std::string thumbnail = testing_support::encode_png(8, 8, testing_support::test_pattern(8, 8));
    int direct = 0;
    for (const testkit::HostileZip &zip : testkit::hostile_zips(thumbnail)) {
        std::string path = dir.file(zip.name);
        testing_support::write_file(path, zip.bytes);
        bool taken;
        expect_same_listing(path, taken);
        expect_same_members(path);
        direct += taken;
    }
    EXPECT_GE(direct, 1) << "the sound zip of the set is listed directly";
}

// Found by fuzzing the two readers side by side, each a stored member
// whose sizes follow its data:
//  - "b", whose central record says 3 bytes compressed and 4099
//    uncompressed: the library's own listing gave 4099 bytes, libarchive 3;
//  - "m" before "b", whose data descriptor states another compressed size:
//    libarchive, stepping over "m" by looking for its descriptor, read the
//    rest out of step and found no "b", which the library's own listing gave;
//  - "b" deflated and damaged: the library's own attempt at it left its
//    bytes behind libarchive's failure.
TEST_F(ZipListing, StoredMembersWhoseSizesFollowGetLibarchivesAnswer)
{
    const struct {
        const char *name;
        const char *hex;
    } cases[] = {
        {"two-sizes.zip",
         "504b03040a000800000027ba885d000000000800000008000000010020006d55540d0007fb8f186bfb8f186bfb8f186b"
         "75780b0001040000000004000000006d696d6574797065504b0708b90fc0780800000008000000504b03040a00080000"
         "0027ba885d000000000300000003000000010020006255540d0007fb8f186bfb8f186bfb8f186b75780b000104000000"
         "000400000000626565504b070869cc40910300000003000000504b01020a030a000800000027ba885db90fc078080000"
         "0008000000010020000000000000000000a481000000006d55540d0007fb8f186bfb8f186bfb8f186b75780b00010400"
         "0000000400000000504b01020a030a000800000027ba885d69cc40910300000003100000010020000000000000000000"
         "a481570000006255540d0007fb8f186bfb8f186bfb8f186b75780b000104000000000400000000504b05060000000002"
         "0002009e000000a90000000000"},
        {"astray.zip",
         "504b03040a0008000000eb20895d000000000800000008000000010020006d55540d0007fad3186bfad3186bfad3186b"
         "75780b0001040000000004000000006d696d6574797065504b0708b90fc078504b030408000000504b03040a00080000"
         "00eb20895d000000000300000003000000010020006255540d0007fad3186bfad3186bfad3186b75780b000104000000"
         "000400000000626565504b070869cc40910300000003000000504b01020a030a0008000000eb20895db90fc078080000"
         "0008000000010020000000000000000000a481000000006d55540d0007fad3186bfad3186bfad3186b75780b00010400"
         "0000000400000000504b01020a030a0008000000eb20895d69cc40910300000003000000010020000000000000000000"
         "a481570000006255540d0007fad3186bfad3186bfad3186b75780b000100040000000000040000504b050600003d0002"
         "0002009e000000a90000000000"},
    };
    for (const auto &c : cases) {
        std::string bytes;
        for (const char *at = c.hex; at[0] != '\0'; at += 2)
            bytes += static_cast<char>(std::stoi(std::string(at, 2), nullptr, 16));
        std::string path = dir.file(c.name);
        testing_support::write_file(path, bytes);
        bool taken;
        expect_same_listing(path, taken);
        expect_same_members(path);
    }
}

// Found by fuzzing, a deflated member "b" whose data is damaged: its
// thumbnail block comes out of the library's own reader as libarchive
// gives it
//  - not holding what the failed first attempt wrote;
//  - with the file type of a Unix folder but no "/" ending its name, which
//    the own reader took for a folder and libarchive for a file.
TEST_F(ZipListing, ADamagedMemberGivesTheBlockLibarchiveGives)
{
    const char *const cases[] = {
        "504b0304140008000800eb20895d000000000000000003000000010020006255540d0007fad3186bfad3186bfad3186b"
        "75780b00010400000000040000004b4a004d4500504b070869cc40910500000003000000504b0304140008000800eb20"
        "895d000000000000000008000000010020006d55540d0007fad3186bfad3186bfad3186b75780b000104000000000400"
        "000000cbcdcc4d2da92c480500504b0708b90fc0780a00000008000000504b01021401140008000800eb20895d69cc40"
        "910500000003000000010020000000000000000000a481000000006255540d0007fad3186bfad3186bfad3186b75780b"
        "000104000000000400000000504b01021403140008000800eb20895db90fc0780a000000080000000100200000000000"
        "00000000a481540000006d55540d0007fad3186bfad3186bfad3186b75780b000104000000000400000000504b050600"
        "00cc00020002009e000000ad0000000000",
        "504b0304140008000800eb20895d000000000000000003000000010020006255540d0007fad3186bfad3186bfad3186b"
        "75780b0001040000000004000000004b4a4d4500504b070869cc40910500000003000000504b0304140008000800eb20"
        "895d000000000000000008000000010020006d55540d0007fad3186bfad3186bfad3186b75780b000104000000000400"
        "000000cbcdcc4d2da92c480500504b0708b90fc0780a00000008000000504b01021403140008000800eb20895d69cc40"
        "910500000003000000010020000000000000000000a443000000006255540d0007fad3186bfad3186bfad3186b75780b"
        "000104000000000400000000504b01021403140008000800eb20895db90fc0780a000000080000000100200000000000"
        "00000000a481540000006d55540d0007fad3186bfad3186bfad3186b75780b000104000000000400000000504b050600"
        "00cc00020002009e000000ad0000000000",
    };
    for (const char *hex : cases) {
        std::string bytes;
        for (const char *at = hex; at[0] != '\0'; at += 2)
            bytes += static_cast<char>(std::stoi(std::string(at, 2), nullptr, 16));
        std::string path = dir.file("damaged.zip");
        testing_support::write_file(path, bytes);
        std::string taken[2];
        for (bool on : {true, false}) {
            platform_xad_direct_zip_listing(on);
            platform_forget_archive_listings();
            void *block = XAD_file_unpacker(path.c_str(), "b");
            taken[on] = block != nullptr
                            ? std::string(static_cast<char *>(block), XAD_file_grosse(path.c_str(), "b"))
                            : "-";
            FreeVec(block);
        }
        platform_xad_direct_zip_listing(true);
        EXPECT_EQ(taken[true], taken[false]);
    }
}

} // namespace

// Picture members to t:temp: which members, under which names, the status of
// the last attempt, and the calls made in their order.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "archive/archive.h"
#include "extract_fixture.h"
#include "platform/control.h"

namespace
{

TEST_F(ExtractTest, MemberIsWrittenUnderItsFilePartOnly)
{
    std::string photo = member_data("photo");
    std::string path = archive({regular("Pictures/photo.jpg", photo)});
    EXPECT_EQ(XAD_picture_unpacker(path.c_str()), 1);
    EXPECT_EQ(temp_listing(), Names{"photo.jpg"});
    EXPECT_EQ(read_file(temp_file("photo.jpg")), photo);
}

TEST_F(ExtractTest, OnlyTheExactLowerCaseTextsCount)
{
    std::string path = archive({regular("photo.JPG", "a"), regular("photo.jpeg", "b"),
                                regular("photo.PNG", "c"), regular("readme.txt", "d")});
    EXPECT_EQ(XAD_picture_unpacker(path.c_str()), 0);
    // The folder is made all the same, and left empty.
    struct stat info;
    ASSERT_EQ(lstat(temp_dir().c_str(), &info), 0);
    EXPECT_TRUE(S_ISDIR(info.st_mode));
    EXPECT_EQ(temp_listing(), Names{});
    EXPECT_EQ(calls({"xadFileUnArcA"}).size(), 0u);
}

TEST_F(ExtractTest, TheTextsMayStandAnywhereInTheFullName)
{
    std::string path = archive({regular("old.png.bak", "backup"), regular("data.jpg/notes.txt", "notes")});
    EXPECT_EQ(XAD_picture_unpacker(path.c_str()), 1);
    EXPECT_EQ(temp_listing(), (Names{"notes.txt", "old.png.bak"}));
    EXPECT_EQ(read_file(temp_file("old.png.bak")), "backup");
    EXPECT_EQ(read_file(temp_file("notes.txt")), "notes");
}

TEST_F(ExtractTest, NameWithBothTextsIsExtractedTwiceToTheSameFile)
{
    std::string path = archive({regular("pic.jpg.png", "both")});
    EXPECT_EQ(XAD_picture_unpacker(path.c_str()), 1);
    EXPECT_EQ(temp_listing(), Names{"pic.jpg.png"});
    EXPECT_EQ(read_file(temp_file("pic.jpg.png")), "both");
    EXPECT_EQ(call_names(), (Names{"OpenLibrary", "xadAllocObjectA", "xadGetInfoA", "CreateDir", "UnLock",
                                   "FilePart", "xadFileUnArcA", "FilePart", "xadFileUnArcA", "xadFreeInfo",
                                   "xadFreeObjectA", "CloseLibrary"}));
}

TEST_F(ExtractTest, LaterMemberOfTheSameFilePartWinsAndGivesTheStatus)
{
    std::string first = member_data("a");
    std::string second = member_data("b");
    std::string path = archive({regular("a/logo.png", first), regular("b/logo.png", second)});
    EXPECT_EQ(XAD_picture_unpacker(path.c_str()), 1);
    EXPECT_EQ(read_file(temp_file("logo.png")), second);

    // A later one that fails gives 0 and leaves the earlier one's file.
    path = archive_damaged_at_start({regular("a/logo.png", first), regular("b/logo.png", second)},
                                    {"b/logo.png"});
    EXPECT_EQ(XAD_picture_unpacker(path.c_str()), 0);
    EXPECT_EQ(read_file(temp_file("logo.png")), first);
    EXPECT_EQ(temp_listing(), Names{"logo.png"});
}

TEST_F(ExtractTest, ExistingFileIsReplaced)
{
    std::filesystem::create_directories(temp_dir());
    write_file(temp_file("photo.png"), std::string(5000, 'o'));
    std::string fresh = member_data("fresh", 100);
    std::string path = archive({regular("photo.png", fresh)});
    EXPECT_EQ(XAD_picture_unpacker(path.c_str()), 1);
    EXPECT_EQ(read_file(temp_file("photo.png")), fresh);
    EXPECT_EQ(temp_listing(), Names{"photo.png"});
}

// A damaged member does not end the walk; the status is that of the last
// attempt.
TEST_F(ExtractTest, DamagedMembersAreSkippedAndTheLastAttemptGivesTheStatus)
{
    const std::vector<Member> members = {regular("one.png", member_data("1")),
                                         regular("two.jpg", member_data("2")),
                                         regular("three.png", member_data("3"))};
    const struct {
        Names damaged;
        int status;
        Names listing;
    } cases[] = {
        {{"three.png"}, 0, {"one.png", "two.jpg"}},
        {{"one.png", "two.jpg"}, 1, {"three.png"}},
        {{"one.png"}, 1, {"three.png", "two.jpg"}},
    };
    for (const auto &c : cases) {
        std::filesystem::remove_all(temp_dir());
        std::string path = archive_damaged_at_start(members, c.damaged);
        EXPECT_EQ(XAD_picture_unpacker(path.c_str()), c.status) << c.damaged[0];
        EXPECT_EQ(temp_listing(), c.listing) << c.damaged[0];
        for (const Member &member : members)
            if (std::count(c.listing.begin(), c.listing.end(), member.name) != 0) {
                EXPECT_EQ(read_file(temp_file(member.name)), member.data);
            }
    }
}

TEST_F(ExtractTest, EncipheredMembersFailWithoutAPassphrase)
{
    Member secret = regular("secret.png", member_data("secret"));
    secret.passphrase = "word";
    std::string path = archive({secret});
    EXPECT_EQ(XAD_picture_unpacker(path.c_str()), 0);
    EXPECT_EQ(temp_listing(), Names{});
}

TEST_F(ExtractTest, PathThatNamesNoFileGivesMinusOneAndNoFolder)
{
    std::string missing = root() + "/missing.zip";
    EXPECT_EQ(XAD_picture_unpacker(missing.c_str()), -1);
    EXPECT_FALSE(exists_or_link(temp_dir()));
    EXPECT_EQ(call_names(),
              (Names{"OpenLibrary", "xadAllocObjectA", "xadGetInfoA", "xadFreeObjectA", "CloseLibrary"}));

    std::string not_archive = root() + "/plain.zip";
    write_file(not_archive, "this is not an archive at all");
    EXPECT_EQ(XAD_picture_unpacker(not_archive.c_str()), -1);
    EXPECT_FALSE(exists_or_link(temp_dir()));
}

TEST_F(ExtractTest, NoArchiveInfoGivesMinusTwo)
{
    std::string path = archive({regular("photo.png", "x")});
    platform_fail_allocations_after(0);
    EXPECT_EQ(XAD_picture_unpacker(path.c_str()), -2);
    EXPECT_FALSE(exists_or_link(temp_dir()));
    EXPECT_EQ(call_names(), (Names{"OpenLibrary", "xadAllocObjectA", "CloseLibrary"}));
}

TEST_F(ExtractTest, MissingLibraryGivesZeroAndDoesNothing)
{
    std::string path = archive({regular("photo.png", "x")});
    platform_set_library_missing("xadmaster.library", true);
    EXPECT_EQ(XAD_picture_unpacker(path.c_str()), 0);
    EXPECT_FALSE(exists_or_link(temp_dir()));
    EXPECT_EQ(call_names(), Names{"OpenLibrary"});
}

TEST_F(ExtractTest, CallsComeInTheirOrderAndEverythingIsReleased)
{
    std::string path =
        archive({regular("Pictures/photo.jpg", "j"), regular("readme.txt", "t"), regular("thumb.png", "p")});
    clear_journal();
    EXPECT_EQ(XAD_picture_unpacker(path.c_str()), 1);
    EXPECT_EQ(call_names(), (Names{"OpenLibrary", "xadAllocObjectA", "xadGetInfoA", "CreateDir", "UnLock",
                                   "FilePart", "xadFileUnArcA", "FilePart", "xadFileUnArcA", "xadFreeInfo",
                                   "xadFreeObjectA", "CloseLibrary"}));
    EXPECT_EQ(calls({"OpenLibrary", "CreateDir", "FilePart", "xadFileUnArcA", "CloseLibrary"}),
              (Names{"OpenLibrary xadmaster.library 0", "CreateDir t:temp", "FilePart Pictures/photo.jpg",
                     "xadFileUnArcA 1 file t:temp/photo.jpg overwrite", "FilePart thumb.png",
                     "xadFileUnArcA 3 file t:temp/thumb.png overwrite", "CloseLibrary xadmaster.library"}));

    // With t:temp standing already, CreateDir fails and nothing else changes.
    EXPECT_EQ(XAD_picture_unpacker(path.c_str()), 1);
    EXPECT_EQ(temp_listing(), (Names{"photo.jpg", "thumb.png"}));
}

TEST_F(ExtractTest, NamesThatDoNotFitAreLeftOutAndFail)
{
    // A full name of 149 characters with a file part of 142 just fits.
    std::string part142 = std::string(138, 'p') + ".png";
    std::string full149 = "dir/" + std::string(149 - 4 - 142 - 1, 'd') + "/" + part142;
    ASSERT_EQ(full149.size(), 149u);
    std::string path = archive({regular(full149, "fits")});
    EXPECT_EQ(XAD_picture_unpacker(path.c_str()), 1);
    EXPECT_EQ(temp_listing(), Names{part142});

    std::filesystem::remove_all(temp_dir());
    std::string full150 = std::string(146, 'f') + ".png";
    std::string part143 = std::string(139, 'q') + ".png";
    path = archive({regular("ok.png", "ok"), regular(full150, "long")});
    EXPECT_EQ(XAD_picture_unpacker(path.c_str()), 0);
    path = archive({regular("ok.png", "ok"), regular("x/" + part143, "long")});
    EXPECT_EQ(XAD_picture_unpacker(path.c_str()), 0);
    EXPECT_EQ(temp_listing(), Names{"ok.png"});
    // A long name that asks for no picture changes nothing.
    path = archive({regular("ok.png", "ok"), regular(std::string(300, 'n') + ".txt", "long")});
    EXPECT_EQ(XAD_picture_unpacker(path.c_str()), 1);
}

TEST_F(ExtractTest, FilePartsThatNameNoFileAreLeftOutAndFail)
{
    for (const char *name : {"pics.png:", "pics.png/.", "pics.png/.."}) {
        std::string path = archive({regular("ok.png", "ok"), regular(name, "odd")});
        EXPECT_EQ(XAD_picture_unpacker(path.c_str()), 0) << name;
        EXPECT_EQ(temp_listing(), Names{"ok.png"}) << name;
        EXPECT_EQ(read_file(temp_file("ok.png")), "ok");
    }
}

} // namespace

// Archives and neighbours that try to make the extraction write anywhere
// but a file of its own in t:temp, or lose a file that was there.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "archive/archive.h"
#include "extract_fixture.h"

using testing_support::Member;
using testing_support::read_file;
using testing_support::write_file;
using Names = std::vector<std::string>;

namespace
{

std::string link_target(const std::string &path)
{
    std::error_code error;
    return std::filesystem::read_symlink(path, error).string();
}

TEST_F(ExtractTest, StepsOutOfTheFolderAreDropped)
{
    std::string outside = root() + "/t/x.png";
    std::string absolute = root() + "/abs/y.png";
    std::string path = archive({file("../../x.png", "up"), file(absolute, "abs")});
    EXPECT_EQ(XAD_picture_unpacker(path.c_str()), 1);
    EXPECT_EQ(temp_listing(), (Names{"x.png", "y.png"}));
    EXPECT_EQ(read_file(temp_file("x.png")), "up");
    EXPECT_EQ(read_file(temp_file("y.png")), "abs");
    EXPECT_EQ(tree(),
              (Names{"archive1.zip", "t", "t/tmp", "t/tmp/temp", "t/tmp/temp/x.png", "t/tmp/temp/y.png"}));
}

TEST_F(ExtractTest, LinkPlantedInTheFolderIsNotWrittenThrough)
{
    std::filesystem::create_directories(temp_dir());
    std::string target = root() + "/precious.txt";
    write_file(target, "precious");
    ASSERT_EQ(symlink(target.c_str(), temp_file("x.png").c_str()), 0);
    std::string path = archive({file("x.png", member_data("attack"))});
    EXPECT_EQ(XAD_picture_unpacker(path.c_str()), 0);
    EXPECT_EQ(read_file(target), "precious");
    EXPECT_EQ(link_target(temp_file("x.png")), target);
}

TEST_F(ExtractTest, DanglingLinkInTheFolderCreatesNothing)
{
    std::filesystem::create_directories(temp_dir());
    std::string target = root() + "/planted.txt";
    ASSERT_EQ(symlink(target.c_str(), temp_file("x.png").c_str()), 0);
    std::string path = archive({file("x.png", member_data("attack"))});
    EXPECT_EQ(XAD_picture_unpacker(path.c_str()), 0);
    EXPECT_FALSE(exists_or_link(target));
    EXPECT_EQ(link_target(temp_file("x.png")), target);
}

TEST_F(ExtractTest, FolderThatIsALinkIsNotWrittenThrough)
{
    std::string elsewhere = root() + "/elsewhere";
    std::filesystem::create_directories(elsewhere);
    ASSERT_EQ(symlink(elsewhere.c_str(), temp_dir().c_str()), 0);
    std::string path = archive({file("x.png", "x"), file("y.jpg", "y")});
    EXPECT_EQ(XAD_picture_unpacker(path.c_str()), 0);
    EXPECT_TRUE(std::filesystem::is_empty(elsewhere));
    EXPECT_EQ(link_target(temp_dir()), elsewhere);
}

TEST_F(ExtractTest, FolderOfAnotherUserIsNotWrittenInto)
{
    std::filesystem::create_directories(temp_dir());
    uid_t other = getuid() == 0 ? 65534 : 0;
    if (chown(temp_dir().c_str(), other, static_cast<gid_t>(-1)) != 0)
        GTEST_SKIP() << "cannot give a folder to another user here";
    std::string path = archive({file("x.png", "x")});
    EXPECT_EQ(XAD_picture_unpacker(path.c_str()), 0);
    EXPECT_TRUE(std::filesystem::is_empty(temp_dir()));
}

TEST_F(ExtractTest, DamagedMemberLeavesTheFileThatWasThere)
{
    std::filesystem::create_directories(temp_dir());
    std::string good = member_data("good", 4000);
    write_file(temp_file("x.png"), good);
    // All of the member comes out before its checksum shows the damage.
    std::string path = archive_damaged_at_end({file("x.png", member_data("damaged", 200000))}, "x.png");
    EXPECT_EQ(XAD_picture_unpacker(path.c_str()), 0);
    EXPECT_EQ(read_file(temp_file("x.png")), good);
    EXPECT_EQ(temp_listing(), Names{"x.png"});

    path = archive_damaged_at_start({file("x.png", member_data("damaged", 200000))}, {"x.png"});
    EXPECT_EQ(XAD_picture_unpacker(path.c_str()), 0);
    EXPECT_EQ(read_file(temp_file("x.png")), good);
    EXPECT_EQ(temp_listing(), Names{"x.png"});
}

TEST_F(ExtractTest, DamagedMemberLeavesNoPartialFile)
{
    std::string path = archive_damaged_at_end({file("x.png", member_data("damaged", 200000))}, "x.png");
    EXPECT_EQ(XAD_picture_unpacker(path.c_str()), 0);
    EXPECT_EQ(temp_listing(), Names{});
}

} // namespace

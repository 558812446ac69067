// Archives and neighbours that try to make the extraction write anywhere
// but a file of its own in t:temp, or lose a file that was there.
// Links and folders of another user at the target are checked where the
// writing is done, in tests/archive/xadmaster_file_test.cpp.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "archive/archive.h"
#include "extract_fixture.h"

namespace
{

TEST_F(ExtractTest, StepsOutOfTheFolderAreDropped)
{
    std::string outside = root() + "/t/x.png";
    std::string absolute = root() + "/abs/y.png";
    std::string path = archive({regular("../../x.png", "up"), regular(absolute, "abs")});
    EXPECT_EQ(XAD_picture_unpacker(path.c_str()), 1);
    EXPECT_EQ(temp_listing(), (Names{"x.png", "y.png"}));
    EXPECT_EQ(read_file(temp_file("x.png")), "up");
    EXPECT_EQ(read_file(temp_file("y.png")), "abs");
    EXPECT_EQ(tree(),
              (Names{"archive1.zip", "t", "t/tmp", "t/tmp/temp", "t/tmp/temp/x.png", "t/tmp/temp/y.png"}));
}

TEST_F(ExtractTest, DamagedMemberLeavesTheFileThatWasThere)
{
    std::filesystem::create_directories(temp_dir());
    std::string good = member_data("good", 4000);
    write_file(temp_file("x.png"), good);
    // All of the member comes out before its checksum shows the damage.
    std::string path = archive_damaged_at_end({regular("x.png", member_data("damaged", 200000))}, "x.png");
    EXPECT_EQ(XAD_picture_unpacker(path.c_str()), 0);
    EXPECT_EQ(read_file(temp_file("x.png")), good);
    EXPECT_EQ(temp_listing(), Names{"x.png"});

    path = archive_damaged_at_start({regular("x.png", member_data("damaged", 200000))}, {"x.png"});
    EXPECT_EQ(XAD_picture_unpacker(path.c_str()), 0);
    EXPECT_EQ(read_file(temp_file("x.png")), good);
    EXPECT_EQ(temp_listing(), Names{"x.png"});
}

TEST_F(ExtractTest, DamagedMemberLeavesNoPartialFile)
{
    std::string path = archive_damaged_at_end({regular("x.png", member_data("damaged", 200000))}, "x.png");
    EXPECT_EQ(XAD_picture_unpacker(path.c_str()), 0);
    EXPECT_EQ(temp_listing(), Names{});
}

} // namespace

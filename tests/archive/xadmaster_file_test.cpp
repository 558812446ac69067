// xadmaster.library extracting into files under T:, which never follows a
// link and never leaves a partial file.
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <set>

#include "archive_tests.h"
#include "platform_fixture.h"

using namespace archive_tests;
using testing_support::read_file;
using testing_support::TempDir;
using testing_support::write_archive;
using testing_support::write_file;

namespace
{

std::set<std::string> entries(const std::string &directory)
{
    std::set<std::string> names;
    DIR *dir = opendir(directory.c_str());
    if (dir == nullptr)
        return names;
    while (struct dirent *entry = readdir(dir))
        if (std::string(entry->d_name) != "." && std::string(entry->d_name) != "..")
            names.insert(entry->d_name);
    closedir(dir);
    return names;
}

// T: pointed at a fresh folder (its "temp" made), and an archive with one
// good member (1) and one damaged member (2).
class XadMasterFiles : public PlatformTest
{
  protected:
    void SetUp() override
    {
        PlatformTest::SetUp();
        const char *old = std::getenv("TMPDIR");
        had_tmpdir = old != nullptr;
        old_tmpdir = had_tmpdir ? old : "";
        setenv("TMPDIR", t.path().c_str(), 1);
        ASSERT_EQ(mkdir(temp().c_str(), 0700), 0);
        write_archive(archive, "zip", {regular("pics/x.png", good), regular("pics/bad.png", damaged_text())});
        std::string zip = read_file(archive);
        ZipHeaders headers = find_zip_headers(zip, "pics/bad.png");
        ASSERT_GE(headers.local, 0);
        for (size_t i = headers.local + 30 + 12 + 100; i < static_cast<size_t>(headers.local) + 30 + 12 + 164;
             ++i)
            zip[i] = static_cast<char>(~zip[i]);
        write_file(archive, zip);
    }

    void TearDown() override
    {
        if (had_tmpdir)
            setenv("TMPDIR", old_tmpdir.c_str(), 1);
        else
            unsetenv("TMPDIR");
        PlatformTest::TearDown();
    }

    static std::string damaged_text()
    {
        std::string text;
        for (int i = 0; i < 3000; ++i)
            text += "row " + std::to_string(i) + "\n";
        return text;
    }

    std::string temp() const { return t.file("temp"); }

    TempDir t, elsewhere, work;
    std::string archive = work.file("doc.zip");
    std::string good = noise(2000);
    bool had_tmpdir = false;
    std::string old_tmpdir;
};

TEST_F(XadMasterFiles, WritesTheMemberAndNothingElse)
{
    OpenArchive opened(archive);
    ASSERT_EQ(opened.info_result(), XADERR_OK);
    EXPECT_EQ(opened.to_file(1, "t:temp/x.png", true), XADERR_OK);
    EXPECT_EQ(read_file(temp() + "/x.png"), good);
    EXPECT_EQ(entries(temp()), std::set<std::string>{"x.png"});
    struct stat st;
    ASSERT_EQ(stat((temp() + "/x.png").c_str(), &st), 0);
    mode_t mask = umask(0);
    umask(mask);
    EXPECT_EQ(st.st_mode & 0777, 0644 & ~mask);
}

// A file at the target is replaced only with overwriting asked for and by a
// member that comes out whole; a damaged member leaves no partial file.
TEST_F(XadMasterFiles, AFileAtTheTargetIsReplacedOnlyByAWholeMemberWithOverwrite)
{
    const struct {
        uint32_t member;
        const char *name;
        bool overwrite;
        LONG code;
        bool replaced;
    } cases[] = {
        {1, "x.png", false, XADERR_FILEEXISTS, false},
        {1, "x.png", true, XADERR_OK, true},
        {2, "x.png", true, XADERR_ILLEGALDATA, false},
        {2, "new.png", true, XADERR_ILLEGALDATA, false},
    };
    OpenArchive opened(archive);
    for (const auto &c : cases) {
        write_file(temp() + "/x.png", "old");
        EXPECT_EQ(opened.to_file(c.member, std::string("t:temp/") + c.name, c.overwrite), c.code) << c.name;
        EXPECT_EQ(read_file(temp() + "/x.png"), c.replaced ? good : "old") << c.member << " " << c.name;
        EXPECT_EQ(entries(temp()), std::set<std::string>{"x.png"}) << c.member << " " << c.name;
    }
}

TEST_F(XadMasterFiles, LinkAtTheTargetIsNeitherFollowedNorReplaced)
{
    std::string victim = elsewhere.file("victim");
    write_file(victim, "keep me");
    ASSERT_EQ(symlink(victim.c_str(), (temp() + "/x.png").c_str()), 0);
    ASSERT_EQ(symlink(elsewhere.file("planted").c_str(), (temp() + "/dangling.png").c_str()), 0);
    OpenArchive opened(archive);
    EXPECT_NE(opened.to_file(1, "t:temp/x.png", true), XADERR_OK);
    EXPECT_NE(opened.to_file(1, "t:temp/dangling.png", true), XADERR_OK);
    EXPECT_EQ(read_file(victim), "keep me");
    EXPECT_EQ(entries(elsewhere.path()), std::set<std::string>{"victim"});
    struct stat st;
    ASSERT_EQ(lstat((temp() + "/x.png").c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    EXPECT_EQ(entries(temp()), (std::set<std::string>{"x.png", "dangling.png"}));
}

TEST_F(XadMasterFiles, FolderThatIsALinkIsRefused)
{
    ASSERT_EQ(rmdir(temp().c_str()), 0);
    ASSERT_EQ(symlink(elsewhere.path().c_str(), temp().c_str()), 0);
    OpenArchive opened(archive);
    EXPECT_NE(opened.to_file(1, "t:temp/x.png", true), XADERR_OK);
    EXPECT_TRUE(entries(elsewhere.path()).empty());
}

TEST_F(XadMasterFiles, FolderOfAnotherUserIsRefused)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root to give the folder away";
    ASSERT_EQ(chown(temp().c_str(), 65534, 65534), 0);
    OpenArchive opened(archive);
    EXPECT_NE(opened.to_file(1, "t:temp/x.png", true), XADERR_OK);
    EXPECT_TRUE(entries(temp()).empty());
}

TEST_F(XadMasterFiles, NamesThatLeaveTheFolderAreRefused)
{
    OpenArchive opened(archive);
    for (const char *name : {"t:temp/../x.png", "t:temp/..", "t:temp/.", "t:temp/", "t:temp/missing/x.png"})
        EXPECT_NE(opened.to_file(1, name, true), XADERR_OK) << name;
    EXPECT_EQ(entries(t.path()), std::set<std::string>{"temp"});
    EXPECT_TRUE(entries(temp()).empty());
}

TEST_F(XadMasterFiles, PathOutsideTheAssignIsWrittenTheSameWay)
{
    OpenArchive opened(archive);
    std::string target = elsewhere.file("plain.png");
    EXPECT_EQ(opened.to_file(1, target, false), XADERR_OK);
    EXPECT_EQ(read_file(target), good);
    EXPECT_EQ(opened.to_file(1, target, false), XADERR_FILEEXISTS);
    ASSERT_EQ(symlink(target.c_str(), elsewhere.file("link.png").c_str()), 0);
    EXPECT_NE(opened.to_file(1, elsewhere.file("link.png"), true), XADERR_OK);
    EXPECT_EQ(entries(elsewhere.path()), (std::set<std::string>{"plain.png", "link.png"}));
}

} // namespace

// dos.library: the argument parser, paths and directories.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "flow/libraries.h"
#include "platform/control.h"
#include "platform/internal/internal.h"
#include "platform/startup.h"
#include "platform_fixture.h"
#include "support.h"

namespace
{

class ReadArgsTest : public PlatformTest
{
  protected:
    // Parses these arguments against the template; the value of each item,
    // or nothing when the parser fails.
    bool parse(const char *tmpl, std::vector<std::string> arguments, std::vector<std::string> &values)
    {
        arguments.insert(arguments.begin(), "quillpeek");
        std::vector<char *> argv;
        for (std::string &argument : arguments)
            argv.push_back(argument.data());
        platform_set_arguments(static_cast<int>(argv.size()), argv.data());
        IPTR array[4] = {0, 0, 0, 0};
        struct RDArgs *args = ReadArgs(tmpl, array, nullptr);
        values.clear();
        if (args == nullptr)
            return false;
        for (IPTR slot : array)
            values.push_back(slot != 0 ? reinterpret_cast<const char *>(slot) : "<none>");
        FreeArgs(args);
        return true;
    }
    std::vector<std::string> values;
};

TEST_F(ReadArgsTest, TheDocumentPathIsTakenBareOrByItsKeyword)
{
    ASSERT_TRUE(parse("DOCUMENTPATH/A", {"doc.odt"}, values));
    EXPECT_EQ(values[0], "doc.odt");
    ASSERT_TRUE(parse("DOCUMENTPATH/A", {"DOCUMENTPATH=doc.odt"}, values));
    EXPECT_EQ(values[0], "doc.odt");
    ASSERT_TRUE(parse("DOCUMENTPATH/A", {"documentpath", "my doc.odt"}, values));
    EXPECT_EQ(values[0], "my doc.odt");
    ASSERT_TRUE(parse("DOCUMENTPATH/A", {"DocumentPath=a=b.odt"}, values));
    EXPECT_EQ(values[0], "a=b.odt");
    ASSERT_TRUE(parse("DOCUMENTPATH/A", {"x=y.odt"}, values)); // not a keyword: a bare path
    EXPECT_EQ(values[0], "x=y.odt");
    ASSERT_TRUE(parse("DOCUMENTPATH/A", {""}, values));
    EXPECT_EQ(values[0], "");
}

TEST_F(ReadArgsTest, MissingExtraOrDuplicatedArgumentsFail)
{
    EXPECT_FALSE(parse("DOCUMENTPATH/A", {}, values));
    EXPECT_FALSE(parse("DOCUMENTPATH/A", {"a.odt", "b.odt"}, values));
    EXPECT_FALSE(parse("DOCUMENTPATH/A", {"DOCUMENTPATH"}, values));
    EXPECT_FALSE(parse("DOCUMENTPATH/A", {"DOCUMENTPATH=a", "b"}, values));
    EXPECT_FALSE(parse("DOCUMENTPATH/A", {"DOCUMENTPATH=a", "DOCUMENTPATH=b"}, values));
    EXPECT_EQ(calls({"ReadArgs"}).back(), "ReadArgs DOCUMENTPATH/A -> NULL");
}

TEST_F(ReadArgsTest, TemplatesWithSeveralItemsAliasesAndOptionalOnes)
{
    ASSERT_TRUE(parse("FROM/A,TO=AS", {"b", "FROM", "a"}, values));
    EXPECT_EQ(values[0], "a");
    EXPECT_EQ(values[1], "b");
    ASSERT_TRUE(parse("FROM/A,TO=AS", {"as=z", "a"}, values));
    EXPECT_EQ(values[1], "z");
    ASSERT_TRUE(parse("FROM/A,TO=AS", {"a"}, values));
    EXPECT_EQ(values[1], "<none>");
    EXPECT_FALSE(parse("FROM/A,TO/A", {"a"}, values));
    EXPECT_FALSE(parse("FROM/X", {"a"}, values)); // modifiers this parser does not know
    EXPECT_FALSE(parse("FROM,,TO", {"a"}, values));
}

TEST_F(ReadArgsTest, FailsWhenItsRecordCannotBeAllocated)
{
    platform_fail_allocations_after(0);
    EXPECT_FALSE(parse("DOCUMENTPATH/A", {"doc.odt"}, values));
}

TEST(Paths, FilePartIsWhatFollowsTheLastSlashOrColon)
{
    struct Library *dos = DOSBase = OpenLibrary("dos.library", 37);
    EXPECT_STREQ(FilePart("Pictures/photo.jpg"), "photo.jpg");
    EXPECT_STREQ(FilePart("t:temp/x.png"), "x.png");
    EXPECT_STREQ(FilePart("t:x.png"), "x.png");
    EXPECT_STREQ(FilePart("x.png"), "x.png");
    EXPECT_STREQ(FilePart("dir/"), "");
    CloseLibrary(dos);
}

TEST(Paths, TheTemporaryAssignFollowsTmpdir)
{
    const char *saved = std::getenv("TMPDIR");
    std::string restore = saved != nullptr ? saved : "";
    setenv("TMPDIR", "/some/where", 1);
    EXPECT_EQ(platform::host_path("t:temp/x.png"), "/some/where/temp/x.png");
    EXPECT_EQ(platform::host_path("T:temp"), "/some/where/temp");
    unsetenv("TMPDIR");
    EXPECT_EQ(platform::host_path("t:temp"), "/tmp/temp");
    EXPECT_EQ(platform::host_path("/home/a:b/doc.odt"), "/home/a:b/doc.odt");
    if (saved != nullptr)
        setenv("TMPDIR", restore.c_str(), 1);
}

TEST(Paths, CreateDirMakesAPrivateDirectoryOnceAndLocksIt)
{
    testing_support::TempDir where;
    std::string dir = where.file("temp");
    struct Library *dos = DOSBase = OpenLibrary("dos.library", 37);
    BPTR lock = CreateDir(dir.c_str());
    EXPECT_NE(lock, 0u);
    UnLock(lock);
    struct stat info;
    ASSERT_EQ(stat(dir.c_str(), &info), 0);
    EXPECT_TRUE(S_ISDIR(info.st_mode));
    EXPECT_EQ(info.st_mode & 077, 0u);
    EXPECT_EQ(CreateDir(dir.c_str()), 0u); // exists already
    UnLock(0);
    CloseLibrary(dos);
}

} // namespace

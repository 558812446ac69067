// Files written to t:temp appear whole or not at all: never beyond the cap,
// never left half-written by a process that was killed, and under the names
// the archive stores.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "archive/archive.h"
#include "extract_fixture.h"
#include "platform/control.h"
#include "platform/limits.h"

namespace
{

TEST_F(ExtractTest, AMemberLargerThanTheFileCapIsNotWritten)
{
    std::string big(platform::limits::archive_file_member + 1, '\0');
    std::string path = archive({regular("big.png", big), regular("small.png", "small")});
    EXPECT_EQ(XAD_picture_unpacker(path.c_str()), 1);
    EXPECT_EQ(temp_listing(), (Names{"small.png"}));
}

TEST_F(ExtractTest, AKilledExtractionLeavesNothingPartial)
{
    const size_t size = 48u << 20;
    std::string path = archive({regular("big.png", member_data("big", size))});
    for (int delay_us : {0, 2000, 10000, 30000, 80000, 200000}) {
        std::filesystem::remove_all(temp_dir());
        pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            XAD_picture_unpacker(path.c_str());
            _exit(0);
        }
        usleep(static_cast<useconds_t>(delay_us));
        kill(child, SIGKILL);
        waitpid(child, nullptr, 0);
        for (const std::string &name : temp_listing()) {
            EXPECT_EQ(name, "big.png") << delay_us;
            struct stat st;
            EXPECT_EQ(stat(temp_file(name).c_str(), &st), 0);
            EXPECT_EQ(static_cast<size_t>(st.st_size), size) << delay_us;
        }
    }
}

TEST_F(ExtractTest, WithoutUnnamedFilesADeadWritersTemporaryIsCleanedUp)
{
    platform_xad_named_temporaries(true);
    std::filesystem::create_directories(temp_dir());
    write_file(temp_file(".xad-0123456789ab.part"), "a dead writer's");
    struct timeval old[2] = {{1700000000, 0}, {1700000000, 0}};
    utimes(temp_file(".xad-0123456789ab.part").c_str(), old);
    write_file(temp_file(".xad-ba9876543210.part"), "a live writer's"); // just written: kept
    std::string path = archive({regular("x.png", "picture")});
    EXPECT_EQ(XAD_picture_unpacker(path.c_str()), 1);
    platform_xad_named_temporaries(false);
    EXPECT_EQ(temp_listing(), (Names{".xad-ba9876543210.part", "x.png"}));
    EXPECT_EQ(read_file(temp_file("x.png")), "picture");
}

TEST_F(ExtractTest, NamesThatAreNotAsciiAreWrittenAsStored)
{
    std::string path = root() + "/names.zip";
    testing_support::write_archive_utf8(path, "zip",
                                        {regular("Bilder-\xc3\xa4/\xc3\xa9t\xc3\xa9.png", "summer")});
    EXPECT_EQ(XAD_picture_unpacker(path.c_str()), 1);
    EXPECT_EQ(temp_listing(), (Names{"\xc3\xa9t\xc3\xa9.png"}));
    EXPECT_EQ(read_file(temp_file("\xc3\xa9t\xc3\xa9.png")), "summer");
}

} // namespace

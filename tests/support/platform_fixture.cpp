#include "platform_fixture.h"

#include "flow/libraries.h"
#include "platform/control.h"

void PlatformTest::SetUp()
{
    platform_reset();
    DOSBase = OpenLibrary("dos.library", 37);
    GfxBase = OpenLibrary("graphics.library", 0);
    CyberGfxBase = OpenLibrary("cybergraphics.library", 0);
    platform_journal_begin();
}

void PlatformTest::TearDown()
{
    journal();
    platform_journal_end();
    CloseLibrary(CyberGfxBase);
    CloseLibrary(GfxBase);
    CloseLibrary(DOSBase);
    for (const std::string &line : lines_)
        EXPECT_EQ(line.find(" FAULT"), std::string::npos) << line;
    for (const char *name : {"dos.library", "graphics.library", "cybergraphics.library", "xadmaster.library",
                             "datatypes.library", "intuition.library"})
        EXPECT_EQ(platform_open_count(name), 0) << name << " left open";
    platform_reset();
}

const std::vector<std::string> &PlatformTest::journal()
{
    for (std::string &line : platform_journal_take())
        lines_.push_back(std::move(line));
    return lines_;
}

std::vector<std::string> PlatformTest::calls(const std::vector<std::string> &names)
{
    std::vector<std::string> result;
    for (const std::string &line : journal())
        for (const std::string &name : names)
            if (line == name || line.rfind(name + " ", 0) == 0)
                result.push_back(line);
    return result;
}

void PlatformTest::clear_journal()
{
    journal();
    lines_.clear();
}

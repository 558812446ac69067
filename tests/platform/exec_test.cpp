// exec.library: libraries by name and version, memory blocks, ports.
#include <gtest/gtest.h>

#include <cstring>

#include "flow/libraries.h"
#include "platform/control.h"
#include "platform/internal/internal.h"
#include "platform_fixture.h"

namespace
{

using ExecTest = PlatformTest;

TEST_F(ExecTest, LibrariesOpenByNameAndVersionAndCountTheirOpeners)
{
    struct Library *first = OpenLibrary("datatypes.library", 51);
    ASSERT_NE(first, nullptr);
    EXPECT_GE(first->lib_Version, 51);
    struct Library *second = OpenLibrary("datatypes.library", 0);
    EXPECT_EQ(second, first);
    EXPECT_EQ(platform_open_count("datatypes.library"), 2);
    CloseLibrary(second);
    CloseLibrary(first);
    EXPECT_EQ(platform_open_count("datatypes.library"), 0);

    EXPECT_EQ(OpenLibrary("datatypes.library", 1000), nullptr);
    EXPECT_EQ(OpenLibrary("no.library", 0), nullptr);
    EXPECT_EQ(OpenLibrary(nullptr, 0), nullptr);
    struct Library *dos = OpenLibrary("dos.library", 39);
    ASSERT_NE(dos, nullptr);
    CloseLibrary(dos);
    EXPECT_EQ(calls({"OpenLibrary"}).back(), "OpenLibrary dos.library 39");
    EXPECT_EQ(calls({"CloseLibrary"}).back(), "CloseLibrary dos.library");
}

TEST_F(ExecTest, MissingLibraryDoesNotOpenAndLeavesOthersAlone)
{
    platform_set_library_missing("cybergraphics.library", true);
    EXPECT_EQ(OpenLibrary("cybergraphics.library", 0), nullptr);
    struct Library *graphics = OpenLibrary("graphics.library", 0);
    EXPECT_NE(graphics, nullptr);
    CloseLibrary(graphics);
    EXPECT_EQ(calls({"OpenLibrary"}).front(), "OpenLibrary cybergraphics.library 0 -> NULL");
}

TEST_F(ExecTest, CallsThroughABaseThatIsNotOpenAreRefusedAndJournalled)
{
    struct Library *xad = OpenLibrary("xadmaster.library", 0);
    CloseLibrary(xad);
    IPTR array[1] = {0};
    EXPECT_EQ(LVO_ReadArgs(xad, "DOCUMENTPATH/A", array, nullptr), nullptr); // not dos.library's base
    EXPECT_EQ(LVO_FilePart(nullptr, "a/b"), nullptr);
    std::vector<std::string> faults;
    for (const std::string &line : journal())
        if (line.find(" FAULT") != std::string::npos)
            faults.push_back(line);
    ASSERT_EQ(faults.size(), 2u);
    EXPECT_EQ(faults[0], "ReadArgs FAULT dos.library is not open");
    EXPECT_EQ(faults[1], "FilePart FAULT dos.library is not open");
    clear_journal(); // the faults were the point of this test
}

TEST_F(ExecTest, AllocVecClearsAndFailsWhenTold)
{
    long before = platform_live_blocks();
    unsigned char *block = static_cast<unsigned char *>(AllocVec(4096, MEMF_CLEAR));
    ASSERT_NE(block, nullptr);
    for (int i = 0; i < 4096; ++i)
        ASSERT_EQ(block[i], 0) << i;
    EXPECT_EQ(platform_live_blocks(), before + 1);
    FreeVec(block);
    EXPECT_EQ(platform_live_blocks(), before);

    EXPECT_EQ(AllocVec(0, MEMF_CLEAR), nullptr);
    platform_fail_allocations_after(1);
    void *granted = AllocVec(16, MEMF_CLEAR);
    EXPECT_NE(granted, nullptr);
    EXPECT_EQ(AllocVec(16, MEMF_CLEAR), nullptr);
    EXPECT_EQ(AllocVec(16, MEMF_CLEAR), nullptr);
    platform_fail_allocations_after(-1);
    FreeVec(granted);
    FreeVec(nullptr);
    EXPECT_EQ(calls({"AllocVec"}).front(), "AllocVec 4096 0x10000");
}

// The picture class bounds what it reads by the block that holds its source.
TEST_F(ExecTest, TheLiveBlockHoldingAnAddressTellsTheRoomLeftInIt)
{
    unsigned char *block = static_cast<unsigned char *>(AllocVec(100, MEMF_CLEAR));
    ASSERT_NE(block, nullptr);
    unsigned char own[8];
    size_t room = 0;
    for (size_t offset : {0, 60, 99}) {
        ASSERT_TRUE(platform::block_room(block + offset, &room));
        EXPECT_EQ(room, 100 - offset);
    }
    EXPECT_FALSE(platform::block_room(own, &room));
    EXPECT_FALSE(platform::block_room(nullptr, &room));
    FreeVec(block);
    EXPECT_FALSE(platform::block_room(block + 10, &room)); // freed blocks are no longer known
}

TEST_F(ExecTest, PortsHandMessagesOverInOrderAndReplyOnce)
{
    struct MsgPort port, replies;
    InitPort(&port);
    InitPort(&replies);
    struct Message first = {}, second = {};
    first.mn_ReplyPort = &replies;
    second.mn_ReplyPort = &replies;
    EXPECT_EQ(GetMsg(&port), nullptr);
    EXPECT_EQ(WaitPort(&port), nullptr); // nothing could ever arrive
    PutMsg(&port, &first);
    PutMsg(&port, &second);
    EXPECT_EQ(WaitPort(&port), &first);
    EXPECT_EQ(GetMsg(&port), &first);
    EXPECT_EQ(GetMsg(&port), &second);
    EXPECT_EQ(GetMsg(&port), nullptr);
    ReplyMsg(&second);
    ReplyMsg(&first);
    EXPECT_EQ(GetMsg(&replies), &second);
    EXPECT_EQ(GetMsg(&replies), &first);
    ReplyMsg(&first);
    EXPECT_EQ(calls({"ReplyMsg"}).back(), "ReplyMsg FAULT message replied twice");
    clear_journal();
}

TEST(TagWrappers, BuildOneContiguousListOfPointerSizedWords)
{
    const char *text = "x";
    auto list = tag_list(TAG_USER + 1, text, TAG_USER + 2, -1, TAG_DONE);
    EXPECT_EQ(sizeof list.items / sizeof list.items[0], 3u);
    EXPECT_EQ(GetTagData(TAG_USER + 1, 0, list.items), reinterpret_cast<IPTR>(text));
    EXPECT_EQ(static_cast<LONG>(GetTagData(TAG_USER + 2, 0, list.items)), -1);
    EXPECT_EQ(GetTagData(TAG_USER + 3, 7, list.items), 7u);
    EXPECT_EQ(list.items[2].ti_Tag, static_cast<Tag>(TAG_DONE));
}

} // namespace

// datatypes.library's picture class called directly: which attributes make
// an object, what GetDTAttrsA stores and counts, and refused calls.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "flow/libraries.h"
#include "platform/control.h"
#include "platform_fixture.h"
#include "support.h"

namespace
{

class DatatypesTest : public PlatformTest
{
  protected:
    void SetUp() override
    {
        PlatformTest::SetUp();
        png_ = testing_support::encode_png(5, 3, testing_support::test_pattern(5, 3));
        DataTypesBase = OpenLibrary("datatypes.library", 51);
    }
    void TearDown() override
    {
        CloseLibrary(DataTypesBase);
        EXPECT_EQ(platform_live_objects(), 0);
        PlatformTest::TearDown();
    }
    // The program's own attributes with one replaced or added.
    std::vector<struct TagItem> attributes(Tag tag = TAG_IGNORE, IPTR value = 0)
    {
        std::vector<struct TagItem> items = {{DTA_SourceType, DTST_MEMORY},
                                             {DTA_SourceAddress, reinterpret_cast<IPTR>(png_.data())},
                                             {DTA_SourceSize, png_.size()},
                                             {DTA_GroupID, GID_PICTURE},
                                             {PDTA_Remap, TRUE},
                                             {PDTA_Screen, 0},
                                             {PDTA_DestMode, PMODE_V43}};
        bool replaced = false;
        for (struct TagItem &item : items)
            if (item.ti_Tag == tag) {
                item.ti_Data = value;
                replaced = true;
            }
        if (!replaced)
            items.push_back({tag, value});
        items.push_back({TAG_DONE, 0});
        return items;
    }
    std::string png_;
};

TEST_F(DatatypesTest, OnlyAMemoryPictureInTrueColourMakesAnObject)
{
    Object *o = NewDTObjectA(const_cast<char *>("tst"), attributes().data());
    ASSERT_NE(o, nullptr);
    DisposeDTObject(o);
    const std::vector<std::pair<Tag, IPTR>> refused = {
        {DTA_SourceType, 2},        // DTST_FILE: a file, which the class does not read
        {DTA_GroupID, 0x736F756Eu}, // 'soun'
        {PDTA_DestMode, PMODE_V42}, // palette bitmaps are not made
        {DTA_SourceAddress, 0},     // no block
        {DTA_SourceSize, 0},        // an empty block
        {0x80001234u, 1},           // an attribute the class does not know
    };
    for (auto [tag, value] : refused)
        EXPECT_EQ(NewDTObjectA(const_cast<char *>("tst"), attributes(tag, value).data()), nullptr)
            << std::hex << tag;
    std::vector<struct TagItem> no_type = attributes(DTA_SourceType, DTST_MEMORY);
    no_type[0].ti_Tag = TAG_IGNORE; // the source type left out
    EXPECT_EQ(NewDTObjectA(const_cast<char *>("tst"), no_type.data()), nullptr);
    EXPECT_EQ(NewDTObjectA(const_cast<char *>("tst"), nullptr), nullptr);
}

TEST_F(DatatypesTest, GetDTAttrsCountsWhatItStoresAndNullsTheRest)
{
    Object *o = NewDTObjectA(const_cast<char *>("tst"), attributes().data());
    ASSERT_NE(o, nullptr);
    struct BitMapHeader *header = nullptr;
    struct BitMap *bitmap = reinterpret_cast<struct BitMap *>(&header); // anything but null
    IPTR unknown = 99;
    std::vector<struct TagItem> asks = {{PDTA_BitMapHeader, reinterpret_cast<IPTR>(&header)},
                                        {PDTA_BitMap, reinterpret_cast<IPTR>(&bitmap)},
                                        {0x80001234u, reinterpret_cast<IPTR>(&unknown)},
                                        {TAG_DONE, 0}};
    // Before the layout: the header, no bitmap yet.
    EXPECT_EQ(GetDTAttrsA(o, asks.data()), 1u);
    ASSERT_NE(header, nullptr);
    EXPECT_EQ(header->bmh_Width, 5);
    EXPECT_EQ(header->bmh_Height, 3);
    EXPECT_EQ(bitmap, nullptr);
    EXPECT_EQ(unknown, 0u);
    struct gpLayout layout = {DTM_PROCLAYOUT, nullptr, TRUE};
    EXPECT_EQ(DoDTMethodA(o, nullptr, nullptr, reinterpret_cast<Msg>(&layout)), 1u);
    EXPECT_EQ(GetDTAttrsA(o, asks.data()), 2u);
    ASSERT_NE(bitmap, nullptr);
    EXPECT_EQ(bitmap->BytesPerRow, 20);
    EXPECT_EQ(bitmap->Rows, 3);
    EXPECT_EQ(bitmap->Depth, 32);
    uint32_t first;
    std::memcpy(&first, bitmap->Planes[0], 4);
    EXPECT_EQ(first, testing_support::test_pattern(5, 3)[0]); // a host-order 0xAARRGGBB word
    struct MsgHeader other = {0x601};
    EXPECT_EQ(DoDTMethodA(o, nullptr, nullptr, &other), 0u);
    DisposeDTObject(o);
}

TEST_F(DatatypesTest, CallsWhileTheLibraryIsClosedAreRefused)
{
    Object *o = NewDTObjectA(const_cast<char *>("tst"), attributes().data());
    ASSERT_NE(o, nullptr);
    CloseLibrary(DataTypesBase);
    struct BitMapHeader *header = nullptr;
    std::vector<struct TagItem> asks = {{PDTA_BitMapHeader, reinterpret_cast<IPTR>(&header)}, {TAG_DONE, 0}};
    EXPECT_EQ(NewDTObjectA(const_cast<char *>("tst"), attributes().data()), nullptr);
    EXPECT_EQ(GetDTAttrsA(o, asks.data()), 0u);
    EXPECT_EQ(header, nullptr);
    DisposeDTObject(o);
    EXPECT_EQ(platform_live_objects(), 1); // not disposed of through a closed base
    EXPECT_EQ(
        calls({"NewDTObjectA", "GetDTAttrsA", "DisposeDTObject"}),
        (std::vector<std::string>{"NewDTObjectA tst", "NewDTObjectA FAULT datatypes.library is not open",
                                  "GetDTAttrsA FAULT datatypes.library is not open",
                                  "DisposeDTObject FAULT datatypes.library is not open"}));
    clear_journal(); // the refusals were the point
    DataTypesBase = OpenLibrary("datatypes.library", 51);
    DisposeDTObject(o);
}

} // namespace

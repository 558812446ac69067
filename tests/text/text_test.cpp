// Field splitting and character replacement: results, fresh blocks, inputs
// left alone, and null when no block can be had.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "flow/libraries.h"
#include "platform/control.h"
#include "platform_fixture.h"
#include "text/text.h"

namespace
{

class TextTest : public PlatformTest
{
  protected:
    // The result as a string, checked to be a fresh block that FreeVec takes
    // back; "<null>" for a null result.
    std::string take(char *result)
    {
        if (result == nullptr)
            return "<null>";
        std::string text = result;
        long before = platform_live_blocks();
        FreeVec(result);
        EXPECT_EQ(platform_live_blocks(), before - 1) << "result was not a block of AllocVec";
        return text;
    }

    std::string split(const char *text, int32_t index, const char *separator)
    {
        return take(textsplit(text, index, separator));
    }

    std::string change(const char *text, const char *from, const char *to)
    {
        return take(changechars(text, from, to));
    }

    // The blocks asked for since the journal was last cleared.
    std::vector<std::string> allocations() { return calls({"AllocVec"}); }
};

TEST_F(TextTest, SplitGivesTheFieldOfTheIndex)
{
    const struct {
        const char *text, *separator;
        std::vector<std::pair<int32_t, const char *>> fields; // index, field
    } cases[] = {
        // An index outside the fields gives an empty text, not null.
        {"a;b;c", ";", {{0, "a"}, {1, "b"}, {2, "c"}, {3, ""}, {-1, ""}, {INT32_MIN, ""}, {INT32_MAX, ""}}},
        {"alpha;beta;gamma", ";", {{1, "beta"}}},
        {"longfield;x", ";", {{1, "x"}}}, // nothing left of an earlier, longer field
        // Empty fields at the edges and between separators.
        {"a;;c", ";", {{1, ""}, {2, "c"}}},
        {";a", ";", {{0, ""}, {1, "a"}}},
        {"a;", ";", {{1, ""}, {0, "a"}}},
        // Only the separator's first byte counts; at the zero byte the whole
        // text is field 0.
        {"a,b;c,d", ";,", {{0, "a,b"}, {1, "c,d"}}},
        {"a;b", "", {{0, "a;b"}, {1, ""}}},
        // Bytes compared unsigned and case-sensitively.
        {"x\xe9y\xe9z", "\xe9", {{1, "y"}}},
        {"aXbxc", "x", {{1, "c"}}},
    };
    for (const auto &c : cases)
        for (auto [index, field] : c.fields)
            EXPECT_EQ(split(c.text, index, c.separator), field)
                << c.text << " " << index << " " << c.separator;
}

TEST_F(TextTest, ResultBlockIsOneByteLongerThanTheText)
{
    clear_journal();
    EXPECT_EQ(split("", 0, ";"), "");
    EXPECT_EQ(split("a;b;c", 1, ";"), "b");
    EXPECT_EQ(change("a.b", ".", "/"), "a/b");
    std::vector<std::string> expected = {"AllocVec 1 0x10000", "AllocVec 6 0x10000", "AllocVec 4 0x10000"};
    EXPECT_EQ(allocations(), expected);
}

TEST_F(TextTest, InputsAreLeftUntouched)
{
    char text[] = "a.b.c";
    char from[] = ".";
    char to[] = "/";
    EXPECT_EQ(change(text, from, to), "a/b/c");
    EXPECT_STREQ(text, "a.b.c");
    EXPECT_STREQ(from, ".");
    EXPECT_STREQ(to, "/");
    char fields[] = "a;b";
    char separator[] = ";";
    EXPECT_EQ(split(fields, 1, separator), "b");
    EXPECT_STREQ(fields, "a;b");
    EXPECT_STREQ(separator, ";");
}

TEST_F(TextTest, ChangeReplacesEveryOccurrenceOfTheFirstByte)
{
    const struct {
        const char *from, *to;
        std::vector<std::pair<const char *, const char *>> texts; // text, changed
    } cases[] = {
        {".", "/", {{"a.b.c", "a/b/c"}}},
        {".", "x", {{"...", "xxx"}}},
        {"a", "b", {{"A.a", "A.b"}}},
        {"\xff", "+", {{"\xff-\xff", "+-+"}}},
        {".!", "/?", {{"a.b", "a/b"}}},
        // To the zero byte: the copy ends at the first occurrence.
        {".", "", {{"a.b", "a"}, {"a.b.c", "a"}, {".a", ""}}},
        // From the zero byte: nothing is replaced.
        {"", "x", {{"a.b", "a.b"}, {"", ""}}},
        {"", "", {{"ab", "ab"}}},
    };
    for (const auto &c : cases)
        for (auto [text, changed] : c.texts)
            EXPECT_EQ(change(text, c.from, c.to), changed) << text << " " << c.from << " " << c.to;
}

TEST_F(TextTest, ChangeOfAnAbsentCharacterGivesACopyInANewBlock)
{
    const char *text = "abc";
    char *copy = changechars(text, "z", "y");
    ASSERT_NE(copy, nullptr);
    EXPECT_NE(copy, text);
    EXPECT_EQ(take(copy), "abc");
}

TEST_F(TextTest, NoMemoryGivesNull)
{
    long before = platform_live_blocks();
    platform_fail_allocations_after(0);
    EXPECT_EQ(textsplit("a;b", 0, ";"), nullptr);
    EXPECT_EQ(changechars("a.b", ".", "/"), nullptr);
    EXPECT_EQ(platform_live_blocks(), before);
}

} // namespace

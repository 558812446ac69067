// Field splitting and character replacement: results, fresh blocks, inputs
// left alone, and null when no block can be had.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

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

TEST_F(TextTest, SplitPicksEachFieldInTurn)
{
    EXPECT_EQ(split("a;b;c", 0, ";"), "a");
    EXPECT_EQ(split("a;b;c", 1, ";"), "b");
    EXPECT_EQ(split("a;b;c", 2, ";"), "c");
    EXPECT_EQ(split("alpha;beta;gamma", 1, ";"), "beta");
    // A later, shorter field leaves nothing of an earlier, longer one.
    EXPECT_EQ(split("longfield;x", 1, ";"), "x");
}

TEST_F(TextTest, SplitGivesEmptyFieldsAtEdgesAndBetweenSeparators)
{
    EXPECT_EQ(split("a;;c", 1, ";"), "");
    EXPECT_EQ(split("a;;c", 2, ";"), "c");
    EXPECT_EQ(split(";a", 0, ";"), "");
    EXPECT_EQ(split(";a", 1, ";"), "a");
    EXPECT_EQ(split("a;", 1, ";"), "");
    EXPECT_EQ(split("a;", 0, ";"), "a");
}

TEST_F(TextTest, SplitOutsideTheFieldsGivesEmptyTextNotNull)
{
    EXPECT_EQ(split("a;b;c", 3, ";"), "");
    EXPECT_EQ(split("a;b;c", -1, ";"), "");
    EXPECT_EQ(split("a;b;c", INT32_MIN, ";"), "");
    EXPECT_EQ(split("a;b;c", INT32_MAX, ";"), "");
}

TEST_F(TextTest, SplitUsesOnlyTheFirstByteOfTheSeparator)
{
    EXPECT_EQ(split("a,b;c,d", 0, ";,"), "a,b");
    EXPECT_EQ(split("a,b;c,d", 1, ";,"), "c,d");
}

TEST_F(TextTest, SplitAtTheZeroByteKeepsTheWholeTextAsFieldZero)
{
    EXPECT_EQ(split("a;b", 0, ""), "a;b");
    EXPECT_EQ(split("a;b", 1, ""), "");
}

TEST_F(TextTest, SplitComparesBytesUnsignedAndCaseSensitively)
{
    EXPECT_EQ(split("x\xe9y\xe9z", 1, "\xe9"), "y");
    EXPECT_EQ(split("aXbxc", 1, "x"), "c");
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

TEST_F(TextTest, ChangeReplacesEveryOccurrence)
{
    EXPECT_EQ(change("a.b.c", ".", "/"), "a/b/c");
    EXPECT_EQ(change("...", ".", "x"), "xxx");
    EXPECT_EQ(change("A.a", "a", "b"), "A.b");
    EXPECT_EQ(change("\xff-\xff", "\xff", "+"), "+-+");
    EXPECT_EQ(change("a.b", ".!", "/?"), "a/b");
}

TEST_F(TextTest, ChangeOfAnAbsentCharacterGivesACopyInANewBlock)
{
    const char *text = "abc";
    char *copy = changechars(text, "z", "y");
    ASSERT_NE(copy, nullptr);
    EXPECT_NE(copy, text);
    EXPECT_EQ(take(copy), "abc");
}

TEST_F(TextTest, ChangeToTheZeroByteEndsTheCopyAtTheFirstOccurrence)
{
    EXPECT_EQ(change("a.b", ".", ""), "a");
    EXPECT_EQ(change("a.b.c", ".", ""), "a");
    EXPECT_EQ(change(".a", ".", ""), "");
}

TEST_F(TextTest, ChangeFromTheZeroByteReplacesNothing)
{
    EXPECT_EQ(change("a.b", "", "x"), "a.b");
    EXPECT_EQ(change("", "", "x"), "");
    EXPECT_EQ(change("ab", "", ""), "ab");
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

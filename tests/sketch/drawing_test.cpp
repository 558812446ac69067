// The drawing (sketch/drawing/): pages drawn with the system's real fonts,
// looked at pixel by pixel.
#include <gtest/gtest.h>

#include <cstdlib>

#include "platform/exec.h"
#include "sketch/drawing/drawing.h"
#include "support.h"

namespace
{

// A drawn page and its ink: pixels darker than mid grey.
struct Drawn {
    unsigned char *argb = nullptr;
    int width = 0, height = 0;
    const char *problem = nullptr;

    Drawn(const SketchPage &page, int w, int h) : width(w), height(h)
    {
        argb = static_cast<unsigned char *>(sketch_draw_page(page, uint32_t(w), uint32_t(h), &problem));
    }
    ~Drawn() { FreeVec(argb); }
    Drawn(const Drawn &) = delete;
    Drawn &operator=(const Drawn &) = delete;

    bool dark(int x, int y) const { return argb[(size_t(y) * width + x) * 4 + 1] < 128; }

    // Dark pixels in [x0, x1) x [y0, y1).
    int ink(int x0, int y0, int x1, int y1) const
    {
        int count = 0;
        for (int y = y0; y < y1; ++y)
            for (int x = x0; x < x1; ++x)
                count += dark(x, y);
        return count;
    }

    // The rows that hold ink within the columns, as runs [first, last].
    std::vector<std::pair<int, int>> ink_rows(int x0, int x1) const
    {
        std::vector<std::pair<int, int>> runs;
        for (int y = 0; y < height; ++y) {
            bool any = ink(x0, y, x1, y + 1) > 0;
            if (any && (runs.empty() || runs.back().second != y - 1))
                runs.push_back({y, y});
            else if (any)
                runs.back().second = y;
        }
        return runs;
    }
};

SketchPage text_page(std::vector<SketchBlock> blocks)
{
    SketchPage page;
    page.kind = SKETCH_TEXT;
    page.blocks = std::move(blocks);
    return page;
}

std::string words(int count)
{
    std::string text;
    for (int i = 0; i < count; ++i)
        text += (i ? " " : "") + std::string(i % 3 ? "sketch" : "paragraph");
    return text;
}

// Inside the page's light border, which is its only ink outside the margins.
const int border = 4;

TEST(Drawing, HeadingLargerAndParagraphWrappedWithinTheMargins)
{
    SketchPage page = text_page({{1, true, "Heading"}, {0, false, words(120)}});
    Drawn drawn(page, 420, 594);
    ASSERT_NE(drawn.argb, nullptr) << drawn.problem;
    int margin = 420 * 9 / 100;
    EXPECT_EQ(drawn.ink(border, border, margin - 1, 594 - border), 0) << "ink in the left margin";
    EXPECT_EQ(drawn.ink(420 - margin + 1, border, 420 - border, 594 - border), 0)
        << "ink in the right margin";
    auto rows = drawn.ink_rows(margin, 420 - margin);
    ASSERT_GE(rows.size(), 5u) << "a heading and several wrapped lines";
    EXPECT_GE(rows[0].first, 594 * 6 / 100) << "the heading starts below the top margin";
    int heading = rows[0].second - rows[0].first, line = rows[2].second - rows[2].first;
    EXPECT_GT(heading, line * 3 / 2) << "the heading is larger than body text";
    // Body text about a fortieth of the page's height: a line's ink is
    // between half and one and a half of that.
    EXPECT_GT(line, 594 / 80);
    EXPECT_LT(line, 594 * 3 / 80);
    // The paragraph's lines run from margin to margin.
    EXPECT_GT(drawn.ink(420 / 2, rows[2].first, 420 - margin, rows[2].second + 1), 0);
}

TEST(Drawing, TextThatFillsThePageStopsAtItsBottom)
{
    SketchPage page = text_page({});
    for (int i = 0; i < 200; ++i)
        page.blocks.push_back({0, false, words(40)});
    Drawn drawn(page, 210, 297);
    ASSERT_NE(drawn.argb, nullptr) << drawn.problem;
    EXPECT_EQ(drawn.ink(border, 297 - 297 * 5 / 100, 210 - border, 297 - border), 0)
        << "ink in the bottom margin";
    EXPECT_GT(drawn.ink(border, 297 / 2, 210 - border, 297 * 9 / 10), 0);
}

// The one box of a character no font covers: its ink's bounding box, and
// whether its middle is empty.
TEST(Drawing, CharactersNoFontCoversAreHollowBoxes)
{
    Drawn drawn(text_page({{0, false, "\xEE\x80\x80"}}), 400, 400); // U+E000, private use
    ASSERT_NE(drawn.argb, nullptr) << drawn.problem;
    int x0 = 400, y0 = 400, x1 = -1, y1 = -1;
    for (int y = border; y < 400 - border; ++y)
        for (int x = border; x < 400 - border; ++x)
            if (drawn.dark(x, y))
                x0 = std::min(x0, x), y0 = std::min(y0, y), x1 = std::max(x1, x), y1 = std::max(y1, y);
    ASSERT_GE(x1, 0) << "the character was dropped";
    EXPECT_GE(x1 - x0, 4);
    EXPECT_GE(y1 - y0, 4);
    EXPECT_FALSE(drawn.dark((x0 + x1) / 2, (y0 + y1) / 2)) << "a box is hollow";
}

TEST(Drawing, RightToLeftParagraphsAlignRight)
{
    // Hebrew and Arabic: short paragraphs end at the right margin.
    for (const char *text : {"\xD7\xA9\xD7\x9C\xD7\x95\xD7\x9D", "\xD8\xB3\xD9\x84\xD8\xA7\xD9\x85"}) {
        Drawn drawn(text_page({{0, false, text}}), 400, 560);
        ASSERT_NE(drawn.argb, nullptr) << drawn.problem;
        int margin = 400 * 9 / 100;
        EXPECT_GT(drawn.ink(400 - margin - 40, border, 400 - margin + 1, 560 - border), 0) << text;
        EXPECT_EQ(drawn.ink(border, border, 400 / 2, 560 - border), 0) << text;
    }
}

TEST(Drawing, LongTextOfAnyScriptStaysWithinItsPage)
{
    std::string cjk, mixed;
    for (int i = 0; i < 3000; ++i)
        cjk += "\xE6\x96\x87\xE5\xAD\x97"; // 文字, without spaces
    for (int i = 0; i < 300; ++i)
        mixed += "abc \xD7\xA9\xD7\x9C\xD7\x95\xD7\x9D \xE2\x80\x8F\xEE\x80\x80\xF0\x9F\x98\x80 ";
    std::string unbroken(20000, 'w');
    for (const std::string &text : {cjk, mixed, unbroken, std::string("\xFF\xFE\xC0\x80 broken UTF-8")}) {
        Drawn drawn(text_page({{1, true, text}, {0, false, text}}), 300, 424);
        ASSERT_NE(drawn.argb, nullptr) << drawn.problem;
        int margin = 300 * 9 / 100;
        EXPECT_EQ(drawn.ink(border, border, margin - 1, 424 - border), 0);
        EXPECT_EQ(drawn.ink(300 - margin + 1, border, 300 - border, 424 - border), 0);
        EXPECT_GT(drawn.ink(margin, border, 300 - margin, 424 - border), 0);
    }
}

TEST(Drawing, SheetValuesAreClippedToTheirCells)
{
    SketchPage page;
    page.kind = SKETCH_SHEET;
    page.cells = {{0, 0, words(60)},
                  {1, 0, "Total"},
                  {1, 1, "1234.5"},
                  {5, 0, "Sixth"},
                  {2, 0, "\xD8\xB3\xD9\x84\xD8\xA7\xD9\x85"}}; // Arabic
    Drawn drawn(page, 594, 420);
    ASSERT_NE(drawn.argb, nullptr) << drawn.problem;
    // Rows of a 26th of the page's height beneath a header row; the first
    // column, as wide as its longest value, is half the grid's width.
    int row = 420 / 26, top = 420 * 3 / 100, left = 594 * 3 / 100 + row * 3 / 2;
    int column_b = 594 * 3 / 100 + row * 3 / 2 + (594 - 2 * (594 * 3 / 100)) / 2;
    EXPECT_GT(drawn.ink(left + 2, top + row + 2, column_b - 2, top + 2 * row - 2), 0) << "A1";
    EXPECT_EQ(drawn.ink(column_b + 3, top + row + 3, column_b + 60, top + 2 * row - 3), 0)
        << "A1 spilt into B1";
    EXPECT_GT(drawn.ink(column_b + 3, top + 2 * row + 2, 594 - 20, top + 3 * row - 2), 0) << "B2";
    EXPECT_GT(drawn.ink(left + 2, top + 6 * row + 2, column_b - 2, top + 7 * row - 2), 0) << "A6";
    EXPECT_GT(drawn.ink(left + 2, top + 3 * row + 2, column_b - 2, top + 4 * row - 2), 0)
        << "A3, right to left";
}

// A column is as wide as the widest value the grid shows: one far below
// its last row leaves it at its narrowest, two and a half rows' height.
TEST(Drawing, SheetColumnsFitTheRowsShown)
{
    SketchPage page;
    page.kind = SKETCH_SHEET;
    page.cells = {{0, 0, "a"}, {0, 1, "b"}, {30, 0, words(60)}};
    Drawn drawn(page, 594, 420);
    ASSERT_NE(drawn.argb, nullptr) << drawn.problem;
    int row = 420 / 26, top = 420 * 3 / 100, left = 594 * 3 / 100 + row * 3 / 2;
    int column_b = left + row * 5 / 2;
    EXPECT_GT(drawn.ink(column_b + 2, top + row + 2, column_b + row * 2, top + 2 * row - 2), 0) << "B1";
}

TEST(Drawing, SlideTitleIsLargerThanItsText)
{
    SketchPage page;
    page.kind = SKETCH_SLIDE;
    page.width_mm = 254;
    page.height_mm = 190.5;
    page.blocks = {{1, false, "Quality"}, {0, false, "quality"}, {0, false, "quality"}};
    Drawn drawn(page, 400, 300);
    ASSERT_NE(drawn.argb, nullptr) << drawn.problem;
    auto rows = drawn.ink_rows(border, 400 - border);
    ASSERT_EQ(rows.size(), 3u); // the title, two points (the border is light)
    EXPECT_GT(rows[0].second - rows[0].first, (rows[1].second - rows[1].first) * 7 / 5);
}

TEST(Drawing, EveryKindOfPageIsWhiteWithItsText)
{
    for (SketchKind kind : {SKETCH_TEXT, SKETCH_SHEET, SKETCH_SLIDE, SKETCH_DRAWING}) {
        SketchPage page;
        page.kind = kind;
        page.blocks = {{0, false, "Some text"}};
        page.cells = {{0, 0, "Some text"}};
        Drawn drawn(page, 400, 300);
        ASSERT_NE(drawn.argb, nullptr) << drawn.problem;
        EXPECT_EQ(drawn.argb[(150 * 400 + 395) * 4 + 0], 0xFF) << "opaque";
        EXPECT_GT(drawn.ink(border, border, 400 - border, 300 - border), 20) << kind;
    }
}

TEST(Drawing, SizesItCannotDrawAreRefused)
{
    SketchPage page = text_page({{0, false, "text"}});
    for (auto size : {std::pair<uint32_t, uint32_t>{0, 10}, {10, 0}, {100000, 100000}, {1, 70000}}) {
        const char *problem = nullptr;
        void *pixels = sketch_draw_page(page, size.first, size.second, &problem);
        EXPECT_EQ(pixels, nullptr);
        EXPECT_NE(problem, nullptr);
        FreeVec(pixels);
    }
    // The smallest pages of every kind are drawn.
    page.cells = {{0, 0, "cell"}};
    for (SketchKind kind : {SKETCH_TEXT, SKETCH_SHEET, SKETCH_SLIDE, SKETCH_DRAWING}) {
        page.kind = kind;
        for (int side : {1, 3, 17}) {
            Drawn drawn(page, side, side);
            EXPECT_NE(drawn.argb, nullptr) << drawn.problem;
        }
    }
}

TEST(Drawing, NoFontGivesItsMessage)
{
    testing_support::TempDir dir;
    testing_support::write_file(dir.file("fonts.conf"),
                                "<?xml version=\"1.0\"?>\n<fontconfig></fontconfig>\n");
    const char *saved = getenv("FONTCONFIG_FILE");
    std::string before = saved != nullptr ? saved : "";
    setenv("FONTCONFIG_FILE", dir.file("fonts.conf").c_str(), 1);
    Drawn drawn(text_page({{0, false, "text"}}), 100, 100);
    if (saved != nullptr)
        setenv("FONTCONFIG_FILE", before.c_str(), 1);
    else
        unsetenv("FONTCONFIG_FILE");
    EXPECT_EQ(drawn.argb, nullptr);
    ASSERT_NE(drawn.problem, nullptr);
    EXPECT_STREQ(drawn.problem, "cannot be sketched: no font can be found");
}

} // namespace

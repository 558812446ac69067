// The program on documents whose thumbnail is there but gives no picture:
// one line naming the document and why, return code 1, and a thumbnail that
// claims a huge size costs neither time nor memory.
#include <gtest/gtest.h>

#include <string>

#include "pictures.h"
#include "support.h"

namespace
{

using testing_support::ProcessResult;
using testing_support::TempDir;

// Runs the program on a document whose thumbnail member holds data.
ProcessResult run_on_thumbnail(const TempDir &dir, const std::string &data)
{
    testing_support::Member thumbnail;
    thumbnail.name = "Thumbnails/thumbnail.png";
    thumbnail.data = data;
    testing_support::write_archive(dir.file("doc.odt"), "zip", {thumbnail});
    return testing_support::run_quillpeek({dir.file("doc.odt")});
}

TEST(PictureMessages, EachThumbnailThatCannotBeShownGetsOneLineSayingWhy)
{
    TempDir dir;
    const std::string prefix = "quillpeek: " + dir.file("doc.odt") + ": ";
    std::string png = testing_support::encode_png(30, 20, testing_support::test_pattern(30, 20));

    ProcessResult text = run_on_thumbnail(dir, "no picture here\n");
    EXPECT_EQ(text.exit_code, 1);
    EXPECT_EQ(text.err, prefix + "its thumbnail is not a picture that can be decoded\n");

    ProcessResult cut = run_on_thumbnail(dir, png.substr(0, png.size() / 2));
    EXPECT_EQ(cut.exit_code, 1);
    EXPECT_EQ(cut.err, prefix + "its thumbnail (30 x 20 pixels) could not be decoded: its data is damaged or "
                                "memory ran out\n");

    ProcessResult huge = run_on_thumbnail(dir, pictures::png_claiming(60000, 60000));
    EXPECT_EQ(huge.exit_code, 1);
    EXPECT_EQ(huge.err, prefix + "its thumbnail (60000 x 60000 pixels) is too large to show\n");
    // Measured against the run on a text (a child's peak includes what it
    // shared with this process before it started the program).
    EXPECT_LT(huge.peak_rss_kib, text.peak_rss_kib + 32 * 1024) << "a claimed size must not be allocated";
    EXPECT_EQ(huge.out, "");
}

} // namespace

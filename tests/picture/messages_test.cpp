// The program on documents whose thumbnail is there but gives no picture:
// one line naming the document and why, return code 1, and a thumbnail that
// claims a huge size costs neither time nor memory. In-process: the reason
// picture_problem gives for each kind of failure, and a document replaced
// between the two member routines.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "archive/archive.h"
#include "flow/libraries.h"
#include "picture/picture.h"
#include "platform/control.h"
#include "platform_fixture.h"
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
    EXPECT_EQ(cut.err, prefix + "its thumbnail (30 x 20 pixels) could not be decoded: its data is damaged\n");

    ProcessResult huge = run_on_thumbnail(dir, pictures::png_claiming(60000, 60000));
    EXPECT_EQ(huge.exit_code, 1);
    EXPECT_EQ(huge.err, prefix + "its thumbnail (60000 x 60000 pixels) is too large to show\n");
    // Measured against the run on a text (a child's peak includes what it
    // shared with this process before it started the program).
    EXPECT_LT(huge.peak_rss_kib, text.peak_rss_kib + 32 * 1024) << "a claimed size must not be allocated";
    EXPECT_EQ(huge.out, "");
}

using PictureProblem = PlatformTest;

TEST_F(PictureProblem, DamageAndMemoryThatRanOutAreToldApart)
{
    std::string png = testing_support::encode_png(30, 20, testing_support::test_pattern(30, 20));
    std::string cut = png.substr(0, png.size() / 2);
    EXPECT_STREQ(picture_problem(&cut[0], static_cast<uint32_t>(cut.size())),
                 "its thumbnail (30 x 20 pixels) could not be decoded: its data is damaged");
    for (long successes : {0, 1}) {
        platform_fail_allocations_after(successes);
        EXPECT_STREQ(picture_problem(&png[0], static_cast<uint32_t>(png.size())),
                     "there is not enough memory to decode its thumbnail");
    }
    platform_fail_allocations_after(-1);
    // A picture that decodes failed for want of its PictureBuffer alone.
    EXPECT_STREQ(picture_problem(&png[0], static_cast<uint32_t>(png.size())),
                 "its thumbnail (30 x 20 pixels) could not be decoded: memory ran out");
}

// The block is made for the first document's member, the size comes from the
// second's listing: the picture class never reads past the block.
TEST_F(PictureProblem, ADocumentReplacedBetweenTheTwoListingsIsNamedAsChanged)
{
    testing_support::TempDir dir;
    testing_support::Member small, large;
    small.name = large.name = "Thumbnails/thumbnail.png";
    small.data = testing_support::encode_png(4, 4, testing_support::test_pattern(4, 4));
    large.data = testing_support::encode_png(300, 300, testing_support::test_pattern(300, 300));
    ASSERT_GT(large.data.size(), 4 * small.data.size());
    const std::string path = dir.file("doc.odt");
    testing_support::write_archive(path, "zip-stored", {small});
    testing_support::write_archive(dir.file("saved.odt"), "zip-stored", {large});

    void *member = XAD_file_unpacker(path.c_str(), "thumbnail.png");
    ASSERT_NE(member, nullptr);
    ASSERT_EQ(std::rename(dir.file("saved.odt").c_str(), path.c_str()), 0); // as an editor saves
    uint32_t size = XAD_file_grosse(path.c_str(), "thumbnail.png");
    EXPECT_EQ(size, large.data.size());
    EXPECT_EQ(DTLoad(member, size), nullptr);
    EXPECT_EQ(DT_width(member, size), 0u);
    EXPECT_EQ(DT_height(member, size), 0u);
    EXPECT_STREQ(picture_problem(member, size), "it changed while it was being read");
    // Within the block the bytes are still read: the first picture's own size.
    EXPECT_EQ(DT_width(member, static_cast<uint32_t>(small.data.size())), 4u);
    EXPECT_EQ(platform_live_objects(), 0);
    FreeVec(member);
}

} // namespace

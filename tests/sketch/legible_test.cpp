// The sketches as a person sees them: documents without a preview made
// here, thumbnailed by the real program at 512 pixels, and read back by
// tesseract, which must find the heading's words.
#include <gtest/gtest.h>

#include <spng.h>

#include <algorithm>
#include <cctype>

#include "office_documents.h"
#include "support.h"

namespace
{

using testing_support::ProcessResult;
using testing_support::run_process;

bool tesseract_reads_english()
{
    ProcessResult result = run_process({"tesseract", "--list-langs"});
    return result.exit_code == 0 && (result.out + result.err).find("\neng") != std::string::npos;
}

std::string lower(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
    return text;
}

// The PNG's width and height, 0 x 0 when it is none.
std::pair<uint32_t, uint32_t> png_size(const std::string &png)
{
    spng_ctx *context = spng_ctx_new(0);
    spng_set_png_buffer(context, png.data(), png.size());
    struct spng_ihdr header = {};
    bool read = spng_get_ihdr(context, &header) == 0;
    spng_ctx_free(context);
    return read ? std::make_pair(header.width, header.height) : std::make_pair(0u, 0u);
}

TEST(Legible, TheHeadingOfEveryKindOfDocumentCanBeReadInItsSketch)
{
    if (!tesseract_reads_english())
        GTEST_SKIP() << "tesseract with English (tesseract-ocr, tesseract-ocr-eng) is not installed";
    const office_documents::Content content = {
        "Harvest Report",
        {"The orchard gave apples and pears.", "Prices rose in the autumn market.", "Storage was full."}};
    // Each kind and the shape of its page: A4 portrait, or a 16:9 slide.
    const std::vector<std::pair<std::string, double>> kinds = {
        {"odt", 210.0 / 297}, {"docx", 210.0 / 297}, {"ods", 0}, {"xlsx", 0}, {"odp", 0}, {"pptx", 16.0 / 9}};
    testing_support::TempDir dir;
    for (const auto &[extension, aspect] : kinds) {
        std::string document = dir.file("harvest." + extension), png = dir.file(extension + ".png");
        office_documents::write(document, extension, content);
        ProcessResult made = run_process({QUILLPEEK_THUMBNAILER, "-s", "512", document, png});
        ASSERT_EQ(made.exit_code, 0) << extension << ": " << made.err;
        auto [width, height] = png_size(testing_support::read_file(png));
        EXPECT_EQ(std::max(width, height), 512u) << extension;
        if (aspect != 0) {
            EXPECT_NEAR(double(width) / height, aspect, 0.02) << extension;
        }
        std::string seen = lower(run_process({"tesseract", png, "-"}).out);
        for (const char *word : {"harvest", "report"})
            EXPECT_NE(seen.find(word), std::string::npos)
                << extension << ": \"" << word << "\" not in: " << seen;
    }
}

} // namespace

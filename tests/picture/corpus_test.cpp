// Real thumbnails: the five corpus documents' pictures pixel by pixel, and
// every thumbnail of the real-world documents at its stated size.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "flow/libraries.h"
#include "picture/picture.h"
#include "platform/control.h"
#include "platform_fixture.h"
#include "pictures.h"
#include "support.h"

namespace
{

using pictures::bytes_of;
using pictures::size_of;
std::vector<std::string> split_tabs(const std::string &line)
{
    std::vector<std::string> fields;
    std::stringstream stream(line);
    std::string field;
    while (std::getline(stream, field, '\t'))
        fields.push_back(field);
    if (!line.empty() && line.back() == '\t')
        fields.emplace_back();
    return fields;
}

using CorpusTest = PlatformTest;

TEST_F(CorpusTest, CorpusThumbnailsDecodeToTheSamePixelsAsLibspngAlone)
{
    const std::string dir = testing_support::corpus_dir() + "/";
    for (const char *document : {"calc.ods", "draw.odg", "impress.odp", "pictures-40.odt", "writer.odt"}) {
        SCOPED_TRACE(document);
        std::string png;
        ASSERT_TRUE(pictures::read_member(dir + document, "Thumbnails/thumbnail.png", &png));
        uint32_t width = 0, height = 0;
        std::vector<uint32_t> reference = pictures::reference_png(png, &width, &height);
        ASSERT_FALSE(reference.empty());
        void *buffer = DTLoad(bytes_of(png), size_of(png));
        ASSERT_NE(buffer, nullptr);
        EXPECT_EQ(DT_width(bytes_of(png), size_of(png)), width);
        EXPECT_EQ(DT_height(bytes_of(png), size_of(png)), height);
        EXPECT_EQ(pictures::argb_pixels(buffer, width, height), reference);
        FreeVec(buffer);
    }
    EXPECT_EQ(platform_live_objects(), 0);
}

// INDEX.tsv names each document's thumbnail member, its size ("WxH") and
// whether it decodes.
TEST_F(CorpusTest, EveryRealWorldThumbnailDecodesAtItsStatedSize)
{
    REQUIRE_REALCORPUS();
    const std::string dir = testing_support::realcorpus_dir() + "/";
    std::ifstream index(dir + "INDEX.tsv");
    ASSERT_TRUE(index) << "no INDEX.tsv";
    std::string line;
    std::getline(index, line);
    std::vector<std::string> header = split_tabs(line);
    auto column = [&](const char *name) {
        for (size_t i = 0; i < header.size(); ++i)
            if (header[i] == name)
                return i;
        ADD_FAILURE() << "no column " << name;
        return size_t{0};
    };
    const size_t file = column("file"), has = column("has_thumbnail_png_member"),
                 member = column("thumb_name"), wh = column("png_wh"), decodes = column("png_decodes");
    int decoded = 0, refused = 0;
    while (std::getline(index, line)) {
        std::vector<std::string> fields = split_tabs(line);
        if (fields.size() < header.size() || fields[has] != "yes")
            continue;
        SCOPED_TRACE(fields[file]);
        std::string data;
        if (!pictures::read_member(dir + fields[file], fields[member], &data)) {
            // Enciphered members cannot be read; they are no picture anyway.
            EXPECT_NE(fields[decodes], "yes");
            continue;
        }
        void *buffer = DTLoad(bytes_of(data), size_of(data));
        uint32_t width = DT_width(bytes_of(data), size_of(data));
        uint32_t height = DT_height(bytes_of(data), size_of(data));
        if (fields[decodes] == "yes") {
            EXPECT_NE(buffer, nullptr);
            EXPECT_EQ(std::to_string(width) + "x" + std::to_string(height), fields[wh]);
            ++decoded;
        } else {
            EXPECT_EQ(buffer, nullptr);
            ++refused;
        }
        FreeVec(buffer);
        clear_journal(); // hundreds of documents: keep the journal small
    }
    EXPECT_GT(decoded, 250);
    EXPECT_EQ(platform_live_objects(), 0);
    RecordProperty("decoded", decoded);
    RecordProperty("refused", refused);
}

} // namespace

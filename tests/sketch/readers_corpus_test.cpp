// The document readers over the real-world corpus (realcorpus/INDEX.tsv):
// no document crashes them or leaves a page beyond its budgets, and every
// readable package that carries no preview gives its first page's text.
#include <gtest/gtest.h>

#include <cstring>
#include <map>

#include "platform/limits.h"
#include "platform_fixture.h"
#include "sketch/readers/readers.h"
#include "support.h"

namespace
{

using Row = std::map<std::string, std::string>;
using testing_support::read_index;

bool ends_with(const std::string &text, const char *end)
{
    size_t length = strlen(end);
    return text.size() >= length && text.compare(text.size() - length, length, end) == 0;
}

// A sound package that carries no preview that can be shown (none, or a
// metafile): the documents the sketch is for. Databases hold no text.
bool wants_sketch(Row &row)
{
    const std::string &preview = row["ooxml_other_thumb"];
    bool shown = !preview.empty() && !ends_with(preview, ".wmf") && !ends_with(preview, ".emf");
    return row["valid_zip"] == "yes" && row["has_thumbnail_png_member"] == "no" && !shown &&
           row["odf_encrypted"].compare(0, 3, "yes") != 0 && !ends_with(row["file"], ".odb");
}

// Sound packages of the corpus without a preview whose content holds no
// text at all: a picture, shapes, an embedded object, an empty table or
// template, a chart without titles, and a package of its mimetype alone.
const std::map<std::string, std::string> textless = {
    {"abiword-ts__simple-chart.abw.exp.raw.odt", "holds no text to sketch"},
    {"abiword-ts__simple-chart.abw.exp.raw_2.odt", "holds no text to sketch"},
    {"odftoolkit__CorruptedMimetypeChart.odc", "holds no text to sketch"},
    {"odftoolkit__simple-table.odt", "holds no text to sketch"},
    {"tika__testStarOffice-6.0-draw.sxd", "holds no text to sketch"},
    {"tika__testStarOffice-6.0-writer-template.stw", "holds no text to sketch"},
    {"tika__testWPSAttachment.docx", "holds no text to sketch"},
    {"tika__testWPSAttachment.xlsx", "holds no text to sketch"},
    {"odftoolkit__testInvalidPkg3.odt", "is not a document that can be sketched"},
};

class SketchCorpus : public PlatformTest
{
};

TEST_F(SketchCorpus, EveryDocumentReadWithinItsBudgets)
{
    REQUIRE_REALCORPUS();
    std::string folder = testing_support::realcorpus_dir();
    size_t wanted = 0, sketched = 0, other_pages = 0;
    std::map<std::string, size_t> problems;
    for (Row &row : read_index(folder + "/INDEX.tsv")) {
        std::string path = folder + "/" + row["file"];
        SketchPage page;
        const char *problem = sketch_read_document(path.c_str(), &page);
        size_t text = 0;
        for (const SketchBlock &block : page.blocks)
            text += block.text.size();
        for (const SketchCell &cell : page.cells)
            text += cell.text.size();
        EXPECT_LE(text, platform::limits::sketch_text_bytes) << row["file"];
        EXPECT_EQ(problem == nullptr, text > 0) << row["file"];
        auto none = textless.find(row["file"]);
        if (none != textless.end()) {
            EXPECT_STREQ(problem, none->second.c_str()) << row["file"];
        } else if (wants_sketch(row)) {
            wanted++;
            sketched += problem == nullptr;
            EXPECT_EQ(problem, nullptr) << row["file"] << ": " << problem;
        } else if (problem == nullptr) {
            other_pages++;
        } else {
            problems[problem]++;
        }
    }
    std::cout << sketched << " of the " << wanted
              << " documents without a preview that hold text give a page; " << other_pages
              << " others do too\n";
    for (const auto &problem : problems)
        std::cout << "  " << problem.second << " x " << problem.first << "\n";
}

} // namespace

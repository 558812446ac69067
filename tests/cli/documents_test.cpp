// Every document of the two corpora through the program: every thumbnail
// they carry is shown, every broken one ends with one clear message.
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "support.h"

namespace
{

using testing_support::ProcessOptions;
using testing_support::ProcessResult;

struct Document {
    std::string path;
    bool shows; // carries a thumbnail that decodes
};

void PrintTo(const Document &document, std::ostream *out)
{
    *out << document.path;
}

// The real-world documents, as their index describes them.
std::vector<Document> real_documents()
{
    if (testing_support::realcorpus_dir().empty())
        return {};
    std::string dir = testing_support::realcorpus_dir() + "/";
    std::ifstream index(dir + "INDEX.tsv");
    std::string line;
    std::getline(index, line);
    std::map<std::string, size_t> column;
    std::stringstream header(line);
    for (std::string name; std::getline(header, name, '\t');)
        column[name] = column.size();
    std::vector<Document> documents;
    while (std::getline(index, line)) {
        std::vector<std::string> fields;
        std::stringstream row(line);
        for (std::string field; std::getline(row, field, '\t');)
            fields.push_back(field);
        fields.resize(column.size());
        // Office Open XML packages without a thumbnail member show the JPEG
        // preview their relationships name.
        const std::string &preview = fields[column["ooxml_other_thumb"]];
        bool jpeg_preview = preview.size() > 5 && preview.compare(preview.size() - 5, 5, ".jpeg") == 0;
        // This one is cut before its central directory; its local headers
        // still reach the JPEG preview.
        bool cut_before_directory = fields[column["file"]] == "poi__Divino_Revelado.pptx";
        bool shows = fields[column["has_thumbnail_png_member"]] == "yes"
                         ? fields[column["png_decodes"]] == "yes"
                         : jpeg_preview || cut_before_directory;
        documents.push_back({dir + fields[column["file"]], shows});
    }
    return documents;
}

std::vector<Document> all_documents()
{
    std::vector<Document> documents;
    for (const char *name : {"calc.ods", "draw.odg", "impress.odp", "pictures-40.odt", "writer.odt"})
        documents.push_back({testing_support::corpus_dir() + "/" + name, true});
    for (const Document &document : real_documents())
        documents.push_back(document);
    return documents;
}

class Documents : public ::testing::TestWithParam<Document>
{
};

TEST_P(Documents, AreShownOrEndWithOneMessage)
{
    const Document &document = GetParam();
    ProcessOptions options;
    options.env["QUILLPEEK_CLOSE_WHEN_SHOWN"] = "1";
    ProcessResult result = testing_support::run_quillpeek({document.path}, options);
    EXPECT_EQ(result.signal, 0);
    EXPECT_EQ(result.out, "");
    if (document.shows) {
        EXPECT_EQ(result.exit_code, 0) << result.err;
        EXPECT_EQ(result.err, "");
    } else {
        EXPECT_EQ(result.exit_code, 1);
        EXPECT_EQ(result.err.rfind("quillpeek: " + document.path + ": ", 0), 0u) << result.err;
        EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 1) << result.err;
    }
}

std::string test_name(const ::testing::TestParamInfo<Document> &info)
{
    std::string name =
        std::to_string(info.index) + "_" + info.param.path.substr(info.param.path.rfind('/') + 1);
    for (char &c : name)
        if (!std::isalnum(static_cast<unsigned char>(c)))
            c = '_';
    return name;
}

TEST(RealDocuments, AreAllListedFromTheirIndex)
{
    REQUIRE_REALCORPUS();
    EXPECT_GT(real_documents().size(), 300u);
}

INSTANTIATE_TEST_SUITE_P(Corpora, Documents, ::testing::ValuesIn(all_documents()), test_name);

} // namespace

// The program on documents that give no thumbnail: one line on standard
// error naming the document and what is wrong, nothing on standard output,
// return code 1, and xadmaster.library closed again.
#include <gtest/gtest.h>

#include <algorithm>

#include "support.h"

namespace
{

using testing_support::ProcessOptions;
using testing_support::ProcessResult;
using testing_support::run_quillpeek;
using testing_support::TempDir;

void expect_message(const std::string &path, const std::string &problem)
{
    TempDir dir;
    ProcessOptions options;
    options.env["QUILLPEEK_TRACE"] = dir.file("trace");
    ProcessResult result = run_quillpeek({path}, options);
    EXPECT_EQ(result.exit_code, 1) << path;
    EXPECT_EQ(result.out, "") << path;
    EXPECT_EQ(result.err, "quillpeek: " + path + ": " + problem + "\n");
    std::string trace = testing_support::read_file(dir.file("trace"));
    auto count = [&](const std::string &line) {
        size_t n = 0;
        for (size_t at = trace.find(line); at != std::string::npos; at = trace.find(line, at + 1))
            ++n;
        return n;
    };
    EXPECT_EQ(count("OpenLibrary xadmaster.library 0\n"), count("CloseLibrary xadmaster.library\n")) << trace;
}

TEST(Documents, WithoutAThumbnailEachGetsOneLineNamingTheProblem)
{
    TempDir dir;
    testing_support::write_file(dir.file("notes.odt"), "plain words\n");
    testing_support::Member member;
    member.name = "content.xml";
    member.data = "<doc/>";
    testing_support::write_archive(dir.file("bare.odt"), "zip", {member});
    expect_message(dir.file("missing.odt"), "No such file or directory");
    expect_message(dir.file("notes.odt"), "cannot be read as an archive");
    expect_message(dir.file("bare.odt"), "has no member whose name contains \"thumbnail.png\"");
    expect_message(dir.path(), "is a directory");
}

// libarchive is loaded only for a format other than a plain zip, or a zip
// member neither stored nor deflated: without it a plain document is still
// listed and shown, and otherwise the message names the library.
TEST(Documents, WithoutLibarchiveAPlainZipIsStillShownAndTheMessageNamesTheLibrary)
{
    TempDir dir;
    testing_support::write_file(dir.file("libarchive.so.13"), ""); // found first, and no library
    testing_support::Member member;
    member.name = "content.xml";
    member.data = "<doc/>";
    testing_support::write_archive(dir.file("bare.odt"), "zip", {member});
    testing_support::write_archive(dir.file("bare.tar"), "tar", {member});
    member.name = "Thumbnails/thumbnail.png";
    testing_support::write_archive(dir.file("bzip2.odt"), "zip-stored", {member});
    std::string bzip2 = testing_support::read_file(dir.file("bzip2.odt"));
    for (const char *record : {"PK\3\4", "PK\1\2"}) // method 12 in both headers
        bzip2[bzip2.find(record) + (record[2] == 3 ? 8 : 10)] = 12;
    testing_support::write_file(dir.file("bzip2.odt"), bzip2);
    struct Case {
        std::string path, problem;
    };
    const Case cases[] = {
        {testing_support::corpus_dir() + "/writer.odt", ""},
        {dir.file("bare.odt"), "has no member whose name contains \"thumbnail.png\""},
        {dir.file("bare.tar"), "cannot be read: libarchive.so.13 cannot be loaded"},
        {dir.file("bzip2.odt"), "its thumbnail could not be extracted: libarchive.so.13 cannot be loaded"},
    };
    for (const Case &c : cases) {
        ProcessOptions options;
        options.env["LD_LIBRARY_PATH"] = dir.path();
        options.env["QUILLPEEK_TRACE"] = dir.file("trace");
        options.env["QUILLPEEK_CLOSE_WHEN_SHOWN"] = "1";
        ProcessResult result = run_quillpeek({c.path}, options);
        EXPECT_EQ(result.exit_code, c.problem.empty() ? 0 : 1) << c.path;
        EXPECT_EQ(result.err, c.problem.empty() ? "" : "quillpeek: " + c.path + ": " + c.problem + "\n");
    }
    EXPECT_NE(testing_support::read_file(dir.file("trace"))
                  .find("xadmaster.library: " + dir.file("libarchive.so.13")),
              std::string::npos);
}

TEST(Documents, AnOfficeOpenXmlPackageShowsThePreviewItsRelationshipsName)
{
    TempDir dir;
    auto member = [](const std::string &name, const std::string &data) {
        testing_support::Member m;
        m.name = name;
        m.data = data;
        return m;
    };
    auto rels = [](const std::string &target) {
        return "<Relationships><Relationship Id=\"rId2\" "
               "Type=\"http://schemas.openxmlformats.org/package/2006/"
               "relationships/metadata/thumbnail\" Target=\"" +
               target + "\"/></Relationships>";
    };
    std::string picture = testing_support::encode_png(40, 30, testing_support::test_pattern(40, 30));
    std::string shown = dir.file("shown.docx");
    testing_support::write_archive(
        shown, "zip",
        {member("_rels/.rels", rels("docProps/preview.png")), member("docProps/preview.png", picture)});
    ProcessOptions options;
    options.env["QUILLPEEK_CLOSE_WHEN_SHOWN"] = "1";
    options.env["QUILLPEEK_TRACE"] = dir.file("trace");
    ProcessResult result = run_quillpeek({shown}, options);
    EXPECT_EQ(result.exit_code, 0) << result.err;
    EXPECT_NE(testing_support::read_file(dir.file("trace")).find("OpenWindowTagList"), std::string::npos);
    std::string metafile = dir.file("metafile.xlsx");
    testing_support::write_archive(
        metafile, "zip",
        {member("_rels/.rels", rels("/docProps/thumbnail.wmf")),
         member("docProps/thumbnail.wmf", std::string("\xD7\xCD\xC6\x9A") + std::string(60, '\0'))});
    expect_message(metafile, "its preview is a Windows metafile, which cannot be shown");
    std::string dangling = dir.file("dangling.pptx");
    testing_support::write_archive(dangling, "zip", {member("_rels/.rels", rels("docProps/thumbnail.jpeg"))});
    expect_message(dangling, "has no member whose name contains \"docProps/thumbnail.jpeg\"");
}

} // namespace

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

} // namespace

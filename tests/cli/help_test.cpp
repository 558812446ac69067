// Help in both conventions: the argument parser's template query "?" with a
// line on standard input, and --help / --version.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support.h"

namespace
{

using testing_support::ProcessOptions;
using testing_support::ProcessResult;
using testing_support::run_quillpeek;
using testing_support::TempDir;

const std::string prompt = "DOCUMENTPATH/A: ";

TEST(Help, TheTemplateQueryReadsTheArgumentsFromALineOfInput)
{
    TempDir dir;
    std::string missing = dir.file("a b.odt");
    struct Case {
        std::string input, out, err;
    };
    const Case cases[] = {
        {"\"" + missing + "\"\n", prompt, "quillpeek: " + missing + ": "},
        {"DOCUMENTPATH=\"" + missing + "\"", prompt, "quillpeek: " + missing + ": "},
        {"?\n\"" + missing + "\"\n", prompt + prompt, "quillpeek: " + missing + ": "},
        {"\n", prompt + "There was no file specified!\n", ""},
        {"", prompt + "There was no file specified!\n", ""},
        {"one.odt two.odt\n", prompt + "There was no file specified!\n", ""},
    };
    for (const Case &c : cases) {
        ProcessOptions options;
        options.input = c.input;
        ProcessResult result = run_quillpeek({"?"}, options);
        SCOPED_TRACE(c.input);
        EXPECT_EQ(result.out, c.out);
        EXPECT_EQ(result.err.substr(0, c.err.size()), c.err);
        EXPECT_EQ(result.exit_code, 1);
    }
}

TEST(Help, HelpAndVersionAnswerOnStandardOutput)
{
    for (const char *option : {"--help", "-h", "--version"}) {
        ProcessResult result = run_quillpeek({option});
        SCOPED_TRACE(option);
        EXPECT_EQ(result.exit_code, 0);
        EXPECT_EQ(result.err, "");
        if (option == std::string("--version"))
            EXPECT_EQ(result.out, "Quillpeek 1.2 (05.08.2012)\n");
        else
            EXPECT_EQ(result.out.rfind("Usage: quillpeek DOCUMENT\n", 0), 0u) << result.out;
    }
    // Only alone: beside a document it is a second argument.
    EXPECT_EQ(run_quillpeek({"--help", "x.odt"}).out, "There was no file specified!\n");
}

} // namespace

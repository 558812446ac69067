// The program as a user starts it: arguments, messages, return codes, the
// libraries it opens and closes.
#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <string>
#include <vector>

#include "support.h"

namespace
{

using testing_support::ProcessOptions;
using testing_support::ProcessResult;
using testing_support::read_file;
using testing_support::run_quillpeek;
using testing_support::TempDir;

const char *const no_file = "There was no file specified!\n";

// The journal lines that name one of the calls.
std::vector<std::string> traced(const std::string &trace, const std::vector<std::string> &names)
{
    std::vector<std::string> result;
    size_t start = 0;
    while (start < trace.size()) {
        size_t end = trace.find('\n', start);
        std::string line = trace.substr(start, end - start);
        for (const std::string &name : names)
            if (line.rfind(name + " ", 0) == 0)
                result.push_back(line);
        start = end == std::string::npos ? trace.size() : end + 1;
    }
    return result;
}

TEST(CommandLine, WithoutExactlyOneDocumentItSaysSoOnStandardOutput)
{
    for (const std::vector<std::string> &arguments :
         {std::vector<std::string>{}, {"a.odt", "b.odt"}, {"DOCUMENTPATH"}}) {
        ProcessResult result = run_quillpeek(arguments);
        EXPECT_EQ(result.out, no_file);
        EXPECT_EQ(result.err, "");
        EXPECT_EQ(result.exit_code, 1);
    }
}

TEST(CommandLine, TheKeywordFormNamesTheDocument)
{
    TempDir dir;
    std::string missing = dir.file("missing.odt");
    for (const std::string &argument : {missing, "DOCUMENTPATH=" + missing, "documentpath=" + missing}) {
        ProcessResult result = run_quillpeek({argument});
        EXPECT_EQ(result.out, "");
        EXPECT_EQ(result.err.rfind("quillpeek: " + missing + ": ", 0), 0u) << result.err;
        EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 1);
        EXPECT_EQ(result.exit_code, 1);
    }
    ProcessResult spaced = run_quillpeek({"DOCUMENTPATH", missing});
    EXPECT_EQ(spaced.out, "");
    EXPECT_EQ(spaced.exit_code, 1);
}

TEST(CommandLine, OpensItsLibrariesInOrderAndClosesThemInReverse)
{
    TempDir dir;
    ProcessOptions options;
    options.env["QUILLPEEK_TRACE"] = dir.file("trace");
    ProcessResult result = run_quillpeek({}, options);
    EXPECT_EQ(result.exit_code, 1);
    std::vector<std::string> expected = {
        "OpenLibrary dos.library 37",      "OpenLibrary dos.library 39",
        "OpenLibrary graphics.library 0",  "OpenLibrary cybergraphics.library 0",
        "ReadArgs DOCUMENTPATH/A -> NULL", "CloseLibrary cybergraphics.library",
        "CloseLibrary graphics.library",   "CloseLibrary dos.library",
        "CloseLibrary dos.library"};
    EXPECT_EQ(traced(read_file(dir.file("trace")), {"OpenLibrary", "CloseLibrary", "ReadArgs"}), expected);
}

TEST(CommandLine, AMissingLibraryEndsSilentlyAfterClosingWhatWasOpened)
{
    struct Case {
        const char *missing;
        std::vector<std::string> closed;
    };
    const Case cases[] = {
        {"dos.library", {}},
        {"graphics.library", {"CloseLibrary dos.library"}},
        {"cybergraphics.library", {"CloseLibrary graphics.library", "CloseLibrary dos.library"}},
    };
    for (const Case &c : cases) {
        TempDir dir;
        ProcessOptions options;
        options.env["QUILLPEEK_TRACE"] = dir.file("trace");
        options.env["QUILLPEEK_MISSING_LIBS"] = c.missing;
        ProcessResult result = run_quillpeek({"whatever.odt"}, options);
        EXPECT_EQ(result.out, "") << c.missing;
        EXPECT_EQ(result.err, "") << c.missing;
        EXPECT_EQ(result.exit_code, c.missing == std::string("dos.library") ? 20 : 1) << c.missing;
        std::string trace = read_file(dir.file("trace"));
        EXPECT_EQ(traced(trace, {"ReadArgs"}).size(), 0u) << c.missing;
        std::vector<std::string> closed = traced(trace, {"CloseLibrary"});
        if (!closed.empty() && c.missing != std::string("dos.library"))
            closed.pop_back(); // the start-up's own dos.library
        EXPECT_EQ(closed, c.closed) << c.missing;
    }
}

TEST(CommandLine, TheVersionStringIsInTheProgramFile)
{
    std::string program = read_file(testing_support::binary_path());
    EXPECT_NE(program.find("$VER: Quillpeek 1.2 (05.08.2012)"), std::string::npos);
}

} // namespace

namespace
{

TEST(CommandLine, CtrlCWhileTheWindowIsOpenChangesNothing)
{
    ProcessOptions options;
    options.env["SDL_VIDEODRIVER"] = "offscreen";
    options.signal_after = SIGINT;
    options.signal_after_seconds = 1.5;
    options.timeout_seconds = 4.0; // then the test ends it
    ProcessResult result = run_quillpeek({testing_support::source_dir() + "/samples/sample.odt"}, options);
    EXPECT_TRUE(result.timed_out) << "exit " << result.exit_code << ", signal " << result.signal;
    EXPECT_EQ(result.signal, SIGKILL);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, "");
}

} // namespace

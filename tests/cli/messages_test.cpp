// Messages a person can act on: names printed safely whatever bytes they
// hold, and documents named by file: URIs.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "flow/report.h"
#include "support.h"

namespace
{

using testing_support::ProcessResult;
using testing_support::run_quillpeek;
using testing_support::TempDir;

TEST(Messages, NamesAreQuotedAsCoreutilsQuotesThemWhenTheyHoldControls)
{
    struct Case {
        const char *name, *printed;
    };
    const Case cases[] = {
        {"/tmp/plain doc.odt", "/tmp/plain doc.odt"},
        {"été.odt", "été.odt"},
        {"a\nb", "'a'$'\\n''b'"},
        {"\x1b]0;title\a.odt", "''$'\\033'']0;title'$'\\a''.odt'"},
        {"it's\t", "'it'\\''s'$'\\t'"},
        {"bad\xff\xc3(", "'bad'$'\\377\\303''('"},
        {"\xc2\x9b"
         "31m",
         "''$'\\302\\233''31m'"}, // C1 CSI in UTF-8
        {"\xe2\x80\xae"
         "fdp.odt",
         "''$'\\342\\200\\256''fdp.odt'"},        // right-to-left override
        {"\xed\xa0\x80", "''$'\\355\\240\\200'"}, // a surrogate
        {"\xe0\x80\xaf", "''$'\\340\\200\\257'"}, // an overlong "/"
    };
    for (const Case &c : cases)
        EXPECT_EQ(quoted_name(c.name), c.printed) << c.name;
}

TEST(Messages, AHostilePathGivesOneLineWithoutControlBytes)
{
    TempDir dir;
    std::string path = dir.file("\x1b[2J\x1b]0;owned\a\nquillpeek: forged.odt");
    ProcessResult result = run_quillpeek({path});
    EXPECT_EQ(result.exit_code, 1);
    EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 1) << result.err;
    EXPECT_TRUE(std::none_of(result.err.begin(), result.err.end() - 1, [](char c) {
        return static_cast<unsigned char>(c) < 0x20;
    })) << result.err;
    EXPECT_NE(result.err.find("'$'\\033''[2J'$'\\033'']0;owned'$'\\a\\n''quillpeek: forged.odt'"),
              std::string::npos)
        << result.err;
}

TEST(Messages, FileUrisAreDecodedOrRefusedWithAMessage)
{
    std::string path;
    EXPECT_EQ(document_from_uri("plain.odt", path), nullptr);
    EXPECT_EQ(path, "plain.odt");
    for (const char *uri :
         {"file:///tmp/a%20b%C3%A9.odt", "FILE://localhost/tmp/a%20b%c3%a9.odt", "file:/tmp/a b%C3%A9.odt"}) {
        EXPECT_EQ(document_from_uri(uri, path), nullptr) << uri;
        EXPECT_EQ(path, "/tmp/a bé.odt") << uri;
    }
    for (const char *uri : {"file://server/share/a.odt", "file:///a%2", "file:///a%zz", "file:///a%00b",
                            "file:relative.odt", "file://", "file:///a%2Fb", "file:///a?b", "file:///a#b"})
        EXPECT_NE(document_from_uri(uri, path), nullptr) << uri;
    EXPECT_EQ(document_from_uri("file:///tmp/%FF%C3.odt", path), nullptr);
    EXPECT_EQ(path, "/tmp/\xff\xc3.odt");

    // Whole program: the document a URI names is read, a remote one refused.
    std::string writer = testing_support::corpus_dir() + "/writer.odt";
    testing_support::ProcessOptions options;
    options.env["QUILLPEEK_CLOSE_WHEN_SHOWN"] = "1";
    ProcessResult shown = run_quillpeek({"file://" + writer}, options);
    EXPECT_EQ(shown.exit_code, 0) << shown.err;
    ProcessResult remote = run_quillpeek({"file://server/a.odt"});
    EXPECT_EQ(remote.err, "quillpeek: file://server/a.odt: it is a file: URI of another computer, which "
                          "cannot be read\n");
    EXPECT_EQ(remote.exit_code, 1);
}

TEST(Messages, ADesktopStartWithoutADisplayGivesItsTextToTheGivenStream)
{
    // No display named, and one named that is not there: what the message
    // window's helper (zenity, where installed) says of it is not given on.
    for (const char *display : {"", ":9999"}) {
        testing_support::ProcessOptions options;
        options.env["DISPLAY"] = display;
        options.env["WAYLAND_DISPLAY"] = "";
        ProcessResult result = testing_support::run_process(
            {"/usr/bin/setsid", "-w", testing_support::binary_path(), "--desktop"}, options);
        EXPECT_EQ(result.exit_code, 1) << display;
        EXPECT_EQ(result.out, "") << display;
        EXPECT_EQ(result.err, "There was no file specified!\n") << display;
    }
}

} // namespace

namespace
{

// A desktop start without a display, its text given on to the stream it
// was given; through bash when the document is to be read from a pipe.
ProcessResult desktop_start(const std::vector<std::string> &arguments, const std::string &input = "")
{
    testing_support::ProcessOptions options;
    options.env["DISPLAY"] = "";
    options.env["WAYLAND_DISPLAY"] = "";
    options.input = input;
    std::vector<std::string> command = {"/usr/bin/setsid", "-w", testing_support::binary_path(), "--desktop"};
    command.insert(command.end(), arguments.begin(), arguments.end());
    return testing_support::run_process(command, options);
}

TEST(Messages, ADesktopStartKeepsAtMostItsLimitOfEitherStreamAndSaysTheRestWasCut)
{
    std::string asked;
    for (int i = 0; i < 100000; ++i)
        asked += "?\n";                  // each asks again: 1.6 MB of questions on standard output
    const std::string name(120000, 'n'); // an argument may be 128 KiB
    const struct {
        std::vector<std::string> arguments;
        std::string input, first;
    } rows[] = {
        {{"?"}, asked, "DOCUMENTPATH/A: DOCUMENTPATH/A: "},
        {{"./" + name}, "", "quillpeek: ./nnnn"}, // 120 kB on standard error
    };
    for (const auto &row : rows) {
        ProcessResult result = desktop_start(row.arguments, row.input);
        EXPECT_EQ(result.exit_code, 1);
        EXPECT_EQ(result.err.rfind(row.first, 0), 0u) << result.err.substr(0, 100);
        EXPECT_LE(result.err.size(), 64u * 1024 + 100);
        EXPECT_NE(result.err.find("more bytes were written and cut: at most 64 KiB are kept]\n"),
                  std::string::npos)
            << result.err.substr(result.err.size() - 200);
    }
}

// Ctrl-C while the query waits for its line: the kept text, then the break.
TEST(Messages, CtrlCDuringADesktopStartStillGivesTheKeptText)
{
    testing_support::ProcessOptions options;
    options.env["DISPLAY"] = "";
    options.env["WAYLAND_DISPLAY"] = "";
    ProcessResult result = testing_support::run_process(
        {"/usr/bin/setsid", "-w", "/bin/bash", "-c",
         "\"$0\" --desktop '?' < <(sleep 1.5; echo /no/such.odt) & sleep 0.5; kill -INT $!; wait $!",
         testing_support::binary_path()},
        options);
    EXPECT_EQ(result.exit_code, 20) << result.err;
    EXPECT_EQ(result.err, "DOCUMENTPATH/A: ***Break\n");
}

} // namespace

// Started as a file manager starts it, from the installed desktop entry's
// Exec line (no terminal, standard streams on /dev/null, a session of its
// own): a document that cannot be shown opens a message window naming it
// and the cause, and closing that window ends the program with return code
// 1. From a shell the message goes to the redirected stream, with no window.
#include <gtest/gtest.h>

#include <chrono>
#include <sstream>
#include <thread>

#include "support.h"
#include "x_session.h"

namespace
{

using namespace x_session;
using testing_support::read_file;
using testing_support::TempDir;

// The id (in decimal, as xdotool gives it) of a window titled exactly
// "Quillpeek" (the message window; the viewer's own is "Quillpeek 1.2"),
// waiting up to seconds; "" when none.
std::string message_window(const std::string &display, double seconds)
{
    auto start = std::chrono::steady_clock::now();
    do {
        std::stringstream tree(run_client(display, {"/usr/bin/xwininfo", "-root", "-tree"}));
        for (std::string line; std::getline(tree, line);)
            if (line.find(" \"Quillpeek\": (") != std::string::npos)
                return std::to_string(std::stoul(line.substr(line.find("0x")), nullptr, 16));
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    } while (std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() < seconds);
    return "";
}

std::string quoted_for_shell(const std::string &text)
{
    return "'" + text + "'"; // the tests' own paths hold no quote
}

class DesktopStart : public XServerTest
{
  protected:
    void SetUp() override
    {
        XServerTest::SetUp();
        if (IsSkipped() || HasFatalFailure())
            return;
        ASSERT_EQ(testing_support::install_into(dir_.file("root")).exit_code, 0);
        testing_support::Member content;
        content.name = "content.xml";
        content.data = "<office:document/>";
        testing_support::write_archive(document(), "zip", {content});
    }
    std::string document() const { return dir_.file("no thumbnail.odt"); }
    std::string trace() const { return dir_.file("trace"); }

    // The command line of the installed entry's Exec key for the document.
    std::string exec_line() const
    {
        std::stringstream entry(
            read_file(dir_.file("root/usr/share/applications/io.github.quillpeek.Quillpeek.desktop")));
        std::string line;
        while (std::getline(entry, line) && line.rfind("Exec=", 0) != 0) {
        }
        std::string command = line.substr(5);
        size_t field = command.find("%f");
        return field == std::string::npos ? "" : command.replace(field, 2, quoted_for_shell(document()));
    }

    std::unique_ptr<Background> run_shell(const std::string &command)
    {
        std::map<std::string, std::string> env = {{"DISPLAY", display()},
                                                  {"PATH", dir_.file("root/usr/bin") + ":/usr/bin:/bin"},
                                                  {"QUILLPEEK_TRACE", trace()},
                                                  {"SDL_VIDEODRIVER", ""}};
        return std::make_unique<Background>(std::vector<std::string>{"/bin/sh", "-c", command}, env,
                                            dir_.file("shell"));
    }

  private:
    TempDir dir_;
};

TEST_F(DesktopStart, FromTheEntryTheMessageIsShownUntilItsWindowIsClosed)
{
    std::string command = exec_line();
    ASSERT_EQ(command.rfind("quillpeek --desktop '", 0), 0u) << command;
    std::unique_ptr<Background> program =
        run_shell("exec setsid -w " + command + " </dev/null >/dev/null 2>&1");

    std::string id = message_window(display(), 20);
    ASSERT_NE(id, "") << read_file(trace());
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_TRUE(program->running()) << "the window must stay until closed";
    std::string shown = read_file(trace());
    EXPECT_NE(shown.find("Console text quillpeek: " + document() + ": has no member whose name contains"),
              std::string::npos)
        << shown;

    ASSERT_TRUE(request_close(display(), id));
    EXPECT_EQ(program->wait(10), 1);
}

TEST_F(DesktopStart, FromAShellTheMessageGoesToTheRedirectedStreamWithoutAWindow)
{
    std::string log = document() + ".log";
    for (const std::string &start : {std::string("quillpeek "), std::string("setsid -w quillpeek ")}) {
        std::unique_ptr<Background> program =
            run_shell(start + quoted_for_shell(document()) + " 2>" + quoted_for_shell(log) + " </dev/null");
        EXPECT_EQ(program->wait(20), 1) << start;
        EXPECT_EQ(read_file(log).rfind("quillpeek: " + document() + ": has no member", 0), 0u)
            << read_file(log);
        EXPECT_EQ(message_window(display(), 0), "") << start;
    }
}

} // namespace

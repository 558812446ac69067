// The console of a desktop start: the standard streams kept in an unnamed
// file, shown in a message window when the program ends.
#include "platform/internal/console.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/internal/internal.h"
#include "platform/internal/sdl.h"
#include "platform/startup.h"

namespace
{

// The longest text the window shows; the streams get all of it.
const size_t window_text_limit = 8192;

int kept = -1;         // the unnamed file that holds what was written
int given_stream = -1; // the standard error the process was given
int given_output = -1; // its standard output

// Descriptors 0 to 2 open, on /dev/null where the process was given none,
// so that nothing of the console's lands on them.
void fill_standard_descriptors()
{
    for (int descriptor = 0; descriptor <= 2; ++descriptor)
        if (fcntl(descriptor, F_GETFD) < 0) {
            int null = open("/dev/null", O_RDWR);
            if (null >= 0 && null != descriptor) {
                dup2(null, descriptor);
                close(null);
            }
        }
}

bool has_controlling_terminal()
{
    int terminal = open("/dev/tty", O_RDONLY | O_NOCTTY | O_CLOEXEC);
    if (terminal < 0)
        return false;
    close(terminal);
    return true;
}

// Everything written so far.
std::string kept_text()
{
    std::string text;
    char chunk[4096];
    off_t at = 0;
    for (ssize_t got; (got = pread(kept, chunk, sizeof chunk, at)) > 0; at += got)
        text.append(chunk, static_cast<size_t>(got));
    return text;
}

// The text as the window shows it: without the last newline, cut short
// when long.
std::string window_text(const std::string &text)
{
    size_t end = std::min(text.size(), window_text_limit);
    while (end < text.size() && end > 0 && (text[end] & 0xC0) == 0x80)
        --end; // not inside a character
    std::string shown = text.substr(0, end);
    if (text.size() > window_text_limit)
        shown += "\n...";
    while (!shown.empty() && shown.back() == '\n')
        shown.pop_back();
    return shown;
}

bool display_named()
{
    const char *x11 = std::getenv("DISPLAY"), *wayland = std::getenv("WAYLAND_DISPLAY");
    return (x11 != nullptr && *x11 != '\0') || (wayland != nullptr && *wayland != '\0');
}

// SDL's message window is first asked of zenity (SDL's Wayland one, tried
// whatever the session), a process of its own on the program's standard
// error: what GTK says there is not the program's, so it goes to /dev/null.
int quiet_standard_error()
{
    int saved = fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 3);
    int null = open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (saved >= 0 && null >= 0)
        dup2(null, STDERR_FILENO);
    if (null >= 0)
        close(null);
    return saved;
}

void restore_standard_error(int saved)
{
    if (saved < 0)
        return;
    dup2(saved, STDERR_FILENO);
    close(saved);
}

void show_window(const std::string &text)
{
    for (size_t start = 0; start <= text.size();) {
        size_t end = std::min(text.find('\n', start), text.size());
        platform::journal("Console text %.*s", static_cast<int>(end - start), text.c_str() + start);
        start = end + 1;
    }
    if (!display_named()) {
        platform::journal("Console no window: no display is named");
        return;
    }
    if (!platform::sdl_load()) {
        platform::journal("Console no window: %s", platform::sdl_load_error());
        return;
    }
    int saved = quiet_standard_error();
    int shown =
        platform::sdl().ShowSimpleMessageBox(SDL_MESSAGEBOX_ERROR, "Quillpeek", text.c_str(), nullptr);
    restore_standard_error(saved);
    if (shown != 0)
        platform::journal("Console no window: %s", platform::sdl().GetError());
}

} // namespace

namespace platform
{

const char *const desktop_marker = "--desktop";

bool console_open(int *argc, char **argv)
{
    if (*argc < 2 || strcmp(argv[1], desktop_marker) != 0)
        return false;
    for (int i = 1; i < *argc; ++i)
        argv[i] = argv[i + 1];
    --*argc;
    if (has_controlling_terminal())
        return false;
    fill_standard_descriptors();
    kept = memfd_create("quillpeek-console", MFD_CLOEXEC);
    if (kept < 0)
        return false;
    given_output = fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 3);
    given_stream = fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 3);
    dup2(kept, STDOUT_FILENO);
    dup2(kept, STDERR_FILENO);
    platform::journal("Console opened");
    return true;
}

void console_close()
{
    if (kept < 0)
        return;
    std::string text = kept_text();
    // The streams go back to what the process was given, the text with them.
    dup2(given_output, STDOUT_FILENO);
    dup2(given_stream, STDERR_FILENO);
    close(given_output);
    close(given_stream);
    close(kept);
    kept = -1;
    platform_write_all(STDERR_FILENO, text.data(), text.size());
    if (!text.empty())
        show_window(window_text(text));
}

} // namespace platform

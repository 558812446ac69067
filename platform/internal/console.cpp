// The console of a desktop start: the standard streams read from a pipe by
// a thread of their own, which keeps the first console_kept_limit bytes and
// counts the rest; shown in a message window when the program ends.
#include "platform/internal/console.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/internal/internal.h"
#include "platform/internal/sdl.h"
#include "platform/startup.h"

namespace
{

// The longest text the window shows; the streams get all that was kept.
const size_t window_text_limit = 8192;

int given_stream = -1; // the standard error the process was given
int given_output = -1; // its standard output

// What the reader thread keeps: the first bytes written, and how many more
// there were.
struct Kept {
    int from = -1; // the pipe's reading end
    int stop = -1; // written to when the streams are closed
    int stop_reader = -1;
    pthread_t reader;
    char text[platform::console_kept_limit];
    size_t length = 0;
    unsigned long long cut = 0;
} kept;

// Takes in what is in the pipe; false at its end.
bool take_available()
{
    char chunk[4096];
    for (;;) {
        ssize_t got = read(kept.from, chunk, sizeof chunk);
        if (got == 0 || (got < 0 && errno != EINTR && errno != EAGAIN))
            return false; // its end: every writing end is closed
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return true; // nothing more for now
        size_t room = std::min(static_cast<size_t>(got), sizeof kept.text - kept.length);
        std::memcpy(kept.text + kept.length, chunk, room);
        kept.length += room;
        kept.cut += static_cast<size_t>(got) - room;
    }
}

void *read_streams(void *)
{
    struct pollfd waits[2] = {{kept.from, POLLIN, 0}, {kept.stop_reader, POLLIN, 0}};
    for (;;) {
        if (poll(waits, 2, -1) < 0 && errno != EINTR)
            break;
        if ((waits[0].revents & (POLLIN | POLLHUP)) != 0 && !take_available())
            break;
        if ((waits[1].revents & POLLIN) != 0) {
            take_available(); // what was written before the streams closed
            break;
        }
    }
    return nullptr;
}

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

// The pipe the streams are given, and its reader started; false, with
// nothing left open, when either cannot be had.
bool start_reader(int &writing)
{
    int streams[2], stop[2];
    if (pipe2(streams, O_CLOEXEC) != 0)
        return false;
    if (pipe2(stop, O_CLOEXEC) != 0) {
        close(streams[0]);
        close(streams[1]);
        return false;
    }
    fcntl(streams[0], F_SETFL, O_NONBLOCK);
    kept.from = streams[0];
    kept.stop_reader = stop[0];
    kept.stop = stop[1];
    if (pthread_create(&kept.reader, nullptr, read_streams, nullptr) != 0) {
        for (int fd : {streams[0], streams[1], stop[0], stop[1]})
            close(fd);
        kept.from = kept.stop = kept.stop_reader = -1;
        return false;
    }
    writing = streams[1];
    return true;
}

// Everything kept, the reader ended; with a last line when some was cut.
std::string kept_text()
{
    char one = 0;
    ssize_t ignored = write(kept.stop, &one, 1);
    (void)ignored;
    pthread_join(kept.reader, nullptr);
    for (int fd : {kept.from, kept.stop, kept.stop_reader})
        close(fd);
    kept.from = kept.stop = kept.stop_reader = -1;
    std::string text(kept.text, kept.length);
    if (kept.cut > 0) {
        if (!text.empty() && text.back() != '\n')
            text += '\n';
        text += "[" + std::to_string(kept.cut) + " more bytes were written and cut: at most " +
                std::to_string(platform::console_kept_limit / 1024) + " KiB are kept]\n";
    }
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
        platform::journal("Console no window: no display is named"); // nor any helper program's window
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
    int writing;
    if (!start_reader(writing))
        return false;
    given_output = fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 3);
    given_stream = fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 3);
    dup2(writing, STDOUT_FILENO);
    dup2(writing, STDERR_FILENO);
    close(writing);
    platform::journal("Console opened");
    return true;
}

void console_close()
{
    if (kept.from < 0)
        return;
    // The streams go back to what the process was given, closing the pipe's
    // writing ends; the text goes after them.
    dup2(given_output, STDOUT_FILENO);
    dup2(given_stream, STDERR_FILENO);
    close(given_output);
    close(given_stream);
    std::string text = kept_text();
    platform_write_all(STDERR_FILENO, text.data(), text.size());
    if (!text.empty())
        show_window(window_text(text));
}

} // namespace platform

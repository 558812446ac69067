#include "x_session.h"

#include <X11/Xlib.h>
#include <archive.h>
#include <archive_entry.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spng.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <sstream>
#include <thread>

#include "reference_scale.h"
#include "support.h"

namespace x_session
{

namespace
{

using Clock = std::chrono::steady_clock;

double seconds_since(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// Starts argv with its standard streams on these files (empty: /dev/null).
pid_t spawn(const std::vector<std::string> &argv, const std::map<std::string, std::string> &env,
            const std::string &out, const std::string &err, int keep_fd = -1)
{
    std::vector<std::string> args = argv, vars = testing_support::environment_with(env);
    std::vector<char *> arg_pointers = testing_support::exec_pointers(args),
                        var_pointers = testing_support::exec_pointers(vars);
    pid_t pid = fork();
    if (pid != 0)
        return pid;
    int null_fd = open("/dev/null", O_RDWR);
    dup2(null_fd, 0);
    int out_fd = out.empty() ? null_fd : open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    int err_fd = err.empty() ? null_fd : open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(out_fd, 1);
    dup2(err_fd, 2);
    for (int fd = 3; fd < 1024; ++fd)
        if (fd != keep_fd)
            close(fd);
    execve(arg_pointers[0], arg_pointers.data(), var_pointers.data());
    _exit(127);
}

uint32_t be32(const std::string &data, size_t at)
{
    const unsigned char *p = reinterpret_cast<const unsigned char *>(data.data()) + at;
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}

// An 8-bit channel out of a pixel by its mask.
uint32_t channel(uint32_t pixel, uint32_t mask)
{
    if (mask == 0)
        return 0;
    int shift = __builtin_ctz(mask);
    uint32_t value = (pixel & mask) >> shift, top = mask >> shift;
    return top == 255 ? value : value * 255 / top;
}

// A true-colour XWD image (ZPixmap, 32 bits per pixel), as xwd writes it.
Shot decode_xwd(const std::string &data)
{
    Shot shot;
    if (data.size() < 100)
        return shot;
    uint32_t header_size = be32(data, 0), format = be32(data, 8), width = be32(data, 16),
             height = be32(data, 20), byte_order = be32(data, 28), bits = be32(data, 44),
             bytes_per_line = be32(data, 48), red = be32(data, 56), green = be32(data, 60),
             blue = be32(data, 64), colours = be32(data, 76);
    size_t start = size_t(header_size) + size_t(colours) * 12;
    if (format != 2 || bits != 32 || start + size_t(bytes_per_line) * height > data.size())
        return shot;
    shot.width = int(width);
    shot.height = int(height);
    for (uint32_t y = 0; y < height; ++y)
        for (uint32_t x = 0; x < width; ++x) {
            const unsigned char *p = reinterpret_cast<const unsigned char *>(data.data()) + start +
                                     size_t(y) * bytes_per_line + x * 4;
            uint32_t pixel = byte_order == 0
                                 ? uint32_t(p[3]) << 24 | uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | p[0]
                                 : uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
            shot.rgb.push_back(channel(pixel, red) << 16 | channel(pixel, green) << 8 | channel(pixel, blue));
        }
    return shot;
}

std::string member_of(const std::string &document, const std::string &name)
{
    struct archive *a = archive_read_new();
    archive_read_support_format_zip(a);
    std::string data;
    if (archive_read_open_filename(a, document.c_str(), 65536) == ARCHIVE_OK) {
        struct archive_entry *entry;
        while (archive_read_next_header(a, &entry) == ARCHIVE_OK) {
            if (name != archive_entry_pathname(entry))
                continue;
            char buffer[65536];
            la_ssize_t got;
            while ((got = archive_read_data(a, buffer, sizeof buffer)) > 0)
                data.append(buffer, size_t(got));
            break;
        }
    }
    archive_read_free(a);
    return data;
}

} // namespace

bool xvfb_installed()
{
    return access("/usr/bin/Xvfb", X_OK) == 0;
}

void XServerTest::SetUp()
{
    if (!xvfb_installed())
        GTEST_SKIP() << "Xvfb is missing: install xvfb (scripts/setup.sh lists it)";
    server_ = std::make_unique<Server>();
    ASSERT_FALSE(server_->display().empty()) << "Xvfb did not start";
}

Server::Server()
{
    int fds[2];
    if (pipe(fds) != 0)
        return;
    pid_ = spawn({"/usr/bin/Xvfb", "-displayfd", std::to_string(fds[1]), "-screen", "0", "1280x1024x24",
                  "-nolisten", "tcp", "-noreset"},
                 {}, "", "", fds[1]);
    close(fds[1]);
    std::string number;
    struct pollfd ready = {fds[0], POLLIN, 0};
    auto start = Clock::now();
    while (number.find('\n') == std::string::npos && seconds_since(start) < 30) {
        if (poll(&ready, 1, 1000) <= 0)
            continue;
        char c[16];
        ssize_t got = read(fds[0], c, sizeof c);
        if (got <= 0)
            break;
        number.append(c, size_t(got));
    }
    close(fds[0]);
    if (!number.empty() && number.back() == '\n')
        display_ = ":" + number.substr(0, number.size() - 1);
}

Server::~Server()
{
    if (pid_ > 0) {
        kill(pid_, SIGTERM);
        waitpid(pid_, nullptr, 0);
    }
}

Background::Background(const std::vector<std::string> &argv, const std::map<std::string, std::string> &env,
                       const std::string &output_prefix)
    : prefix_(output_prefix)
{
    pid_ = spawn(argv, env, prefix_ + ".out", prefix_ + ".err");
}

Background::~Background()
{
    if (pid_ > 0 && !ended_) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
}

bool Background::running()
{
    if (ended_ || pid_ <= 0)
        return false;
    if (waitpid(pid_, &status_, WNOHANG) == pid_)
        ended_ = true;
    return !ended_;
}

int Background::wait(double seconds)
{
    auto start = Clock::now();
    while (running() && seconds_since(start) < seconds)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    if (!ended_ || !WIFEXITED(status_))
        return -1;
    return WEXITSTATUS(status_);
}

void Background::stop(double seconds)
{
    if (!running())
        return;
    kill(pid_, SIGTERM);
    wait(seconds); // the destructor kills what is left
}

std::string Background::err() const
{
    return testing_support::read_file(prefix_ + ".err");
}

std::string run_client(const std::string &display, const std::vector<std::string> &argv, double seconds)
{
    testing_support::ProcessOptions options;
    options.env["DISPLAY"] = display;
    options.timeout_seconds = seconds;
    testing_support::ProcessResult result = testing_support::run_process(argv, options);
    return result.exit_code == 0 ? result.out : "";
}

std::string find_window(const std::string &display, const std::string &name)
{
    std::string out = run_client(display, {"/usr/bin/xdotool", "search", "--sync", "--name", name});
    return out.substr(0, out.find('\n'));
}

Geometry window_geometry(const std::string &display, const std::string &id)
{
    Geometry g;
    std::stringstream lines(run_client(display, {"/usr/bin/xwininfo", "-id", id}));
    for (std::string line; std::getline(lines, line);) {
        std::string value = line.substr(line.find(':') + 1);
        if (line.find("Absolute upper-left X:") != std::string::npos)
            g.x = std::atoi(value.c_str());
        else if (line.find("Absolute upper-left Y:") != std::string::npos)
            g.y = std::atoi(value.c_str());
        else if (line.find("  Width:") == 0)
            g.width = std::atoi(value.c_str());
        else if (line.find("  Height:") == 0)
            g.height = std::atoi(value.c_str());
    }
    return g;
}

Shot screenshot(const std::string &display, const std::string &id)
{
    return decode_xwd(run_client(display, {"/usr/bin/xwd", "-id", id, "-silent"}));
}

namespace
{

// The few Xlib calls the tests make themselves, loaded at run time: the
// tests do not link Xlib.
struct Xlib {
    void *library = dlopen("libX11.so.6", RTLD_NOW | RTLD_LOCAL);
    Display *(*open_display)(const char *) = nullptr;
    int (*close_display)(Display *) = nullptr;
    int (*sync)(Display *, Bool) = nullptr;
    Atom (*intern)(Display *, const char *, Bool) = nullptr;
    Status (*send)(Display *, ::Window, Bool, long, XEvent *) = nullptr;
    ::Window (*root)(Display *) = nullptr;
    ::Window (*create)(Display *, ::Window, int, int, unsigned, unsigned, unsigned, unsigned long,
                       unsigned long) = nullptr;
    int (*map_raised)(Display *, ::Window) = nullptr;
    int (*destroy)(Display *, ::Window) = nullptr;

    template <typename F> void load(F &function, const char *name)
    {
        function = reinterpret_cast<F>(dlsym(library, name));
    }
    Xlib()
    {
        if (library == nullptr)
            return;
        load(open_display, "XOpenDisplay");
        load(close_display, "XCloseDisplay");
        load(sync, "XSync");
        load(intern, "XInternAtom");
        load(send, "XSendEvent");
        load(root, "XDefaultRootWindow");
        load(create, "XCreateSimpleWindow");
        load(map_raised, "XMapRaised");
        load(destroy, "XDestroyWindow");
    }
    ~Xlib()
    {
        if (library != nullptr)
            dlclose(library);
    }
    bool ready() const
    {
        return open_display && close_display && sync && intern && send && root && create && map_raised &&
               destroy;
    }
};

::Window window_of(const std::string &id)
{
    return ::Window(std::strtoul(id.c_str(), nullptr, 10));
}

} // namespace

bool request_close(const std::string &display, const std::string &id)
{
    Xlib x;
    Display *server = x.ready() ? x.open_display(display.c_str()) : nullptr;
    if (server == nullptr)
        return false;
    XEvent event;
    std::memset(&event, 0, sizeof event);
    event.xclient.type = ClientMessage;
    event.xclient.window = window_of(id);
    event.xclient.message_type = x.intern(server, "WM_PROTOCOLS", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = long(x.intern(server, "WM_DELETE_WINDOW", False));
    event.xclient.data.l[1] = CurrentTime;
    bool sent = x.send(server, window_of(id), False, NoEventMask, &event) != 0;
    x.sync(server, False);
    x.close_display(server);
    return sent;
}

bool cover_and_uncover(const std::string &display, const Geometry &area,
                       const std::function<void()> &while_covered)
{
    Xlib x;
    Display *server = x.ready() ? x.open_display(display.c_str()) : nullptr;
    if (server == nullptr)
        return false;
    ::Window cover = x.create(server, x.root(server), area.x, area.y, unsigned(area.width),
                              unsigned(area.height), 0, 0, 0x00FF00);
    x.map_raised(server, cover);
    x.sync(server, False);
    while_covered();
    x.destroy(server, cover);
    x.sync(server, False);
    x.close_display(server);
    return true;
}

Picture decode_png(const std::string &png)
{
    Picture picture;
    spng_ctx *ctx = spng_ctx_new(0);
    struct spng_ihdr header;
    size_t size = 0;
    if (ctx != nullptr && spng_set_png_buffer(ctx, png.data(), png.size()) == 0 &&
        spng_get_ihdr(ctx, &header) == 0 && spng_decoded_image_size(ctx, SPNG_FMT_RGBA8, &size) == 0) {
        std::vector<unsigned char> rgba(size);
        if (spng_decode_image(ctx, rgba.data(), size, SPNG_FMT_RGBA8, SPNG_DECODE_TRNS) == 0) {
            picture.width = header.width;
            picture.height = header.height;
            for (size_t i = 0; i + 3 < size; i += 4)
                picture.argb.push_back(uint32_t(rgba[i + 3]) << 24 | uint32_t(rgba[i]) << 16 |
                                       uint32_t(rgba[i + 1]) << 8 | rgba[i + 2]);
        }
    }
    spng_ctx_free(ctx);
    return picture;
}

Picture thumbnail_of(const std::string &document)
{
    return decode_png(member_of(document, "Thumbnails/thumbnail.png"));
}

std::vector<uint32_t> expected_view(const Picture &picture, uint32_t width, uint32_t height)
{
    return testing_support::reference_scale(picture.argb, picture.width, picture.height, width, height,
                                            0xFFFFFF);
}

std::string compare(const Shot &shot, const std::vector<uint32_t> &view, int width, int height, int tolerance)
{
    if (shot.width != width || shot.height != height)
        return "shot is " + std::to_string(shot.width) + "x" + std::to_string(shot.height);
    for (size_t i = 0; i < view.size(); ++i)
        if (testing_support::largest_difference({shot.rgb[i]}, {view[i]}) > tolerance) {
            char text[80];
            std::snprintf(text, sizeof text, "%zu,%zu: got %06x want %06x", i % size_t(width),
                          i / size_t(width), shot.rgb[i], view[i]);
            return text;
        }
    return "";
}

std::string wait_for_view(const std::function<Shot()> &take, const std::vector<uint32_t> &view, int width,
                          int height, int tolerance)
{
    std::string difference;
    auto start = Clock::now();
    do {
        difference = compare(take(), view, width, height, tolerance);
        if (difference.empty())
            return difference;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    } while (seconds_since(start) < 20);
    return difference;
}

bool wait_for_line(const std::string &trace, const std::string &line)
{
    auto start = Clock::now();
    while (seconds_since(start) < 20) {
        if (("\n" + testing_support::read_file(trace)).find("\n" + line + "\n") != std::string::npos)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

std::vector<std::string> lines_of(const std::string &text)
{
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
        lines.push_back(text.substr(start, end - start));
    return lines;
}

} // namespace x_session

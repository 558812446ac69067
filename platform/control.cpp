// The platform's test controls and its journal.
#include "platform/control.h"

#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <set>

#include "platform/dos.h"
#include "platform/internal/internal.h"

namespace
{

struct Controls {
    std::mutex lock;
    std::set<std::string> missing;
    long allocations_left = -1;
    bool recording = false;
    std::vector<std::string> lines;
    std::string trace_path;
};

// Made in storage of its own: it outlives every static destructor, and its
// first use (in any library call's journal line) cannot fail for want of
// memory.
Controls &controls()
{
    alignas(Controls) static unsigned char storage[sizeof(Controls)];
    static Controls *instance = new (storage) Controls;
    return *instance;
}

void append_to_trace(const std::string &path, const char *line)
{
    FILE *file = std::fopen(path.c_str(), "a");
    if (file == nullptr)
        return;
    std::fputs(line, file);
    std::fputc('\n', file);
    std::fclose(file);
}

} // namespace

namespace platform
{

bool journalling()
{
    Controls &c = controls();
    std::lock_guard<std::mutex> hold(c.lock);
    return c.recording || !c.trace_path.empty();
}

void journal(const char *format, ...) noexcept
{
    if (!journalling())
        return;
    char text[1024];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    Controls &c = controls();
    std::lock_guard<std::mutex> hold(c.lock);
    try {
        if (c.recording)
            c.lines.emplace_back(text);
    } catch (const std::bad_alloc &) {
        // The journal in memory could not grow: the line is lost there, the
        // call goes on.
    }
    if (!c.trace_path.empty())
        append_to_trace(c.trace_path, text);
}

void out_of_memory(const char *call) noexcept
{
    journal("%s FAULT no memory", call);
    set_io_error(ERROR_NO_FREE_STORE);
}

bool allocation_allowed()
{
    Controls &c = controls();
    std::lock_guard<std::mutex> hold(c.lock);
    if (c.allocations_left < 0)
        return true;
    if (c.allocations_left == 0)
        return false;
    --c.allocations_left;
    return true;
}

bool library_missing(const char *name)
{
    Controls &c = controls();
    std::lock_guard<std::mutex> hold(c.lock);
    return c.missing.count(name) != 0;
}

} // namespace platform

void platform_reset()
{
    Controls &c = controls();
    std::lock_guard<std::mutex> hold(c.lock);
    c.missing.clear();
    c.allocations_left = -1;
    c.recording = false;
    c.lines.clear();
    platform_forget_decoded_pictures();
}

void platform_set_library_missing(const char *name, bool missing)
{
    Controls &c = controls();
    std::lock_guard<std::mutex> hold(c.lock);
    if (missing)
        c.missing.insert(name);
    else
        c.missing.erase(name);
}

void platform_fail_allocations_after(long successes)
{
    Controls &c = controls();
    std::lock_guard<std::mutex> hold(c.lock);
    c.allocations_left = successes < 0 ? -1 : successes;
}

void platform_journal_begin()
{
    Controls &c = controls();
    std::lock_guard<std::mutex> hold(c.lock);
    c.lines.clear();
    c.recording = true;
}

std::vector<std::string> platform_journal_take()
{
    Controls &c = controls();
    std::lock_guard<std::mutex> hold(c.lock);
    std::vector<std::string> taken;
    taken.swap(c.lines);
    return taken;
}

void platform_journal_end()
{
    Controls &c = controls();
    std::lock_guard<std::mutex> hold(c.lock);
    c.recording = false;
    c.lines.clear();
}

void platform_trace_to(const char *path)
{
    Controls &c = controls();
    std::lock_guard<std::mutex> hold(c.lock);
    c.trace_path = path != nullptr ? path : "";
}

// The run-time start-up: DOSBase, the test controls, the break, the stack.
#include "platform/startup.h"

#include <pthread.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/internal/console.h"
#include "platform/control.h"
#include "platform/dos.h"
#include "platform/internal/internal.h"
#include "platform/internal/startup_display.h"

struct Library *DOSBase = nullptr;

namespace
{

enum { RETURN_FAIL = 20 };

volatile sig_atomic_t break_pending = 0;

void note_break(int)
{
    break_pending = 1;
}

// Every write to a standard stream passes here first: a pending break ends
// the process before anything more is written.
void check_break()
{
    if (break_pending == 0)
        return;
    static const char message[] = "***Break\n";
    ssize_t ignored = write(STDERR_FILENO, message, sizeof message - 1);
    (void)ignored;
    platform::journal("Break");
    platform::console_close(); // a desktop start's text is still shown
    _exit(RETURN_FAIL);
}

ssize_t stream_write(void *cookie, const char *data, size_t size)
{
    check_break();
    int descriptor = static_cast<int>(reinterpret_cast<intptr_t>(cookie));
    size_t done = platform_write_all(descriptor, data, size);
    return done > 0 || size == 0 ? static_cast<ssize_t>(done) : -1;
}

FILE *break_checking_stream(int descriptor, int buffering)
{
    cookie_io_functions_t functions = {};
    functions.write = stream_write;
    FILE *stream = fopencookie(reinterpret_cast<void *>(static_cast<intptr_t>(descriptor)), "w", functions);
    if (stream != nullptr)
        setvbuf(stream, nullptr, buffering, BUFSIZ);
    return stream;
}

void apply_environment_controls()
{
    const char *trace = std::getenv("QUILLPEEK_TRACE");
    if (trace != nullptr && *trace != '\0')
        platform_trace_to(trace);
    const char *missing = std::getenv("QUILLPEEK_MISSING_LIBS");
    std::string names = missing != nullptr ? missing : "";
    for (size_t start = 0; start < names.size();) {
        size_t end = names.find(',', start);
        if (end == std::string::npos)
            end = names.size();
        std::string name = names.substr(start, end - start);
        if (!name.empty())
            platform_set_library_missing(name.c_str(), true);
        start = end + 1;
    }
    const char *fail_after = std::getenv("QUILLPEEK_FAIL_ALLOC_AFTER");
    if (fail_after != nullptr && *fail_after != '\0')
        platform_fail_allocations_after(std::strtol(fail_after, nullptr, 10));
}

struct EntryCall {
    StartupEntry entry;
    int argc;
    char **argv;
    int result;
};

void *run_entry(void *data)
{
    EntryCall *call = static_cast<EntryCall *>(data);
    // Finding the main thread's stack means reading /proc/self/maps: only
    // when the line is kept.
    if (platform::journalling())
        platform::journal("Startup stack %zu", platform_current_stack_size());
    call->result = call->entry(call->argc, call->argv);
    return nullptr;
}

bool process_stack_suffices(unsigned long minimum)
{
    struct rlimit limit;
    if (getrlimit(RLIMIT_STACK, &limit) != 0)
        return false;
    return limit.rlim_cur == RLIM_INFINITY || limit.rlim_cur >= minimum;
}

// Runs the entry on a thread whose stack is at least minimum bytes.
bool run_on_own_stack(EntryCall &call, unsigned long minimum)
{
    long page = sysconf(_SC_PAGESIZE);
    size_t size = (minimum + page - 1) / page * page;
    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    bool ran = pthread_attr_setstacksize(&attributes, size) == 0;
    pthread_t thread;
    ran = ran && pthread_create(&thread, &attributes, run_entry, &call) == 0;
    pthread_attr_destroy(&attributes);
    if (ran)
        pthread_join(thread, nullptr);
    return ran;
}

} // namespace

void platform_install_break_handling()
{
    struct sigaction action = {};
    action.sa_handler = note_break;
    action.sa_flags = SA_RESTART;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    FILE *out = break_checking_stream(STDOUT_FILENO, isatty(STDOUT_FILENO) ? _IOLBF : _IOFBF);
    FILE *err = break_checking_stream(STDERR_FILENO, _IONBF);
    if (out != nullptr)
        stdout = out;
    if (err != nullptr)
        stderr = err;
}

size_t platform_write_all(int descriptor, const void *data, size_t size)
{
    const char *at = static_cast<const char *>(data);
    size_t done = 0;
    while (done < size) {
        ssize_t written = write(descriptor, at + done, size - done);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            break;
        done += static_cast<size_t>(written);
    }
    return done;
}

size_t platform_current_stack_size()
{
    pthread_attr_t attributes;
    size_t size = 0;
    if (pthread_getattr_np(pthread_self(), &attributes) == 0) {
        pthread_attr_getstacksize(&attributes, &size);
        pthread_attr_destroy(&attributes);
    }
    return size;
}

namespace
{

#if defined(__SANITIZE_ADDRESS__)
#define QUILLPEEK_LEAKS_CHECKED_AT_EXIT 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define QUILLPEEK_LEAKS_CHECKED_AT_EXIT 1
#endif
#endif
#ifndef QUILLPEEK_LEAKS_CHECKED_AT_EXIT
#define QUILLPEEK_LEAKS_CHECKED_AT_EXIT 0
#endif

// After main: a display connection begun early and never used is not
// waited for by the process (unless leaks are to be checked at exit, which
// needs it closed): what main wrote is flushed, and the process ends.
void settle_display(bool whole_process, int result)
{
    if (platform::display_settle(!whole_process || QUILLPEEK_LEAKS_CHECKED_AT_EXIT))
        return;
    std::fflush(nullptr);
    _exit(result);
}

} // namespace

int platform_startup(StartupEntry entry, int argc, char **argv, unsigned long minimum_stack,
                     bool whole_process)
{
    apply_environment_controls();
    DOSBase = OpenLibrary("dos.library", 37);
    if (DOSBase == nullptr)
        return RETURN_FAIL;
    if (whole_process)
        platform::display_allow_early_start();
    platform::console_open(&argc, argv);
    platform_set_arguments(argc, argv);
    platform_install_break_handling();
    EntryCall call = {entry, argc, argv, RETURN_FAIL};
    if (process_stack_suffices(minimum_stack))
        run_entry(&call);
    else if (!run_on_own_stack(call, minimum_stack))
        call.result = RETURN_FAIL;
    std::fflush(stdout);
    platform::console_close();
    CloseLibrary(DOSBase);
    settle_display(whole_process, call.result);
    return call.result;
}

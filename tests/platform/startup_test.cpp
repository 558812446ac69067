// The start-up, run in a child process of its own: the stack main gets, and
// the break.
#include <gtest/gtest.h>

#include <dlfcn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/control.h"
#include "platform/exec.h"
#include "platform/startup.h"

namespace
{

struct ChildResult {
    int exit_code = -1;
    std::string err;
};

// Runs the start-up with entry in a forked child, with a stack limit; as the
// process's own start-up when whole_process, with the child's journal then
// appended to what it wrote to standard error.
ChildResult run_startup(StartupEntry entry, rlim_t stack_limit, bool whole_process = false,
                        bool journal = false)
{
    int err_pipe[2];
    EXPECT_EQ(pipe(err_pipe), 0);
    std::string trace = "/tmp/quillpeek-startup-trace-" + std::to_string(getpid());
    pid_t pid = fork();
    if (pid == 0) {
        dup2(err_pipe[1], STDERR_FILENO);
        close(err_pipe[0]);
        struct rlimit limit = {stack_limit, stack_limit};
        setrlimit(RLIMIT_STACK, &limit);
        char name[] = "quillpeek";
        char *argv[] = {name, nullptr};
        if (journal)
            platform_trace_to(trace.c_str());
        _exit(platform_startup(entry, 1, argv, 2000000, whole_process));
    }
    close(err_pipe[1]);
    ChildResult result;
    char buffer[256];
    for (ssize_t got; (got = read(err_pipe[0], buffer, sizeof buffer)) > 0;)
        result.err.append(buffer, static_cast<size_t>(got));
    close(err_pipe[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    if (FILE *file = fopen(trace.c_str(), "r")) {
        for (size_t got; (got = fread(buffer, 1, sizeof buffer, file)) > 0;)
            result.err.append(buffer, got);
        fclose(file);
        remove(trace.c_str());
    }
    result.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
    return result;
}

// Uses about 1.6 MB of stack, more than a 1 MiB limit allows.
__attribute__((noinline)) int deep(int depth)
{
    volatile char frame[16 * 1024];
    frame[0] = static_cast<char>(depth);
    if (depth == 0)
        return frame[0];
    return deep(depth - 1) + frame[0];
}

int entry_needing_a_large_stack(int, char **)
{
    if (platform_current_stack_size() < 2000000)
        return 3;
    return deep(100) >= 0 ? 7 : 8;
}

int entry_interrupted_before_writing(int, char **)
{
    raise(SIGINT); // remembered, not fatal
    fprintf(stderr, "should not appear\n");
    return 0;
}

int entry_interrupted_without_writing(int, char **)
{
    raise(SIGINT);
    return 5;
}

// The viewing flow's libraries in its order: a picture decoded, then maybe
// a window.
int entry_opening_intuition(int, char **)
{
    CloseLibrary(OpenLibrary("datatypes.library", 0));
    struct Library *intuition = OpenLibrary("intuition.library", 0);
    fprintf(stderr, "opened %d\n", intuition != nullptr);
    CloseLibrary(intuition);
    return 4;
}

int entry_without_window(int, char **)
{
    CloseLibrary(OpenLibrary("datatypes.library", 0));
    fprintf(stderr, "no window\n");
    return 6;
}

// No picture to decode: SDL is never loaded.
int entry_without_picture(int, char **)
{
    return dlopen("libSDL2-2.0.so.0", RTLD_NOW | RTLD_NOLOAD) != nullptr ? 1 : 9;
}

// With a display named but unreachable, the start-up's early connection
// must leave no trace: main's output, return code and journal are those of
// a run that connects only when intuition.library opens; and a run that
// decodes no picture does not load SDL at all.
TEST(Startup, ConnectingEarlyToTheDisplayChangesNothingThatMainSees)
{
    const char *display = getenv("DISPLAY"), *driver = getenv("SDL_VIDEODRIVER");
    std::string saved_display = display != nullptr ? display : "",
                saved_driver = driver != nullptr ? driver : "";
    setenv("DISPLAY", ":97", 1); // no such server: the connection fails
    setenv("SDL_VIDEODRIVER", "x11", 1);
    for (StartupEntry entry : {entry_opening_intuition, entry_without_window}) {
        ChildResult late = run_startup(entry, 8 * 1024 * 1024, false, true);
        ChildResult early = run_startup(entry, 8 * 1024 * 1024, true, true);
        EXPECT_EQ(early.exit_code, late.exit_code);
        EXPECT_EQ(early.err, late.err);
    }
    EXPECT_EQ(run_startup(entry_without_picture, 8 * 1024 * 1024, true).exit_code, 9);
    ChildResult opened = run_startup(entry_opening_intuition, 8 * 1024 * 1024, true, true);
    EXPECT_NE(opened.err.find("\nSDL_InitSubSystem video: "), std::string::npos) << opened.err;
    for (auto [name, value] :
         {std::pair<const char *, std::string>{"DISPLAY", saved_display}, {"SDL_VIDEODRIVER", saved_driver}})
        value.empty() ? unsetenv(name) : setenv(name, value.c_str(), 1);
}

TEST(Startup, RunsMainOnAtLeastTheDeclaredStackEvenUnderASmallLimit)
{
    EXPECT_EQ(run_startup(entry_needing_a_large_stack, 1024 * 1024).exit_code, 7);
    EXPECT_EQ(run_startup(entry_needing_a_large_stack, 8 * 1024 * 1024).exit_code, 7);
}

TEST(Startup, ABreakIsNoticedAtTheNextWriteAndEndsWithReturnCode20)
{
    ChildResult result = run_startup(entry_interrupted_before_writing, 8 * 1024 * 1024);
    EXPECT_EQ(result.exit_code, 20);
    EXPECT_EQ(result.err, "***Break\n");
}

TEST(Startup, ABreakWithNoWriteAfterItChangesNothing)
{
    ChildResult result = run_startup(entry_interrupted_without_writing, 8 * 1024 * 1024);
    EXPECT_EQ(result.exit_code, 5);
    EXPECT_EQ(result.err, "");
}

} // namespace

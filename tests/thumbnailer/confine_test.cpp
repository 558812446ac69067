// The thumbnailer's confinement, applied in a child of the test: what it
// still allows works, what it forbids fails.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string>

#include "support.h"
#include "thumbnailer/confine.h"

namespace
{

using testing_support::TempDir;

bool can_read(const std::string &path)
{
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd >= 0)
        close(fd);
    return fd >= 0;
}

bool can_write(const std::string &path)
{
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    if (fd >= 0)
        close(fd);
    return fd >= 0;
}

bool can_connect(const std::string &socket_path)
{
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    sockaddr_un address = {};
    address.sun_family = AF_UNIX;
    snprintf(address.sun_path, sizeof address.sun_path, "%s", socket_path.c_str());
    bool connected = connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0;
    close(fd);
    return connected;
}

bool can_run(const char *program)
{
    char *const argv[] = {const_cast<char *>(program), nullptr};
    execv(program, argv); // returns only when it failed
    return false;
}

// Runs the checks in a confined child; one letter per check: y or n.
std::string confined_answers(const std::string &input, const std::string &folder, const std::string &other,
                             const std::string &socket_path)
{
    int pipe_fds[2];
    if (pipe(pipe_fds) != 0)
        return "no pipe";
    pid_t child = fork();
    if (child == 0) {
        close(pipe_fds[0]);
        int prepared = open((folder + "/prepared").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
        std::string answers;
        if (confine_process(input.c_str(), folder.c_str()) != nullptr)
            _exit(2);
        auto answer = [&answers](bool yes) { answers += yes ? 'y' : 'n'; };
        answer(can_read(input));
        answer(write(prepared, "png", 3) == 3);
        answer(rename((folder + "/prepared").c_str(), (folder + "/done").c_str()) == 0);
        answer(unlink((folder + "/done").c_str()) == 0);
        answer(can_read(other));
        answer(can_read("/etc/passwd"));
        answer(can_write(folder + "/new"));
        answer(rename(input.c_str(), (folder + "/moved").c_str()) == 0);
        answer(can_connect(socket_path));
        answer(can_run("/bin/true"));
        if (write(pipe_fds[1], answers.data(), answers.size()) < 0)
            _exit(3);
        _exit(0);
    }
    close(pipe_fds[1]);
    std::string answers;
    char buffer[64];
    for (ssize_t n; (n = read(pipe_fds[0], buffer, sizeof buffer)) > 0;)
        answers.append(buffer, static_cast<size_t>(n));
    close(pipe_fds[0]);
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? answers : "child ended " + std::to_string(status);
}

TEST(Confinement, AllowsReadingTheInputAndWritingTheOutputFolderAndNothingElse)
{
    TempDir in, out, elsewhere;
    std::string input = in.file("document.odt"), other = elsewhere.file("secret.txt");
    testing_support::write_file(input, "document");
    testing_support::write_file(other, "secret");
    std::string socket_path = elsewhere.file("listening");
    int listener = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address = {};
    address.sun_family = AF_UNIX;
    snprintf(address.sun_path, sizeof address.sun_path, "%s", socket_path.c_str());
    ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr *>(&address), sizeof address), 0);
    ASSERT_EQ(listen(listener, 1), 0);
    ASSERT_TRUE(can_connect(socket_path)); // unconfined, it can
    std::string answers = confined_answers(input, out.path(), other, socket_path);
    close(listener);
    // input read, prepared file written, renamed, removed; then the forbidden:
    // another file, /etc/passwd, a new file, moving the input, connect, exec.
    ASSERT_EQ(answers.size(), 10u) << answers;
    EXPECT_EQ(answers.substr(0, 4), "yyyy");
    if (landlock_available())
        EXPECT_EQ(answers.substr(4, 4), "nnnn");
    else
        EXPECT_EQ(answers.substr(6, 1), "n"); // seccomp alone still refuses opening for writing
    EXPECT_EQ(answers.substr(8, 2), "nn");
}

} // namespace

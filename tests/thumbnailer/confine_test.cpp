// The thumbnailer's confinement, applied in a child of the test: what it
// still allows works, what it forbids fails.
#include <gtest/gtest.h>

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "support.h"
#include "thumbnailer/confine.h"

namespace
{

bool can_open(const std::string &path, int flags)
{
    int fd = open(path.c_str(), flags | O_CLOEXEC, 0600);
    return fd >= 0 && close(fd) == 0;
}

// A Unix socket at path, listening (listen true) or connected to.
int unix_socket(const std::string &path, bool listen_there)
{
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address = {};
    address.sun_family = AF_UNIX;
    snprintf(address.sun_path, sizeof address.sun_path, "%s", path.c_str());
    const sockaddr *where = reinterpret_cast<const sockaddr *>(&address);
    bool done = fd >= 0 && (listen_there ? bind(fd, where, sizeof address) == 0 && listen(fd, 1) == 0
                                         : connect(fd, where, sizeof address) == 0);
    if (!done && fd >= 0)
        close(fd);
    return done ? fd : -1;
}

// Whether a new process could be made (it ends at once).
bool can_fork()
{
    pid_t child = fork();
    if (child == 0)
        _exit(0);
    return child > 0 && waitpid(child, nullptr, 0) == child;
}

// The leak checker of a sanitized build needs new processes, which its
// confinement therefore allows.
#if defined(__SANITIZE_ADDRESS__)
const char forked = 'y';
#else
const char forked = 'n';
#endif

// The checks, one letter each (y: it worked), made in a confined child.
std::string confined_answers(const std::string &input, const std::string &folder, const std::string &other,
                             const std::string &home_file, const std::string &socket_path)
{
    int pipe_fds[2];
    if (pipe(pipe_fds) != 0)
        return "no pipe";
    pid_t child = fork();
    if (child == 0) {
        int prepared = open((folder + "/prepared").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
        if (confine_process(input.c_str(), folder.c_str()) != nullptr)
            _exit(2);
        char *const argv[] = {const_cast<char *>("/bin/true"), nullptr};
        const bool checks[] = {
            can_open(input, O_RDONLY), write(prepared, "png", 3) == 3,
            rename((folder + "/prepared").c_str(), (folder + "/done").c_str()) == 0,
            unlink((folder + "/done").c_str()) == 0,
            // the forbidden
            can_open(other, O_RDONLY), can_open("/etc/passwd", O_RDONLY),
            rename(input.c_str(), (folder + "/moved").c_str()) == 0,
            truncate((folder + "/existing").c_str(), 0) == 0, can_open(folder + "/new", O_WRONLY | O_CREAT),
            unix_socket(socket_path, false) >= 0, execv(argv[0], argv) == 0, can_open(home_file, O_RDONLY),
            can_open(input + ".png", O_WRONLY | O_CREAT),
            // the system's public files, read only
            can_open("/etc/ld.so.cache", O_RDONLY), can_open("/etc/fonts/fonts.conf", O_RDONLY),
            can_open("/etc/fonts/fonts.conf", O_WRONLY),
            // a library loaded once confined (one this test does not link),
            // and no new process
            dlopen("libfreetype.so.6", RTLD_NOW | RTLD_LOCAL) != nullptr, can_fork()};
        std::string answers;
        for (bool yes : checks)
            answers += yes ? 'y' : 'n';
        _exit(write(pipe_fds[1], answers.data(), answers.size()) > 0 ? 0 : 3);
    }
    close(pipe_fds[1]);
    char buffer[64];
    ssize_t n = read(pipe_fds[0], buffer, sizeof buffer);
    close(pipe_fds[0]);
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 && n > 0
               ? std::string(buffer, static_cast<size_t>(n))
               : "child ended " + std::to_string(status);
}

TEST(Confinement, AllowsReadingTheInputTheSystemsPublicFilesAndWritingTheOutputFolderAndNothingElse)
{
    testing_support::TempDir in, out, elsewhere, home;
    std::string input = in.file("document.odt"), other = elsewhere.file("secret.txt");
    testing_support::write_file(input, "document");
    testing_support::write_file(other, "secret");
    testing_support::write_file(home.file(".bashrc"), "a user's file");
    testing_support::write_file(out.file("existing"), "a thumbnail");
    int listener = unix_socket(elsewhere.file("listening"), true);
    ASSERT_GE(listener, 0);
    int unconfined = unix_socket(elsewhere.file("listening"), false);
    ASSERT_GE(unconfined, 0);
    close(unconfined);
    std::string answers =
        confined_answers(input, out.path(), other, home.file(".bashrc"), elsewhere.file("listening"));
    close(listener);
    ASSERT_EQ(answers.size(), 18u) << answers;
    EXPECT_EQ(answers.substr(0, 4), "yyyy");
    // Without Landlock, seccomp alone still refuses opening for writing.
    EXPECT_EQ(answers.substr(4, 5), landlock_available() ? "nnnnn" : answers.substr(4, 4) + "n");
    EXPECT_EQ(answers.substr(9, 2), "nn");
    EXPECT_EQ(answers.substr(11, 2), landlock_available() ? "nn" : answers.substr(11, 1) + "n")
        << "home, beside";
    bool fonts = access("/etc/fonts/fonts.conf", R_OK) == 0;
    EXPECT_EQ(answers.substr(13, 3), fonts ? "yyn" : "yn" + answers.substr(15, 1)) << "public files";
    EXPECT_EQ(answers.substr(16, 2), std::string("y") + forked) << "a library, a process";
}

} // namespace

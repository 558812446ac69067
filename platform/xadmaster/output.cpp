// xadmaster.library: output files that appear whole or not at all.
//
// A member is written to an unnamed file (O_TMPFILE) in the target's folder
// and linked into place once all of it was written: a process killed at any
// moment leaves nothing behind. Where the file system has no unnamed files,
// a named temporary ".xad-*.part" is used, held under an exclusive flock
// while it is written; one that nobody holds any more and that was last
// written more than a minute ago is a dead process's and is removed before
// the next file is written into that folder.
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/control.h"
#include "platform/internal/internal.h"
#include "platform/xadmaster/xadmaster_intern.h"

namespace platform::xad
{

namespace
{

bool named_only = false; // set by the test control

const char temporary_prefix[] = ".xad-";
const char temporary_suffix[] = ".part";

bool is_temporary_name(const char *name)
{
    size_t length = std::strlen(name), prefix = sizeof temporary_prefix - 1,
           suffix = sizeof temporary_suffix - 1;
    return length > prefix + suffix && std::strncmp(name, temporary_prefix, prefix) == 0 &&
           std::strcmp(name + length - suffix, temporary_suffix) == 0;
}

// A fresh name for a temporary; false when no randomness can be had.
bool temporary_name(std::string &name)
{
    unsigned char random[6];
    if (getrandom(random, sizeof random, 0) != static_cast<ssize_t>(sizeof random))
        return false;
    char text[32];
    std::snprintf(text, sizeof text, "%s%02x%02x%02x%02x%02x%02x%s", temporary_prefix, random[0], random[1],
                  random[2], random[3], random[4], random[5], temporary_suffix);
    name = text;
    return true;
}

// Removes the named temporary if it is a dead writer's: a regular file of
// ours that nobody holds locked and that was not written to lately.
void remove_if_stale(int directory, const char *name)
{
    int fd = openat(directory, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return;
    struct stat st;
    struct timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == geteuid() &&
        now.tv_sec - st.st_mtim.tv_sec > 60 && flock(fd, LOCK_EX | LOCK_NB) == 0)
        unlinkat(directory, name, 0);
    close(fd);
}

void remove_stale_temporaries(int directory)
{
    int listing = openat(directory, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR *dir = listing >= 0 ? fdopendir(listing) : nullptr;
    if (dir == nullptr) {
        if (listing >= 0)
            close(listing);
        return;
    }
    while (struct dirent *found = readdir(dir))
        if (is_temporary_name(found->d_name))
            remove_if_stale(directory, found->d_name);
    closedir(dir);
}

// A new named temporary in directory, locked; -1 when none can be made.
int create_named(int directory, std::string &temporary)
{
    for (int attempt = 0; attempt < 64; ++attempt) {
        if (!temporary_name(temporary))
            return -1;
        int fd =
            openat(directory, temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
        if (fd >= 0) {
            flock(fd, LOCK_EX);
            return fd;
        }
        if (errno != EEXIST)
            return -1;
    }
    return -1;
}

// Gives the unnamed file the name leaf in directory; false with errno set.
bool link_unnamed(int fd, int directory, const char *leaf)
{
    char self[64];
    std::snprintf(self, sizeof self, "/proc/self/fd/%d", fd);
    if (linkat(AT_FDCWD, self, directory, leaf, AT_SYMLINK_FOLLOW) == 0)
        return true;
    if (errno != ENOENT)
        return false;
    return linkat(fd, "", directory, leaf, AT_EMPTY_PATH) == 0; // no /proc: needs the privilege
}

// Puts the written unnamed file at leaf, replacing a file there when allowed:
// linked under a temporary name first, then renamed over the target.
LONG commit_unnamed(Output &output, const char *leaf, bool overwrite)
{
    if (link_unnamed(output.fd, output.directory, leaf))
        return XADERR_OK;
    if (errno != EEXIST)
        return XADERR_OUTPUT;
    if (!overwrite)
        return XADERR_FILEEXISTS;
    flock(output.fd, LOCK_EX); // the name it is about to have is a temporary's
    for (int attempt = 0; attempt < 64; ++attempt) {
        if (!temporary_name(output.temporary))
            break;
        if (link_unnamed(output.fd, output.directory, output.temporary.c_str())) {
            if (renameat(output.directory, output.temporary.c_str(), output.directory, leaf) != 0)
                return XADERR_OUTPUT; // output_abandon removes the temporary name
            output.temporary.clear();
            return XADERR_OK;
        }
        if (errno != EEXIST)
            break;
    }
    output.temporary.clear();
    return XADERR_OUTPUT;
}

} // namespace

// The directory an output file goes into, opened without following links
// below the temporary directory, each of those levels the user's own.
// -1 when it cannot be had safely; leaf receives the file's own name.
int open_output_directory(const char *name, std::string &leaf)
{
    std::string host = platform::host_path(name);
    bool assigned = (name[0] == 't' || name[0] == 'T') && name[1] == ':';
    std::string below = assigned ? std::string(name + 2) : host;
    size_t slash = below.rfind('/');
    leaf = slash == std::string::npos ? below : below.substr(slash + 1);
    std::string parents = slash == std::string::npos ? std::string() : below.substr(0, slash);
    if (leaf.empty() || leaf == "." || leaf == "..")
        return -1;
    if (!assigned) { // a path of the caller's own: its directories as named
        std::string directory = slash == std::string::npos ? "." : slash == 0 ? "/" : parents;
        return open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    }
    std::string temporary_directory = host.substr(0, host.size() - below.size());
    int fd = open(temporary_directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    for (size_t start = 0; fd >= 0 && start < parents.size();) {
        size_t end = parents.find('/', start);
        if (end == std::string::npos)
            end = parents.size();
        std::string part = parents.substr(start, end - start);
        start = end + 1;
        if (part.empty() || part == ".")
            continue;
        int next =
            part == ".." ? -1 : openat(fd, part.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        struct stat st;
        if (next >= 0 && (fstat(next, &st) != 0 || st.st_uid != geteuid())) {
            close(next);
            next = -1;
        }
        close(fd);
        fd = next;
    }
    return fd;
}

bool output_begin(int directory, Output &output)
{
    output.directory = directory;
    output.temporary.clear();
    output.fd = named_only ? -1 : openat(directory, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0644);
    if (output.fd >= 0)
        return true;
    remove_stale_temporaries(directory);
    output.fd = create_named(directory, output.temporary);
    return output.fd >= 0;
}

LONG output_commit(Output &output, const char *leaf, bool overwrite)
{
    if (output.temporary.empty())
        return commit_unnamed(output, leaf, overwrite);
    unsigned flags = overwrite ? 0 : RENAME_NOREPLACE;
    if (renameat2(output.directory, output.temporary.c_str(), output.directory, leaf, flags) != 0)
        return errno == EEXIST ? XADERR_FILEEXISTS : XADERR_OUTPUT;
    output.temporary.clear();
    return XADERR_OK;
}

Output::~Output()
{
    output_abandon(*this);
}

void output_abandon(Output &output)
{
    if (!output.temporary.empty())
        unlinkat(output.directory, output.temporary.c_str(), 0);
    output.temporary.clear();
    if (output.fd >= 0)
        close(output.fd);
    output.fd = -1;
}

} // namespace platform::xad

void platform_xad_named_temporaries(bool named)
{
    platform::xad::named_only = named;
}

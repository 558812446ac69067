// The thumbnailer's confinement: Landlock for files, seccomp for the rest.
#include "thumbnailer/confine.h"

#include <fcntl.h>
#include <linux/filter.h>
#include <linux/landlock.h>
#include <linux/seccomp.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>

#include "confine_filter.inc"

namespace
{

// Landlock's rights by the ABI that brought them (1: the first thirteen,
// 2: REFER, 3: TRUNCATE, 5: IOCTL_DEV); the headers of older systems lack
// the later ones.
const uint64_t fs_abi1 = (1ull << 13) - 1;
const uint64_t fs_refer = 1ull << 13;
const uint64_t fs_truncate = 1ull << 14;
const uint64_t fs_ioctl_dev = 1ull << 15;
const uint64_t net_bind_tcp = 1ull << 0, net_connect_tcp = 1ull << 1;     // ABI 4
const uint64_t scope_abstract_unix = 1ull << 0, scope_signal = 1ull << 1; // ABI 6

// The rights that Landlock lets a rule give on a file rather than a folder.
const uint64_t file_rights = LANDLOCK_ACCESS_FS_EXECUTE | LANDLOCK_ACCESS_FS_WRITE_FILE |
                             LANDLOCK_ACCESS_FS_READ_FILE | fs_truncate | fs_ioctl_dev;

struct RulesetAttr {
    uint64_t handled_access_fs;
    uint64_t handled_access_net;
    uint64_t scoped;
};

struct PathBeneathAttr {
    uint64_t allowed_access;
    int32_t parent_fd;
} __attribute__((packed));

int landlock_abi()
{
    long abi = syscall(SYS_landlock_create_ruleset, nullptr, 0, LANDLOCK_CREATE_RULESET_VERSION);
    return abi < 0 ? 0 : static_cast<int>(abi);
}

uint64_t handled_fs(int abi)
{
    uint64_t rights = fs_abi1;
    if (abi >= 2)
        rights |= fs_refer;
    if (abi >= 3)
        rights |= fs_truncate;
    if (abi >= 5)
        rights |= fs_ioctl_dev;
    return rights;
}

// Grants rights beneath path (a file or a folder); a path that cannot be
// opened gets nothing, which only makes the confinement tighter.
bool grant(int ruleset, const char *path, uint64_t rights)
{
    if (path == nullptr)
        return true;
    int fd = open(path, O_PATH | O_CLOEXEC);
    if (fd < 0)
        return true;
    struct stat st;
    if (fstat(fd, &st) == 0 && !S_ISDIR(st.st_mode))
        rights &= file_rights; // Landlock refuses a folder's rights on a file
    PathBeneathAttr rule = {rights, fd};
    long done = syscall(SYS_landlock_add_rule, ruleset, LANDLOCK_RULE_PATH_BENEATH, &rule, 0);
    close(fd);
    return done == 0;
}

// The system's public files that a confined process may still read: the
// shared libraries, so that a library is loaded only when a document needs
// it, and the fonts with fontconfig's configuration and cache, for a sketch
// of a document that carries no preview. They hold nothing of the user's;
// none of them is writable by the process, nor anything under the home
// folder. A path missing on this system is left out.
const char *const public_files[] = {
    "/lib",
    "/lib64",
    "/usr/lib",
    "/usr/lib64",
    "/usr/local/lib",
    "/etc/ld.so.cache",
    "/etc/fonts",
    "/usr/share/fonts",
    "/usr/local/share/fonts",
    "/usr/share/fontconfig",
    "/var/cache/fontconfig",
};

bool grant_public_files(int ruleset)
{
    bool granted = true;
    for (const char *path : public_files)
        granted = granted && grant(ruleset, path, LANDLOCK_ACCESS_FS_READ_FILE | LANDLOCK_ACCESS_FS_READ_DIR);
    return granted;
}

const char *confine_files(const char *input, const char *folder)
{
    int abi = landlock_abi();
    if (abi == 0)
        return nullptr; // not offered by this kernel: seccomp alone
    RulesetAttr attr = {handled_fs(abi), 0, 0};
    size_t size = 8;
    if (abi >= 4) {
        attr.handled_access_net = net_bind_tcp | net_connect_tcp;
        size = 16;
    }
    if (abi >= 6) {
        attr.scoped = scope_abstract_unix | scope_signal;
        size = 24;
    }
    int ruleset = static_cast<int>(syscall(SYS_landlock_create_ruleset, &attr, size, 0));
    if (ruleset < 0)
        return "its file rules cannot be made";
    // Files the process opened before are written through their descriptors,
    // which no rule governs: the folder needs only renaming into and removing.
    uint64_t placing = LANDLOCK_ACCESS_FS_MAKE_REG | LANDLOCK_ACCESS_FS_REMOVE_FILE;
    bool granted = grant(ruleset, input, LANDLOCK_ACCESS_FS_READ_FILE) && grant(ruleset, folder, placing) &&
                   grant_public_files(ruleset);
#if defined(__SANITIZE_ADDRESS__)
    // The sanitizers read the process's own maps when it ends.
    granted = granted && grant(ruleset, "/proc", LANDLOCK_ACCESS_FS_READ_FILE | LANDLOCK_ACCESS_FS_READ_DIR);
#endif
    bool restricted = granted && syscall(SYS_landlock_restrict_self, ruleset, 0) == 0;
    close(ruleset);
    return restricted ? nullptr : "its file rules cannot be applied";
}

const char *confine_calls()
{
    // Built with libseccomp when the program was (confine_filter.cpp):
    // compiling the rules at every start took more time than the rest of
    // confining.
    struct sock_fprog program = {static_cast<unsigned short>(sizeof call_filter / sizeof call_filter[0]),
                                 const_cast<struct sock_filter *>(call_filter)};
    // Every thread of the process, should the start-up have made one.
    long done = syscall(SYS_seccomp, SECCOMP_SET_MODE_FILTER, SECCOMP_FILTER_FLAG_TSYNC, &program);
    return done == 0 ? nullptr : "its system call filter cannot be applied";
}

} // namespace

bool landlock_available()
{
    return landlock_abi() > 0;
}

const char *confine_process(const char *input, const char *folder)
{
    if (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0)
        return "it cannot give up gaining privileges";
    const char *problem = confine_files(input, folder);
    return problem != nullptr ? problem : confine_calls();
}

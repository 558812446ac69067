// Builds the thumbnailer's system call filter with libseccomp and writes it
// as a C++ array of BPF instructions (confine_filter.inc), which
// confine.cpp loads as it stands: the rules are fixed, and compiling them
// at every start took more of a run's time than the rest of confining.
// Built and run with the thumbnailer's own flags, so that a sanitized
// build gets the sanitized rules.
//
// usage: quillpeek-confine-filter OUTPUT
#include <fcntl.h>
#include <linux/filter.h>
#include <sched.h>
#include <seccomp.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string>

namespace
{

// The calls refused with EPERM, whatever their arguments.
const int refused_calls[] = {
    SCMP_SYS(execve),
    SCMP_SYS(execveat),
    SCMP_SYS(fork),
    SCMP_SYS(vfork),
    SCMP_SYS(socket),
    SCMP_SYS(socketpair),
    SCMP_SYS(connect),
    SCMP_SYS(bind),
    SCMP_SYS(listen),
    SCMP_SYS(accept),
    SCMP_SYS(accept4),
    SCMP_SYS(creat),
    SCMP_SYS(link),
    SCMP_SYS(linkat),
    SCMP_SYS(symlink),
    SCMP_SYS(symlinkat),
    SCMP_SYS(mknod),
    SCMP_SYS(mknodat),
    SCMP_SYS(mount),
    SCMP_SYS(umount2),
    SCMP_SYS(chroot),
    SCMP_SYS(pivot_root),
    SCMP_SYS(unshare),
    SCMP_SYS(setns),
    SCMP_SYS(bpf),
    SCMP_SYS(perf_event_open),
    SCMP_SYS(keyctl),
    SCMP_SYS(add_key),
    SCMP_SYS(request_key),
    SCMP_SYS(io_uring_setup),
    SCMP_SYS(userfaultfd),
    SCMP_SYS(init_module),
    SCMP_SYS(finit_module),
    SCMP_SYS(kexec_load),
    SCMP_SYS(process_vm_writev),
#if !defined(__SANITIZE_ADDRESS__)
    // The leak checker stops the process's threads through a traced clone
    // of its own when the process ends; sanitized builds leave it those two.
    SCMP_SYS(ptrace),
    SCMP_SYS(process_vm_readv),
#endif
};

bool refuse_writing_opens(scmp_filter_ctx filter)
{
    const scmp_datum_t flags[] = {O_WRONLY, O_RDWR, O_CREAT, O_TRUNC};
    for (scmp_datum_t flag : flags) {
        if (seccomp_rule_add(filter, SCMP_ACT_ERRNO(EPERM), SCMP_SYS(open), 1,
                             SCMP_A1(SCMP_CMP_MASKED_EQ, flag, flag)) != 0 ||
            seccomp_rule_add(filter, SCMP_ACT_ERRNO(EPERM), SCMP_SYS(openat), 1,
                             SCMP_A2(SCMP_CMP_MASKED_EQ, flag, flag)) != 0)
            return false;
    }
    // openat2 and clone3 pass their flags in memory, out of a filter's
    // sight: ENOSYS makes the C library take openat and clone instead.
    return seccomp_rule_add(filter, SCMP_ACT_ERRNO(ENOSYS), SCMP_SYS(openat2), 0) == 0 &&
           seccomp_rule_add(filter, SCMP_ACT_ERRNO(ENOSYS), SCMP_SYS(clone3), 0) == 0;
}

bool refuse_processes(scmp_filter_ctx filter)
{
#if defined(__SANITIZE_ADDRESS__)
    (void)filter;
    return true;
#else
    // A thread shares the process; anything else would be a new process.
    return seccomp_rule_add(filter, SCMP_ACT_ERRNO(EPERM), SCMP_SYS(clone), 1,
                            SCMP_A0(SCMP_CMP_MASKED_EQ, CLONE_THREAD, 0)) == 0;
#endif
}

// The rules as BPF instructions; empty when they cannot be built.
std::string compiled()
{
    std::string program;
    scmp_filter_ctx filter = seccomp_init(SCMP_ACT_ALLOW);
    if (filter == nullptr)
        return program;
    // Rules sorted into a tree rather than a list: the kernel, which tries
    // the filter on every call number when it is loaded, then takes a third
    // less time over it.
    bool made = seccomp_attr_set(filter, SCMP_FLTATR_CTL_OPTIMIZE, 2) == 0;
    for (int call : refused_calls)
        made = made && seccomp_rule_add(filter, SCMP_ACT_ERRNO(EPERM), call, 0) == 0;
    made = made && refuse_writing_opens(filter) && refuse_processes(filter);
    int fd = memfd_create("filter", MFD_CLOEXEC);
    if (made && fd >= 0 && seccomp_export_bpf(filter, fd) == 0 && lseek(fd, 0, SEEK_SET) == 0) {
        char block[4096];
        for (ssize_t got; (got = read(fd, block, sizeof block)) > 0;)
            program.append(block, static_cast<size_t>(got));
    }
    if (fd >= 0)
        close(fd);
    seccomp_release(filter);
    return program.size() % sizeof(struct sock_filter) == 0 ? program : std::string();
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 2) {
        fprintf(stderr, "usage: %s OUTPUT\n", argv[0]);
        return 2;
    }
    std::string program = compiled();
    if (program.empty()) {
        fprintf(stderr, "%s: the system call filter cannot be built\n", argv[0]);
        return 1;
    }
    FILE *out = fopen(argv[1], "w");
    if (out == nullptr) {
        perror(argv[1]);
        return 1;
    }
    fprintf(out, "// Made by quillpeek-confine-filter; not to be edited.\n"
                 "static const struct sock_filter call_filter[] = {\n");
    for (size_t at = 0; at < program.size(); at += sizeof(struct sock_filter)) {
        struct sock_filter op;
        program.copy(reinterpret_cast<char *>(&op), sizeof op, at);
        fprintf(out, "    {0x%04x, %u, %u, 0x%08x},\n", op.code, op.jt, op.jf, op.k);
    }
    fprintf(out, "};\n");
    return fclose(out) == 0 ? 0 : 1;
}

#include "support.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <archive.h>
#include <archive_entry.h>

#include <cctype>
#include <chrono>
#include <cstdlib>
#include <clocale>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

extern char **environ;

namespace testing_support
{

std::string source_dir()
{
    return QUILLPEEK_SOURCE_DIR;
}
std::string shared_dir()
{
    return QUILLPEEK_SHARED_DIR;
}

std::string corpus_dir()
{
    return std::string(QUILLPEEK_SOURCE_DIR) + "/tests/data/corpus";
}

const char *const realcorpus_missing = "no real-world corpus: set QUILLPEEK_REALCORPUS to a folder with "
                                       "INDEX.tsv (or put it at ../shared/realcorpus)";

std::string realcorpus_dir()
{
    const char *named = std::getenv("QUILLPEEK_REALCORPUS");
    std::string dir = named != nullptr && *named != '\0' ? named : QUILLPEEK_SHARED_DIR "/realcorpus";
    return std::filesystem::exists(dir + "/INDEX.tsv") ? dir : std::string();
}

std::vector<std::map<std::string, std::string>> read_index(const std::string &path)
{
    std::vector<std::map<std::string, std::string>> rows;
    std::ifstream in(path);
    std::string line;
    std::vector<std::string> columns;
    while (std::getline(in, line)) {
        std::vector<std::string> fields;
        std::stringstream split(line);
        std::string field;
        while (std::getline(split, field, '\t'))
            fields.push_back(field);
        if (columns.empty()) {
            columns = fields;
            continue;
        }
        std::map<std::string, std::string> row;
        for (size_t i = 0; i < columns.size(); ++i)
            row[columns[i]] = i < fields.size() ? fields[i] : "";
        rows.push_back(row);
    }
    return rows;
}
std::string binary_path()
{
    return QUILLPEEK_BINARY;
}

ProcessResult install_into(const std::string &destdir)
{
    ProcessOptions options;
    options.env["DESTDIR"] = destdir;
    options.timeout_seconds = 120;
    return run_process({QUILLPEEK_CMAKE, "--install", QUILLPEEK_BUILD_DIR, "--prefix", "/usr"}, options);
}

std::string read_file(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream data;
    data << in.rdbuf();
    return data.str();
}

void write_file(const std::string &path, const std::string &data)
{
    std::ofstream out(path, std::ios::binary);
    out << data;
    if (!out)
        throw std::runtime_error("cannot write " + path);
}

std::vector<std::string> environment_with(const std::map<std::string, std::string> &changes)
{
    std::vector<std::string> result;
    for (char **entry = environ; *entry != nullptr; ++entry) {
        std::string text = *entry;
        std::string key = text.substr(0, text.find('='));
        if (changes.count(key) == 0)
            result.push_back(text);
    }
    for (const auto &change : changes)
        if (!change.second.empty())
            result.push_back(change.first + "=" + change.second);
    return result;
}

std::vector<char *> exec_pointers(std::vector<std::string> &texts)
{
    std::vector<char *> result;
    for (std::string &text : texts)
        result.push_back(text.data());
    result.push_back(nullptr);
    return result;
}

TempDir::TempDir()
{
    const char *base = std::getenv("TMPDIR");
    std::string pattern =
        std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/quillpeek-test-XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    if (mkdtemp(name.data()) == nullptr)
        throw std::runtime_error("mkdtemp failed");
    path_ = name.data();
}

TempDir::~TempDir()
{
    std::error_code ignored;
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all, ignored);
    std::filesystem::remove_all(path_, ignored);
}

namespace
{

// Reads both pipes until the child has closed them or the time is up.
void collect(int out_fd, int err_fd, ProcessResult &result, pid_t pid, const ProcessOptions &options)
{
    auto start = std::chrono::steady_clock::now();
    bool signalled = false;
    fcntl(out_fd, F_SETFL, O_NONBLOCK);
    fcntl(err_fd, F_SETFL, O_NONBLOCK);
    bool out_open = true, err_open = true;
    char buffer[65536];
    while (out_open || err_open) {
        double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (options.signal_after != 0 && !signalled && elapsed >= options.signal_after_seconds) {
            kill(pid, options.signal_after);
            signalled = true;
        }
        if (elapsed > options.timeout_seconds) {
            result.timed_out = true;
            kill(pid, SIGKILL);
            break;
        }
        bool any = false;
        for (int which = 0; which < 2; ++which) {
            int fd = which == 0 ? out_fd : err_fd;
            bool &open = which == 0 ? out_open : err_open;
            std::string &sink = which == 0 ? result.out : result.err;
            if (!open)
                continue;
            ssize_t got = read(fd, buffer, sizeof buffer);
            if (got > 0) {
                sink.append(buffer, static_cast<size_t>(got));
                any = true;
            } else if (got == 0) {
                open = false;
            }
        }
        if (!any)
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

} // namespace

static ProcessResult spawn(const std::vector<std::string> &argv, const ProcessOptions &options)
{
    int out_pipe[2], err_pipe[2], in_pipe[2];
    if (pipe(out_pipe) != 0 || pipe(err_pipe) != 0 || pipe(in_pipe) != 0)
        throw std::runtime_error("pipe failed");
    pid_t pid = fork();
    if (pid < 0)
        throw std::runtime_error("fork failed");
    if (pid == 0) {
        dup2(in_pipe[0], 0);
        dup2(out_pipe[1], 1);
        dup2(err_pipe[1], 2);
        for (int fd : {in_pipe[0], in_pipe[1], out_pipe[0], out_pipe[1], err_pipe[0], err_pipe[1]})
            close(fd);
        if (options.stack_limit_bytes > 0) {
            struct rlimit limit = {static_cast<rlim_t>(options.stack_limit_bytes),
                                   static_cast<rlim_t>(options.stack_limit_bytes)};
            setrlimit(RLIMIT_STACK, &limit);
        }
        if (options.as_nobody && geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0))
            _exit(126);
        std::vector<std::string> args = argv;
        std::vector<std::string> env = environment_with(options.env);
        execve(args[0].c_str(), exec_pointers(args).data(), exec_pointers(env).data());
        _exit(127);
    }
    close(in_pipe[0]);
    close(out_pipe[1]);
    close(err_pipe[1]);
    if (!options.input.empty()) {
        ssize_t ignored = write(in_pipe[1], options.input.data(), options.input.size());
        (void)ignored;
    }
    close(in_pipe[1]);
    ProcessResult result;
    collect(out_pipe[0], err_pipe[0], result, pid, options);
    close(out_pipe[0]);
    close(err_pipe[0]);
    int status = 0;
    struct rusage usage = {};
    wait4(pid, &status, 0, &usage);
    result.peak_rss_kib = usage.ru_maxrss;
    result.cpu_seconds = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    if (WIFEXITED(status))
        result.exit_code = WEXITSTATUS(status);
    else if (WIFSIGNALED(status))
        result.signal = WTERMSIG(status);
    return result;
}

namespace
{

// The command itself, or the command under /usr/bin/time, which reports the
// program's own peak memory (a child forked from this process would count
// this process's pages as well).
std::vector<std::string> measured(const std::vector<std::string> &argv, const std::string &report)
{
    std::vector<std::string> command = {"/usr/bin/time", "-f", "%M", "-o", report};
    command.insert(command.end(), argv.begin(), argv.end());
    return command;
}

void read_report(const std::string &report, ProcessResult &result)
{
    std::stringstream lines(read_file(report));
    for (std::string line; std::getline(lines, line);) {
        const std::string killed = "Command terminated by signal ";
        if (line.rfind(killed, 0) == 0) {
            result.signal = std::stoi(line.substr(killed.size()));
            result.exit_code = -1;
        } else if (!line.empty() && std::isdigit(static_cast<unsigned char>(line[0]))) {
            result.peak_rss_kib = std::stol(line);
        }
    }
}

} // namespace

ProcessResult run_process(const std::vector<std::string> &argv, const ProcessOptions &options)
{
    bool measure = options.signal_after == 0 && access("/usr/bin/time", X_OK) == 0;
    TempDir scratch;
    std::string report = scratch.file("peak");
    if (measure) {
        chmod(scratch.path().c_str(), 0777);
        write_file(report, "");
        chmod(report.c_str(), 0666);
    }
    ProcessResult result = spawn(measure ? measured(argv, report) : argv, options);
    if (measure)
        read_report(report, result);
    return result;
}

ProcessResult run_quillpeek(const std::vector<std::string> &arguments, const ProcessOptions &options)
{
    std::vector<std::string> argv = {binary_path()};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    return run_process(argv, options);
}

namespace
{

void check(int status, struct archive *a, const char *what)
{
    if (status < ARCHIVE_WARN)
        throw std::runtime_error(std::string(what) + ": " +
                                 (archive_error_string(a) ? archive_error_string(a) : "?"));
}

void set_format(struct archive *a, const std::string &format, bool streamed)
{
    if (format == "zip" || format == "zip-stored") {
        check(archive_write_set_format_zip(a), a, "zip");
        if (format == "zip-stored")
            check(archive_write_set_option(a, "zip", "compression", "store"), a, "store");
        if (!streamed)
            check(archive_write_set_option(a, "zip", "zip64", nullptr), a, "zip64");
    } else if (format == "7z") {
        check(archive_write_set_format_7zip(a), a, "7z");
    } else if (format == "tar" || format == "tar.gz" || format == "tar.xz") {
        check(archive_write_set_format_pax_restricted(a), a, "tar");
        if (format == "tar.gz")
            check(archive_write_add_filter_gzip(a), a, "gzip");
        if (format == "tar.xz")
            check(archive_write_add_filter_xz(a), a, "xz");
    } else if (format == "cpio") {
        check(archive_write_set_format_cpio_newc(a), a, "cpio");
    } else if (format == "iso") {
        check(archive_write_set_format_iso9660(a), a, "iso");
    } else {
        throw std::runtime_error("unknown format " + format);
    }
}

} // namespace

Member regular(const std::string &name, const std::string &data)
{
    Member member;
    member.name = name;
    member.data = data;
    return member;
}

Member directory(const std::string &name)
{
    Member member = regular(name, "");
    member.kind = Member::Directory;
    return member;
}

Member symlink_to(const std::string &name, const std::string &target)
{
    Member member = regular(name, "");
    member.kind = Member::Symlink;
    member.link_target = target;
    return member;
}

void write_archive(const std::string &path, const std::string &format, const std::vector<Member> &members,
                   bool streamed)
{
    struct archive *a = archive_write_new();
    set_format(a, format, streamed);
    bool enciphered = false;
    for (const Member &member : members)
        enciphered = enciphered || !member.passphrase.empty();
    if (enciphered) {
        check(archive_write_set_options(a, "zip:encryption=zipcrypt"), a, "encryption");
        check(archive_write_set_passphrase(a, members.front().passphrase.c_str()), a, "passphrase");
    }
    int fd = -1;
    if (streamed) {
        // Data descriptors: libarchive writes them when it cannot seek back.
        fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        check(archive_write_open_fd(a, fd), a, "open");
    } else {
        check(archive_write_open_filename(a, path.c_str()), a, "open");
    }
    for (const Member &member : members) {
        struct archive_entry *entry = archive_entry_new();
        archive_entry_set_pathname(entry, member.name.c_str());
        archive_entry_set_mtime(entry, 1700000000, 0);
        if (member.kind == Member::Directory) {
            archive_entry_set_filetype(entry, AE_IFDIR);
            archive_entry_set_perm(entry, 0755);
        } else if (member.kind == Member::Symlink) {
            archive_entry_set_filetype(entry, AE_IFLNK);
            archive_entry_set_perm(entry, 0777);
            archive_entry_set_symlink(entry, member.link_target.c_str());
        } else {
            archive_entry_set_filetype(entry, AE_IFREG);
            archive_entry_set_perm(entry, 0644);
            if (!streamed)
                archive_entry_set_size(entry, static_cast<la_int64_t>(member.data.size()));
        }
        check(archive_write_header(a, entry), a, "header");
        if (member.kind == Member::File && !member.data.empty())
            archive_write_data(a, member.data.data(), member.data.size());
        archive_entry_free(entry);
    }
    check(archive_write_close(a), a, "close");
    archive_write_free(a);
    if (fd >= 0)
        close(fd);
}

void write_archive_utf8(const std::string &path, const std::string &format,
                        const std::vector<Member> &members)
{
    locale_t utf8 = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(0));
    if (utf8 == static_cast<locale_t>(0))
        throw std::runtime_error("no C.UTF-8 locale");
    locale_t before = uselocale(utf8);
    try {
        write_archive(path, format, members);
    } catch (...) {
        uselocale(before);
        freelocale(utf8);
        throw;
    }
    uselocale(before);
    freelocale(utf8);
}

} // namespace testing_support

// Helpers shared by the tests: where things are, temporary folders, child
// processes, and archives and pictures the tests write themselves.
#ifndef QUILLPEEK_TESTS_SUPPORT_H
#define QUILLPEEK_TESTS_SUPPORT_H

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "testkit.h"

namespace testing_support
{

std::string source_dir();
std::string binary_path(); // build/quillpeek (of this build)
std::string shared_dir();  // ../shared beside the checkout, which may be absent

// The project's own five office documents (tests/data/corpus).
std::string corpus_dir();
// The optional corpus of real-world documents with its INDEX.tsv: the folder
// $QUILLPEEK_REALCORPUS names, else ../shared/realcorpus beside the checkout
// when it is there; empty when there is none.
std::string realcorpus_dir();
extern const char *const realcorpus_missing; // the line a skipped test gives
// The rows of a tab-separated index whose first line names its columns
// (realcorpus/INDEX.tsv), each a map from column to field.
std::vector<std::map<std::string, std::string>> read_index(const std::string &path);

std::string read_file(const std::string &path);
void write_file(const std::string &path, const std::string &data);

// A fresh folder under $TMPDIR or /tmp, removed with everything in it.
class TempDir
{
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;
    const std::string &path() const { return path_; }
    std::string file(const std::string &name) const { return path_ + "/" + name; }

  private:
    std::string path_;
};

// The sanitizer build, whose shadow memory, quarantine and slower code need
// more room and time than the budgets a plain build is held to.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool sanitized = true;
#else
constexpr bool sanitized = false;
#endif
// A child's memory ceiling: kib in a plain build, 600 MiB under the sanitizers.
constexpr long memory_ceiling_kib(long kib)
{
    return sanitized ? 600 * 1024 : kib;
}

// What a child process did.
struct ProcessResult {
    int exit_code = -1; // -1 when it was killed by a signal
    int signal = 0;
    std::string out;
    std::string err;
    long peak_rss_kib = 0;  // the program's own peak resident set size (by /usr/bin/time)
    double cpu_seconds = 0; // user and system time of the child and what it waited for
    bool timed_out = false;
};

struct ProcessOptions {
    std::map<std::string, std::string> env; // set in the child (empty value: unset)
    std::string input;                      // written to its standard input
    double timeout_seconds = 60;
    long stack_limit_bytes = 0; // RLIMIT_STACK for the child when set
    bool as_nobody = false;     // drop to the user nobody first (when root)
    // Sent to the child once it has been running this long (0: never).
    int signal_after = 0;
    double signal_after_seconds = 0;
};

// This process's environment with these changes (an empty value unsets).
std::vector<std::string> environment_with(const std::map<std::string, std::string> &changes);
// The texts as a null-terminated vector for execve.
std::vector<char *> exec_pointers(std::vector<std::string> &texts);

ProcessResult run_process(const std::vector<std::string> &argv, const ProcessOptions &options = {});

// Runs build/quillpeek with these arguments.
ProcessResult run_quillpeek(const std::vector<std::string> &arguments, const ProcessOptions &options = {});

// Installs this build under destdir with the prefix /usr, as a package
// does (cmake --install with DESTDIR); returns what cmake said.
ProcessResult install_into(const std::string &destdir);

// One member of an archive written by write_archive.
struct Member {
    std::string name;
    std::string data;
    enum Kind { File, Directory, Symlink } kind = File;
    std::string link_target;
    std::string passphrase; // enciphered (zip) when set
};

// Members to write.
Member regular(const std::string &name, const std::string &data);
Member directory(const std::string &name);
Member symlink_to(const std::string &name, const std::string &target);

// Writes an archive with libarchive. format: "zip", "zip-stored", "7z",
// "tar", "tar.gz", "tar.xz", "cpio", "iso"; for zip, data descriptors when
// streamed is true.
void write_archive(const std::string &path, const std::string &format, const std::vector<Member> &members,
                   bool streamed = false);

// write_archive as a desktop's programs write: names taken as UTF-8 and
// marked so (the zip's UTF-8 flag, pax's path records).
void write_archive_utf8(const std::string &path, const std::string &format,
                        const std::vector<Member> &members);

// Pictures and bytes, as the kit has them.
using testkit::crc32;
using testkit::encode_png;
using testkit::noise;
using testkit::test_pattern;

} // namespace testing_support

// Skips the running test, with one line saying how to enable it, when there
// is no real-world corpus.
#define REQUIRE_REALCORPUS()                                                                                 \
    do {                                                                                                     \
        if (testing_support::realcorpus_dir().empty())                                                       \
            GTEST_SKIP() << testing_support::realcorpus_missing;                                             \
    } while (0)

#endif

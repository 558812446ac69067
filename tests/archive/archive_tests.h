// Helpers of the archive tests: archives written here and patched by hand,
// and the platform's xadmaster.library driven directly.
#ifndef QUILLPEEK_TESTS_ARCHIVE_TESTS_H
#define QUILLPEEK_TESTS_ARCHIVE_TESTS_H

#include <cstdint>
#include <string>
#include <vector>

#include "flow/libraries.h"
#include "support.h"

namespace archive_tests
{

using testing_support::Member;

using testing_support::directory;
using testing_support::regular;
using testing_support::symlink_to;

// Bytes that do not compress, reproducible from the seed.
using testkit::noise;

// Sets the file's modification time this many seconds into the past, so that
// the library may remember its listing.
void age_file(const std::string &path, int seconds);

// Offsets of a zip's headers for the member of this name: its local header
// and its central directory record (-1 when absent).
struct ZipHeaders {
    long local = -1;
    long central = -1;
};
ZipHeaders find_zip_headers(const std::string &zip, const std::string &name);

void put_le32(std::string &data, size_t offset, uint32_t value);

// One member as the library listed it.
struct Listed {
    uint32_t number;
    std::string name;
    uint32_t size;
    uint32_t flags;
};

// xadmaster.library opened for one test, an archive info allocated, and the
// archive listed; everything released on destruction. Must live inside a
// PlatformTest.
class OpenArchive
{
  public:
    explicit OpenArchive(const std::string &path, const char *password = nullptr);
    ~OpenArchive();
    OpenArchive(const OpenArchive &) = delete;
    OpenArchive &operator=(const OpenArchive &) = delete;

    LONG info_result() const { return info_result_; }
    std::vector<Listed> members() const;
    std::vector<std::string> names() const; // of the members, in listing order
    // Extracts into memory of room bytes (with guard bytes after it, checked).
    LONG to_memory(uint32_t number, size_t room, std::string &out, size_t request = SIZE_MAX);
    // The member's bytes extracted into room bytes, or "error N" when the
    // extraction gives error code N.
    std::string extracted(uint32_t number, size_t room);
    LONG to_file(uint32_t number, const std::string &name, bool overwrite);

  private:
    struct xadArchiveInfo *ai_ = nullptr;
    LONG info_result_ = -1;
};

} // namespace archive_tests

#endif

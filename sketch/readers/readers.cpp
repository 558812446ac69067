// sketch_read_document: which reader a document is for. An OpenDocument or
// 1.x package has a content.xml; an Office Open XML package has its
// relationships part. An encrypted Office Open XML document is no zip at
// all but a compound file holding the enciphered package.
#include "sketch/readers/readers.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "platform/limits.h"
#include "sketch/readers/libxml.h"
#include "sketch/readers/readers_intern.h"

namespace
{

} // namespace

// A compound file that holds an enciphered package: its signature, and the
// name of the stream that holds the package, in UTF-16, within its first
// blocks.
bool sketch_enciphered_package(const char *path)
{
    int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    std::string head(1 << 16, '\0');
    ssize_t got = pread(fd, &head[0], head.size(), 0);
    close(fd);
    if (got < 8 || memcmp(head.data(), "\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8) != 0)
        return false;
    head.resize(static_cast<size_t>(got));
    const char name[] = "E\0n\0c\0r\0y\0p\0t\0e\0d\0P\0a\0c\0k\0a\0g\0e\0";
    return head.find(std::string(name, sizeof name - 1)) != std::string::npos;
}

namespace
{

char problem_text[240];

// A reason of the archive routines ("the archive is cut short") as what
// the document is.
const char *cannot_be_sketched(const char *why)
{
    snprintf(problem_text, sizeof problem_text, "cannot be sketched: %s", why);
    return problem_text;
}

} // namespace

const char *sketch_read_document(const char *path, SketchPage *page)
{
    using namespace sketch_readers;
    *page = SketchPage();
    if (!sketch_libxml_load())
        return "cannot be sketched: libxml2.so.2 cannot be loaded";
    const char *problem;
    // The first bytes of content.xml: most pages are full long before a
    // large part ends, and unpacking the whole of one took longer than the
    // rest of the sketch.
    Part content = take_part(path, "content.xml", platform::limits::sketch_part_first_bytes);
    if (content.present()) {
        problem = read_odf(path, std::move(content), page);
    } else if (content.outcome == Part::Failed && content.problem != nullptr &&
               strcmp(content.problem, "cannot be read as an archive") != 0) {
        problem = cannot_be_sketched(content.problem);
    } else if (content.outcome == Part::Failed) {
        problem = sketch_enciphered_package(path) ? "is encrypted (the document is protected by a password)"
                                                  : content.problem;
    } else {
        problem = read_ooxml(path, page);
    }
    if (problem != nullptr)
        *page = SketchPage();
    return problem;
}

void sketch_reading_done()
{
    sketch_libxml_unload();
}

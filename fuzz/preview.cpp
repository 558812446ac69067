// The preview of an Office Open XML package: the input becomes the package's
// "_rels/.rels", beside a small member it may name, and is read as the
// viewing flow's second try reads it.
#include <archive.h>
#include <archive_entry.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "archive/archive.h"
#include "flow/libraries.h"

namespace
{

void add_member(struct archive *zip, const char *name, const void *data, size_t size)
{
    struct archive_entry *entry = archive_entry_new();
    archive_entry_set_pathname(entry, name);
    archive_entry_set_filetype(entry, AE_IFREG);
    archive_entry_set_perm(entry, 0644);
    archive_entry_set_size(entry, static_cast<la_int64_t>(size));
    archive_write_header(zip, entry);
    archive_write_data(zip, data, size);
    archive_entry_free(entry);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const char *dir = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    static const std::string path = std::string(dir) + "/quillpeek-fuzz-preview-" + std::to_string(getpid());
    struct archive *zip = archive_write_new();
    archive_write_set_format_zip(zip);
    archive_write_set_options(zip, "zip:compression=store");
    if (archive_write_open_filename(zip, path.c_str()) != ARCHIVE_OK) {
        archive_write_free(zip);
        return 0;
    }
    add_member(zip, "_rels/.rels", data, size);
    add_member(zip, "docProps/thumbnail.jpeg", "\xFF\xD8\xFF", 3);
    archive_write_close(zip);
    archive_write_free(zip);
    char name[256];
    if (XAD_preview_name(path.c_str(), name, sizeof name)) {
        if (strlen(name) == 0 || name[0] == '/')
            __builtin_trap(); // a name is never empty nor absolute
        void *block = XAD_file_unpacker(path.c_str(), name);
        (void)XAD_preview_is_metafile(name, block,
                                      block != nullptr ? XAD_file_grosse(path.c_str(), name) : 0);
        FreeVec(block);
    }
    return 0;
}

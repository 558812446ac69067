// libarchive, opened when an archive first needs it rather than at exec.
//
// xadmaster.library lists a plain zip from its own records; libarchive is
// needed only to unpack a member or to read any other format. The program's
// libraries do not link it: the first such call loads it with dlopen, and
// every libarchive function the library calls is reached through one table,
// resolved by name with dlsym. A run that ends at a listing (a document
// without a thumbnail) never loads libarchive nor the compression, XML and
// Unicode libraries behind it. The headers are libarchive's own, so the
// table's types are its own. Platform-internal.
#ifndef QUILLPEEK_PLATFORM_LIBARCHIVE_H
#define QUILLPEEK_PLATFORM_LIBARCHIVE_H

#include <archive.h>
#include <archive_entry.h>

namespace platform
{

// The library's file name, as its messages give it.
constexpr const char *libarchive_name = "libarchive.so.13";

// Every libarchive function the platform uses, by its name without "archive_".
#define QUILLPEEK_ARCHIVE_CALLS(X)                                                                           \
    X(entry_filetype)                                                                                        \
    X(entry_hardlink)                                                                                        \
    X(entry_is_data_encrypted)                                                                               \
    X(entry_is_encrypted)                                                                                    \
    X(entry_pathname)                                                                                        \
    X(entry_pathname_utf8)                                                                                   \
    X(entry_size)                                                                                            \
    X(entry_size_is_set)                                                                                     \
    X(error_string)                                                                                          \
    X(filter_bytes)                                                                                          \
    X(filter_count)                                                                                          \
    X(format)                                                                                                \
    X(read_add_passphrase)                                                                                   \
    X(read_data)                                                                                             \
    X(read_data_block)                                                                                       \
    X(read_free)                                                                                             \
    X(read_new)                                                                                              \
    X(read_next_header)                                                                                      \
    X(read_open1)                                                                                            \
    X(read_set_callback_data)                                                                                \
    X(read_set_read_callback)                                                                                \
    X(read_set_seek_callback)                                                                                \
    X(read_set_skip_callback)                                                                                \
    X(read_support_filter_bzip2)                                                                             \
    X(read_support_filter_compress)                                                                          \
    X(read_support_filter_grzip)                                                                             \
    X(read_support_filter_gzip)                                                                              \
    X(read_support_filter_lrzip)                                                                             \
    X(read_support_filter_lz4)                                                                               \
    X(read_support_filter_lzip)                                                                              \
    X(read_support_filter_lzma)                                                                              \
    X(read_support_filter_lzop)                                                                              \
    X(read_support_filter_uu)                                                                                \
    X(read_support_filter_xz)                                                                                \
    X(read_support_filter_zstd)                                                                              \
    X(read_support_format_7zip)                                                                              \
    X(read_support_format_ar)                                                                                \
    X(read_support_format_cab)                                                                               \
    X(read_support_format_cpio)                                                                              \
    X(read_support_format_iso9660)                                                                           \
    X(read_support_format_lha)                                                                               \
    X(read_support_format_rar)                                                                               \
    X(read_support_format_rar5)                                                                              \
    X(read_support_format_tar)                                                                               \
    X(read_support_format_zip)                                                                               \
    X(set_error)

struct ArchiveCalls {
#define QUILLPEEK_ARCHIVE_MEMBER(name) decltype(&::archive_##name) name;
    QUILLPEEK_ARCHIVE_CALLS(QUILLPEEK_ARCHIVE_MEMBER)
#undef QUILLPEEK_ARCHIVE_MEMBER
};

// Loads libarchive and resolves the table, once; later calls return the
// same answer. False, with the reason in libarchive_load_error(), when the
// library or one of its functions is missing. Safe from any thread.
bool libarchive_load();
const char *libarchive_load_error();

// Whether libarchive has been loaded, without loading it.
bool libarchive_loaded();

// The table; only after libarchive_load() has returned true.
const ArchiveCalls &libarchive();

} // namespace platform

#endif

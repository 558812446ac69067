// The zip records xadmaster.library reads itself: the input is written to a
// file and its thumbnail taken twice, once by the library's own zip reader
// (falling back to libarchive where that reader steps aside) and once by
// libarchive alone. The two must agree: the same bytes, or both none.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "archive/archive.h"
#include "flow/libraries.h"
#include "fuzz/input_file.h"
#include "platform/control.h"

namespace
{

// The member's bytes as the routines give them, "-" when there are none.
std::string taken(const std::string &path, const char *wanted, bool direct)
{
    platform_xad_direct_zip_listing(direct);
    platform_forget_archive_listings();
    void *block = XAD_file_unpacker(path.c_str(), wanted);
    uint32_t size = XAD_file_grosse(path.c_str(), wanted);
    std::string bytes = block != nullptr ? std::string(static_cast<const char *>(block), size) : "-";
    FreeVec(block);
    return bytes;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::string path = write_input_file("zip-records", data, size);
    if (path.empty())
        return 0;
    DOSBase = OpenLibrary("dos.library", 37);
    for (const char *wanted : {"thumbnail.png", "b"})
        if (taken(path, wanted, true) != taken(path, wanted, false))
            __builtin_trap(); // the document would get another answer than libarchive's
    platform_xad_direct_zip_listing(true);
    CloseLibrary(DOSBase);
    return 0;
}

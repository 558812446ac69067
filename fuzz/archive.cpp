// Archive listing and extraction to memory: the input is written to a file
// and read as a document, as the viewing flow reads it.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "archive/archive.h"
#include "flow/libraries.h"
#include "fuzz/input_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::string path = write_input_file("archive", data, size);
    if (path.empty())
        return 0;
    DOSBase = OpenLibrary("dos.library", 37);
    void *block = XAD_file_unpacker(path.c_str(), "thumbnail.png");
    uint32_t member_size = XAD_file_grosse(path.c_str(), "thumbnail.png");
    if (block != nullptr && member_size == 0)
        __builtin_trap(); // a block always has a size
    FreeVec(block);
    if (block == nullptr)
        (void)XAD_file_problem(path.c_str(), "thumbnail.png");
    else
        (void)XAD_member_problem(path.c_str(), "thumbnail.png");
    CloseLibrary(DOSBase);
    return 0;
}

// Archive listing and extraction to memory: the input is written to a file
// and read as a document, as the viewing flow reads it.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "archive/archive.h"
#include "flow/libraries.h"

namespace
{

std::string scratch_file()
{
    const char *dir = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    return std::string(dir) + "/quillpeek-fuzz-archive-" + std::to_string(getpid());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const std::string path = scratch_file();
    FILE *file = std::fopen(path.c_str(), "wb");
    if (file == nullptr)
        return 0;
    std::fwrite(data, 1, size, file);
    std::fclose(file);
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

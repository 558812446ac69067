// A tiny driver for whole-process comparisons with other tools: writes the
// member of DOCUMENT whose name contains "thumbnail.png" to standard output,
// found and taken as the viewing flow does (XAD_file_unpacker, then
// XAD_file_grosse). Returns 1 when there is none.
#include <cstdio>

#include "archive/archive.h"

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s DOCUMENT\n", argv[0]);
        return 2;
    }
    void *block = XAD_file_unpacker(argv[1], "thumbnail.png");
    uint32_t size = XAD_file_grosse(argv[1], "thumbnail.png");
    if (block == nullptr || size == 0)
        return 1;
    return std::fwrite(block, 1, size, stdout) == size ? 0 : 1;
}

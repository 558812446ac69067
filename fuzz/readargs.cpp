// The argument parser against the program's template: arguments are the
// input's NUL-separated pieces.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "flow/libraries.h"
#include "platform/startup.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    std::vector<std::string> pieces(1, "quillpeek");
    std::string input(reinterpret_cast<const char *>(data), size);
    for (size_t start = 0; start <= input.size() && pieces.size() < 64;) {
        size_t end = input.find('\0', start);
        if (end == std::string::npos)
            end = input.size();
        pieces.push_back(input.substr(start, end - start));
        start = end + 1;
    }
    std::vector<char *> argv;
    for (std::string &piece : pieces)
        argv.push_back(piece.data());
    platform_set_arguments(static_cast<int>(argv.size()), argv.data());
    DOSBase = OpenLibrary("dos.library", 37);
    IPTR array[1] = {0};
    struct RDArgs *args = ReadArgs("DOCUMENTPATH/A", array, nullptr);
    if (args != nullptr) {
        volatile size_t length = std::string(reinterpret_cast<const char *>(array[0])).size();
        (void)length;
        FreeArgs(args);
    }
    CloseLibrary(DOSBase);
    return 0;
}

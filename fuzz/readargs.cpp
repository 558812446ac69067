// The argument parser against the program's template: arguments are the
// input's NUL-separated pieces; when the first is "?", the rest of the input
// is the line the template query reads instead.
#include <cstddef>
#include <cstdio>
#include <cstdint>
#include <string>
#include <vector>

#include "flow/libraries.h"
#include "platform/startup.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    std::vector<std::string> pieces(1, "quillpeek");
    std::string input(reinterpret_cast<const char *>(data), size);
    // The query reads the rest of the input, never the fuzzer's own stdin.
    std::string rest = input.size() > 2 ? input.substr(2) : std::string();
    FILE *line = nullptr;
    if (!input.empty() && input[0] == '?' && (input.size() == 1 || input[1] == '\0')) {
        line = rest.empty() ? fopen("/dev/null", "r") : fmemopen(rest.data(), rest.size(), "r");
        input = "?";
    }
    FILE *saved_stdin = stdin;
    if (line != nullptr)
        stdin = line;
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
    stdin = saved_stdin;
    if (line != nullptr)
        fclose(line);
    return 0;
}

// The text utilities: the input is text, then NUL, then the separator or
// the from and to texts, also NUL-separated; its first byte picks the index.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "flow/libraries.h"
#include "text/text.h"

namespace
{

std::string piece(const std::string &input, size_t &start)
{
    size_t end = input.find('\0', start);
    if (end == std::string::npos)
        end = input.size();
    std::string result = start < input.size() ? input.substr(start, end - start) : "";
    start = end + 1;
    return result;
}

void check(char *result, const std::string &text)
{
    if (result == nullptr)
        return;
    if (std::strlen(result) > text.size())
        __builtin_trap();
    FreeVec(result);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    int32_t index = static_cast<int8_t>(data[0]);
    std::string input(reinterpret_cast<const char *>(data + 1), size - 1);
    size_t start = 0;
    std::string text = piece(input, start);
    std::string first = piece(input, start);
    std::string second = piece(input, start);
    check(textsplit(text.c_str(), index, first.c_str()), text);
    check(changechars(text.c_str(), first.c_str(), second.c_str()), text);
    return 0;
}

// Text utilities: field splitting and character replacement. Each result is
// a fresh zero-filled block of strlen(text) + 1 bytes, the caller's to free.
#include "text/text.h"

#include <cstring>

#include "flow/libraries.h"

namespace
{

// A zero-filled block that holds text's length plus its terminating zero;
// null when it cannot be had or the length does not fit a block size.
char *result_block(const char *text)
{
    size_t length = std::strlen(text);
    if (length >= 0xFFFFFFFFu)
        return nullptr;
    return static_cast<char *>(AllocVec(static_cast<ULONG>(length + 1), MEMF_CLEAR));
}

// The first byte of a one-character text, as an unsigned byte.
unsigned char first_byte(const char *text)
{
    return static_cast<unsigned char>(text[0]);
}

} // namespace

char *textsplit(const char *text, int32_t index, const char *separator)
{
    char *result = result_block(text);
    if (result == nullptr)
        return nullptr;
    unsigned char split = first_byte(separator);
    int64_t field = 0;
    size_t write = 0;
    // Up to and including the terminating zero; with a zero separator the
    // terminating zero ends field 0 and the block's zeros end the result.
    for (size_t read = 0;; ++read) {
        unsigned char c = static_cast<unsigned char>(text[read]);
        if (c == split) {
            ++field;
            write = 0;
        } else if (field == index) {
            result[write++] = static_cast<char>(c);
        }
        if (c == '\0')
            break;
    }
    return result;
}

char *changechars(const char *text, const char *from, const char *to)
{
    char *result = result_block(text);
    if (result == nullptr)
        return nullptr;
    std::memcpy(result, text, std::strlen(text) + 1);
    unsigned char old_char = first_byte(from);
    char new_char = static_cast<char>(first_byte(to));
    // The walk stops at the copy's current end: a zero replacement ends the
    // copy there, and a zero from character never matches inside the text.
    for (char *c = result; *c != '\0'; ++c) {
        if (static_cast<unsigned char>(*c) != old_char)
            continue;
        *c = new_char;
        if (new_char == '\0')
            break;
    }
    return result;
}

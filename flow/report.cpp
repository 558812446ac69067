// The program's messages: about a document it cannot show, and the answers
// to --help and --version.
#include "flow/report.h"

#include <strings.h>

#include <cstdio>
#include <cstring>

namespace
{

// The code point of the UTF-8 sequence at text (length bytes left), its
// length in *used; 0 in *used when the bytes are no valid sequence.
uint32_t decode_utf8(const unsigned char *text, size_t length, size_t *used)
{
    static const uint32_t lowest[] = {0, 0, 0x80, 0x800, 0x10000};
    unsigned char lead = text[0];
    size_t size = lead < 0x80                   ? 1
                  : lead >= 0xC2 && lead < 0xE0 ? 2
                  : lead >= 0xE0 && lead < 0xF0 ? 3
                  : lead >= 0xF0 && lead < 0xF5 ? 4
                                                : 0;
    *used = 0;
    if (size == 0 || size > length)
        return 0;
    uint32_t code = size == 1 ? lead : lead & (0x7F >> size);
    for (size_t i = 1; i < size; ++i) {
        if ((text[i] & 0xC0) != 0x80)
            return 0;
        code = code << 6 | (text[i] & 0x3F);
    }
    if (code < lowest[size] || code > 0x10FFFF || (code >= 0xD800 && code < 0xE000))
        return 0;
    *used = size;
    return code;
}

// Characters that move the cursor, end a line or turn the text's direction
// on a terminal: C0 and C1 controls, DEL, the line and paragraph
// separators, the bidirectional embeddings, overrides and isolates.
bool is_control(uint32_t code)
{
    return code < 0x20 || (code >= 0x7F && code < 0xA0) || code == 0x2028 || code == 0x2029 ||
           (code >= 0x202A && code <= 0x202E) || (code >= 0x2066 && code <= 0x2069);
}

// The length of the printable character at text, 0 when it must be escaped.
size_t printable_length(const unsigned char *text, size_t length)
{
    size_t used = 0;
    uint32_t code = decode_utf8(text, length, &used);
    return used != 0 && !is_control(code) ? used : 0;
}

// A byte as a C escape: \n and its kin by letter, anything else in octal.
void append_escape(std::string &out, unsigned char byte)
{
    static const char letters[] = "abtnvfr";
    char text[5];
    if (byte >= '\a' && byte <= '\r')
        snprintf(text, sizeof text, "\\%c", letters[byte - '\a']);
    else
        snprintf(text, sizeof text, "\\%03o", byte);
    out += text;
}

bool all_printable(const unsigned char *text, size_t length)
{
    for (size_t at = 0, used = 0; at < length; at += used)
        if ((used = printable_length(text + at, length - at)) == 0)
            return false;
    return true;
}

// The text with every byte that is not printable escaped, unquoted.
std::string escaped(const char *problem)
{
    const unsigned char *text = reinterpret_cast<const unsigned char *>(problem);
    size_t length = strlen(problem);
    std::string out;
    for (size_t at = 0; at < length;) {
        size_t used = printable_length(text + at, length - at);
        if (used == 0)
            append_escape(out, text[at++]);
        else
            out.append(problem + at, used), at += used;
    }
    return out;
}

int hex_digit(char c)
{
    return c >= '0' && c <= '9'   ? c - '0'
           : c >= 'a' && c <= 'f' ? c - 'a' + 10
           : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                  : -1;
}

const char *const malformed_uri = "it is not a well-formed file: URI (file:///PATH, with %XX escapes)";

// Percent-decodes text into path; null, or why the URI names no file: a
// malformed escape, an escaped NUL or slash (which no file name holds), a
// query or a fragment. Other bytes, UTF-8 or not, are the name's own.
const char *percent_decode(const char *text, std::string &path)
{
    path.clear();
    for (const char *c = text; *c != '\0'; ++c) {
        if (*c == '?' || *c == '#')
            return "it is a file: URI with a query or fragment (\"?\" or \"#\"), which names no file";
        if (*c != '%') {
            path += *c;
            continue;
        }
        int high = hex_digit(c[1]), low = high >= 0 ? hex_digit(c[2]) : -1;
        if (low < 0)
            return malformed_uri;
        char byte = static_cast<char>(high << 4 | low);
        if (byte == '\0' || byte == '/')
            return "its file: URI escapes a NUL or a slash (%00, %2F), which no file name holds";
        path += byte;
        c += 2;
    }
    return nullptr;
}

} // namespace

const char *code_message(const CodeMessage *rows, size_t count, int32_t code, const char *otherwise,
                         char *room, size_t size)
{
    for (size_t i = 0; i < count; ++i) {
        if (rows[i].code != code)
            continue;
        if (strstr(rows[i].text, "%llu") == nullptr)
            return rows[i].text;
        snprintf(room, size, rows[i].text, rows[i].number);
        return room;
    }
    return otherwise;
}

std::string quoted_name(const char *name)
{
    const unsigned char *text = reinterpret_cast<const unsigned char *>(name);
    size_t length = strlen(name);
    if (all_printable(text, length))
        return name;
    // '...' for printable runs, $'...' for escaped ones, side by side.
    std::string out = "'";
    bool escaping = false;
    for (size_t at = 0; at < length;) {
        size_t used = printable_length(text + at, length - at);
        if (used == 0) {
            out += escaping ? "" : "'$'";
            escaping = true;
            append_escape(out, text[at++]);
            continue;
        }
        out += escaping ? "''" : "";
        escaping = false;
        for (size_t i = 0; i < used; ++i)
            out += name[at + i] == '\'' ? std::string("'\\''") : std::string(1, name[at + i]);
        at += used;
    }
    return out + "'";
}

bool report_problem(const char *path, const char *problem)
{
    fprintf(stderr, "quillpeek: %s: %s\n", quoted_name(path).c_str(), escaped(problem).c_str());
    return false;
}

bool answer_option(const char *argument, const char *version)
{
    if (strcmp(argument, "--version") == 0) {
        // "$VER: NAME VERSION (DATE)" and a further line.
        const char *line = strncmp(version, "$VER: ", 6) == 0 ? version + 6 : version;
        printf("%.*s\n", static_cast<int>(strcspn(line, "\n")), line);
        return true;
    }
    if (strcmp(argument, "--help") != 0 && strcmp(argument, "-h") != 0)
        return false;
    printf("Usage: quillpeek DOCUMENT\n"
           "       quillpeek DOCUMENTPATH=DOCUMENT\n"
           "       quillpeek ?            asks for the arguments (template DOCUMENTPATH/A)\n"
           "Shows the preview picture that an office document carries, in a window of\n"
           "its own size; resizing redraws it scaled, closing the window ends the program.\n"
           "DOCUMENT is a path or a file: URI. Return codes: 0 when the picture was shown,\n"
           "1 when nothing was shown (one message says why), 20 after Ctrl-C.\n"
           "See quillpeek(1).\n");
    return true;
}

const char *document_from_uri(const char *argument, std::string &path)
{
    if (strncasecmp(argument, "file:", 5) != 0) {
        path = argument;
        return nullptr;
    }
    const char *rest = argument + 5;
    if (strncmp(rest, "//", 2) == 0) {
        const char *host = rest + 2;
        rest = strchr(host, '/');
        size_t host_length = rest != nullptr ? static_cast<size_t>(rest - host) : strlen(host);
        bool local = host_length == 0 || (host_length == 9 && strncasecmp(host, "localhost", 9) == 0);
        if (!local)
            return "it is a file: URI of another computer, which cannot be read";
    }
    if (rest == nullptr || *rest != '/')
        return malformed_uri;
    return percent_decode(rest, path);
}

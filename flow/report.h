// The program's messages: about a document it cannot show, and the answers
// to --help and --version.
#ifndef QUILLPEEK_FLOW_REPORT_H
#define QUILLPEEK_FLOW_REPORT_H

#include <cstddef>
#include <cstdint>
#include <string>

// Writes "quillpeek: PATH: PROBLEM" to standard error as one line, the path
// as quoted_name gives it and any control byte of the problem escaped;
// returns false, so that a failing step can end with it.
bool report_problem(const char *path, const char *problem);

// A path or member name as it can be printed: unchanged when it is printable
// UTF-8; else quoted for a shell, as coreutils prints such names, with
// control characters, invalid UTF-8 and line or direction controls escaped
// ('a'$'\n''b'). Never holds a control byte.
std::string quoted_name(const char *name);

// One row of a table that words a library's result codes: the code, its
// words, and the number that a "%llu" in them stands for.
struct CodeMessage {
    int32_t code;
    const char *text;
    unsigned long long number;
};

// The words of the first of the count rows with this code, else otherwise.
// Words with a number are written into room (size bytes), and room returned.
const char *code_message(const CodeMessage *rows, size_t count, int32_t code, const char *otherwise,
                         char *room, size_t size);

// Why the member in block does not give a picture to show (defined with the
// picture routines, picture/problem.cpp).
const char *picture_problem(void *block, uint32_t size);

// Answers the conventional options "--help" (and "-h") with a usage and
// "--version" with version, both on standard output. True when argument was
// one of them.
bool answer_option(const char *argument, const char *version);

// The document a "file:" URI names, percent-decoded, in path (the argument
// unchanged when it is no such URI). Returns null on success, else why the
// URI cannot be read: another computer's host, a malformed escape, an escaped
// NUL or slash, a query or a fragment. Decoded bytes that are not UTF-8 are
// kept: a file name is bytes.
const char *document_from_uri(const char *argument, std::string &path);

#endif

// dos.library: argument parsing against a template, directories, paths.
//
// ReadArgs and CreateDir run inside the call boundary (guarded); FreeArgs,
// UnLock, FilePart, IoErr and SetIoErr do plain C work and cannot throw.
#include "platform/dos.h"

#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/internal/internal.h"
#include "platform/internal/registry.h"
#include "platform/startup.h"

namespace
{

std::vector<std::string> &process_arguments()
{
    static std::vector<std::string> *arguments = new std::vector<std::string>;
    return *arguments;
}

// One item of a template: its names (the first and its aliases) and
// whether it is required.
struct TemplateItem {
    std::vector<std::string> names;
    bool required = false;
};

bool parse_item(const std::string &text, TemplateItem &item)
{
    size_t slash = text.find('/');
    std::string names = text.substr(0, slash);
    for (size_t start = 0;;) {
        size_t end = names.find('=', start);
        std::string name = names.substr(start, end - start);
        if (name.empty())
            return false;
        item.names.push_back(name);
        if (end == std::string::npos)
            break;
        start = end + 1;
    }
    for (; slash != std::string::npos; slash = text.find('/', slash + 1)) {
        std::string modifier = text.substr(slash + 1, 1);
        if (strcasecmp(modifier.c_str(), "A") != 0 || (text.size() > slash + 2 && text[slash + 2] != '/'))
            return false; // only required items are known
        item.required = true;
    }
    return true;
}

bool parse_template(const char *tmpl, std::vector<TemplateItem> &items)
{
    std::string text = tmpl;
    for (size_t start = 0;;) {
        size_t end = text.find(',', start);
        TemplateItem item;
        if (!parse_item(text.substr(start, end - start), item))
            return false;
        items.push_back(item);
        if (end == std::string::npos)
            return true;
        start = end + 1;
    }
}

// The item a keyword names, or -1.
int keyword_item(const std::vector<TemplateItem> &items, const std::string &word)
{
    for (size_t i = 0; i < items.size(); ++i)
        for (const std::string &name : items[i].names)
            if (strcasecmp(name.c_str(), word.c_str()) == 0)
                return static_cast<int>(i);
    return -1;
}

// Records handed out by ReadArgs and not yet freed. A program may keep its
// record to the end (the system takes it back then), so they stay reachable.
platform::Registry<struct RDArgs> &outstanding_records()
{
    return platform::Registry<struct RDArgs>::instance();
}

// What the parser keeps for the caller: the values the array points into.
struct ParsedArgs {
    std::vector<std::string> values;
};

// Assigns values to items: keyword forms first, then the rest in order.
bool assign(const std::vector<TemplateItem> &items, const std::vector<std::string> &arguments,
            std::vector<std::optional<std::string>> &values)
{
    std::vector<const std::string *> positional;
    for (size_t i = 0; i < arguments.size(); ++i) {
        const std::string &argument = arguments[i];
        size_t equals = argument.find('=');
        int item = equals != std::string::npos ? keyword_item(items, argument.substr(0, equals)) : -1;
        if (item >= 0) {
            if (values[item].has_value())
                return false;
            values[item] = argument.substr(equals + 1);
            continue;
        }
        item = keyword_item(items, argument);
        if (item >= 0) {
            if (values[item].has_value() || i + 1 == arguments.size())
                return false;
            values[item] = arguments[++i];
            continue;
        }
        positional.push_back(&argument);
    }
    size_t next = 0;
    for (size_t i = 0; i < items.size() && next < positional.size(); ++i)
        if (!values[i].has_value())
            values[i] = *positional[next++];
    if (next < positional.size())
        return false;
    for (size_t i = 0; i < items.size(); ++i)
        if (items[i].required && !values[i].has_value())
            return false;
    return true;
}

// Reads one line of standard input, without its newline. False at the end of
// the input with nothing read, or for a line longer than a command line.
// The longer line (or one holding a NUL) is read to its end and named on
// standard error.
bool read_line(std::string &line)
{
    const size_t longest = 64 * 1024;
    line.clear();
    int c;
    while ((c = std::getchar()) != EOF && c != '\n')
        if (line.size() < longest + 1)
            line += static_cast<char>(c);
    const char *problem = line.size() > longest                  ? "is longer than 64 KiB"
                          : line.find('\0') != std::string::npos ? "holds a NUL byte, which no argument can"
                                                                 : nullptr;
    if (problem != nullptr) {
        std::fprintf(stderr, "%s: the line given %s\n", program_invocation_short_name, problem);
        platform::set_io_error(ERROR_LINE_TOO_LONG);
        return false;
    }
    return c != EOF || !line.empty();
}

// A quoted item's escapes: *" a quote, ** a star, *N a newline, *E an escape.
size_t quoted_item(const std::string &line, size_t at, std::string &word)
{
    for (++at; at < line.size() && line[at] != '"'; ++at) {
        char c = line[at];
        if (c == '*' && at + 1 < line.size()) {
            char next = line[++at];
            c = next == 'n' || next == 'N' ? '\n' : next == 'e' || next == 'E' ? '\033' : next;
        }
        word += c;
    }
    return at + 1;
}

// A line split into items as the shell would give them: blanks separate,
// double quotes keep an item together.
std::vector<std::string> split_line(const std::string &line)
{
    std::vector<std::string> words;
    for (size_t at = 0; at < line.size();) {
        if (line[at] == ' ' || line[at] == '\t') {
            ++at;
            continue;
        }
        std::string word;
        while (at < line.size() && line[at] != ' ' && line[at] != '\t')
            if (line[at] == '"')
                at = quoted_item(line, at, word);
            else
                word += line[at++];
        words.push_back(word);
    }
    return words;
}

// The template query: a lone "?" prints the template and ": ", and the line
// then read from standard input gives the arguments (a "?" again asks anew).
bool arguments_asked(const char *tmpl, std::vector<std::string> &arguments)
{
    for (;;) {
        std::printf("%s: ", tmpl);
        std::fflush(stdout);
        std::string line;
        if (!read_line(line))
            return false;
        arguments = split_line(line);
        if (arguments.size() != 1 || arguments[0] != "?")
            return true;
    }
}

struct RDArgs *parse_arguments(const char *tmpl, IPTR *array)
{
    std::vector<TemplateItem> items;
    if (tmpl == nullptr || array == nullptr || !parse_template(tmpl, items))
        return nullptr;
    std::vector<std::string> arguments = process_arguments();
    if (arguments.size() == 1 && arguments[0] == "?" && !arguments_asked(tmpl, arguments))
        return nullptr;
    std::vector<std::optional<std::string>> values(items.size());
    if (!assign(items, arguments, values) || !platform::allocation_allowed())
        return nullptr;
    auto parsed_args = std::make_unique<ParsedArgs>();
    parsed_args->values.reserve(items.size());
    for (const std::optional<std::string> &value : values)
        parsed_args->values.push_back(value.value_or(std::string()));
    auto record = std::make_unique<RDArgs>(RDArgs{nullptr});
    if (!outstanding_records().add(record.get()))
        return nullptr;
    // Nothing fails from here on: the caller's array is filled only now.
    for (size_t i = 0; i < items.size(); ++i)
        array[i] = values[i].has_value() ? reinterpret_cast<IPTR>(parsed_args->values[i].c_str()) : 0;
    record->RDA_Private = parsed_args.release();
    return record.release();
}

struct Lock {
    int descriptor;
};

} // namespace

void platform_set_arguments(int argc, char **argv)
{
    std::vector<std::string> &arguments = process_arguments();
    arguments.clear();
    for (int i = 1; i < argc; ++i)
        arguments.emplace_back(argv[i]);
}

struct RDArgs *LVO_ReadArgs(struct Library *base, CONST_STRPTR tmpl, IPTR *array, struct RDArgs *)
{
    if (!platform::library_ready(base, "dos.library", "ReadArgs"))
        return nullptr;
    struct RDArgs *args = platform::guarded("ReadArgs", static_cast<struct RDArgs *>(nullptr),
                                            [&] { return parse_arguments(tmpl, array); });
    platform::journal("ReadArgs %s%s", tmpl != nullptr ? tmpl : "(null)", args != nullptr ? "" : " -> NULL");
    return args;
}

void LVO_FreeArgs(struct Library *base, struct RDArgs *args)
{
    if (!platform::library_ready(base, "dos.library", "FreeArgs") || args == nullptr)
        return;
    platform::journal("FreeArgs");
    if (!outstanding_records().remove(args)) {
        platform::journal("FreeArgs FAULT not a record of ReadArgs");
        return;
    }
    delete static_cast<ParsedArgs *>(args->RDA_Private);
    delete args;
}

namespace
{

// The lock is had before the directory is made, so that nothing fails once
// it exists.
BPTR create_dir(const char *name)
{
    std::string path = platform::host_path(name);
    auto lock = std::make_unique<Lock>(Lock{-1});
    if (mkdir(path.c_str(), 0700) == 0)
        lock->descriptor = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    platform::journal("CreateDir %s%s", name, lock->descriptor >= 0 ? "" : " -> 0");
    return lock->descriptor >= 0 ? reinterpret_cast<BPTR>(lock.release()) : 0;
}

} // namespace

BPTR LVO_CreateDir(struct Library *base, CONST_STRPTR name)
{
    if (!platform::library_ready(base, "dos.library", "CreateDir") || name == nullptr)
        return 0;
    return platform::guarded("CreateDir", BPTR(0), [&] { return create_dir(name); });
}

void LVO_UnLock(struct Library *base, BPTR lock)
{
    if (!platform::library_ready(base, "dos.library", "UnLock"))
        return;
    platform::journal("UnLock%s", lock != 0 ? "" : " 0");
    if (lock == 0)
        return;
    Lock *held = reinterpret_cast<Lock *>(lock);
    close(held->descriptor);
    delete held;
}

STRPTR LVO_FilePart(struct Library *base, CONST_STRPTR path)
{
    if (!platform::library_ready(base, "dos.library", "FilePart") || path == nullptr)
        return nullptr;
    const char *part = path;
    for (const char *c = path; *c != '\0'; ++c)
        if (*c == '/' || *c == ':')
            part = c + 1;
    platform::journal("FilePart %s", path);
    return const_cast<STRPTR>(part);
}

namespace
{

// The secondary result, one per thread as one per process on the system.
thread_local LONG io_error = 0;

} // namespace

LONG LVO_IoErr(struct Library *base)
{
    if (!platform::library_ready(base, "dos.library", "IoErr"))
        return 0;
    platform::journal("IoErr -> %ld", static_cast<long>(io_error));
    return io_error;
}

LONG LVO_SetIoErr(struct Library *base, LONG code)
{
    if (!platform::library_ready(base, "dos.library", "SetIoErr"))
        return 0;
    platform::journal("SetIoErr %ld", static_cast<long>(code));
    return platform::set_io_error(code);
}

namespace platform
{

LONG set_io_error(LONG code)
{
    LONG previous = io_error;
    io_error = code;
    return previous;
}

std::string host_path(const char *path)
{
    if ((path[0] == 't' || path[0] == 'T') && path[1] == ':') {
        const char *tmpdir = std::getenv("TMPDIR");
        std::string directory = tmpdir != nullptr && *tmpdir != '\0' ? tmpdir : "/tmp";
        return directory + "/" + (path + 2);
    }
    return path;
}

} // namespace platform

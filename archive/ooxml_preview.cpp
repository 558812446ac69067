// The preview picture of an Office Open XML package.
//
// Such a package carries no "thumbnail.png"; its root relationships part,
// "_rels/.rels", names the preview among its <Relationship> elements by the
// type below. The part is taken out with the same member routines as the
// thumbnail, so it is listed and read through xadmaster.library like any
// other member.
#include <strings.h>

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "archive/archive.h"
#include "archive/relationships.h"
#include "flow/libraries.h"

namespace
{

const char *const relationships_part = "_rels/.rels";
const char *const thumbnail_type =
    "http://schemas.openxmlformats.org/package/2006/relationships/metadata/thumbnail";

// A relationships part is a few kilobytes; one larger than this is not read.
const uint32_t relationships_limit = 1024 * 1024;

// The value of attribute in the element text [from, end), as [*value,
// *value_end); false when the element has no such attribute.
bool attribute(const char *from, const char *end, const char *attr, const char **value,
               const char **value_end)
{
    size_t length = strlen(attr);
    for (const char *at = from; at + length + 2 < end; ++at) {
        if (strncmp(at, attr, length) != 0 ||
            (at > from && at[-1] != ' ' && at[-1] != '\t' && at[-1] != '\n' && at[-1] != '\r'))
            continue;
        const char *p = at + length;
        while (p < end && (*p == ' ' || *p == '\t' || *p == '\n' || *p == '\r'))
            ++p;
        if (p >= end || *p != '=')
            continue;
        ++p;
        while (p < end && (*p == ' ' || *p == '\t' || *p == '\n' || *p == '\r'))
            ++p;
        if (p >= end || (*p != '"' && *p != '\''))
            continue;
        const char *close = static_cast<const char *>(memchr(p + 1, *p, static_cast<size_t>(end - p - 1)));
        if (close == nullptr)
            return false;
        *value = p + 1;
        *value_end = close;
        return true;
    }
    return false;
}

bool equals(const char *from, const char *end, const char *text)
{
    size_t length = strlen(text);
    return static_cast<size_t>(end - from) == length && strncmp(from, text, length) == 0;
}

// An attribute value with its character and entity references replaced;
// a reference that is not well formed stays as written.
std::string unescaped(const char *from, const char *end)
{
    static const struct {
        const char *name;
        char c;
    } entities[] = {{"amp;", '&'}, {"lt;", '<'}, {"gt;", '>'}, {"quot;", '"'}, {"apos;", '\''}};
    std::string text;
    for (const char *at = from; at < end; ++at) {
        if (*at != '&') {
            text += *at;
            continue;
        }
        size_t left = static_cast<size_t>(end - at - 1);
        bool replaced = false;
        for (const auto &entity : entities)
            if (left >= strlen(entity.name) && strncmp(at + 1, entity.name, strlen(entity.name)) == 0) {
                text += entity.c;
                at += strlen(entity.name);
                replaced = true;
                break;
            }
        if (!replaced && left >= 3 && at[1] == '#') {
            bool hex = at[2] == 'x';
            char *stop = nullptr;
            unsigned long code = strtoul(at + 2 + hex, &stop, hex ? 16 : 10);
            if (stop < end && *stop == ';' && stop > at + 2 + hex && code > 0 && code < 0x80) {
                text += static_cast<char>(code); // part names are ASCII
                at = stop;
                replaced = true;
            }
        }
        if (!replaced)
            text += '&';
    }
    return text;
}

bool blank(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

// Whether the reference starts with a scheme ("http:", "file:"): a URL.
bool has_scheme(const std::string &target)
{
    size_t at = 0;
    while (at < target.size() && (isalnum(static_cast<unsigned char>(target[at])) || target[at] == '+' ||
                                  target[at] == '-' || target[at] == '.'))
        ++at;
    return at > 0 && at < target.size() && target[at] == ':' &&
           isalpha(static_cast<unsigned char>(target[0]));
}

// The one relationship element [at, end): how its target resolves.
PreviewTarget element_target(const char *at, const char *end, std::string &member)
{
    const char *value, *value_end;
    if (attribute(at, end, "TargetMode", &value, &value_end) && !equals(value, value_end, "Internal"))
        return PreviewTarget::external;
    if (!attribute(at, end, "Target", &value, &value_end))
        return PreviewTarget::not_a_part;
    return resolve_target(unescaped(value, value_end), member);
}

} // namespace

PreviewTarget resolve_target(const std::string &target, std::string &member)
{
    if (target.compare(0, 2, "//") == 0 || target.compare(0, 2, "\\\\") == 0 || has_scheme(target))
        return PreviewTarget::external;
    if (target.find_first_of("?#") != std::string::npos)
        return PreviewTarget::not_a_part;
    std::vector<std::string> segments;
    size_t at = target.empty() || target[0] != '/' ? 0 : 1;
    for (bool last = false; !last;) {
        size_t slash = target.find('/', at);
        last = slash == std::string::npos;
        std::string segment = target.substr(at, last ? std::string::npos : slash - at);
        at = slash + 1;
        if (segment.empty() || (last && (segment == "." || segment == "..")))
            return PreviewTarget::not_a_part; // "a//b", a folder
        if (segment == "..") {
            if (segments.empty())
                return PreviewTarget::escaping;
            segments.pop_back();
        } else if (segment != ".") {
            segments.push_back(segment);
        }
    }
    const std::string &leaf = segments.back();
    if (segments.size() >= 2 && strcasecmp(segments[segments.size() - 2].c_str(), "_rels") == 0 &&
        leaf.size() >= 5 && strcasecmp(leaf.c_str() + leaf.size() - 5, ".rels") == 0)
        return PreviewTarget::not_a_part; // a relationships part, maybe this one
    member.clear();
    for (const std::string &segment : segments)
        member += (member.empty() ? "" : "/") + segment;
    return PreviewTarget::found;
}

PreviewTarget preview_target(const char *xml, std::string &member)
{
    PreviewTarget first_refusal = PreviewTarget::none;
    // Each element is read once: the next is looked for after its end, so
    // that a part of a million unended elements costs one pass, not a pass
    // for each of them.
    const char *end = xml;
    for (const char *at = strstr(xml, "<Relationship"); at != nullptr; at = strstr(end, "<Relationship")) {
        end = strchr(at, '>');
        if (end == nullptr)
            break;
        const char *type, *type_end;
        if (!blank(at[13]) || !attribute(at + 13, end, "Type", &type, &type_end) ||
            !equals(type, type_end, thumbnail_type))
            continue; // <Relationships, or another relationship
        PreviewTarget outcome = element_target(at + 13, end, member);
        if (outcome == PreviewTarget::found)
            return outcome;
        if (first_refusal == PreviewTarget::none)
            first_refusal = outcome;
    }
    return first_refusal;
}

const char *preview_target_problem(PreviewTarget outcome)
{
    switch (outcome) {
    case PreviewTarget::external:
        return "its preview is named outside the document (an external or URL relationship), "
               "which is not read";
    case PreviewTarget::escaping:
        return "its preview's relationship leads outside the package (\"..\" past its root), "
               "which is not followed";
    case PreviewTarget::not_a_part:
        return "its preview's relationship names no picture part (a folder, a relationships part "
               "or nothing)";
    default:
        return nullptr;
    }
}

bool XAD_preview_name(const char *path, char *name, size_t size, const char **problem)
{
    if (problem != nullptr)
        *problem = nullptr;
    uint32_t length = XAD_file_grosse(path, relationships_part);
    if (length > relationships_limit) {
        if (problem != nullptr)
            *problem = "its relationships part (_rels/.rels) is larger than 1 MiB, which is not read";
        return false;
    }
    if (length == 0)
        return false;
    // The block is four times the part's size and zero-filled: the part's
    // text ends with a zero byte.
    char *xml = static_cast<char *>(XAD_file_unpacker(path, relationships_part));
    if (xml == nullptr)
        return false;
    std::string member;
    PreviewTarget outcome = preview_target(xml, member);
    FreeVec(xml);
    if (problem != nullptr)
        *problem = preview_target_problem(outcome);
    if (outcome != PreviewTarget::found)
        return false;
    if (member.size() >= size || memchr(member.data(), '\0', member.size()) != nullptr) {
        if (problem != nullptr)
            *problem = "its preview's name is too long";
        return false;
    }
    memcpy(name, member.c_str(), member.size() + 1);
    return true;
}

bool XAD_preview_is_metafile(const char *name, const void *block, uint32_t size)
{
    const unsigned char *bytes = static_cast<const unsigned char *>(block);
    if (bytes != nullptr && size >= 4) {
        static const unsigned char placeable[4] = {0xD7, 0xCD, 0xC6, 0x9A};
        if (memcmp(bytes, placeable, 4) == 0)
            return true; // WMF with its placeable header
        if ((bytes[0] == 1 || bytes[0] == 2) && bytes[1] == 0 && bytes[2] == 9 && bytes[3] == 0)
            return true; // WMF, header alone
        if (size >= 44 && bytes[0] == 1 && bytes[1] == 0 && bytes[2] == 0 && bytes[3] == 0 &&
            memcmp(bytes + 40, " EMF", 4) == 0)
            return true;
    }
    const char *dot = strrchr(name, '.');
    return dot != nullptr && (strcasecmp(dot, ".wmf") == 0 || strcasecmp(dot, ".emf") == 0);
}

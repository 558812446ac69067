// The preview picture of an Office Open XML package.
//
// Such a package carries no "thumbnail.png"; its root relationships part,
// "_rels/.rels", names the preview among its <Relationship> elements by the
// type below. The part is taken out with the same member routines as the
// thumbnail, so it is listed and read through xadmaster.library like any
// other member.
#include <strings.h>

#include <cstring>

#include "archive/archive.h"
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

// The Target of the first Relationship element of the preview's type.
bool find_target(const char *xml, const char **target, const char **target_end)
{
    for (const char *at = strstr(xml, "<Relationship"); at != nullptr; at = strstr(at + 1, "<Relationship")) {
        const char *end = strchr(at, '>');
        if (end == nullptr)
            return false;
        const char *type, *type_end;
        if (at[13] != ' ' && at[13] != '\t' && at[13] != '\n' && at[13] != '\r')
            continue; // <Relationships
        if (attribute(at + 13, end, "Type", &type, &type_end) && equals(type, type_end, thumbnail_type))
            return attribute(at + 13, end, "Target", target, target_end);
    }
    return false;
}

} // namespace

bool XAD_preview_name(const char *path, char *name, size_t size)
{
    uint32_t length = XAD_file_grosse(path, relationships_part);
    if (length == 0 || length > relationships_limit)
        return false;
    // The block is four times the part's size and zero-filled: the part's
    // text ends with a zero byte.
    char *xml = static_cast<char *>(XAD_file_unpacker(path, relationships_part));
    if (xml == nullptr)
        return false;
    const char *target, *target_end;
    bool found = find_target(xml, &target, &target_end);
    if (found) {
        while (target < target_end && *target == '/')
            ++target;
        size_t bytes = static_cast<size_t>(target_end - target);
        found = bytes > 0 && bytes < size && memchr(target, '\0', bytes) == nullptr;
        if (found) {
            memcpy(name, target, bytes);
            name[bytes] = '\0';
        }
    }
    FreeVec(xml);
    return found;
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

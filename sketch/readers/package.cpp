// Parts of a document package and the relationships between them.
#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "archive/archive.h"
#include "flow/libraries.h"
#include "platform/limits.h"
#include "sketch/readers/readers_intern.h"

namespace sketch_readers
{

namespace
{

Part take(const char *path, const std::string &name, uint32_t limit)
{
    Part part;
    uint32_t size = 0;
    XadPartOutcome outcome;
    char *block =
        static_cast<char *>(XAD_part_unpacker(path, name.c_str(), limit, &size, &outcome, &part.problem));
    switch (outcome) {
    case XAD_PART_WHOLE:
        part.outcome = Part::Whole;
        break;
    case XAD_PART_CUT:
        part.outcome = Part::Cut;
        break;
    case XAD_PART_MISSING:
        part.outcome = Part::Missing;
        break;
    case XAD_PART_FAILED:
        part.outcome = Part::Failed;
        break;
    }
    if (block != nullptr)
        part.hold(block, size);
    return part;
}

// %XX escapes of a URI decoded; false when one is malformed or gives a
// zero byte.
bool percent_decode(const std::string &text, std::string *out)
{
    out->clear();
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            out->push_back(text[i]);
            continue;
        }
        if (i + 2 >= text.size() || !isxdigit(static_cast<unsigned char>(text[i + 1])) ||
            !isxdigit(static_cast<unsigned char>(text[i + 2])))
            return false;
        char hex[3] = {text[i + 1], text[i + 2], 0};
        long value = strtol(hex, nullptr, 16);
        if (value == 0)
            return false;
        out->push_back(static_cast<char>(value));
        i += 2;
    }
    return true;
}

} // namespace

Part &Part::operator=(Part &&other) noexcept
{
    if (this != &other) {
        clear();
        outcome = other.outcome;
        problem = other.problem;
        block_ = std::exchange(other.block_, nullptr);
        start_ = std::exchange(other.start_, 0);
        size_ = std::exchange(other.size_, 0);
    }
    return *this;
}

void Part::hold(char *block, size_t size)
{
    clear();
    block_ = block;
    size_ = size;
}

void Part::clear()
{
    FreeVec(block_);
    block_ = nullptr;
    start_ = size_ = 0;
}

void Part::cut_out(size_t from, size_t to)
{
    if (block_ == nullptr || from >= to || to > size_)
        return;
    memmove(block_ + start_ + (to - from), block_ + start_, from);
    start_ += to - from;
    size_ -= to - from;
}

Part take_part(const char *path, const std::string &name, uint32_t limit)
{
    return take(path, name, std::min(limit, platform::limits::sketch_part_bytes));
}

Part take_part(const char *path, const std::string &name)
{
    return take(path, name, platform::limits::sketch_part_bytes);
}

Part take_small_part(const char *path, const std::string &name, uint32_t limit)
{
    Part part = take(path, name, limit);
    if (part.outcome == Part::Cut) {
        part.outcome = Part::Failed;
        part.clear();
        part.problem = "a part of it is larger than any such part can be";
    }
    return part;
}

std::string relationships_of(const std::string &source)
{
    size_t slash = source.rfind('/');
    std::string folder = slash == std::string::npos ? "" : source.substr(0, slash + 1);
    std::string leaf = slash == std::string::npos ? source : source.substr(slash + 1);
    return folder + "_rels/" + leaf + ".rels";
}

std::string resolve_target(const std::string &source, const std::string &target)
{
    std::string decoded;
    std::string plain = target.substr(0, target.find('#'));
    if (plain.empty() || !percent_decode(plain, &decoded))
        return "";
    size_t colon = decoded.find(':');
    if (colon != std::string::npos && colon < decoded.find('/'))
        return ""; // an absolute URL: http:, file:, ...
    if (decoded.compare(0, 2, "//") == 0 || decoded.find('\\') != std::string::npos)
        return "";
    std::vector<std::string> segments;
    size_t slash = source.rfind('/');
    std::string path =
        decoded[0] == '/' || slash == std::string::npos ? decoded : source.substr(0, slash + 1) + decoded;
    for (size_t at = 0; at <= path.size();) {
        size_t end = path.find('/', at);
        end = end == std::string::npos ? path.size() : end;
        std::string segment = path.substr(at, end - at);
        at = end + 1;
        if (segment.empty() || segment == ".")
            continue;
        if (segment == "..") {
            if (segments.empty())
                return ""; // above the package's root
            segments.pop_back();
            continue;
        }
        segments.push_back(segment);
    }
    std::string name;
    for (const std::string &segment : segments)
        name += (name.empty() ? "" : "/") + segment;
    return name.find('\0') == std::string::npos ? name : ""; // a zero byte would end it early
}

std::string related_part(const char *path, const std::string &source, const std::string &id,
                         const char *type_suffix)
{
    Part rels = take_part(path, relationships_of(source));
    if (!rels.present())
        return "";
    XmlPart xml(rels.bytes(), rels.size());
    std::string value, target, mode;
    size_t suffix = type_suffix != nullptr ? strlen(type_suffix) : 0;
    while (xml.next()) {
        if (xml.type() != NodeType::Start || strcmp(xml.name(), "Relationship") != 0)
            continue;
        bool chosen;
        if (!id.empty())
            chosen = xml.attribute("Id", nullptr, nullptr, &value) && value == id;
        else
            chosen = xml.attribute("Type", nullptr, nullptr, &value) && value.size() >= suffix &&
                     value.compare(value.size() - suffix, suffix, type_suffix) == 0;
        if (!chosen)
            continue;
        if (xml.attribute("TargetMode", nullptr, nullptr, &mode) && mode == "External")
            return "";
        if (!xml.attribute("Target", nullptr, nullptr, &target))
            return "";
        return resolve_target(source, target);
    }
    return "";
}

double parse_number(const std::string &text, bool *ok)
{
    const char *start = text.c_str();
    char *end;
    errno = 0;
    double value = strtod(start, &end);
    *ok = end != start && errno == 0 && std::isfinite(value);
    while (*ok && *end == ' ')
        ++end;
    *ok = *ok && *end == 0;
    return *ok ? value : 0.0;
}

double length_mm(const std::string &text)
{
    static const struct {
        const char *unit;
        double mm;
    } units[] = {{"cm", 10.0},        {"mm", 1.0},        {"inch", 25.4},     {"in", 25.4},
                 {"pt", 25.4 / 72.0}, {"pc", 25.4 / 6.0}, {"px", 25.4 / 96.0}};
    for (const auto &unit : units) {
        size_t length = strlen(unit.unit);
        if (text.size() <= length || text.compare(text.size() - length, length, unit.unit) != 0)
            continue;
        bool ok;
        double value = parse_number(text.substr(0, text.size() - length), &ok);
        return ok && value > 0 ? value * unit.mm : 0.0;
    }
    return 0.0;
}

bool sane_page(double width_mm, double height_mm)
{
    return width_mm >= 10.0 && height_mm >= 10.0 && width_mm <= 10000.0 && height_mm <= 10000.0;
}

} // namespace sketch_readers

// An Office Open XML package's root relationships part: the input is the
// part's text, read for the preview's target as the viewer reads it. A
// target that is found must be a member name inside the package.
#include <cstddef>
#include <cstdint>
#include <string>

#include "archive/relationships.h"

namespace
{

// Whether name is a plain relative member name: no empty, "." or ".."
// segment.
bool inside_package(const std::string &name)
{
    if (name.empty() || name[0] == '/' || name.find("//") != std::string::npos)
        return false;
    for (size_t at = 0; at <= name.size();) {
        size_t slash = name.find('/', at);
        std::string segment = name.substr(at, slash == std::string::npos ? std::string::npos : slash - at);
        if (segment.empty() || segment == "." || segment == "..")
            return false;
        if (slash == std::string::npos)
            break;
        at = slash + 1;
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    std::string xml(reinterpret_cast<const char *>(data), size); // zero-terminated, as the part's block is
    std::string member;
    PreviewTarget outcome = preview_target(xml.c_str(), member);
    if (outcome == PreviewTarget::found && !inside_package(member))
        __builtin_trap();
    if ((outcome == PreviewTarget::found || outcome == PreviewTarget::none) !=
        (preview_target_problem(outcome) == nullptr))
        __builtin_trap(); // every refusal has its message
    return 0;
}

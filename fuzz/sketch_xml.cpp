// The sketch readers' XML: the input's first byte chooses the part it is
// read as (content.xml, styles.xml, a manifest, a word processing document
// or its styles, a worksheet with its shared strings, a slide, or a
// relationship's target), the rest is the part. Whatever the part, the page
// stays within its budgets and a resolved target within the package.
#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/limits.h"
#include "sketch/readers/readers_intern.h"

namespace
{

using namespace sketch_readers;

void check_page(const SketchPage &page)
{
    size_t text = 0;
    for (const SketchBlock &block : page.blocks)
        text += block.text.size();
    for (const SketchCell &cell : page.cells) {
        text += cell.text.size();
        if (cell.row >= platform::limits::sketch_sheet_rows ||
            cell.column >= platform::limits::sketch_sheet_columns)
            __builtin_trap();
    }
    if (text > platform::limits::sketch_text_bytes || page.blocks.size() > platform::limits::sketch_blocks)
        __builtin_trap();
}

void check_target(const std::string &input)
{
    size_t split = input.find('\n');
    std::string source = input.substr(0, split);
    std::string target = split == std::string::npos ? "" : input.substr(split + 1);
    std::string name = resolve_target(source, target);
    if (name.empty())
        return;
    std::string framed = "/" + name + "/"; // no segment may be empty, "." or ".."
    if (framed.find("//") != std::string::npos || framed.find("/./") != std::string::npos ||
        framed.find("/../") != std::string::npos || name.find('\0') != std::string::npos)
        __builtin_trap();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    std::string part(reinterpret_cast<const char *>(data) + 1, size - 1);
    SketchPage page;
    PageBuilder builder(&page);
    XmlPart xml(part.data(), part.size());
    switch (data[0] % 8) {
    case 0: {
        size_t body = find_element(part, "office:body", 0);
        if (body != std::string::npos && part.compare(body, 12, "<office:body") != 0)
            __builtin_trap();
        odf_content(xml, builder, &page, "");
        break;
    }
    case 1:
        odf_page_size(part, &page);
        break;
    case 2:
        odf_encrypts_content(xml);
        break;
    case 3:
        word_document(xml, nullptr, builder, &page);
        break;
    case 4: {
        WordStyles *styles = word_styles_read(xml);
        XmlPart again(part.data(), part.size());
        word_document(again, styles, builder, &page);
        word_styles_free(styles);
        break;
    }
    case 5: {
        SheetCells *cells = sheet_read(xml);
        XmlPart strings(part.data(), part.size());
        sheet_strings(strings, cells);
        sheet_put(cells, builder);
        sheet_free(cells);
        break;
    }
    case 6:
        slide_read(xml, builder);
        break;
    case 7:
        check_target(part);
        break;
    }
    builder.finish();
    check_page(page);
    if (!(page.width_mm > 0 && page.height_mm > 0))
        __builtin_trap();
    return 0;
}

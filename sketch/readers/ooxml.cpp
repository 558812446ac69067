// Office Open XML packages: the main part that the package's relationships
// name, read by its kind (its root element): a word processing document, a
// workbook or a presentation.
#include <cstdio>
#include <cstring>

#include "sketch/readers/ooxml_names.h"
#include "sketch/readers/readers_intern.h"

namespace sketch_readers
{

using namespace ooxml;

namespace
{

char problem_text[200];

const char *part_problem(const Part &part, const std::string &name)
{
    if (part.outcome == Part::Failed) {
        snprintf(problem_text, sizeof problem_text, "cannot be sketched: %.160s", part.problem);
        return problem_text;
    }
    snprintf(problem_text, sizeof problem_text, "is damaged: its part %.120s is missing", name.c_str());
    return problem_text;
}

void read_word(const char *path, const std::string &main, XmlPart &xml, PageBuilder &builder,
               SketchPage *page)
{
    WordStyles *styles = nullptr;
    std::string styles_name = related_part(path, main, "", "/styles");
    Part part = styles_name.empty() ? Part() : take_part(path, styles_name);
    if (part.present()) {
        XmlPart styles_xml(part.bytes(), part.size());
        styles = word_styles_read(styles_xml);
    }
    word_document(xml, styles, builder, page);
    word_styles_free(styles);
}

// The first sheet that is not hidden (else the first) and its cells.
void read_workbook(const char *path, const std::string &main, XmlPart &xml, PageBuilder &builder,
                   SketchPage *page)
{
    page->kind = SKETCH_SHEET;
    std::string id, first, state;
    while (xml.next()) {
        if (!is(xml, "sheet", x) || !attr(xml, "id", r, &id))
            continue;
        if (first.empty())
            first = id;
        if (!xml.attribute("state", nullptr, nullptr, &state) || state == "visible")
            break;
        id.clear();
    }
    std::string sheet_name = related_part(path, main, id.empty() ? first : id, nullptr);
    Part sheet_part = sheet_name.empty() ? Part() : take_part(path, sheet_name);
    if (!sheet_part.present())
        return;
    XmlPart sheet_xml(sheet_part.bytes(), sheet_part.size());
    SheetCells *cells = sheet_read(sheet_xml);
    std::string strings_name = related_part(path, main, "", "/sharedStrings");
    Part strings = strings_name.empty() ? Part() : take_part(path, strings_name);
    if (strings.present()) {
        XmlPart strings_xml(strings.bytes(), strings.size());
        sheet_strings(strings_xml, cells);
    }
    sheet_put(cells, builder);
    sheet_free(cells);
}

// The slide size and the first slide's text.
void read_presentation(const char *path, const std::string &main, XmlPart &xml, PageBuilder &builder,
                       SketchPage *page)
{
    page->kind = SKETCH_SLIDE;
    page->width_mm = 254.0; // 10 x 7.5 inches when the presentation says nothing
    page->height_mm = 190.5;
    std::string id, value;
    while (xml.next()) {
        if (is(xml, "sldId", p) && id.empty()) {
            attr(xml, "id", r, &id);
        } else if (is(xml, "sldSz", p)) {
            std::string cx, cy;
            bool ok_x = false, ok_y = false;
            if (xml.attribute("cx", nullptr, nullptr, &cx) && xml.attribute("cy", nullptr, nullptr, &cy)) {
                double w_mm = parse_number(cx, &ok_x) / 36000.0, h_mm = parse_number(cy, &ok_y) / 36000.0;
                if (ok_x && ok_y && sane_page(w_mm, h_mm)) {
                    page->width_mm = w_mm;
                    page->height_mm = h_mm;
                }
            }
        }
    }
    std::string slide_name = id.empty() ? "" : related_part(path, main, id, nullptr);
    Part slide = slide_name.empty() ? Part() : take_part(path, slide_name);
    if (!slide.present())
        return;
    XmlPart slide_xml(slide.bytes(), slide.size());
    slide_read(slide_xml, builder);
}

} // namespace

const char *read_ooxml(const char *path, SketchPage *page)
{
    std::string main = related_part(path, "", "", "/officeDocument");
    if (main.empty())
        return "is not a document that can be sketched";
    Part part = take_part(path, main);
    if (!part.present())
        return part_problem(part, main);
    PageBuilder builder(page);
    XmlPart xml(part.bytes(), part.size());
    if (!to_root(xml))
        return xml.failed() ? "is damaged: its main part is not XML" : "holds no text to sketch";
    if (is(xml, "document", w))
        read_word(path, main, xml, builder, page);
    else if (is(xml, "workbook", x))
        read_workbook(path, main, xml, builder, page);
    else if (is(xml, "presentation", p))
        read_presentation(path, main, xml, builder, page);
    else
        return "is not a document that can be sketched";
    if (part.outcome == Part::Cut || xml.budget_met())
        page->cut = true;
    return builder.finish() ? nullptr : "holds no text to sketch";
}

} // namespace sketch_readers

// OpenDocument packages and their StarOffice 6 / OpenOffice.org 1.x
// predecessors: content.xml's body, styles.xml's first master page's size.
//
// The two share their structure but not their namespaces, and the older one
// has no element naming the kind of body: its office:body holds the content
// itself, and the kind is the root's office:class or the mimetype member.
#include <cstring>
#include <map>
#include <memory>
#include <set>
#include <string_view>
#include <vector>

#include "platform/limits.h"
#include "sketch/readers/readers_intern.h"
#include "sketch/readers/walk.h"

namespace sketch_readers
{

namespace
{

using platform::limits::sketch_sheet_columns;
using platform::limits::sketch_sheet_rows;
using platform::limits::sketch_styles;

const Ns office = {"urn:oasis:names:tc:opendocument:xmlns:office:1.0", "http://openoffice.org/2000/office"};
const Ns text_ns = {"urn:oasis:names:tc:opendocument:xmlns:text:1.0", "http://openoffice.org/2000/text"};
const Ns table = {"urn:oasis:names:tc:opendocument:xmlns:table:1.0", "http://openoffice.org/2000/table"};
const Ns draw = {"urn:oasis:names:tc:opendocument:xmlns:drawing:1.0", "http://openoffice.org/2000/drawing"};
const Ns style = {"urn:oasis:names:tc:opendocument:xmlns:style:1.0", "http://openoffice.org/2000/style"};
const Ns fo = {"urn:oasis:names:tc:opendocument:xmlns:xsl-fo-compatible:1.0",
               "http://www.w3.org/1999/XSL/Format"};
const Ns presentation = {"urn:oasis:names:tc:opendocument:xmlns:presentation:1.0",
                         "http://openoffice.org/2000/presentation"};
const Ns svg = {"urn:oasis:names:tc:opendocument:xmlns:svg-compatible:1.0", "http://www.w3.org/2000/svg"};
const Ns manifest = {"urn:oasis:names:tc:opendocument:xmlns:manifest:1.0",
                     "http://openoffice.org/2001/manifest"};
const Ns math = {"http://www.w3.org/1998/Math/MathML", "http://www.w3.org/1998/Math/MathML"};

// A count attribute (number-columns-repeated, ...): at least 1.
uint32_t count_attr(XmlPart &x, const char *local, const Ns &ns)
{
    std::string value;
    if (!attr(x, local, ns, &value))
        return 1;
    unsigned long long n = strtoull(value.c_str(), nullptr, 10);
    return n < 1 ? 1 : n > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<uint32_t>(n);
}

uint32_t saturating_add(uint32_t a, uint32_t b)
{
    return a > 0xFFFFFFFFu - b ? 0xFFFFFFFFu : a + b;
}

// What the automatic styles of content.xml say of paragraphs and spans.
struct Styles {
    std::set<std::string> bold;
    std::set<std::string> page_break; // paragraphs that begin a new page
};

// What the body is, by the element that holds it or, for 1.x, by name.
enum class Body { Text, Sheet, Slides, Other };

Body body_of_name(const std::string &name)
{
    if (name == "text" || name.find("writer") != std::string::npos || name.find(".text") != std::string::npos)
        return Body::Text;
    if (name == "spreadsheet" || name.find("calc") != std::string::npos ||
        name.find("spreadsheet") != std::string::npos)
        return Body::Sheet;
    if (name == "presentation" || name == "drawing" || name.find("impress") != std::string::npos ||
        name.find("draw") != std::string::npos || name.find("presentation") != std::string::npos ||
        name.find("graphics") != std::string::npos)
        return Body::Slides;
    return Body::Other;
}

class ContentReader
{
  public:
    ContentReader(XmlPart &x, PageBuilder &b, SketchPage *page) : x_(x), b_(b), page_(page) {}
    void read(const std::string &mimetype);

  private:
    void automatic_styles();
    void body(const std::string &office_class, const std::string &mimetype);
    bool flow(bool text_document);
    Walk flow_node(bool text_document);
    Walk paragraph(bool heading, bool text_document);
    Walk paragraph_node(bool text_document);
    bool slides();
    bool first_table();
    bool sheet_rows();
    Walk sheet_row();
    Walk sheet_cell(std::vector<std::pair<uint32_t, std::string>> &cells, uint32_t &column);
    bool take_math();

    XmlPart &x_;
    PageBuilder &b_;
    SketchPage *page_;
    Styles styles_;
    bool bullet_ = false;                        // the next paragraph begins a list item
    uint8_t frame_level_ = 0;                    // a title or subtitle frame's level
    std::vector<std::pair<uint8_t, bool>> open_; // paragraphs nested in each other
    uint32_t row_ = 0;
};

void ContentReader::read(const std::string &mimetype)
{
    if (!to_root(x_))
        return;
    if (is(x_, "math", math)) { // a formula's content is MathML itself
        page_->kind = SKETCH_DRAWING;
        take_math();
        return;
    }
    std::string office_class;
    attr(x_, "class", office, &office_class);
    within(x_, [&] {
        if (is(x_, "automatic-styles", office)) {
            automatic_styles();
            return Walk::Next;
        }
        if (is(x_, "body", office)) {
            body(office_class, mimetype);
            return Walk::Stop;
        }
        return x_.type() == NodeType::Start ? skip_element(x_) : Walk::Next;
    });
}

void ContentReader::automatic_styles()
{
    std::string name, value;
    within(x_, [&] {
        if (is(x_, "style", style)) {
            name.clear();
            attr(x_, "name", style, &name);
            return Walk::Next;
        }
        if (x_.type() != NodeType::Start || !in(x_, style) || name.empty() ||
            styles_.bold.size() + styles_.page_break.size() >= sketch_styles)
            return Walk::Next;
        if (attr(x_, "font-weight", fo, &value) && (value == "bold" || atoi(value.c_str()) >= 600))
            styles_.bold.insert(name);
        if (attr(x_, "break-before", fo, &value) && value == "page")
            styles_.page_break.insert(name);
        return Walk::Next;
    });
}

void ContentReader::body(const std::string &office_class, const std::string &mimetype)
{
    if (strcmp(x_.ns(), office.old) == 0) { // 1.x: the body holds the content
        Body kind = body_of_name(!office_class.empty() ? office_class : mimetype);
        page_->kind = kind == Body::Text ? SKETCH_TEXT : kind == Body::Sheet ? SKETCH_SHEET : SKETCH_DRAWING;
        if (kind == Body::Slides &&
            (office_class == "presentation" || mimetype.find("impress") != std::string::npos))
            page_->kind = SKETCH_SLIDE;
        if (kind == Body::Sheet)
            first_table();
        else if (kind == Body::Slides)
            slides();
        else
            flow(kind == Body::Text);
        return;
    }
    within(x_, [&] {
        if (x_.type() != NodeType::Start)
            return Walk::Next;
        if (is(x_, "text", office)) {
            page_->kind = SKETCH_TEXT;
            flow(true);
        } else if (is(x_, "spreadsheet", office)) {
            page_->kind = SKETCH_SHEET;
            first_table();
        } else if (is(x_, "presentation", office) || is(x_, "drawing", office)) {
            page_->kind = is(x_, "presentation", office) ? SKETCH_SLIDE : SKETCH_DRAWING;
            slides();
        } else {
            page_->kind = SKETCH_DRAWING;
            flow(false);
        }
        return Walk::Stop;
    });
}

// Elements whose content is not on the page as text: changes kept for
// review, notes, comments, declarations, a shape's title and description,
// a slide's notes and forms.
bool hidden(const XmlPart &x)
{
    static const struct {
        const char *local;
        const Ns *ns;
    } elements[] = {{"tracked-changes", &text_ns},
                    {"note", &text_ns},
                    {"footnote", &text_ns},
                    {"endnote", &text_ns},
                    {"annotation", &office},
                    {"sequence-decls", &text_ns},
                    {"variable-decls", &text_ns},
                    {"user-field-decls", &text_ns},
                    {"forms", &office},
                    {"title", &svg},
                    {"desc", &svg},
                    {"notes", &presentation},
                    {"shapes", &table},
                    {"event-listeners", &office},
                    {"scripts", &office}};
    for (const auto &element : elements)
        if (is(x, element.local, *element.ns))
            return true;
    return false;
}

bool ContentReader::flow(bool text_document)
{
    return within(x_, [&] { return flow_node(text_document); });
}

Walk ContentReader::flow_node(bool text_document)
{
    if (b_.full())
        return Walk::Stop;
    if (x_.type() != NodeType::Start)
        return Walk::Next;
    if (is(x_, "p", text_ns) || is(x_, "h", text_ns))
        return paragraph(is(x_, "h", text_ns), text_document);
    if (is(x_, "list-item", text_ns) || is(x_, "list-header", text_ns)) {
        bullet_ = is(x_, "list-item", text_ns);
        return Walk::Next;
    }
    if (text_document && is(x_, "soft-page-break", text_ns) && b_.has_text()) {
        b_.cut(); // the first page ends here
        return Walk::Stop;
    }
    if (is(x_, "math", math))
        return go_on(take_math());
    if (hidden(x_))
        return skip_element(x_);
    std::string value;
    if (attr(x_, "class", presentation, &value)) {
        uint8_t saved = frame_level_;
        frame_level_ = value == "title" ? 1 : value == "subtitle" ? 2 : 0;
        bool walked = flow(text_document);
        frame_level_ = saved;
        return go_on(walked);
    }
    return Walk::Next;
}

// A paragraph or heading, and those nested in it (in its frames).
Walk ContentReader::paragraph(bool heading, bool text_document)
{
    std::string value;
    uint8_t level = frame_level_;
    if (heading) {
        level = 1;
        if (attr(x_, "outline-level", text_ns, &value) || attr(x_, "level", text_ns, &value))
            level = static_cast<uint8_t>(atoi(value.c_str()) < 1   ? 1
                                         : atoi(value.c_str()) > 6 ? 6
                                                                   : atoi(value.c_str()));
    }
    std::string style_name;
    attr(x_, "style-name", text_ns, &style_name);
    if (text_document && b_.has_text() && styles_.page_break.count(style_name) != 0) {
        b_.cut(); // this paragraph begins the second page
        return Walk::Stop;
    }
    bool bold = styles_.bold.count(style_name) != 0;
    b_.begin_block(level, bold, bullet_ ? "\xE2\x80\xA2 " : nullptr);
    bullet_ = false;
    open_.push_back({level, bold});
    bool walked = within(x_, [&] { return paragraph_node(text_document); });
    open_.pop_back();
    b_.end_block();
    if (!open_.empty())
        b_.continue_block(open_.back().first, open_.back().second);
    return go_on(walked);
}

Walk ContentReader::paragraph_node(bool text_document)
{
    if (b_.full())
        return Walk::Stop;
    if (x_.type() == NodeType::Text) {
        b_.text(x_.text());
        return Walk::Next;
    }
    if (x_.type() != NodeType::Start)
        return Walk::Next;
    if (is(x_, "s", text_ns) || is(x_, "tab", text_ns) || is(x_, "tab-stop", text_ns)) {
        b_.space();
        return skip_element(x_);
    }
    if (is(x_, "line-break", text_ns)) {
        b_.line_break();
        return skip_element(x_);
    }
    if (text_document && is(x_, "soft-page-break", text_ns) && b_.has_text()) {
        b_.cut();
        return Walk::Stop;
    }
    return flow_node(text_document);
}

bool ContentReader::take_math()
{
    b_.begin_block(0);
    bool walked = within(x_, [&] {
        if (x_.type() == NodeType::Text) {
            b_.text(x_.text());
            b_.space();
        } else if (is(x_, "annotation", math)) {
            return skip_element(x_); // the formula's source text
        }
        return b_.full() ? Walk::Stop : Walk::Next;
    });
    b_.end_block();
    return walked;
}

// The first slide or drawing page: the text of its frames in order.
bool ContentReader::slides()
{
    bool found = false;
    within(x_, [&] {
        if (!is(x_, "page", draw))
            return x_.type() == NodeType::Start && hidden(x_) ? skip_element(x_) : Walk::Next;
        found = true;
        flow(false);
        return Walk::Stop;
    });
    return found;
}

// The first sheet's top-left cells.
bool ContentReader::first_table()
{
    bool found = false;
    within(x_, [&] {
        if (!is(x_, "table", table))
            return Walk::Next;
        found = true;
        sheet_rows();
        return Walk::Stop;
    });
    return found;
}

bool ContentReader::sheet_rows()
{
    row_ = 0;
    return within(x_, [&] {
        if (x_.type() != NodeType::Start)
            return Walk::Next;
        if (is(x_, "table-row", table))
            return sheet_row();
        if (hidden(x_) || is(x_, "table-columns", table) || is(x_, "table-header-columns", table) ||
            is(x_, "table-column", table) || in(x_, draw))
            return skip_element(x_);
        return Walk::Next; // row groups, header rows
    });
}

Walk ContentReader::sheet_row()
{
    uint32_t repeat = count_attr(x_, "number-rows-repeated", table);
    std::vector<std::pair<uint32_t, std::string>> cells;
    uint32_t column = 0;
    bool walked = within(x_, [&] {
        if (is(x_, "table-cell", table) || is(x_, "covered-table-cell", table))
            return sheet_cell(cells, column);
        return x_.type() == NodeType::Start ? skip_element(x_) : Walk::Next;
    });
    for (uint32_t r = 0; r < repeat && row_ + r < sketch_sheet_rows && !cells.empty(); ++r)
        for (const auto &cell : cells)
            b_.cell(row_ + r, cell.first, cell.second);
    row_ = saturating_add(row_, repeat);
    if (row_ >= sketch_sheet_rows || b_.full()) {
        b_.cut();
        return Walk::Stop;
    }
    return go_on(walked);
}

Walk ContentReader::sheet_cell(std::vector<std::pair<uint32_t, std::string>> &cells, uint32_t &column)
{
    uint32_t repeat = count_attr(x_, "number-columns-repeated", table);
    std::string value;
    static const char *const values[] = {"value", "date-value", "time-value", "boolean-value",
                                         "string-value"};
    for (const char *name : values)
        if (attr(x_, name, office, &value) || attr(x_, name, table, &value))
            break;
    std::string shown;
    bool pending = false;
    bool walked = within(x_, [&] {
        if (is(x_, "p", text_ns) || is(x_, "h", text_ns)) {
            pending = !shown.empty();
            return go_on(within(x_, [&] {
                if (x_.type() == NodeType::Text)
                    fold_text(shown, x_.text(), platform::limits::sketch_cell_bytes, &pending);
                else if (is(x_, "s", text_ns) || is(x_, "tab", text_ns) || is(x_, "line-break", text_ns))
                    pending = !shown.empty();
                else if (x_.type() == NodeType::Start && hidden(x_))
                    return skip_element(x_);
                return Walk::Next;
            }));
        }
        return x_.type() == NodeType::Start ? skip_element(x_) : Walk::Next;
    });
    if (shown.empty())
        shown = value;
    for (uint32_t c = 0; !shown.empty() && c < repeat && column + c < sketch_sheet_columns; ++c)
        cells.push_back({column + c, shown});
    column = saturating_add(column, repeat);
    return go_on(walked);
}

} // namespace

void odf_content(XmlPart &xml, PageBuilder &builder, SketchPage *page, const std::string &mimetype)
{
    ContentReader(xml, builder, page).read(mimetype);
}

bool odf_styles(XmlPart &x, SketchPage *page, bool *master_found)
{
    if (master_found != nullptr)
        *master_found = false;
    std::map<std::string, std::pair<double, double>> layouts;
    std::string name, value;
    // The named styles and the fonts, most of the part, size no page.
    auto unsized = [&] { return is(x, "styles", office) || is(x, "font-face-decls", office); };
    while (next_over(x, unsized)) {
        if (is(x, "page-layout", style) || is(x, "page-master", style)) {
            name.clear();
            attr(x, "name", style, &name);
        } else if ((is(x, "page-layout-properties", style) || is(x, "properties", style)) && !name.empty() &&
                   layouts.size() < sketch_styles) {
            std::string width, height;
            if (attr(x, "page-width", fo, &width) && attr(x, "page-height", fo, &height))
                layouts[name] = {length_mm(width), length_mm(height)};
            name.clear();
        } else if (is(x, "master-page", style)) {
            if (master_found != nullptr)
                *master_found = true;
            if (!attr(x, "page-layout-name", style, &value) && !attr(x, "page-master-name", style, &value))
                return false;
            auto layout = layouts.find(value);
            if (layout == layouts.end() || !sane_page(layout->second.first, layout->second.second))
                return false;
            page->width_mm = layout->second.first;
            page->height_mm = layout->second.second;
            return true;
        }
    }
    return false;
}

namespace
{

// Where a part's root element's start tag begins and ends, and the prefix
// of its name ("office:", say); false when it has none or is empty.
struct Root {
    size_t begin, end;
    std::string prefix;
};

bool root_of(std::string_view all, Root *root)
{
    size_t begin = all.find('<');
    while (begin != std::string_view::npos && begin + 1 < all.size() &&
           (all[begin + 1] == '?' || all[begin + 1] == '!'))
        begin = all.find('<', begin + 1);
    if (begin == std::string_view::npos || begin + 1 >= all.size())
        return false;
    size_t name_end = all.find_first_of(" \t\r\n/>", begin);
    size_t end = tag_end(all, begin);
    if (name_end == std::string_view::npos || end == std::string_view::npos || all[end - 1] == '/')
        return false;
    std::string_view name = all.substr(begin + 1, name_end - begin - 1);
    size_t colon = name.find(':');
    root->begin = begin;
    root->end = end;
    root->prefix = colon == std::string_view::npos ? "" : std::string(name.substr(0, colon + 1));
    return true;
}

// styles.xml from its automatic styles on, where the page layouts and the
// master pages are, under a copy of its root's start tag, which declares
// the namespaces: the named styles and fonts before them, most of the
// part, are then not parsed at all. "" when the part is not so laid out.
std::string page_styles_of(std::string_view all)
{
    Root root;
    if (!root_of(all, &root))
        return "";
    size_t automatic = find_start_tag(all, root.prefix + "automatic-styles", root.end);
    if (automatic == std::string_view::npos)
        return "";
    return std::string(all.substr(root.begin, root.end + 1 - root.begin)) +
           std::string(all.substr(automatic));
}

// A sheet's content.xml with what lies between its root's start tag and
// its body left out: the automatic styles, often most of the part, say
// nothing of the cells' values.
void go_to_body(Part &content)
{
    Root root;
    if (!root_of(content.text(), &root))
        return;
    size_t body = find_element(content.text(), root.prefix + "body", root.end + 1);
    if (body != std::string_view::npos)
        content.cut_out(root.end + 1, body);
}

bool page_sized_from(std::string_view styles, SketchPage *page, bool *master_found = nullptr)
{
    XmlPart xml(styles.data(), styles.size());
    return odf_styles(xml, page, master_found);
}

} // namespace

bool odf_page_size(std::string_view styles, SketchPage *page)
{
    std::string page_styles = page_styles_of(styles);
    bool master_found = false;
    if (!page_styles.empty() && page_sized_from(page_styles, page, &master_found))
        return true;
    // Page layouts come before the master pages that name them: a master
    // page reached there has had its say, sized or not.
    return !master_found && page_sized_from(styles, page);
}

bool odf_encrypts_content(XmlPart &x)
{
    std::string path;
    bool entry = false;
    while (x.next()) {
        if (is(x, "file-entry", manifest)) {
            entry = attr(x, "full-path", manifest, &path) && path == "content.xml";
        } else if (entry && is(x, "encryption-data", manifest)) {
            return true;
        }
    }
    return false;
}

const char *read_odf(const char *path, Part content, SketchPage *page)
{
    const std::string mimetype(take_small_part(path, "mimetype", 256).text());
    std::unique_ptr<PageBuilder> builder;
    bool unreadable;
    bool sheet = body_of_name(mimetype) == Body::Sheet;
    for (bool again = true; again;) {
        size_t taken = content.size();
        if (sheet)
            go_to_body(content);
        *page = SketchPage();
        builder = std::make_unique<PageBuilder>(page);
        XmlPart xml(content.bytes(), content.size());
        odf_content(xml, *builder, page, mimetype);
        if (content.outcome == Part::Cut || xml.budget_met())
            page->cut = true;
        unreadable = xml.failed() && !xml.started();
        // The page read to the end of the bytes taken, and the part holds
        // more: read again from eight times as much.
        again = content.outcome == Part::Cut && xml.ran_out() && !xml.budget_met() &&
                taken < platform::limits::sketch_part_bytes;
        if (again) {
            Part more = take_part(path, "content.xml", static_cast<uint32_t>(taken) * 8);
            again = more.present() && more.size() > taken;
            if (again)
                content = std::move(more);
        }
    }
    if (!builder->finish()) {
        Part list = take_part(path, "META-INF/manifest.xml");
        XmlPart xml(list.bytes(), list.size());
        if (list.present() && odf_encrypts_content(xml))
            return "is encrypted (the document is protected by a password)";
        return unreadable ? "is damaged: its content.xml cannot be read as XML" : "holds no text to sketch";
    }
    Part styles = take_part(path, "styles.xml");
    bool sized = false;
    if (styles.present())
        sized = odf_page_size(styles.text(), page);
    if (!sized && page->kind == SKETCH_SLIDE) {
        page->width_mm = 280.0; // the office suite's own slide
        page->height_mm = 210.0;
    }
    return nullptr;
}

} // namespace sketch_readers

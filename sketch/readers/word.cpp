// Office Open XML word processing documents: word/document.xml's
// paragraphs, their levels from word/styles.xml, the first section's page.
#include <cstdlib>
#include <cstring>
#include <map>
#include <string_view>
#include <vector>

#include "platform/limits.h"
#include "sketch/readers/ooxml_names.h"
#include "sketch/readers/readers_intern.h"

namespace sketch_readers
{

using namespace ooxml;

namespace
{

// A heading level from a style's name: "heading 1" to "heading 9", "Title".
int level_of_name(std::string name)
{
    for (char &c : name)
        c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    if (name == "title")
        return 1;
    if (name.compare(0, 8, "heading ") == 0 && name.size() == 9 &&
        isdigit(static_cast<unsigned char>(name[8])))
        return name[8] - '0';
    return -1;
}

int clamp_level(int level)
{
    return level < 1 ? 1 : level > 6 ? 6 : level;
}

} // namespace

struct WordStyle {
    int level = -1; // -1: not said; 0: body text
    int bold = -1;  // -1: not said
    std::string based_on;
};

struct WordStyles {
    std::map<std::string, WordStyle> styles;

    // The level and weight the style gives, through the styles it is based on.
    void resolve(const std::string &id, int *level, bool *bold) const
    {
        *level = -1;
        int weight = -1;
        std::string at = id;
        for (int step = 0; step < 16 && !at.empty() && (*level < 0 || weight < 0); ++step) {
            auto found = styles.find(at);
            if (found == styles.end())
                break;
            if (*level < 0)
                *level = found->second.level;
            if (weight < 0)
                weight = found->second.bold;
            at = found->second.based_on;
        }
        if (*level < 0) // a document without its styles: the usual ids
            *level = id.compare(0, 7, "Heading") == 0 ? atoi(id.c_str() + 7) : id == "Title" ? 1 : 0;
        *bold = weight > 0;
    }
};

WordStyles *word_styles_read(XmlPart &x)
{
    auto *styles = new WordStyles;
    WordStyle *style = nullptr;
    int style_depth = -1;
    std::string value;
    // The defaults and the latent styles, most of the part in a recent
    // document, name no heading.
    auto unnamed = [&] { return is(x, "latentStyles", w) || is(x, "docDefaults", w); };
    while (next_over(x, unnamed)) {
        if (x.type() == NodeType::End && x.depth() == style_depth)
            style = nullptr;
        if (x.type() != NodeType::Start)
            continue;
        if (is(x, "style", w)) {
            style = nullptr;
            if (attr(x, "styleId", w, &value) && styles->styles.size() < platform::limits::sketch_styles) {
                style = &styles->styles[value];
                style_depth = x.depth();
            }
        } else if (style == nullptr) {
            continue;
        } else if (is(x, "name", w) && attr(x, "val", w, &value)) {
            int level = level_of_name(value);
            if (level > 0)
                style->level = level;
        } else if (is(x, "basedOn", w) && attr(x, "val", w, &value)) {
            style->based_on = value;
        } else if (is(x, "outlineLvl", w) && attr(x, "val", w, &value) && style->level < 0) {
            int level = atoi(value.c_str());
            style->level = level >= 0 && level < 9 ? level + 1 : 0;
        } else if (is(x, "b", w)) {
            value.clear();
            attr(x, "val", w, &value);
            style->bold = on(value) ? 1 : 0;
        }
    }
    return styles;
}

void word_styles_free(WordStyles *styles)
{
    delete styles;
}

namespace
{

class WordReader
{
  public:
    WordReader(XmlPart &x, const WordStyles *styles, PageBuilder &b, SketchPage *page)
        : x_(x), styles_(styles), b_(b), page_(page)
    {
    }
    void read();

  private:
    Walk flow_node();
    Walk paragraph();
    Walk paragraph_node();
    Walk properties();
    Walk run();
    void page_size(XmlPart &at);
    void later_page_size(const std::string &prefix, const std::string &uri);
    bool page_end();

    XmlPart &x_;
    const WordStyles *styles_;
    PageBuilder &b_;
    SketchPage *page_;
    bool sized_ = false;
    bool ended_ = false; // the first page ended: only its size is still looked for
    struct Open {
        uint8_t level;
        bool style_bold;
        size_t bold_runs, plain_runs;
    };
    std::vector<Open> open_;
    bool run_bold_ = false;
};

void WordReader::read()
{
    page_->kind = SKETCH_TEXT;
    if (!to_root(x_))
        return;
    std::string prefix = x_.prefix(), uri = x_.ns();
    within(x_, [&] { return flow_node(); });
    if (!sized_)
        later_page_size(prefix, uri);
}

// The first section's size when it comes after the page's end: in the
// properties of the section's last paragraph, else at the body's end. It
// is the part's first page size element, found in its bytes and read on
// its own, under the root's namespace: reading the rest of a long document
// for it would cost more than all the rest of the sketch.
void WordReader::later_page_size(const std::string &prefix, const std::string &uri)
{
    if (uri.find_first_of("\"<&") != std::string::npos)
        return;
    std::string qualified = prefix.empty() ? "pgSz" : prefix + ":pgSz";
    std::string_view all(x_.bytes(), x_.byte_count());
    size_t at = find_start_tag(all, qualified);
    size_t end = at == std::string_view::npos ? at : tag_end(all, at, 1024);
    if (end == std::string_view::npos || all[end - 1] != '/')
        return; // none, or not the empty element it always is
    std::string root = prefix.empty() ? "section" : prefix + ":section";
    std::string document = "<" + root + (prefix.empty() ? " xmlns" : " xmlns:" + prefix) + "=\"" + uri +
                           "\">" + std::string(all.substr(at, end + 1 - at)) + "</" + root + ">";
    XmlPart alone(document.data(), document.size());
    while (!sized_ && alone.next()) {
        if (is(alone, "pgSz", w))
            page_size(alone);
    }
}

bool WordReader::page_end()
{
    if (!b_.has_text())
        return false;
    b_.cut();
    ended_ = true;
    return true;
}

void WordReader::page_size(XmlPart &at)
{
    std::string width, height;
    sized_ = true;
    if (!attr(at, "w", w, &width) || !attr(at, "h", w, &height))
        return;
    bool ok_w, ok_h;
    double w_mm = parse_number(width, &ok_w) * 25.4 / 1440.0;
    double h_mm = parse_number(height, &ok_h) * 25.4 / 1440.0;
    if (!ok_w)
        w_mm = length_mm(width);
    if (!ok_h)
        h_mm = length_mm(height);
    if (sane_page(w_mm, h_mm)) {
        page_->width_mm = w_mm;
        page_->height_mm = h_mm;
    }
}

Walk WordReader::flow_node()
{
    if (b_.full() || ended_)
        return Walk::Stop;
    if (x_.type() != NodeType::Start)
        return Walk::Next;
    if (is(x_, "p", w))
        return paragraph();
    if (is(x_, "pgSz", w)) {
        if (!sized_)
            page_size(x_);
        return Walk::Next;
    }
    if (is(x_, "Fallback", mc) || is(x_, "moveFrom", w) || is(x_, "del", w) || is(x_, "instrText", w))
        return skip_element(x_);
    return Walk::Next;
}

Walk WordReader::paragraph()
{
    b_.begin_block(0);
    open_.push_back({0, false, 0, 0});
    bool walked = within(x_, [&] { return paragraph_node(); });
    const Open &mine = open_.back();
    b_.set_bold(mine.style_bold || (mine.bold_runs > 0 && mine.plain_runs == 0));
    open_.pop_back();
    b_.end_block();
    if (!open_.empty())
        b_.continue_block(open_.back().level, open_.back().style_bold);
    return go_on(walked);
}

Walk WordReader::paragraph_node()
{
    if (b_.full() || ended_)
        return Walk::Stop;
    if (is(x_, "pPr", w))
        return properties();
    if (is(x_, "r", w))
        return run();
    return flow_node();
}

// The paragraph's style, level and list; its section's page size.
Walk WordReader::properties()
{
    std::string value;
    return go_on(within(x_, [&] {
        if (is(x_, "pStyle", w) && attr(x_, "val", w, &value)) {
            int level;
            bool bold;
            styles_ != nullptr ? styles_->resolve(value, &level, &bold)
                               : WordStyles().resolve(value, &level, &bold);
            open_.back().level = static_cast<uint8_t>(level > 0 ? clamp_level(level) : 0);
            open_.back().style_bold = bold;
            b_.set_level(open_.back().level);
        } else if (is(x_, "outlineLvl", w) && attr(x_, "val", w, &value)) {
            int level = atoi(value.c_str());
            open_.back().level = static_cast<uint8_t>(level >= 0 && level < 9 ? clamp_level(level + 1) : 0);
            b_.set_level(open_.back().level);
        } else if (is(x_, "numPr", w)) {
            b_.text("\xE2\x80\xA2 ");
            b_.space();
            return skip_element(x_);
        } else if (is(x_, "pgSz", w) && !sized_) {
            page_size(x_);
        } else if (is(x_, "rPr", w)) {
            return skip_element(x_); // the paragraph mark's own look
        }
        return Walk::Next;
    }));
}

Walk WordReader::run()
{
    run_bold_ = false;
    std::string value;
    return go_on(within(x_, [&] {
        if (b_.full() || ended_)
            return Walk::Stop;
        if (x_.type() == NodeType::Text)
            return Walk::Next;
        if (is(x_, "b", w)) {
            value.clear();
            attr(x_, "val", w, &value);
            run_bold_ = on(value);
        } else if (is(x_, "t", w)) {
            (run_bold_ ? open_.back().bold_runs : open_.back().plain_runs)++;
            return go_on(within(x_, [&] {
                if (x_.type() == NodeType::Text)
                    b_.text(x_.text());
                return Walk::Next;
            }));
        } else if (is(x_, "tab", w) || is(x_, "ptab", w)) {
            b_.space();
        } else if (is(x_, "noBreakHyphen", w)) {
            b_.text("-");
        } else if (is(x_, "br", w) || is(x_, "cr", w)) {
            if (attr(x_, "type", w, &value) && value == "page" && page_end())
                return Walk::Stop;
            b_.line_break();
        } else if (is(x_, "lastRenderedPageBreak", w)) {
            if (page_end())
                return Walk::Stop;
        } else if (x_.type() == NodeType::Start && (is(x_, "p", w) || is(x_, "Fallback", mc) ||
                                                    is(x_, "instrText", w) || is(x_, "delText", w))) {
            return is(x_, "p", w) ? paragraph() : skip_element(x_);
        }
        return Walk::Next;
    }));
}

} // namespace

void word_document(XmlPart &xml, const WordStyles *styles, PageBuilder &builder, SketchPage *page)
{
    WordReader(xml, styles, builder, page).read();
}

} // namespace sketch_readers

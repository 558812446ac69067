// Office Open XML presentations: the first slide's text, paragraph by
// paragraph, its title and subtitle as headings.
#include <vector>

#include "sketch/readers/ooxml_names.h"
#include "sketch/readers/readers_intern.h"

namespace sketch_readers
{

using namespace ooxml;

namespace
{

class SlideReader
{
  public:
    SlideReader(XmlPart &xml, PageBuilder &b) : x_(xml), b_(b) {}
    void read()
    {
        if (to_root(x_))
            within(x_, [&] { return node(); });
    }

  private:
    Walk node()
    {
        if (b_.full())
            return Walk::Stop;
        if (x_.type() != NodeType::Start)
            return Walk::Next;
        if (is(x_, "sp", p)) {
            levels_.push_back(0);
            bool walked = within(x_, [&] { return node(); });
            levels_.pop_back();
            return go_on(walked);
        }
        if (is(x_, "ph", p) && !levels_.empty()) {
            std::string type;
            x_.attribute("type", nullptr, nullptr, &type);
            levels_.back() = type == "title" || type == "ctrTitle" ? 1 : type == "subTitle" ? 2 : 0;
            return Walk::Next;
        }
        if (is(x_, "p", a))
            return paragraph();
        if (is(x_, "Fallback", mc) || is(x_, "extLst", p))
            return skip_element(x_);
        return Walk::Next;
    }

    Walk paragraph()
    {
        b_.begin_block(levels_.empty() ? 0 : levels_.back());
        bool walked = within(x_, [&] {
            if (b_.full())
                return Walk::Stop;
            if (is(x_, "t", a))
                return go_on(within(x_, [&] {
                    if (x_.type() == NodeType::Text)
                        b_.text(x_.text());
                    return Walk::Next;
                }));
            if (is(x_, "br", a))
                b_.line_break();
            return Walk::Next;
        });
        b_.end_block();
        return go_on(walked);
    }

    XmlPart &x_;
    PageBuilder &b_;
    std::vector<uint8_t> levels_; // the placeholder level of each shape open
};

} // namespace

void slide_read(XmlPart &xml, PageBuilder &builder)
{
    SlideReader(xml, builder).read();
}

} // namespace sketch_readers

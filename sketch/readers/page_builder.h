// What the readers put on a page: blocks and cells taken within the page's
// budgets (platform/limits.h), their text folded as page.h says.
#ifndef QUILLPEEK_SKETCH_READERS_PAGE_BUILDER_H
#define QUILLPEEK_SKETCH_READERS_PAGE_BUILDER_H

#include <cstdint>
#include <string>

#include "sketch/page.h"

namespace sketch_readers
{

// Appends text to into, whitespace and control characters folded to one
// space, none leading, no more than into's room of limit bytes (cut at a
// character's start). *pending carries a space not yet written across
// calls. False when text had to be cut.
bool fold_text(std::string &into, const char *text, size_t limit, bool *pending);

class PageBuilder
{
  public:
    explicit PageBuilder(SketchPage *page) : page_(page) {}

    // A new block (the open one ends first). level 0 is a paragraph.
    void begin_block(uint8_t level, bool bold = false, const char *prefix = nullptr);
    // A block that goes on with an enclosing paragraph after one nested in
    // it (a text frame's): dropped when it gets no text.
    void continue_block(uint8_t level, bool bold);
    // Ends the open block; one with no text is kept (a blank line) unless
    // drop_if_empty.
    void end_block(bool drop_if_empty = false);
    bool in_block() const { return open_; }
    void set_level(uint8_t level);
    void set_bold(bool bold);
    // Text of the open block; none is taken outside a block.
    void text(const char *utf8);
    void space();
    // A line break: the open block ends and one of its level begins.
    void line_break();

    // A spreadsheet cell's text (folded, within sketch_cell_bytes).
    void cell(uint32_t row, uint32_t column, const std::string &text);

    // Whether a budget says the page is full; the page is then cut.
    bool full() const { return full_; }
    // Whether some text is on the page already.
    bool has_text() const { return kept_ > 0; }
    void cut() { page_->cut = true; }
    // Whether any block or cell holds text; trailing blank blocks removed.
    bool finish();

  private:
    // Text bytes the page keeps: fewer for paragraphs than a sheet's cells.
    size_t text_limit() const;
    bool take(size_t bytes);
    SketchPage *page_;
    bool open_ = false;
    bool pending_ = false;
    bool drop_ = false;
    bool full_ = false;
    size_t kept_ = 0; // text bytes on the page
};

} // namespace sketch_readers

#endif

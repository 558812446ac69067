// See page_builder.h.
#include "sketch/readers/page_builder.h"

#include "platform/limits.h"

namespace sketch_readers
{

using platform::limits::sketch_blocks;
using platform::limits::sketch_cell_bytes;
using platform::limits::sketch_page_text_bytes;
using platform::limits::sketch_text_bytes;

bool fold_text(std::string &into, const char *text, size_t limit, bool *pending)
{
    for (const unsigned char *p = reinterpret_cast<const unsigned char *>(text); *p != 0; ++p) {
        if (*p <= 0x20 || *p == 0x7F) {
            *pending = !into.empty();
            continue;
        }
        size_t need = (*pending ? 1 : 0) + 1;
        if (into.size() + need > limit) {
            while (!into.empty() && (static_cast<unsigned char>(into.back()) & 0xC0) == 0x80)
                into.pop_back(); // no character cut in two
            if (!into.empty() && static_cast<unsigned char>(into.back()) >= 0xC0)
                into.pop_back();
            return false;
        }
        if (*pending)
            into.push_back(' ');
        *pending = false;
        into.push_back(static_cast<char>(*p));
    }
    return true;
}

size_t PageBuilder::text_limit() const
{
    if (page_->kind == SKETCH_SHEET || page_->height_mm <= 0.0)
        return sketch_text_bytes;
    double wider = (page_->width_mm / page_->height_mm) / (297.0 / 210.0);
    if (wider <= 1.0)
        return sketch_page_text_bytes;
    double limit = double(sketch_page_text_bytes) * wider;
    return limit < double(sketch_text_bytes) ? static_cast<size_t>(limit) : sketch_text_bytes;
}

bool PageBuilder::take(size_t bytes)
{
    if (kept_ + bytes > text_limit()) {
        full_ = true;
        page_->cut = true;
        return false;
    }
    kept_ += bytes;
    return true;
}

void PageBuilder::begin_block(uint8_t level, bool bold, const char *prefix)
{
    end_block();
    if (full_)
        return;
    if (page_->blocks.size() >= sketch_blocks) {
        full_ = true;
        page_->cut = true;
        return;
    }
    SketchBlock block;
    block.level = level > 6 ? 6 : level;
    block.bold = bold;
    page_->blocks.push_back(block);
    open_ = true;
    pending_ = false;
    drop_ = false;
    if (prefix != nullptr)
        text(prefix);
}

void PageBuilder::continue_block(uint8_t level, bool bold)
{
    begin_block(level, bold);
    drop_ = open_;
}

void PageBuilder::end_block(bool drop_if_empty)
{
    if (!open_)
        return;
    open_ = false;
    if ((drop_if_empty || drop_) && page_->blocks.back().text.empty())
        page_->blocks.pop_back();
}

void PageBuilder::set_level(uint8_t level)
{
    if (open_)
        page_->blocks.back().level = level > 6 ? 6 : level;
}

void PageBuilder::set_bold(bool bold)
{
    if (open_)
        page_->blocks.back().bold = bold;
}

void PageBuilder::text(const char *utf8)
{
    if (!open_ || full_)
        return;
    std::string &into = page_->blocks.back().text;
    size_t before = into.size();
    size_t limit = text_limit();
    size_t room = limit > kept_ ? limit - kept_ : 0;
    bool whole = fold_text(into, utf8, before + room, &pending_);
    kept_ += into.size() - before;
    if (!whole) {
        full_ = true;
        page_->cut = true;
    }
}

void PageBuilder::space()
{
    if (open_)
        pending_ = !page_->blocks.back().text.empty();
}

void PageBuilder::line_break()
{
    if (!open_)
        return;
    SketchBlock &block = page_->blocks.back();
    uint8_t level = block.level;
    bool bold = block.bold;
    begin_block(level, bold);
}

void PageBuilder::cell(uint32_t row, uint32_t column, const std::string &text)
{
    if (full_ || text.empty())
        return;
    std::string folded;
    bool pending = false;
    fold_text(folded, text.c_str(), sketch_cell_bytes, &pending);
    if (folded.empty() || !take(folded.size()))
        return;
    page_->cells.push_back({row, column, folded});
}

bool PageBuilder::finish()
{
    end_block();
    while (!page_->blocks.empty() && page_->blocks.back().text.empty())
        page_->blocks.pop_back();
    for (const SketchBlock &block : page_->blocks)
        if (!block.text.empty())
            return true;
    return !page_->cells.empty();
}

} // namespace sketch_readers

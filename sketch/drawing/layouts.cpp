// See layouts.h.
#include "sketch/drawing/layouts.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <cmath>
#include <map>
#include <unordered_map>

namespace
{

const uint32_t ink = 0x202020;
const uint32_t heading_ink = 0x000000;
const uint32_t grid = 0xC8C8C8;
const uint32_t header_fill = 0xEEEEEE;
const uint32_t header_ink = 0x707070;

int share(int length, double part)
{
    return std::max(1, static_cast<int>(std::lround(length * part)));
}

// How much larger than body text a heading of the level is.
double heading_scale(unsigned level)
{
    static const double scales[] = {1.0, 2.0, 1.7, 1.45, 1.3, 1.2, 1.1};
    return scales[std::min(level, 6u)];
}

// A column of blocks between left and right, from *y down to bottom; *y
// ends below the last line drawn. False once the column is full.
struct Column {
    int left, right, bottom;
    double spacing; // line height over pixels per em
};

bool draw_block(SketchCanvas &canvas, SketchFonts &fonts, const Column &column, const std::string &text,
                SketchStyle style, uint32_t rgb, size_t most_lines, int *y)
{
    int line_height = std::max(1, static_cast<int>(std::lround(style.pixels * column.spacing)));
    int room = (column.bottom - *y) / line_height;
    if (room <= 0)
        return false;
    bool more = false;
    std::vector<SketchLine> lines = sketch_wrap(fonts, text, style, column.right - column.left,
                                                std::min(static_cast<size_t>(room), most_lines), &more);
    int ascent = static_cast<int>(std::lround(style.pixels * 0.95));
    for (const SketchLine &line : lines) {
        sketch_draw_line(canvas, fonts, line, style, column.left, *y + ascent, rgb);
        *y += line_height;
    }
    if (lines.empty())
        *y += line_height / 2; // an empty paragraph still takes room
    return !more || lines.size() < static_cast<size_t>(room);
}

void page_border(SketchCanvas &canvas)
{
    int thickness = std::max(1, std::max(canvas.width, canvas.height) / 300);
    canvas.frame({0, 0, canvas.width, canvas.height}, thickness, 0xB4B4B4);
}

// The blocks as paragraphs, headings larger and bold; first_scale for the
// first block of a slide.
void flow_blocks(SketchCanvas &canvas, SketchFonts &fonts, const SketchPage &page, const Column &column,
                 int body, int top)
{
    int y = top;
    bool first = true;
    for (const SketchBlock &block : page.blocks) {
        bool heading = block.level > 0;
        SketchStyle style = {std::max(3, static_cast<int>(std::lround(body * heading_scale(block.level)))),
                             heading || block.bold};
        if (heading && !first)
            y += body * 4 / 5;
        if (!draw_block(canvas, fonts, column, block.text, style, heading ? heading_ink : ink, SIZE_MAX, &y))
            break;
        y += heading ? body / 4 : body / 2;
        first = false;
    }
}

bool looks_numeric(const std::string &text)
{
    bool digit = false;
    for (char c : text) {
        if (c >= '0' && c <= '9')
            digit = true;
        else if (!strchr("+-.,%$ eE()", c))
            return false;
    }
    return digit;
}

// A cell's value as a line, and whether it is aligned right: a number is,
// and so is right-to-left text.
struct CellLine {
    SketchLine line;
    bool right;
};

// Cells' values as lines, each value shaped once however often it is
// measured and drawn. A value is shaped only as far as reach, past which no
// cell shows it; a number, which is aligned right, is shaped whole.
class CellLines
{
  public:
    CellLines(SketchFonts &fonts, SketchStyle style, int reach) : fonts_(fonts), style_(style), reach_(reach)
    {
    }

    const CellLine &of(const std::string &text)
    {
        auto found = lines_.find(text);
        if (found != lines_.end())
            return found->second;
        bool numeric = looks_numeric(text);
        SketchLine line = sketch_line(fonts_, text, style_, numeric ? INT_MAX / 4 : reach_);
        bool right = numeric || line.rtl;
        return lines_.emplace(text, CellLine{std::move(line), right}).first->second;
    }
    SketchStyle style() const { return style_; }

  private:
    SketchFonts &fonts_;
    SketchStyle style_;
    int reach_;
    std::unordered_map<std::string, CellLine> lines_;
};

std::string column_name(uint32_t column)
{
    std::string name;
    for (uint32_t n = column + 1; n > 0; n = (n - 1) / 26)
        name.insert(name.begin(), static_cast<char>('A' + (n - 1) % 26));
    return name;
}

struct Grid {
    int left, top, right, bottom, row_height, header_width;
    std::vector<int> columns; // each column's left edge, then the last one's right
};

Grid grid_frame(int width, int height)
{
    Grid g;
    g.row_height = share(height, 1.0 / 26);
    g.left = share(width, 0.03);
    g.top = share(height, 0.03);
    g.right = width - g.left;
    g.bottom = height - g.top;
    g.header_width = g.row_height * 3 / 2;
    return g;
}

// No column is wider than half the grid.
int widest_column(const Grid &g)
{
    return (g.right - g.left) / 2;
}

// The columns as wide as their widest value shown, within limits, until
// the page's right margin.
void plan_columns(Grid &g, const SketchPage &page, int rows, CellLines &values)
{
    std::map<uint32_t, int> widest;
    for (const SketchCell &cell : page.cells) {
        if (cell.column < 64 && cell.row < static_cast<uint32_t>(rows))
            widest[cell.column] = std::max(widest[cell.column], values.of(cell.text).line.width);
    }
    int x = g.left + g.header_width;
    for (uint32_t column = 0; x < g.right; ++column) {
        g.columns.push_back(x);
        int wanted = widest.count(column) ? widest[column] + values.style().pixels : g.row_height * 4;
        x += std::clamp(wanted, g.row_height * 5 / 2, widest_column(g));
    }
    g.columns.push_back(std::min(x, g.right));
}

void draw_grid_lines(SketchCanvas &canvas, const Grid &g, int rows)
{
    int t = std::max(1, g.row_height / 18);
    int right = g.columns.back(), bottom = g.top + g.row_height * (rows + 1);
    canvas.fill({g.left, g.top, right, g.top + g.row_height}, header_fill);
    canvas.fill({g.left, g.top, g.left + g.header_width, bottom}, header_fill);
    for (int row = 0; row <= rows + 1; ++row)
        canvas.fill({g.left, g.top + row * g.row_height, right, g.top + row * g.row_height + t}, grid);
    canvas.fill({g.left, g.top, g.left + t, bottom}, grid);
    for (int x : g.columns)
        canvas.fill({x, g.top, x + t, bottom}, grid);
}

// The text in the cell whose box is given, clipped to it.
void draw_cell(SketchCanvas &canvas, SketchFonts &fonts, const SketchLine &line, SketchRect box,
               SketchStyle style, uint32_t rgb, bool right)
{
    if (line.glyphs.empty())
        return;
    int pad = std::max(1, style.pixels / 3);
    SketchRect saved = canvas.clip;
    canvas.clip = {box.x0 + pad / 2, box.y0, box.x1 - pad / 2, box.y1};
    int x = right ? box.x1 - pad - line.width : box.x0 + pad;
    int baseline = box.y0 + (box.y1 - box.y0) * 72 / 100;
    sketch_draw_line(canvas, fonts, line, style, x, baseline, rgb);
    canvas.clip = saved;
}

// A label of the grid's headers.
void draw_label(SketchCanvas &canvas, SketchFonts &fonts, const std::string &text, SketchRect box,
                SketchStyle style)
{
    draw_cell(canvas, fonts, sketch_line(fonts, text, style, INT_MAX / 4), box, style, header_ink, false);
}

} // namespace

void sketch_lay_out_text(SketchCanvas &canvas, SketchFonts &fonts, const SketchPage &page)
{
    int margin = share(canvas.width, 0.09);
    Column column = {margin, canvas.width - margin, canvas.height - share(canvas.height, 0.06), 1.3};
    flow_blocks(canvas, fonts, page, column, share(canvas.height, 1.0 / 40), share(canvas.height, 0.07));
    page_border(canvas);
}

void sketch_lay_out_sheet(SketchCanvas &canvas, SketchFonts &fonts, const SketchPage &page)
{
    SketchStyle style = {std::max(3, share(canvas.height, 0.6 / 26)), false};
    Grid g = grid_frame(canvas.width, canvas.height);
    // Past a column's width and a margin of two ems, a value is clipped.
    CellLines values(fonts, style, widest_column(g) + 2 * style.pixels);
    int rows = std::max(1, (g.bottom - g.top) / g.row_height - 1);
    plan_columns(g, page, rows, values);
    draw_grid_lines(canvas, g, rows);
    SketchStyle label = {std::max(3, g.row_height / 2), false};
    size_t shown_columns = g.columns.size() - 1;
    for (size_t c = 0; c < shown_columns; ++c)
        draw_label(canvas, fonts, column_name(static_cast<uint32_t>(c)),
                   {g.columns[c], g.top, g.columns[c + 1], g.top + g.row_height}, label);
    for (int row = 0; row < rows; ++row)
        draw_label(canvas, fonts, std::to_string(row + 1),
                   {g.left, g.top + (row + 1) * g.row_height, g.left + g.header_width,
                    g.top + (row + 2) * g.row_height},
                   label);
    for (const SketchCell &cell : page.cells) {
        if (cell.row >= static_cast<uint32_t>(rows) || cell.column >= shown_columns)
            continue;
        int top = g.top + static_cast<int>(cell.row + 1) * g.row_height;
        SketchRect box = {g.columns[cell.column], top, g.columns[cell.column + 1], top + g.row_height};
        const CellLine &value = values.of(cell.text);
        draw_cell(canvas, fonts, value.line, box, style, ink, value.right);
    }
    page_border(canvas);
}

void sketch_lay_out_slide(SketchCanvas &canvas, SketchFonts &fonts, const SketchPage &page)
{
    int margin = share(canvas.width, 0.07);
    Column column = {margin, canvas.width - margin, canvas.height - share(canvas.height, 0.06), 1.25};
    int y = share(canvas.height, 0.08);
    size_t first = 0;
    if (!page.blocks.empty()) {
        SketchStyle title = {std::max(4, share(canvas.height, 0.1)), true};
        draw_block(canvas, fonts, column, page.blocks[0].text, title, heading_ink, 3, &y);
        y += share(canvas.height, 0.04);
        first = 1;
    }
    SketchStyle body = {std::max(3, share(canvas.height, 0.06)), false};
    for (size_t i = first; i < page.blocks.size(); ++i) {
        SketchStyle style = {body.pixels, page.blocks[i].bold};
        if (!draw_block(canvas, fonts, column, page.blocks[i].text, style, ink, SIZE_MAX, &y))
            break;
        y += body.pixels / 3;
    }
    page_border(canvas);
}

void sketch_lay_out_drawing(SketchCanvas &canvas, SketchFonts &fonts, const SketchPage &page)
{
    int margin = share(canvas.width, 0.07);
    Column column = {margin, canvas.width - margin, canvas.height - share(canvas.height, 0.06), 1.3};
    flow_blocks(canvas, fonts, page, column,
                share(std::min(canvas.width, canvas.height) * 297 / 210, 1.0 / 40),
                share(canvas.height, 0.07));
    page_border(canvas);
}

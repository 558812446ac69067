// Office Open XML workbooks: the first sheet's top-left cells, with the
// shared strings they name.
#include <cstdio>
#include <cstdlib>
#include <map>
#include <vector>

#include "platform/limits.h"
#include "sketch/readers/ooxml_names.h"
#include "sketch/readers/readers_intern.h"

namespace sketch_readers
{

using namespace ooxml;
using platform::limits::sketch_cell_bytes;
using platform::limits::sketch_sheet_columns;
using platform::limits::sketch_sheet_rows;

struct SheetCells {
    struct Cell {
        uint32_t row, column;
        std::string text;
        long shared = -1; // the shared string it shows, when it shows one
    };
    std::vector<Cell> cells;
    std::map<long, std::vector<size_t>> wanted; // shared string -> cells
    bool cut = false;
};

namespace
{

// A reference's column and row ("AB12" -> 27, 11); false when it is none.
bool parse_reference(const std::string &ref, uint32_t *row, uint32_t *column)
{
    size_t i = 0;
    uint64_t col = 0, r = 0;
    for (; i < ref.size() && isalpha(static_cast<unsigned char>(ref[i])) && i < 4; ++i)
        col = col * 26 + static_cast<uint64_t>(toupper(static_cast<unsigned char>(ref[i])) - 'A' + 1);
    size_t digits = i;
    for (; i < ref.size() && isdigit(static_cast<unsigned char>(ref[i])) && i - digits < 8; ++i)
        r = r * 10 + static_cast<uint64_t>(ref[i] - '0');
    if (col == 0 || r == 0 || i != ref.size())
        return false;
    *column = static_cast<uint32_t>(col - 1);
    *row = static_cast<uint32_t>(r - 1);
    return true;
}

// A number as a sheet shows it in its general format.
std::string shown_number(const std::string &value)
{
    bool ok;
    double number = parse_number(value, &ok);
    if (!ok)
        return value;
    char text[40];
    snprintf(text, sizeof text, "%.10g", number);
    return text;
}

// A sheet's text with its escapes (_x000D_: a character by its UTF-16
// code) turned into what they stand for; "_x005F_" escapes the underscore.
std::string unescaped(const std::string &text)
{
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        unsigned code;
        int used = 0;
        if (text[i] == '_' && i + 7 <= text.size() && text[i + 1] == 'x' && text[i + 6] == '_' &&
            sscanf(text.c_str() + i + 2, "%4x%n", &code, &used) == 1 && used == 4 &&
            (code < 0xD800 || code > 0xDFFF)) {
            if (code < 0x80) {
                out.push_back(static_cast<char>(code));
            } else if (code < 0x800) {
                out.push_back(static_cast<char>(0xC0 | (code >> 6)));
                out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
            } else {
                out.push_back(static_cast<char>(0xE0 | (code >> 12)));
                out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
                out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
            }
            i += 6;
            continue;
        }
        out.push_back(text[i]);
    }
    return out;
}

// The text of the t elements of an si or is element (runs included, their
// phonetic readings not).
std::string rich_text(XmlPart &xml)
{
    std::string text;
    bool pending = false;
    within(xml, [&] {
        if (is(xml, "rPh", x))
            return skip_element(xml);
        if (is(xml, "t", x))
            return go_on(within(xml, [&] {
                if (xml.type() == NodeType::Text)
                    fold_text(text, xml.text(), sketch_cell_bytes, &pending);
                return Walk::Next;
            }));
        return Walk::Next;
    });
    return unescaped(text);
}

void read_cell(XmlPart &xml, SheetCells *sheet, uint32_t row, uint32_t column)
{
    std::string type, value, inline_text;
    xml.attribute("t", nullptr, nullptr, &type);
    within(xml, [&] {
        if (is(xml, "v", x))
            return go_on(within(xml, [&] {
                if (xml.type() == NodeType::Text && value.size() < sketch_cell_bytes)
                    value += xml.text();
                return Walk::Next;
            }));
        if (is(xml, "is", x)) {
            inline_text = rich_text(xml);
            return Walk::Next;
        }
        return xml.type() == NodeType::Start ? skip_element(xml) : Walk::Next;
    });
    SheetCells::Cell cell{row, column, "", -1};
    if (type == "s") {
        bool ok;
        double index = parse_number(value, &ok);
        if (!ok || index < 0 || index > 1e9)
            return;
        cell.shared = static_cast<long>(index);
        sheet->wanted[cell.shared].push_back(sheet->cells.size());
    } else if (type == "inlineStr") {
        cell.text = inline_text;
    } else if (type == "b") {
        cell.text = value == "1" ? "TRUE" : value == "0" ? "FALSE" : value;
    } else if (type == "str" || type == "e") {
        cell.text = unescaped(value);
    } else {
        cell.text = shown_number(value);
    }
    if (cell.shared >= 0 || !cell.text.empty())
        sheet->cells.push_back(cell);
}

} // namespace

SheetCells *sheet_read(XmlPart &xml)
{
    auto *sheet = new SheetCells;
    if (!to_root(xml))
        return sheet;
    uint32_t row = 0;
    bool first_row = true;
    within(xml, [&] {
        if (!is(xml, "row", x))
            return Walk::Next;
        std::string ref;
        if (xml.attribute("r", nullptr, nullptr, &ref) && atol(ref.c_str()) > 0)
            row = static_cast<uint32_t>(atol(ref.c_str()) - 1);
        else if (!first_row)
            row++;
        first_row = false;
        if (row >= sketch_sheet_rows) {
            sheet->cut = true;
            return Walk::Stop;
        }
        uint32_t column = 0;
        bool first_cell = true;
        return go_on(within(xml, [&] {
            if (!is(xml, "c", x))
                return xml.type() == NodeType::Start ? skip_element(xml) : Walk::Next;
            uint32_t r = row, c = column;
            if (xml.attribute("r", nullptr, nullptr, &ref) && parse_reference(ref, &r, &c))
                column = c;
            else if (!first_cell)
                column++;
            first_cell = false;
            if (column >= sketch_sheet_columns)
                return skip_element(xml);
            read_cell(xml, sheet, row, column);
            return Walk::Next;
        }));
    });
    return sheet;
}

void sheet_strings(XmlPart &xml, SheetCells *sheet)
{
    if (sheet->wanted.empty() || !to_root(xml))
        return;
    long index = 0, last = sheet->wanted.rbegin()->first;
    within(xml, [&] {
        if (!is(xml, "si", x))
            return xml.type() == NodeType::Start ? skip_element(xml) : Walk::Next;
        auto wanted = sheet->wanted.find(index);
        if (wanted != sheet->wanted.end()) {
            std::string text = rich_text(xml);
            for (size_t cell : wanted->second)
                sheet->cells[cell].text = text;
        } else if (!xml.skip()) {
            return Walk::Stop;
        } else {
            return ++index > last ? Walk::Stop : Walk::Here;
        }
        return ++index > last ? Walk::Stop : Walk::Next;
    });
}

void sheet_put(SheetCells *sheet, PageBuilder &builder)
{
    for (const SheetCells::Cell &cell : sheet->cells)
        builder.cell(cell.row, cell.column, cell.text);
    if (sheet->cut)
        builder.cut();
}

void sheet_free(SheetCells *sheet)
{
    delete sheet;
}

} // namespace sketch_readers

// A sketch of a document's first page: what the document readers take out
// of a document (sketch/readers/) and the drawing (sketch/drawing/) puts on
// a page. Plain data; the readers fill it, the drawing only reads it.
//
// All text is UTF-8 as the document holds it, whitespace folded to single
// spaces. A page holds no more than the budgets of platform/limits.h let a
// reader take: enough to fill the page the drawing can show, never the
// whole of a large document.
#ifndef QUILLPEEK_SKETCH_PAGE_H
#define QUILLPEEK_SKETCH_PAGE_H

#include <cstdint>
#include <string>
#include <vector>

// What kind of page the document's first page is.
enum SketchKind {
    SKETCH_TEXT,    // a text document: paragraphs and headings, wrapped
    SKETCH_SHEET,   // a spreadsheet: the first sheet's top-left cells
    SKETCH_SLIDE,   // a presentation: the first slide's text
    SKETCH_DRAWING, // a drawing or anything else: the text it holds
};

// One paragraph, heading or text frame. level 0 is a paragraph; 1 to 6 a
// heading of that level (1 the largest).
struct SketchBlock {
    uint8_t level = 0;
    bool bold = false;
    std::string text;
};

// One cell of a spreadsheet's first sheet, counted from 0 at its top left.
struct SketchCell {
    uint32_t row = 0;
    uint32_t column = 0;
    std::string text; // the value as shown (the cell's text, else its value)
};

struct SketchPage {
    SketchKind kind = SKETCH_TEXT;
    // The page's size in millimetres, of which the drawing keeps the
    // proportions: A4 portrait when the document names none, a slide's own
    // size for a presentation.
    double width_mm = 210.0;
    double height_mm = 297.0;
    std::vector<SketchBlock> blocks; // text, slides and drawings, in order
    std::vector<SketchCell> cells;   // spreadsheets, in row order
    bool cut = false;                // a budget ended the reading early
};

#endif

// The drawing: a sketch page as pixels, its glyphs shaped with HarfBuzz and
// drawn with FreeType from a font that fontconfig finds.
//
// The page is white; text documents get their paragraphs and headings
// (larger and bold) wrapped to the page's width, as many lines as fit;
// spreadsheets a grid of their top-left cells; slides and drawings their
// text. Text that no installed font covers is drawn as boxes, never
// dropped.
#ifndef QUILLPEEK_SKETCH_DRAWING_DRAWING_H
#define QUILLPEEK_SKETCH_DRAWING_DRAWING_H

#include <cstdint>

#include "sketch/page.h"

// The page drawn into a new block of width x height pixels of 4 bytes in
// the order alpha, red, green, blue (a PictureBuffer's layout, rows of
// width x 4 bytes), from AllocVec; the caller releases it with FreeVec.
// Null when it cannot be drawn, with why in *problem, said of the document
// as the readers' messages are ("cannot be sketched: no font can be
// found", "is too large to sketch", ...).
void *sketch_draw_page(const SketchPage &page, uint32_t width, uint32_t height, const char **problem);

#endif

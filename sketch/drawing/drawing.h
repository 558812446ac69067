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

// The fonts of a drawing, found while the document is read: fontconfig,
// with FreeType, is loaded and the fonts found on a thread of their own (at
// once, where no thread can be made). HarfBuzz is loaded only when the page
// is drawn, once the reader's libraries have left, so that the two never
// hold their memory at once. Owned by the caller, who hands them to
// sketch_draw_page, or to sketch_fonts_end when no page is drawn; both wait
// for the thread and release them. Null when there is not enough memory.
struct SketchFontsBegun;
SketchFontsBegun *sketch_fonts_begin();
void sketch_fonts_end(SketchFontsBegun *fonts);

// The page drawn into a new block of width x height pixels of 4 bytes in
// the order alpha, red, green, blue (a PictureBuffer's layout, rows of
// width x 4 bytes), from AllocVec; the caller releases it with FreeVec.
// Null when it cannot be drawn, with why in *problem, said of the document
// as the readers' messages are ("cannot be sketched: no font can be
// found", "is too large to sketch", ...).
// With fonts from sketch_fonts_begin, which it releases; without, it finds
// its own.
void *sketch_draw_page(SketchFontsBegun *fonts, const SketchPage &page, uint32_t width, uint32_t height,
                       const char **problem);
void *sketch_draw_page(const SketchPage &page, uint32_t width, uint32_t height, const char **problem);

#endif

// The four kinds of page laid out on a white canvas of the page's size;
// every size is a share of the page's, so a sketch looks the same at any
// size drawn. Body text is about a fortieth of a text page's height, the
// size a person still reads once the sketch is shrunk to 256 or 512
// pixels; headings are larger and bold.
#ifndef QUILLPEEK_SKETCH_DRAWING_LAYOUTS_H
#define QUILLPEEK_SKETCH_DRAWING_LAYOUTS_H

#include "sketch/drawing/pixels.h"
#include "sketch/page.h"

// Paragraphs and headings wrapped within the margins, as many as fit.
void sketch_lay_out_text(SketchCanvas &canvas, SketchFonts &fonts, const SketchPage &page);

// A grid of the top-left cells with their values, each clipped to its cell.
void sketch_lay_out_sheet(SketchCanvas &canvas, SketchFonts &fonts, const SketchPage &page);

// The slide's first block as its title, the rest below it.
void sketch_lay_out_slide(SketchCanvas &canvas, SketchFonts &fonts, const SketchPage &page);

// A drawing's text, block after block.
void sketch_lay_out_drawing(SketchCanvas &canvas, SketchFonts &fonts, const SketchPage &page);

#endif

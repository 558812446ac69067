// A sketch of a document's first page, for a document that carries no
// preview picture that can be shown: its text read (sketch/readers/) and
// drawn on a page of the document's proportions (sketch/drawing/).
#ifndef QUILLPEEK_SKETCH_SKETCH_H
#define QUILLPEEK_SKETCH_SKETCH_H

#include <cstdint>

// The sketch of the document at path, its longer side longest pixels, as a
// PictureBuffer-like block (alpha, red, green, blue; rows of *width x 4
// bytes) from AllocVec that the caller releases with FreeVec. Null when
// there is none, with why in *problem.
void *sketch_document(const char *path, uint32_t longest, uint32_t *width, uint32_t *height,
                      const char **problem);

#endif

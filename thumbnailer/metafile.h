// A Windows metafile (WMF) preview, drawn with libwmf for the thumbnailer.
//
// metafile_draw takes the preview as it was unpacked: block and size, which
// stay the caller's and are only read. It gives the picture drawn on opaque
// white in a new block from AllocVec, the caller's to FreeVec: *width x
// *height pixels of four bytes, alpha, red, green and blue, in rows of
// width * 4 bytes (the thumbnailer's Picture). The picture keeps the
// metafile's own proportions, its longest side `longest` pixels (at most
// platform::limits::metafile_side). Otherwise it gives null, and *problem
// says why in a few words ("it fills by flooding, which is not drawn").
// An enhanced metafile (EMF) is never drawn.
//
// The metafile is checked first (thumbnailer/wmf_check.h); libwmf
// (libwmf-0.2.so.7) is loaded only then, the first time a WMF is met, like
// the sketch's libraries: a document with a PNG or JPEG preview never loads
// it. libwmf draws through its gd device, whose every shape is costed first
// against platform::limits::metafile_pixel_work, and allocates through a
// budget of platform::limits::metafile_memory; it is told to print nothing.
// Bitmaps are drawn only as plain copies (a bitmap combined with what lies
// beneath it is left out). Text is drawn with the URW fonts libwmf maps the
// Windows faces to (fonts-urw-base35, under /usr/share/fonts, which the
// thumbnailer's confinement leaves readable); a metafile without text needs
// no font file at all, and one whose text finds no font is refused.
#ifndef QUILLPEEK_THUMBNAILER_METAFILE_H
#define QUILLPEEK_THUMBNAILER_METAFILE_H

#include <cstdint>

void *metafile_draw(const void *block, uint32_t size, uint32_t longest, uint32_t *width, uint32_t *height,
                    const char **problem);

#endif

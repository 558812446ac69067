// Picture decoding: an in-memory picture file into a PictureBuffer.
//
// A PictureBuffer is a block of width x height x 16 bytes from AllocVec: the
// pixels, 4 bytes each in the byte order alpha, red, green, blue, rows from
// the top with no gaps, fill its first width x height x 4 bytes; the rest is
// zero. It belongs to the caller (FreeVec releases it).
//
// Each routine opens datatypes.library, decodes the block anew and closes the
// library before it returns; none may run while another runs. DTLoad needs
// GfxBase and CyberGfxBase open.
#ifndef QUILLPEEK_PICTURE_PICTURE_H
#define QUILLPEEK_PICTURE_PICTURE_H

#include <cstdint>

// The picture in block as a new PictureBuffer, or null when it cannot be
// decoded or the buffer cannot be had.
void *DTLoad(void *block, uint32_t size);

// The picture's width and height in pixels; 0 when it has no size.
uint32_t DT_width(void *block, uint32_t size);
uint32_t DT_height(void *block, uint32_t size);

// Why the picture in block gives no PictureBuffer or no size, in a few words
// fit for a message ("its thumbnail is not a picture that can be decoded",
// ...); for diagnostics after a failure, never on the viewing path itself.
// Decodes through DT_width and DT_height and asks dos.library's IoErr why
// they failed, so DOSBase must be open.
const char *picture_problem(void *block, uint32_t size);

#endif

// Text utilities. Results are fresh zero-filled blocks from AllocVec, one
// byte longer than the input text, and belong to the caller (FreeVec
// releases them); null when the block cannot be had. Only the first byte of
// separator, from and to counts; an empty text stands for the zero byte.
#ifndef QUILLPEEK_TEXT_TEXT_H
#define QUILLPEEK_TEXT_TEXT_H

#include <cstdint>

// Field number index (from 0) of text cut at the separator character; the
// empty text when there is no such field.
char *textsplit(const char *text, int32_t index, const char *separator);

// A copy of text with every from character replaced by the to character.
// A zero to character ends the copy at the first from character; a zero
// from character replaces nothing.
char *changechars(const char *text, const char *from, const char *to);

#endif

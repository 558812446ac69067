// The document readers: a document's first page as text, for its sketch.
//
// They read an OpenDocument package (content.xml, with styles.xml for the
// page size), a StarOffice 6 / OpenOffice.org 1.x package (the same parts),
// or an Office Open XML package (word/document.xml; xl/sharedStrings.xml
// with the first worksheet; the first slide, each found through the
// package's relationships), with libxml2's streaming reader: no DTD loaded,
// no entity expanded, no network, within the budgets of platform/limits.h,
// stopping as soon as a page is full. The members are taken out through
// the archive routines (archive/archive.h), so every rule and budget of
// xadmaster.library holds for them.
#ifndef QUILLPEEK_SKETCH_READERS_READERS_H
#define QUILLPEEK_SKETCH_READERS_READERS_H

#include "sketch/page.h"

// The first page of the document at path into *page. Returns null when
// page holds text to draw; otherwise why there is none, in a few words fit
// for a message ("holds no text to sketch", "is not a document that can be
// sketched", ...), and *page is then empty.
const char *sketch_read_document(const char *path, SketchPage *page);

// Whether the file is an Office Open XML document enciphered with a
// password, which is no zip but a compound file holding the enciphered
// package. Reads the file's first 64 KiB; loads nothing.
bool sketch_enciphered_package(const char *path);

// Unloads libxml2 until the next document is read: what is drawn after the
// reading needs none of it.
void sketch_reading_done();

#endif

// The thumbnailer's own reading of a Windows metafile (WMF) before libwmf is
// given it (thumbnailer/metafile.h).
//
// libwmf trusts what a metafile says of itself: the header's largest record
// and object count size its tables, a record's counts say how far its
// parameters are read, a bitmap's header how much of it is decoded. This
// check walks the whole block once, without allocating, and refuses what
// libwmf could read past or spend without bound: a header of its own kind
// (placeable or standard), records that stay within the block and within the
// largest record the header names, each long enough for what libwmf reads
// of it, and the budgets of platform/limits.h (block size, records, objects,
// text, clipping, regions, bitmaps). Bitmaps must be uncompressed DIBs that
// hold all their rows; flood fills and device-dependent bitmaps are refused.
//
// It also says what frame the picture is drawn in: its proportions and
// whether libwmf maps it onto its own square viewport (see WmfFrame).
#ifndef QUILLPEEK_THUMBNAILER_WMF_CHECK_H
#define QUILLPEEK_THUMBNAILER_WMF_CHECK_H

#include <cstddef>
#include <cstdint>

struct WmfFrame {
    // The picture's proportions, in its own units: the placeable header's
    // rectangle, else the window extent set before the first drawing; both
    // 0 when it names neither (the drawing's own extent stands for them).
    uint32_t width = 0;
    uint32_t height = 0;
    // Drawn through an anisotropic window that stays as it was set before
    // the first drawing record, with no viewport of its own: libwmf maps
    // that window onto its default viewport of 1024 x 1024 device units,
    // which is then the picture's frame whatever the drawing's own extent.
    bool square_viewport = false;
};

// The default viewport libwmf maps an anisotropic window onto.
constexpr float wmf_default_viewport = 1024.0f;

// Whether the block begins as a WMF does (placeable key or standard header).
bool wmf_recognised(const unsigned char *bytes, size_t size);

// Null when a DIB (its header, colour table and rows, in bytes) is one the
// check lets through, else why not.
const char *wmf_dib_problem(const unsigned char *dib, size_t bytes);

// Null when libwmf may be given the block (and *frame says its frame), else
// why not, as words that follow "its preview ..." ("is cut short").
const char *wmf_check(const unsigned char *bytes, size_t size, WmfFrame *frame);

#endif

// The work budgets of the platform's libraries, in one place.
//
// A document is untrusted input: a file manager hands every download to the
// thumbnailer, and a viewer is opened on whatever a person double-clicks.
// Every document must end within a few seconds of CPU time and well under
// 256 MiB of memory on a small machine, whatever it claims about itself. The
// libraries meet that by their own caps, listed here, rather than by rlimits.
// Each cap, when reached, makes its call fail with a reason that names the
// limit, so the message a person reads says which one was met. None of them
// comes near a real document: the largest real thumbnails and listings are
// far below them.
#ifndef QUILLPEEK_PLATFORM_LIMITS_H
#define QUILLPEEK_PLATFORM_LIMITS_H

#include <cstddef>
#include <cstdint>

namespace platform::limits
{

// --- Archives (xadmaster.library) ---
//
// A listing is built in full before any member is chosen, and reaching one
// member may mean unpacking every member before it (a compressed tar, a solid
// 7z or rar): both are bounded here. Each cap, when met, fails the call with
// the XADERR_LIMIT_* code named beside it.

// Members in one listing (XADERR_LIMIT_MEMBERS); also the most records a zip's
// central directory may declare before libarchive reads it.
constexpr uint64_t archive_listing_members = uint64_t(1) << 18;

// Bytes of the members' names in one listing, and the most that a zip's
// central directory or a 7z's header may declare (XADERR_LIMIT_LISTING).
constexpr uint64_t archive_listing_names = uint64_t(32) << 20;

// Bytes unpacked while listing: a compressed tar's headers and the data
// between them, the data of members whose size is known only by reading them
// (XADERR_LIMIT_UNPACKED).
constexpr uint64_t archive_listing_unpacked = uint64_t(256) << 20;

// Bytes unpacked while reaching and extracting one member, the members
// before it included (XADERR_LIMIT_UNPACKED).
constexpr uint64_t archive_extract_unpacked = uint64_t(512) << 20;

// The largest member written to a file (XAD_OUTFILENAME) (XADERR_LIMIT_FILE).
// No larger than the largest member taken into memory (XAD_MEMBER_LIMIT).
constexpr uint64_t archive_file_member = uint64_t(64) << 20;

// --- Pictures (datatypes.library and its decoders) ---
//
// The size of a picture is bound by PICTURE_MAX_PIXELS (platform/datatypes.h),
// checked from its header before any pixel memory is taken. What a source
// may make a decoder do beyond that is bound here; each reached budget makes
// the decode fail with the IoErr code named beside it.

// The work of one JPEG decode, in pixel scans: the picture's pixels times
// the scans that pass over them. A progressive picture is read scan by scan,
// and a source may repeat scans up to libjpeg's cap of 1000; real pictures
// use about ten. 300 million lets a 4096 x 4096 picture have 17 scans and a
// 1000 x 1000 one 300. DTERROR_WORK_LIMIT, checked as each scan begins.
constexpr uint64_t jpeg_decode_work = 300u * 1000u * 1000u;

// The memory libjpeg may take for one decode (its max_memory_to_use): a
// progressive picture holds all its coefficients, 2 bytes per pixel of each
// component. 64 MiB holds a 4096 x 4096 picture in 4:2:0 (48 MiB).
// DTERROR_MEMORY_LIMIT, checked before the first scan is read.
constexpr long jpeg_decode_memory = 64l * 1024 * 1024;

// The bytes of metadata a picture may carry: a JPEG's APPn and COM segments
// in all (skipped, never saved; a source carrying more is refused from its
// header before libjpeg reads it), and the chunks libspng keeps of a PNG
// (text and the like). Real pictures carry EXIF, XMP and ICC profiles of a
// few hundred KiB at most. No single PNG chunk but the image data may be
// larger than png_chunk_bytes. DTERROR_METADATA_LIMIT.
constexpr size_t picture_metadata_bytes = 16u * 1024u * 1024u;
constexpr size_t png_chunk_bytes = 4u * 1024u * 1024u;

// --- The sketch of a document's first page (sketch/readers/) ---
//
// The thumbnailer draws a sketch of a document that carries no preview from
// its own XML parts. A page holds far less than any of these; what stops a
// reader early is mostly the page filling up. A budget reached ends the
// reading as if the page ended there (SketchPage::cut): the page keeps what
// was read, and a page with no text at all is refused as holding none.

// Bytes of one XML part read: a larger member is unpacked only this far and
// read as if it ended there (XAD_part_unpacker's limit).
constexpr uint32_t sketch_part_bytes = 8u << 20;
// Of content.xml, only the first bytes are unpacked at first; when the page
// is not full by their end, eight times as many, and so on up to
// sketch_part_bytes.
constexpr uint32_t sketch_part_first_bytes = 128u << 10;

// Nodes of one part that the streaming reader steps through (elements,
// their ends and texts): millions of empty paragraphs end here.
constexpr uint64_t sketch_part_nodes = uint64_t(1) << 20;

// Elements nested within each other; deeper content is not read.
constexpr int sketch_xml_depth = 128;

// Bytes of text kept on one page, all blocks and cells together, and of one
// cell.
constexpr size_t sketch_text_bytes = 32u * 1024u;
constexpr size_t sketch_cell_bytes = 256;

// Bytes of text kept on a page of paragraphs, a slide or a drawing: the
// reading stops once the page is full. At the sketch's body size (a
// fortieth of the page's height) an A4 page shows about 1,100 characters
// upright and 2,300 across; a page wider than A4 across keeps more in
// proportion, up to sketch_text_bytes. A sheet keeps sketch_text_bytes.
constexpr size_t sketch_page_text_bytes = 4096;

// Paragraphs, headings and text frames on one page.
constexpr size_t sketch_blocks = 200;

// The top-left cells of a spreadsheet's first sheet that are kept. A
// sketch's grid shows 23 rows, and never more than 35 at any size drawn
// (its rows are a 26th of the page's height, rounded).
constexpr uint32_t sketch_sheet_rows = 36;
constexpr uint32_t sketch_sheet_columns = 20;

// Style names remembered while reading (which are bold, which headings, the
// page layouts), per part.
constexpr size_t sketch_styles = 4096;

// --- Windows metafile previews (thumbnailer/metafile.h) ---
//
// The thumbnailer draws a preview that is a WMF with libwmf. The metafile is
// checked before libwmf sees it (thumbnailer/wmf_check.h), and its drawing
// is watched as it goes; a budget met refuses the picture, with a reason
// that names it, and the document gets its sketch instead. Real previews are
// a few hundred records of a few KiB; their text is a sheet's or a page's
// first lines.

// Bytes of one metafile.
constexpr size_t metafile_bytes = 8u << 20;

// Records of one metafile, and objects its header may claim (libwmf keeps
// a table of that many from the start).
constexpr uint32_t metafile_records = 1u << 16;
constexpr uint32_t metafile_objects = 4096;

// Bytes of text in all its text records: libwmf measures every string with
// FreeType while it scans.
constexpr size_t metafile_text_bytes = 16u * 1024u;

// Records that change the clipping or make a region, and rectangles of one
// region: libwmf combines regions rectangle by rectangle, and the drawing
// tests every pixel against every clipping rectangle.
constexpr uint32_t metafile_clip_records = 4096;
constexpr size_t metafile_region_rectangles = 1024;

// Pixels of one bitmap it carries (4096 x 4096).
constexpr uint64_t metafile_bitmap_pixels = uint64_t(16) << 20;

// The longest side it is drawn at: the thumbnailer's drawing size, never
// more than this.
constexpr uint32_t metafile_side = 2048;

// Bytes libwmf may hold at once (its own tables, records and bitmaps),
// through the allocator it is given; the drawing's picture itself is the
// picture's size.
constexpr size_t metafile_memory = 64u << 20;

// The drawing's work, in pixels touched: each shape's pixels, a line's
// length times its pen's area, a text's glyphs, a bitmap's pixels, each
// times the clipping rectangles every pixel is tested against. 64 Mi is a
// thousand times a 256 x 256 picture.
constexpr uint64_t metafile_pixel_work = uint64_t(64) << 20;

} // namespace platform::limits

#endif

// What the document readers share among themselves; not for other code.
//
//   libxml.*       libxml2, loaded when first needed
//   xml_part.*     one XML part node by node, within the budgets
//   page_builder.* the page's blocks and cells, within the budgets
//   package.cpp    parts taken out of the document, relationships resolved
//   odf.cpp        OpenDocument and StarOffice 6 / OpenOffice.org 1.x
//   ooxml.cpp      Office Open XML: the main part found, and its kind
//   word.cpp       its word processing documents
//   sheet.cpp      its workbooks
//   slides.cpp     its presentations
//   walk.h         walking an element's content; namespaces
//   ooxml_names.h  Office Open XML's namespaces
//   readers.cpp    sketch_read_document: which reader a document is for
#ifndef QUILLPEEK_SKETCH_READERS_INTERN_H
#define QUILLPEEK_SKETCH_READERS_INTERN_H

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

#include "sketch/page.h"
#include "sketch/readers/page_builder.h"
#include "sketch/readers/xml_part.h"

namespace sketch_readers
{

// --- Parts (package.cpp) ---

// One part of the document taken out of it: at most sketch_part_bytes,
// held in the block the archive routines unpacked it into.
class Part
{
  public:
    enum Outcome { Whole, Cut, Missing, Failed } outcome = Missing;
    const char *problem = nullptr; // why, when Failed

    Part() = default;
    Part(Part &&other) noexcept { *this = std::move(other); }
    Part &operator=(Part &&other) noexcept;
    Part(const Part &) = delete;
    Part &operator=(const Part &) = delete;
    ~Part() { clear(); }

    bool present() const { return outcome == Whole || outcome == Cut; }
    // Its bytes, zero-terminated; "" when it has none.
    const char *bytes() const { return block_ != nullptr ? block_ + start_ : ""; }
    size_t size() const { return size_; }
    std::string_view text() const { return {bytes(), size_}; }
    // Holds block (from AllocVec), of size bytes.
    void hold(char *block, size_t size);
    void clear();
    // Leaves out its bytes [from, to), in place: those before them are
    // moved up to meet those after.
    void cut_out(size_t from, size_t to);

  private:
    char *block_ = nullptr;
    size_t start_ = 0; // where its bytes begin in the block
    size_t size_ = 0;
};
Part take_part(const char *path, const std::string &name);
// Its first limit bytes at most (Cut when it holds more).
Part take_part(const char *path, const std::string &name, uint32_t limit);
// A part no larger than limit bytes: one larger is not read (Failed).
Part take_small_part(const char *path, const std::string &name, uint32_t limit);

// The relationships part of the part named source ("" for the package).
std::string relationships_of(const std::string &source);
// A relationship's target as a part name, resolved against the part that
// names it; "" when it names no part of the package: an external target,
// an absolute URL, or one that leaves the package's root.
std::string resolve_target(const std::string &source, const std::string &target);
// The part that the first relationship of source with this Id (when id is
// not empty) or whose type ends with type_suffix names; "" when none.
std::string related_part(const char *path, const std::string &source, const std::string &id,
                         const char *type_suffix);

// Numbers in documents.
double parse_number(const std::string &text, bool *ok);
// A length with its unit (cm, mm, in, pt, pc, px) in millimetres; 0 when it
// is none.
double length_mm(const std::string &text);
// A page size is taken only within these bounds, in millimetres.
bool sane_page(double width_mm, double height_mm);

// --- Readers (odf.cpp, ooxml.cpp) ---

// null with the page filled, else why there is none. content is the
// package's content.xml, or its first bytes: more of it is taken when the
// page needs more.
const char *read_odf(const char *path, Part content, SketchPage *page);
const char *read_ooxml(const char *path, SketchPage *page);

// The readers of one XML part each, for the page and for fuzzing: they
// take what they can and say through the builder what they took.
void odf_content(XmlPart &xml, PageBuilder &builder, SketchPage *page, const std::string &mimetype);
// The first master page's size into *page; false when it names none.
// *master_found, when given, says whether a master page was reached.
bool odf_styles(XmlPart &xml, SketchPage *page, bool *master_found = nullptr);
// The same of a styles.xml, read from its automatic styles on where it is
// laid out as written, else whole.
bool odf_page_size(std::string_view styles, SketchPage *page);
bool odf_encrypts_content(XmlPart &manifest);

// The word processing document's styles: which are headings, which bold.
struct WordStyles;
WordStyles *word_styles_read(XmlPart &xml);
void word_styles_free(WordStyles *styles);
void word_document(XmlPart &xml, const WordStyles *styles, PageBuilder &builder, SketchPage *page);

// A sheet's top-left cells; the shared strings it names are then filled in.
struct SheetCells;
SheetCells *sheet_read(XmlPart &xml);
void sheet_strings(XmlPart &xml, SheetCells *cells);
void sheet_put(SheetCells *cells, PageBuilder &builder);
void sheet_free(SheetCells *cells);

void slide_read(XmlPart &xml, PageBuilder &builder);

} // namespace sketch_readers

#endif

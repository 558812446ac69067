// One XML part of a document read node by node with libxml2's streaming
// reader, within the sketch budgets of platform/limits.h.
//
// The reader is made safe for untrusted parts: no DTD is loaded, no entity
// is expanded (a reference stays unsubstituted and gives no text), nothing
// is fetched from the network or from a file (every external entity is
// refused while the part is read), libxml2's own limits on names, texts and
// depth stay in force (no XML_PARSE_HUGE), and nothing is printed. Reading
// ends at the part's end, at its first error, or when a budget is met: the
// nodes stepped through (sketch_part_nodes) or an element nested deeper than
// sketch_xml_depth. A part that ends inside a text (cut at its budget of
// bytes, or damaged there) still gives that text's start as a last text
// node. libxml2 is loaded when the first part is read (libxml.h); a part
// read without it has failed at once.
#ifndef QUILLPEEK_SKETCH_READERS_XML_PART_H
#define QUILLPEEK_SKETCH_READERS_XML_PART_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

struct _xmlTextReader;

namespace sketch_readers
{

enum class NodeType { Start, End, Text, Other };

class XmlPart
{
  public:
    // Over size bytes at data, which stay the caller's and must outlive it.
    XmlPart(const char *data, size_t size);
    ~XmlPart();
    XmlPart(const XmlPart &) = delete;
    XmlPart &operator=(const XmlPart &) = delete;

    // Steps to the next node; false when the reading has ended.
    bool next();
    // Steps past the current element's content and end, to the node after
    // it; false when the reading has ended.
    bool skip();

    NodeType type() const { return type_; }
    int depth() const { return depth_; }
    // The current element's local name and namespace URI ("" when none).
    const char *name() const;
    const char *ns() const;
    const char *prefix() const; // "" when none
    // Whether the current node starts an element of that local name whose
    // namespace is one of the (up to two) URIs given.
    bool starts(const char *local, const char *ns1, const char *ns2 = nullptr) const;
    bool ends(const char *local) const;
    // Whether the current start is of an element with no content (no End
    // follows it).
    bool empty() const { return empty_; }
    // The current text node's text (UTF-8).
    const char *text() const;
    // The current element's attribute of that local name in either
    // namespace (or in none, when ns1 is null); false when it has none.
    bool attribute(const char *local, const char *ns1, const char *ns2, std::string *value);

    // Whether the part was not well-formed (or not XML at all) where the
    // reading ended, and whether a budget ended it.
    bool failed() const { return failed_; }
    bool budget_met() const { return budget_met_; }
    // Whether the reading went on to the end of the bytes given (or to an
    // error), rather than being left off by its caller or by a budget.
    bool ran_out() const { return ran_out_; }
    // Whether any element was read at all.
    bool started() const { return started_; }
    // The part's bytes as given, which stay the caller's.
    const char *bytes() const { return bytes_; }
    size_t byte_count() const { return byte_count_; }

  private:
    bool settle(int status);
    bool take_tail();
    ::_xmlTextReader *reader_ = nullptr;
    const char *bytes_ = nullptr;
    size_t byte_count_ = 0;
    NodeType type_ = NodeType::Other;
    int depth_ = 0;
    bool empty_ = false;
    bool failed_ = false;
    bool budget_met_ = false;
    bool ran_out_ = false;
    bool started_ = false;
    bool guarded_ = false; // libxml2 loaded and its guard taken
    uint64_t nodes_ = 0;
    std::string tail_; // the text the part ended inside, once read
};

// Looking in a part's bytes before, or instead of, parsing them: for an
// element that a reader would otherwise reach only by parsing much that it
// does not need. What is found there is then parsed as XML on its own.

// Where the first start tag of the element named qualified (with its
// prefix, as the part writes it) begins at or after from; npos when none.
size_t find_start_tag(std::string_view bytes, const std::string &qualified, size_t from = 0);
// The same, stepping over comments, CDATA sections and processing
// instructions, and over tags whole, from a place between two nodes: a
// start tag found so lies in no comment or value.
size_t find_element(std::string_view bytes, const std::string &qualified, size_t from);
// Where the tag that begins at at ends (its '>'), quoted values stepped
// over; npos when it does not end within limit bytes.
size_t tag_end(std::string_view bytes, size_t at, size_t limit = 64 * 1024);

} // namespace sketch_readers

#endif

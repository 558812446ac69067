// See xml_part.h.
#include "sketch/readers/xml_part.h"

#include <cstring>

#include "platform/limits.h"
#include "sketch/readers/libxml.h"

namespace sketch_readers
{

namespace
{

// Options: never the network, no DTD loaded or defaulted, no entity
// substituted, no XInclude, no lifting of libxml2's own limits, no output.
const int reader_options = XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING;

xmlParserInputPtr refuse_entity(const char *, const char *, xmlParserCtxtPtr)
{
    return nullptr;
}

void ignore_error(void *, xmlErrorPtr) {}
void ignore_generic(void *, const char *, ...) {}

// While any part is open: external entities refused, nothing printed.
int open_parts = 0;
xmlExternalEntityLoader saved_loader = nullptr;

void guard_begin()
{
    if (open_parts++ > 0)
        return;
    libxml().xmlInitParser();
    saved_loader = libxml().xmlGetExternalEntityLoader();
    libxml().xmlSetExternalEntityLoader(refuse_entity);
    libxml().xmlSetGenericErrorFunc(nullptr, ignore_generic);
    libxml().xmlSetStructuredErrorFunc(nullptr, ignore_error);
}

void guard_end()
{
    if (--open_parts > 0)
        return;
    libxml().xmlSetExternalEntityLoader(saved_loader);
    libxml().xmlSetGenericErrorFunc(nullptr, nullptr);
    libxml().xmlSetStructuredErrorFunc(nullptr, nullptr);
}

bool same(const xmlChar *a, const char *b)
{
    return a != nullptr && b != nullptr && strcmp(reinterpret_cast<const char *>(a), b) == 0;
}

} // namespace

XmlPart::XmlPart(const char *data, size_t size) : bytes_(data), byte_count_(size)
{
    if (!sketch_libxml_load()) {
        failed_ = true;
        return;
    }
    guarded_ = true;
    guard_begin();
    if (size > platform::limits::sketch_part_bytes)
        size = platform::limits::sketch_part_bytes;
    reader_ = libxml().xmlReaderForMemory(data, static_cast<int>(size), nullptr, nullptr, reader_options);
    if (reader_ == nullptr) {
        failed_ = true;
        return;
    }
    libxml().xmlTextReaderSetStructuredErrorHandler(reader_, ignore_error, nullptr);
}

XmlPart::~XmlPart()
{
    if (reader_ != nullptr)
        libxml().xmlFreeTextReader(reader_);
    if (guarded_)
        guard_end();
}

// The text the reading stopped inside: the last node the parser built
// after the current one, when it is a text. At most tail_bytes of it.
bool XmlPart::take_tail()
{
    const size_t tail_bytes = 64 * 1024;
    xmlNodePtr current = libxml().xmlTextReaderCurrentNode(reader_);
    if (current == nullptr)
        return false;
    // What follows the node read last: its content when it was its start,
    // else its siblings; and the last of that, as deep as it goes.
    xmlNodePtr node = type_ == NodeType::Start ? current->last : current->next;
    for (int steps = 0; node != nullptr && steps < 4 * platform::limits::sketch_xml_depth; ++steps) {
        if (node->next != nullptr)
            node = node->next;
        else if (node->type == XML_ELEMENT_NODE && node->last != nullptr)
            node = node->last;
        else
            break;
    }
    if (node == nullptr || node == current || node->type != XML_TEXT_NODE || node->content == nullptr)
        return false;
    const char *text = reinterpret_cast<const char *>(node->content);
    size_t length = strnlen(text, tail_bytes);
    while (length > 0 && length == tail_bytes && (static_cast<unsigned char>(text[length]) & 0xC0) == 0x80)
        --length; // not inside a character
    tail_.assign(text, length);
    return !tail_.empty();
}

bool XmlPart::settle(int status)
{
    if (status != 1) {
        failed_ = failed_ || status < 0;
        ran_out_ = true;
        bool tail = status < 0 && started_ && take_tail();
        libxml().xmlFreeTextReader(reader_);
        reader_ = nullptr;
        type_ = tail ? NodeType::Text : NodeType::Other;
        return tail;
    }
    if (++nodes_ > platform::limits::sketch_part_nodes) {
        budget_met_ = true;
        libxml().xmlFreeTextReader(reader_);
        reader_ = nullptr;
        return false;
    }
    depth_ = libxml().xmlTextReaderDepth(reader_);
    empty_ = false;
    switch (libxml().xmlTextReaderNodeType(reader_)) {
    case XML_READER_TYPE_ELEMENT:
        type_ = NodeType::Start;
        empty_ = libxml().xmlTextReaderIsEmptyElement(reader_) == 1;
        started_ = true;
        if (depth_ > platform::limits::sketch_xml_depth) {
            budget_met_ = true;
            libxml().xmlFreeTextReader(reader_);
            reader_ = nullptr;
            return false;
        }
        break;
    case XML_READER_TYPE_END_ELEMENT:
        type_ = NodeType::End;
        break;
    case XML_READER_TYPE_TEXT:
    case XML_READER_TYPE_CDATA:
    case XML_READER_TYPE_WHITESPACE:
    case XML_READER_TYPE_SIGNIFICANT_WHITESPACE:
        type_ = NodeType::Text;
        break;
    default:
        type_ = NodeType::Other; // entity references among them: no text
        break;
    }
    return true;
}

bool XmlPart::next()
{
    return reader_ != nullptr && settle(libxml().xmlTextReaderRead(reader_));
}

bool XmlPart::skip()
{
    if (reader_ == nullptr)
        return false;
    if (type_ != NodeType::Start || empty_)
        return next();
    return settle(libxml().xmlTextReaderNext(reader_));
}

const char *XmlPart::name() const
{
    const xmlChar *name = reader_ != nullptr ? libxml().xmlTextReaderConstLocalName(reader_) : nullptr;
    return name != nullptr ? reinterpret_cast<const char *>(name) : "";
}

const char *XmlPart::prefix() const
{
    const xmlChar *prefix = reader_ != nullptr ? libxml().xmlTextReaderConstPrefix(reader_) : nullptr;
    return prefix != nullptr ? reinterpret_cast<const char *>(prefix) : "";
}

const char *XmlPart::ns() const
{
    const xmlChar *uri = reader_ != nullptr ? libxml().xmlTextReaderConstNamespaceUri(reader_) : nullptr;
    return uri != nullptr ? reinterpret_cast<const char *>(uri) : "";
}

bool XmlPart::starts(const char *local, const char *ns1, const char *ns2) const
{
    if (type_ != NodeType::Start || strcmp(name(), local) != 0)
        return false;
    const char *uri = ns();
    return strcmp(uri, ns1) == 0 || (ns2 != nullptr && strcmp(uri, ns2) == 0);
}

bool XmlPart::ends(const char *local) const
{
    return type_ == NodeType::End && strcmp(name(), local) == 0;
}

const char *XmlPart::text() const
{
    if (reader_ == nullptr)
        return tail_.c_str();
    const xmlChar *value = reader_ != nullptr ? libxml().xmlTextReaderConstValue(reader_) : nullptr;
    return value != nullptr ? reinterpret_cast<const char *>(value) : "";
}

bool XmlPart::attribute(const char *local, const char *ns1, const char *ns2, std::string *value)
{
    if (reader_ == nullptr || type_ != NodeType::Start)
        return false;
    bool found = false;
    if (libxml().xmlTextReaderMoveToFirstAttribute(reader_) != 1)
        return false;
    do {
        if (!same(libxml().xmlTextReaderConstLocalName(reader_), local))
            continue;
        const xmlChar *uri = libxml().xmlTextReaderConstNamespaceUri(reader_);
        bool matches = ns1 == nullptr ? uri == nullptr : same(uri, ns1) || same(uri, ns2);
        if (matches) {
            const xmlChar *text = libxml().xmlTextReaderConstValue(reader_);
            value->assign(text != nullptr ? reinterpret_cast<const char *>(text) : "");
            found = true;
        }
    } while (!found && libxml().xmlTextReaderMoveToNextAttribute(reader_) == 1);
    libxml().xmlTextReaderMoveToElement(reader_);
    return found;
}

namespace
{

// Whether the start tag of the element named qualified begins at at.
bool start_tag_at(std::string_view bytes, size_t at, const std::string &qualified)
{
    size_t after = at + 1 + qualified.size();
    return bytes.compare(at, 1, "<") == 0 && bytes.compare(at + 1, qualified.size(), qualified) == 0 &&
           after < bytes.size() && strchr(" \t\r\n/>", bytes[after]) != nullptr && bytes[after] != '\0';
}

} // namespace

size_t find_start_tag(std::string_view bytes, const std::string &qualified, size_t from)
{
    std::string opening = "<" + qualified;
    for (size_t at = bytes.find(opening, from); at != std::string_view::npos;
         at = bytes.find(opening, at + 1)) {
        if (start_tag_at(bytes, at, qualified))
            return at;
    }
    return std::string_view::npos;
}

size_t find_element(std::string_view bytes, const std::string &qualified, size_t from)
{
    static const std::pair<std::string_view, std::string_view> passed[] = {
        {"<!--", "-->"}, {"<![CDATA[", "]]>"}, {"<?", "?>"}};
    for (size_t at = bytes.find('<', from); at != std::string_view::npos; at = bytes.find('<', at + 1)) {
        size_t end = std::string_view::npos;
        bool markup = false;
        for (const auto &[open, close] : passed) {
            if (bytes.compare(at, open.size(), open) == 0) {
                markup = true;
                end = bytes.find(close, at + open.size());
                end = end == std::string_view::npos ? end : end + close.size() - 1;
                break;
            }
        }
        if (!markup) {
            if (start_tag_at(bytes, at, qualified))
                return at;
            end = tag_end(bytes, at, std::string_view::npos);
        }
        if (end == std::string_view::npos)
            return std::string_view::npos;
        at = end;
    }
    return std::string_view::npos;
}

size_t tag_end(std::string_view bytes, size_t at, size_t limit)
{
    char quote = 0;
    for (size_t i = at; i < bytes.size() && i - at < limit; ++i) {
        if (quote != 0) {
            quote = bytes[i] == quote ? 0 : quote;
        } else if (bytes[i] == '"' || bytes[i] == '\'') {
            quote = bytes[i];
        } else if (bytes[i] == '>') {
            return i;
        }
    }
    return std::string_view::npos;
}

} // namespace sketch_readers

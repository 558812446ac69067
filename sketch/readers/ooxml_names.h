// The namespaces of Office Open XML's parts, transitional and strict.
#ifndef QUILLPEEK_SKETCH_READERS_OOXML_NAMES_H
#define QUILLPEEK_SKETCH_READERS_OOXML_NAMES_H

#include "sketch/readers/walk.h"

namespace sketch_readers::ooxml
{

const Ns w = {"http://schemas.openxmlformats.org/wordprocessingml/2006/main",
              "http://purl.oclc.org/ooxml/wordprocessingml/main"};
const Ns x = {"http://schemas.openxmlformats.org/spreadsheetml/2006/main",
              "http://purl.oclc.org/ooxml/spreadsheetml/main"};
const Ns p = {"http://schemas.openxmlformats.org/presentationml/2006/main",
              "http://purl.oclc.org/ooxml/presentationml/main"};
const Ns a = {"http://schemas.openxmlformats.org/drawingml/2006/main",
              "http://purl.oclc.org/ooxml/drawingml/main"};
const Ns r = {"http://schemas.openxmlformats.org/officeDocument/2006/relationships",
              "http://purl.oclc.org/ooxml/officeDocument/relationships"};
const Ns mc = {"http://schemas.openxmlformats.org/markup-compatibility/2006",
               "http://schemas.openxmlformats.org/markup-compatibility/2006"};

// Whether an on/off attribute's value is on ("1", "true", "on"; or absent).
inline bool on(const std::string &value)
{
    return value.empty() || value == "1" || value == "true" || value == "on";
}

} // namespace sketch_readers::ooxml

#endif

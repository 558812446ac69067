// Office documents made by the tests: the smallest packages that the usual
// office suites write, with a heading and paragraphs, cells or a slide of
// the tests' own words.
#ifndef QUILLPEEK_TESTS_SKETCH_OFFICE_DOCUMENTS_H
#define QUILLPEEK_TESTS_SKETCH_OFFICE_DOCUMENTS_H

#include <string>
#include <vector>

namespace office_documents
{

// What a document holds: a heading (a title on a slide, the first cell on
// a sheet) and the paragraphs (points, the cells below) after it.
struct Content {
    std::string heading;
    std::vector<std::string> paragraphs;
};

// Writes the document at path; extension is one of odt, docx, ods, xlsx,
// odp, pptx.
void write(const std::string &path, const std::string &extension, const Content &content);

} // namespace office_documents

#endif

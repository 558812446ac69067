// libxml2, opened when the first document is sketched rather than at exec.
//
// The thumbnailer does not link it: a document that carries its own
// preview never loads it, nor what it brings (ICU's data, liblzma). Every
// call the readers make goes through one table, resolved by name, with
// libxml2's own headers giving the types. Loaded when a document is read
// and unloaded once the reading is done (sketch_libxml_unload): the
// drawing that follows would otherwise keep its pages and ICU's resident,
// a fifth of a sketch's memory.
#ifndef QUILLPEEK_SKETCH_READERS_LIBXML_H
#define QUILLPEEK_SKETCH_READERS_LIBXML_H

#include <libxml/parser.h>
#include <libxml/xmlerror.h>
#include <libxml/xmlreader.h>

#define SKETCH_LIBXML_CALLS(X)                                                                               \
    X(xmlInitParser)                                                                                         \
    X(xmlCleanupParser)                                                                                      \
    X(xmlGetExternalEntityLoader)                                                                            \
    X(xmlSetExternalEntityLoader)                                                                            \
    X(xmlSetGenericErrorFunc)                                                                                \
    X(xmlSetStructuredErrorFunc)                                                                             \
    X(xmlReaderForMemory)                                                                                    \
    X(xmlTextReaderSetStructuredErrorHandler)                                                                \
    X(xmlFreeTextReader)                                                                                     \
    X(xmlTextReaderRead)                                                                                     \
    X(xmlTextReaderNext)                                                                                     \
    X(xmlTextReaderDepth)                                                                                    \
    X(xmlTextReaderNodeType)                                                                                 \
    X(xmlTextReaderIsEmptyElement)                                                                           \
    X(xmlTextReaderConstLocalName)                                                                           \
    X(xmlTextReaderConstNamespaceUri)                                                                        \
    X(xmlTextReaderConstPrefix)                                                                              \
    X(xmlTextReaderConstValue)                                                                               \
    X(xmlTextReaderMoveToFirstAttribute)                                                                     \
    X(xmlTextReaderMoveToNextAttribute)                                                                      \
    X(xmlTextReaderMoveToElement)                                                                            \
    X(xmlTextReaderCurrentNode)

struct LibxmlCalls {
#define SKETCH_LIBXML_MEMBER(name) decltype(&::name) name;
    SKETCH_LIBXML_CALLS(SKETCH_LIBXML_MEMBER)
#undef SKETCH_LIBXML_MEMBER
};

// Loads libxml2 and resolves the table; later calls give the same answer
// until it is unloaded. False when it or one of its calls is missing.
bool sketch_libxml_load();

// Frees what libxml2 keeps for the process and unloads it, with the
// libraries it brought; no part may be open. The table is invalid until
// the next sketch_libxml_load().
void sketch_libxml_unload();

// The table; valid once sketch_libxml_load() returned true.
const LibxmlCalls &libxml();

#endif

// The preview named by an Office Open XML package's root relationships part
// ("_rels/.rels"), without the archive: the text is the part's own.
//
// The package's relationships come from the document, so each Target is
// resolved as the package's rules say, against the package root: an absolute
// path from the root, "." and ".." removed. A relationship that leaves the
// package (TargetMode="External", a URL or a network path, or ".." past the
// root) is never followed, nor one that names no picture part (a folder, a
// relationships part, an empty name, a query or a fragment).
#ifndef QUILLPEEK_ARCHIVE_RELATIONSHIPS_H
#define QUILLPEEK_ARCHIVE_RELATIONSHIPS_H

#include <string>

// How the part names its preview.
enum class PreviewTarget {
    found,      // member holds the zip member name (no leading "/")
    none,       // no relationship of the preview's type
    external,   // every one leads outside the document (external, a URL)
    escaping,   // ".." climbs past the package root
    not_a_part, // names a folder, a relationships part, or nothing at all
};

// The first usable preview relationship of the zero-terminated part text
// xml; when none is usable, how the first of them was refused.
PreviewTarget preview_target(const char *xml, std::string &member);

// The target text (XML references already replaced) resolved against the
// package root into member.
PreviewTarget resolve_target(const std::string &target, std::string &member);

// A message for a refusal, "its preview ..."; null for found and none.
const char *preview_target_problem(PreviewTarget outcome);

#endif

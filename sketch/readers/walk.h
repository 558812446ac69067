// Walking an element's content with the streaming reader.
#ifndef QUILLPEEK_SKETCH_READERS_WALK_H
#define QUILLPEEK_SKETCH_READERS_WALK_H

#include <cstring>
#include <string>

#include "sketch/readers/xml_part.h"

namespace sketch_readers
{

// What a visit did: the reader is to step on (Next), it already stands on
// the node to visit next (Here, after a skip), or the walk ends (Stop).
enum class Walk { Next, Here, Stop };

// Skips the current element: Here, or Stop when the reading ended.
inline Walk skip_element(XmlPart &x)
{
    return x.skip() ? Walk::Here : Walk::Stop;
}

// Steps to the next node, stepping over whole each element that skipped()
// (asked of the node the reader stands at) says holds nothing of use;
// false when the reading has ended.
template <typename Skipped> bool next_over(XmlPart &x, Skipped skipped)
{
    bool more = x.next();
    while (more && skipped())
        more = x.skip();
    return more;
}

// Calls visit on every node inside the element the reader stands at the
// start of, up to its end (where the reader is left). False when the walk
// was stopped or the reading ended before the element's end.
template <typename Visit> bool within(XmlPart &x, Visit visit)
{
    if (x.type() != NodeType::Start || x.empty())
        return true;
    int depth = x.depth();
    bool more = x.next();
    while (more) {
        if (x.type() == NodeType::End && x.depth() == depth)
            return true;
        Walk walk = visit();
        if (walk == Walk::Stop)
            return false;
        more = walk == Walk::Next ? x.next() : true;
    }
    return false;
}

// A nested walk as a visit's outcome.
inline Walk go_on(bool walked)
{
    return walked ? Walk::Next : Walk::Stop;
}

// A vocabulary's namespace under its two names: OpenDocument's and
// 1.x's, or Office Open XML's transitional and strict ones.
struct Ns {
    const char *now;
    const char *old;
};

inline bool is(const XmlPart &x, const char *local, const Ns &ns)
{
    return x.starts(local, ns.now, ns.old);
}

inline bool in(const XmlPart &x, const Ns &ns)
{
    return strcmp(x.ns(), ns.now) == 0 || strcmp(x.ns(), ns.old) == 0;
}

inline bool attr(XmlPart &x, const char *local, const Ns &ns, std::string *value)
{
    return x.attribute(local, ns.now, ns.old, value);
}

// Steps to the document's root element unless the reading is past it
// already; false when there is none.
inline bool to_root(XmlPart &x)
{
    if (x.started())
        return x.type() == NodeType::Start && x.depth() == 0;
    while (x.next())
        if (x.type() == NodeType::Start)
            return true;
    return false;
}

} // namespace sketch_readers

#endif

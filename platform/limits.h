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

#include <cstdint>

namespace platform::limits
{

// --- Archives (xadmaster.library) ---

// A listing of more members, or of more bytes of names, is refused
// (XADERR_NOMEMORY): a small compressed archive can hold millions of headers.
constexpr uint64_t archive_listing_members = uint64_t(1) << 22;
constexpr uint64_t archive_listing_names = uint64_t(256) << 20;

// --- Pictures (datatypes.library and its decoders) ---

} // namespace platform::limits

#endif

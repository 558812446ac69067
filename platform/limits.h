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

} // namespace platform::limits

#endif

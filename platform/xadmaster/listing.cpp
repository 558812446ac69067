// xadmaster.library: listings, and the one remembered.
//
// A listing is remembered for the last archive listed, keyed by the file's
// identity (device, inode, size, modification and change times), and only
// once the file has stood unchanged for a while: listing the same document
// again, as the viewing flow does, then costs one fstat.
#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cstdlib>
#include <mutex>

#include "platform/internal/internal.h"
#include "platform/limits.h"
#include "platform/xadmaster/xadmaster_intern.h"

namespace platform::xad
{

namespace
{

struct Identity {
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    struct timespec modified = {}, changed = {};

    bool operator==(const Identity &other) const
    {
        return device == other.device && inode == other.inode && size == other.size &&
               modified.tv_sec == other.modified.tv_sec && modified.tv_nsec == other.modified.tv_nsec &&
               changed.tv_sec == other.changed.tv_sec && changed.tv_nsec == other.changed.tv_nsec;
    }
};

Identity identity_of(const struct stat &st)
{
    Identity id;
    id.device = st.st_dev;
    id.inode = st.st_ino;
    id.size = st.st_size;
    id.modified = st.st_mtim;
    id.changed = st.st_ctim;
    return id;
}

// A file whose times are this close to now may still be changed within the
// same clock tick without its identity changing; it is not remembered.
bool settled(const Identity &id)
{
    struct timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    time_t latest = id.modified.tv_sec > id.changed.tv_sec ? id.modified.tv_sec : id.changed.tv_sec;
    return now.tv_sec - latest >= 2;
}

// The listing of the last settled archive listed.
struct RememberedListing {
    std::mutex lock;
    Identity id;
    std::shared_ptr<const Listing> listing;
};

RememberedListing &remembered()
{
    static RememberedListing *instance = new RememberedListing;
    return *instance;
}

std::shared_ptr<const Listing> recall(const Identity &id)
{
    RememberedListing &r = remembered();
    std::lock_guard<std::mutex> hold(r.lock);
    return r.listing != nullptr && r.id == id ? r.listing : nullptr;
}

void remember(const Identity &id, const std::shared_ptr<const Listing> &listing)
{
    RememberedListing &r = remembered();
    std::lock_guard<std::mutex> hold(r.lock);
    r.id = id;
    r.listing = listing;
}

// Whether the listing reads the member's data: when its size is known only
// so, or when libarchive would unpack it anyway to reach the next header (a
// solid rar or cab). A 7z is listed from its header alone.
bool listing_reads(struct archive *a, struct archive_entry *entry)
{
    return skipping_unpacks(a, entry) &&
           (!libarchive().entry_size_is_set(entry) ||
            (libarchive().format(a) & ARCHIVE_FORMAT_BASE_MASK) != ARCHIVE_FORMAT_7ZIP);
}

// The code for a listing that reaches a budget with this member, or XADERR_OK.
LONG listing_budget(const Listing &listing)
{
    if (listing.members.size() >= limits::archive_listing_members)
        return XADERR_LIMIT_MEMBERS;
    return listing.names.size() >= limits::archive_listing_names ? XADERR_LIMIT_LISTING : XADERR_OK;
}

// Adds the member at the reader's current header to the listing: XADERR_OK,
// or the XADERR_LIMIT_* code of the budget it meets.
LONG add_member(Source &source, struct archive *a, struct archive_entry *entry, uint64_t ordinal,
                Listing &listing)
{
    LONG result = listing_budget(listing);
    if (result != XADERR_OK)
        return result;
    Listed member;
    member.ordinal = ordinal;
    member.size = static_cast<uint64_t>(libarchive().entry_size(entry));
    if (listing_reads(a, entry)) {
        uint64_t measured = read_through(source, a);
        if (source.over_budget)
            return XADERR_LIMIT_UNPACKED;
        if (!libarchive().entry_size_is_set(entry))
            member.size = measured;
    }
    member.flags = libarchive().entry_is_encrypted(entry) ? ULONG(XADFIF_CRYPTED) : 0u;
    member.name_offset = listing.names.size();
    listing.names.append(member_name(entry));
    listing.names.push_back('\0');
    listing.members.push_back(member);
    return XADERR_OK;
}

// Walks the archive's headers. XADERR_OK with the listing; XADERR_UNKNOWN when
// the file is no archive we read; XADERR_RESOURCE when libarchive cannot be
// loaded; an XADERR_LIMIT_* code when a budget was met. A walk broken off by damaged data keeps the members
// listed before the damage.
LONG walk_listing(int fd, int64_t size, const char *passphrase, Listing &listing)
{
    if (!libarchive_ready())
        return XADERR_RESOURCE;
    Source source;
    source.fd = fd;
    source.size = size;
    source.budget = limits::archive_listing_unpacked;
    Reader reader(open_reader(source, passphrase));
    if (reader == nullptr)
        return XADERR_UNKNOWN;
    struct archive *a = reader.get();
    struct archive_entry *entry = nullptr;
    LONG result = XADERR_OK;
    for (uint64_t ordinal = 0;; ++ordinal) {
        Step step = next_header(a, &entry);
        if (source.over_budget)
            return XADERR_LIMIT_UNPACKED;
        if (step == Step::End || step == Step::Failed) {
            if (ordinal == 0 && step == Step::Failed)
                result = XADERR_UNKNOWN;
            break;
        }
        if (ordinal == 0)
            listing.zip = (libarchive().format(a) & ARCHIVE_FORMAT_BASE_MASK) == ARCHIVE_FORMAT_ZIP;
        if (step == Step::Unreadable || !is_member(entry))
            continue;
        result = add_member(source, a, entry, ordinal, listing);
        if (result != XADERR_OK)
            break;
    }
    return result;
}

// The chain the caller reads: its own copy of the names, so that nothing the
// caller does can alter a remembered listing.
void build_chain(InfoState &state)
{
    const Listing &listing = *state.listing;
    state.names.assign(listing.names.begin(), listing.names.end());
    // Each record written once, in place (reserved, so that the records
    // stay where the chain points).
    size_t count = listing.members.size();
    state.records.reserve(count);
    for (size_t i = 0; i < count; ++i) {
        const Listed &member = listing.members[i];
        state.records.push_back(
            {i + 1 < count ? state.records.data() + i + 1 : nullptr, static_cast<ULONG>(i + 1), member.flags,
             state.names.data() + member.name_offset,
             member.size > 0xFFFFFFFFull ? 0xFFFFFFFFu : static_cast<ULONG>(member.size), 0});
    }
}

// Opens the archive file without blocking on a pipe or device; only regular
// files are read. XADERR_OK with fd and st set.
LONG open_archive_file(const char *path, int &fd, struct stat &st)
{
    fd = open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0)
        return XADERR_INPUT;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        close(fd);
        fd = -1;
        return XADERR_INPUT;
    }
    return XADERR_OK;
}

// libarchive turns each zip member's DOS time into a time_t with mktime(),
// and glibc reads /etc/localtime again on every such call while TZ is unset
// (two stat calls a member: most of the cost of listing a large zip). Naming
// that same zone file in TZ keeps every conversion as it was and drops the
// calls. Done once, before the first archive is read.
void settle_time_zone()
{
    static std::once_flag once;
    std::call_once(once, [] {
        if (std::getenv("TZ") == nullptr) {
            setenv("TZ", ":/etc/localtime", 0);
            tzset();
        }
    });
}

} // namespace

LONG get_info(struct xadArchiveInfo *ai, const char *path)
{
    settle_time_zone();
    int fd;
    struct stat st;
    LONG result = open_archive_file(path, fd, st);
    if (result != XADERR_OK)
        return result;
    Descriptor file(fd);
    if (!platform::allocation_allowed())
        return XADERR_NOMEMORY;
    Identity id = identity_of(st);
    std::shared_ptr<const Listing> listing = recall(id);
    if (listing == nullptr) {
        result = declared_work(fd, st.st_size);
        if (result != XADERR_OK)
            return result;
        auto fresh = std::make_shared<Listing>();
        if (!list_plain_zip(fd, st.st_size, *fresh, result))
            result = walk_listing(fd, st.st_size, ai->xai_Password, *fresh);
        if (result != XADERR_OK)
            return result;
        listing = fresh;
        if (settled(id))
            remember(id, listing);
    }
    std::unique_ptr<InfoState> state(new InfoState);
    state->size = st.st_size;
    state->listing = listing;
    build_chain(*state);
    state->fd = file.release();
    ai->xai_FileInfo = state->records.empty() ? nullptr : state->records.data();
    ai->xai_Private = state.release();
    return XADERR_OK;
}

void release_state(struct xadArchiveInfo *ai)
{
    InfoState *state = static_cast<InfoState *>(ai->xai_Private);
    if (state != nullptr) {
        if (state->fd >= 0)
            close(state->fd);
        delete state;
    }
    ai->xai_Private = nullptr;
    ai->xai_FileInfo = nullptr;
}

void forget_listings()
{
    remember(Identity(), nullptr);
}

} // namespace platform::xad

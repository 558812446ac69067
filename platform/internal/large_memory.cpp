// See large_memory.h.
#include "platform/internal/large_memory.h"

#include "platform/internal/libarchive.h"

#include <sys/mman.h>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <new>
#include <type_traits>

namespace platform
{

namespace
{

#if defined(__SANITIZE_ADDRESS__)
constexpr bool mapped_blocks = false;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool mapped_blocks = false;
#else
constexpr bool mapped_blocks = true;
#endif
#else
constexpr bool mapped_blocks = true;
#endif

// From half a huge page on: clearing a whole huge page costs less than the
// faults of the 256 pages or more it replaces.
bool mapped(size_t bytes)
{
    return mapped_blocks && bytes >= huge_page_bytes / 2;
}

size_t rounded(size_t bytes)
{
    return (bytes + huge_page_bytes - 1) & ~(huge_page_bytes - 1);
}

// Blocks given back, kept mapped for the next large array: a listing made
// again (each call of the chain's routines lists the archive) then writes
// into pages it already has, rather than have new ones cleared for it.
struct Kept {
    void *block;
    size_t length; // rounded
};

struct KeptBlocks {
    std::mutex lock;
    Kept blocks[4] = {};
    size_t held = 0; // bytes, at most kept_bytes
};

constexpr size_t kept_bytes = size_t(64) << 20;

// Made before any code runs (constant initialisation) and never destroyed
// (nothing to destroy): blocks may be freed at exit, and taking the table
// allocates nothing.
KeptBlocks kept_table;
static_assert(std::is_trivially_destructible<KeptBlocks>::value, "the table must outlive every block");

KeptBlocks &kept()
{
    return kept_table;
}

// The smallest kept block of at least length bytes, taken out; or null.
void *take_kept(size_t length)
{
    KeptBlocks &k = kept();
    std::lock_guard<std::mutex> hold(k.lock);
    Kept *best = nullptr;
    for (Kept &b : k.blocks)
        if (b.block != nullptr && b.length >= length && (best == nullptr || b.length < best->length))
            best = &b;
    if (best == nullptr)
        return nullptr;
    void *block = best->block;
    k.held -= best->length;
    *best = {};
    return block;
}

// Keeps the block for later when there is room; false when there is none.
bool keep(void *block, size_t length)
{
    KeptBlocks &k = kept();
    std::lock_guard<std::mutex> hold(k.lock);
    if (k.held + length > kept_bytes)
        return false;
    for (Kept &b : k.blocks)
        if (b.block == nullptr) {
            b = {block, length};
            k.held += length;
            return true;
        }
    return false;
}

// A fresh mapping of length bytes (a multiple of huge_page_bytes), aligned
// to a huge page and marked for huge pages; null when there is none.
void *map_aligned(size_t length)
{
    // Mapped with a huge page to spare, and trimmed to the aligned part.
    void *mapping = mmap(nullptr, length + huge_page_bytes, PROT_READ | PROT_WRITE,
                         MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (mapping == MAP_FAILED)
        return nullptr;
    uintptr_t start = reinterpret_cast<uintptr_t>(mapping);
    uintptr_t aligned = (start + huge_page_bytes - 1) & ~(uintptr_t(huge_page_bytes) - 1);
    if (aligned > start)
        munmap(mapping, aligned - start);
    size_t after = huge_page_bytes - (aligned - start);
    if (after > 0)
        munmap(reinterpret_cast<void *>(aligned + length), after);
#if defined(MADV_HUGEPAGE)
    madvise(reinterpret_cast<void *>(aligned), length, MADV_HUGEPAGE);
#endif
    return reinterpret_cast<void *>(aligned);
}

std::atomic<bool> huge_pictures{false};

// The huge blocks handed out, with their rounded lengths.
struct HugeBlocks {
    std::mutex lock;
    Kept blocks[8] = {};
};

HugeBlocks huge_table; // as kept_table

HugeBlocks &huge_blocks()
{
    return huge_table;
}

} // namespace

void *huge_block(size_t bytes) noexcept
{
    // A run that had to load libarchive holds its chain of libraries, some
    // 3 MB resident, already: it is not made heavier still by the up to
    // 2 MiB a huge page may hold beyond what a picture fills.
    if (!huge_pictures || !mapped(bytes) || bytes > SIZE_MAX / 2 || libarchive_loaded())
        return nullptr;
    HugeBlocks &h = huge_blocks();
    std::lock_guard<std::mutex> hold(h.lock);
    for (Kept &b : h.blocks)
        if (b.block == nullptr) {
            void *block = map_aligned(rounded(bytes));
            if (block != nullptr)
                b = {block, rounded(bytes)};
            return block;
        }
    return nullptr;
}

bool huge_block_free(void *block) noexcept
{
    if (block == nullptr)
        return false;
    HugeBlocks &h = huge_blocks();
    std::lock_guard<std::mutex> hold(h.lock);
    for (Kept &b : h.blocks)
        if (b.block == block) {
            munmap(block, b.length);
            b = {};
            return true;
        }
    return false;
}

void *large_allocate(size_t bytes)
{
    if (!mapped(bytes))
        return ::operator new(bytes);
    if (bytes > SIZE_MAX / 2)
        throw std::bad_alloc();
    size_t length = rounded(bytes);
    void *block = take_kept(length);
    if (block == nullptr)
        block = map_aligned(length);
    if (block == nullptr)
        throw std::bad_alloc();
    return block;
}

void large_free(void *block, size_t bytes) noexcept
{
    if (block == nullptr)
        return;
    if (!mapped(bytes)) {
        ::operator delete(block);
        return;
    }
    if (!keep(block, rounded(bytes)))
        munmap(block, rounded(bytes));
}

} // namespace platform

void platform_prefer_huge_pages(bool preferred)
{
    platform::huge_pictures = preferred;
}

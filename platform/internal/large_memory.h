// Memory for the large arrays of a listing (its records, its names and the
// chain a caller reads), taken so that filling them costs few page faults.
//
// A block of half of huge_page_bytes or more is mapped from the system by itself,
// aligned to a huge page and marked for huge pages (MADV_HUGEPAGE): filling
// it takes one fault per 2 MiB, where the heap would take one per 4 KiB
// page (100,000 members touch some 12 MB of such arrays). A kernel that
// gives no huge pages leaves it to ordinary pages, as the heap has them.
// A freed block stays mapped for the next large array, up to four blocks
// and 64 MiB, so that making the same listing again (as each of the
// chain's routines does) writes into pages it has rather than new ones.
// A taken block may therefore hold old bytes: it is not zero-filled.
// Smaller blocks, and every block in a sanitized build (whose checker
// watches the heap only), come from operator new as usual. A block is
// freed with the size it was taken with, as the standard allocators do.
// Platform-internal.
#ifndef QUILLPEEK_PLATFORM_LARGE_MEMORY_H
#define QUILLPEEK_PLATFORM_LARGE_MEMORY_H

#include <cstddef>
#include <string>
#include <vector>

namespace platform
{

constexpr size_t huge_page_bytes = size_t(2) << 20;

// bytes of memory, of any content; throws std::bad_alloc when there is none.
void *large_allocate(size_t bytes);
void large_free(void *block, size_t bytes) noexcept;

// Picture blocks (AllocVec's, and the decoder's pixels) for a process that
// prefers huge pages (platform_prefer_huge_pages): a fresh zero-filled
// mapping of bytes, taken like a large block; null when huge pages are not
// preferred, the block is small, or no mapping is left (the caller then
// takes the heap's). huge_block_free frees one and says whether it was one.
void *huge_block(size_t bytes) noexcept;
bool huge_block_free(void *block) noexcept;

template <typename T> struct LargeAllocator {
    using value_type = T;
    LargeAllocator() = default;
    template <typename U> LargeAllocator(const LargeAllocator<U> &) noexcept {}
    T *allocate(size_t count) { return static_cast<T *>(large_allocate(count * sizeof(T))); }
    void deallocate(T *block, size_t count) noexcept { large_free(block, count * sizeof(T)); }
    template <typename U> bool operator==(const LargeAllocator<U> &) const noexcept { return true; }
    template <typename U> bool operator!=(const LargeAllocator<U> &) const noexcept { return false; }
};

template <typename T> using LargeVector = std::vector<T, LargeAllocator<T>>;
using LargeString = std::basic_string<char, std::char_traits<char>, LargeAllocator<char>>;

} // namespace platform

#endif

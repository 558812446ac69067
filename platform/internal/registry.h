// The handles a library has given out and not yet taken back: AllocVec's
// blocks, ReadArgs' records, datatype objects, archive infos. A library asks
// it whether a handle it is given is one of its own before using it, so a
// stranger's pointer or a second free is journalled instead of followed.
//
// Each handle is kept with the size of what it points to (0 where the size
// does not matter), so an address inside a block can be found too. Safe to
// use from any thread. One registry per handle type, held from a pointer
// that is never destroyed: handles the program keeps to its end (the system
// takes them back then) stay reachable.
#ifndef QUILLPEEK_PLATFORM_INTERNAL_REGISTRY_H
#define QUILLPEEK_PLATFORM_INTERNAL_REGISTRY_H

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <map>
#include <mutex>
#include <new>

namespace platform
{

template <typename Handle> class Registry
{
  public:
    // The one registry of this handle type, made in storage of its own, so
    // that its first use cannot fail for want of memory.
    static Registry &instance()
    {
        alignas(Registry) static unsigned char storage[sizeof(Registry)];
        static Registry *live = new (storage) Registry;
        return *live;
    }

    // False when there is no memory to record the handle: the caller then
    // takes it back and reports no memory, as if it had never been had.
    bool add(const Handle *handle, size_t size = 0) noexcept
    {
        std::lock_guard<std::mutex> hold(lock_);
        try {
            handles_.emplace(key(handle), size);
        } catch (const std::bad_alloc &) {
            return false;
        }
        return true;
    }

    // False when the handle was not recorded (nothing is removed then).
    bool remove(const Handle *handle)
    {
        std::lock_guard<std::mutex> hold(lock_);
        return handles_.erase(key(handle)) != 0;
    }

    bool contains(const Handle *handle) const
    {
        std::lock_guard<std::mutex> hold(lock_);
        return handles_.count(key(handle)) != 0;
    }

    long count() const
    {
        std::lock_guard<std::mutex> hold(lock_);
        return static_cast<long>(handles_.size());
    }

    // Whether address lies inside a recorded handle's size; if so, room is
    // set to the bytes from address to its end.
    bool room(const void *address, size_t *room) const
    {
        uintptr_t at = reinterpret_cast<uintptr_t>(address);
        std::lock_guard<std::mutex> hold(lock_);
        auto after = handles_.upper_bound(at);
        if (after == handles_.begin())
            return false;
        auto block = std::prev(after);
        if (at - block->first >= block->second)
            return false;
        *room = block->second - (at - block->first);
        return true;
    }

  private:
    Registry() = default;

    static uintptr_t key(const Handle *handle) { return reinterpret_cast<uintptr_t>(handle); }

    mutable std::mutex lock_;
    std::map<uintptr_t, size_t> handles_;
};

} // namespace platform

#endif

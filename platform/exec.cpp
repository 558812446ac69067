// exec.library: libraries, memory blocks, message ports, lists, tags.
//
// OpenLibrary runs inside the call boundary (guarded); the other calls do
// plain C work on the caller's records and cannot throw.
#include "platform/exec.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <mutex>

#include "platform/control.h"
#include "platform/internal/internal.h"
#include "platform/internal/large_memory.h"
#include "platform/internal/registry.h"
#include "platform/internal/startup_display.h"

namespace
{

// One library the platform provides, with its version and its own start
// and end where it has them.
struct LibraryEntry {
    const char *name;
    UWORD version;
    bool (*first_open)();
    void (*last_close)();
    struct Library base;
};

LibraryEntry libraries[] = {
    {"exec.library", 50, nullptr, nullptr, {}},
    {"dos.library", 50, nullptr, nullptr, {}},
    {"graphics.library", 50, nullptr, nullptr, {}},
    {"cybergraphics.library", 50, nullptr, nullptr, {}},
    {"xadmaster.library", 13, nullptr, nullptr, {}},
    {"datatypes.library", 53, nullptr, nullptr, {}},
    {"intuition.library", 50, platform::intuition_first_open, platform::intuition_last_close, {}},
};

std::mutex library_lock;

LibraryEntry *find_library(const char *name)
{
    for (LibraryEntry &entry : libraries)
        if (name != nullptr && std::strcmp(entry.name, name) == 0)
            return &entry;
    return nullptr;
}

LibraryEntry *entry_of(const struct Library *base)
{
    for (LibraryEntry &entry : libraries)
        if (&entry.base == base)
            return &entry;
    return nullptr;
}

struct Library *open_entry(LibraryEntry *entry, ULONG version)
{
    if (entry == nullptr || entry->version < version || platform::library_missing(entry->name))
        return nullptr;
    std::lock_guard<std::mutex> hold(library_lock);
    if (entry->base.lib_OpenCnt == 0) {
        if (entry->first_open != nullptr && !entry->first_open())
            return nullptr;
        platform::display_library_opened(entry->name);
        entry->base.lib_Node.ln_Name = entry->name;
        entry->base.lib_Version = entry->version;
    }
    ++entry->base.lib_OpenCnt;
    return &entry->base;
}

// Blocks handed out by AllocVec and not yet freed, with their sizes.
platform::Registry<void> &live_blocks()
{
    return platform::Registry<void>::instance();
}

} // namespace

struct Library *OpenLibrary(CONST_STRPTR name, ULONG version)
{
    struct Library *base = platform::guarded("OpenLibrary", static_cast<struct Library *>(nullptr),
                                             [&] { return open_entry(find_library(name), version); });
    platform::journal("OpenLibrary %s %lu%s", name != nullptr ? name : "(null)",
                      static_cast<unsigned long>(version), base != nullptr ? "" : " -> NULL");
    return base;
}

void CloseLibrary(struct Library *library)
{
    LibraryEntry *entry = entry_of(library);
    if (entry == nullptr || entry->base.lib_OpenCnt == 0) {
        if (library != nullptr)
            platform::journal("CloseLibrary FAULT not an open library");
        return;
    }
    platform::journal("CloseLibrary %s", entry->name);
    std::lock_guard<std::mutex> hold(library_lock);
    if (--entry->base.lib_OpenCnt == 0 && entry->last_close != nullptr)
        entry->last_close();
}

int platform_open_count(const char *name)
{
    LibraryEntry *entry = find_library(name);
    return entry != nullptr ? entry->base.lib_OpenCnt : 0;
}

namespace platform
{

bool library_ready(const struct Library *base, const char *library, const char *call)
{
    LibraryEntry *entry = find_library(library);
    if (entry != nullptr && base == &entry->base && entry->base.lib_OpenCnt > 0)
        return true;
    journal("%s FAULT %s is not open", call, library);
    return false;
}

void *allocate(size_t size)
{
    if (!allocation_allowed())
        return nullptr;
    return std::calloc(1, size != 0 ? size : 1);
}

void release(void *block)
{
    std::free(block);
}

void prepare_for_writing(void *start, size_t bytes)
{
#if defined(MADV_POPULATE_WRITE)
    const size_t worth_it = 256 * 1024; // below this a few faults cost less than the call
    if (start == nullptr || bytes < worth_it)
        return;
    uintptr_t page = static_cast<uintptr_t>(sysconf(_SC_PAGESIZE));
    uintptr_t first = (reinterpret_cast<uintptr_t>(start) + page - 1) & ~(page - 1);
    uintptr_t end = (reinterpret_cast<uintptr_t>(start) + bytes) & ~(page - 1);
    if (end > first)
        madvise(reinterpret_cast<void *>(first), end - first, MADV_POPULATE_WRITE);
#else
    (void)start;
    (void)bytes;
#endif
}

bool block_room(const void *address, size_t *room)
{
    return live_blocks().room(address, room);
}

} // namespace platform

APTR AllocVec(ULONG byteSize, ULONG attributes)
{
    APTR block = nullptr;
    if (byteSize != 0 && platform::allocation_allowed()) {
        block = platform::huge_block(byteSize); // zero-filled, when huge pages are preferred
        if (block == nullptr)
            block = (attributes & MEMF_CLEAR) != 0 ? std::calloc(1, byteSize) : std::malloc(byteSize);
    }
    if (block != nullptr && !live_blocks().add(block, byteSize)) {
        if (!platform::huge_block_free(block))
            std::free(block);
        block = nullptr;
    }
    platform::journal("AllocVec %lu 0x%lx%s", static_cast<unsigned long>(byteSize),
                      static_cast<unsigned long>(attributes), block != nullptr ? "" : " -> NULL");
    return block;
}

void FreeVec(APTR memoryBlock)
{
    if (memoryBlock == nullptr)
        return;
    platform::journal("FreeVec");
    if (!live_blocks().remove(memoryBlock)) {
        platform::journal("FreeVec FAULT not a block of AllocVec");
        return;
    }
    if (!platform::huge_block_free(memoryBlock))
        std::free(memoryBlock);
}

long platform_live_blocks()
{
    return live_blocks().count();
}

IPTR GetTagData(Tag tag, IPTR fallback, const struct TagItem *tags)
{
    for (const struct TagItem *item = tags; item != nullptr && item->ti_Tag != TAG_DONE; ++item)
        if (item->ti_Tag == tag)
            return item->ti_Data;
    return fallback;
}

void NewMinList(struct MinList *list)
{
    list->mlh_Head = reinterpret_cast<struct MinNode *>(&list->mlh_Tail);
    list->mlh_Tail = nullptr;
    list->mlh_TailPred = reinterpret_cast<struct MinNode *>(&list->mlh_Head);
}

bool IsMinListEmpty(const struct MinList *list)
{
    return list->mlh_TailPred == reinterpret_cast<const struct MinNode *>(list);
}

void AddTail(struct MinList *list, struct MinNode *node)
{
    struct MinNode *last = list->mlh_TailPred;
    node->mln_Succ = reinterpret_cast<struct MinNode *>(&list->mlh_Tail);
    node->mln_Pred = last;
    last->mln_Succ = node;
    list->mlh_TailPred = node;
}

struct MinNode *RemHead(struct MinList *list)
{
    if (IsMinListEmpty(list))
        return nullptr;
    struct MinNode *node = list->mlh_Head;
    list->mlh_Head = node->mln_Succ;
    node->mln_Succ->mln_Pred = reinterpret_cast<struct MinNode *>(&list->mlh_Head);
    return node;
}

namespace
{

enum : UBYTE { NT_MESSAGE = 5, NT_REPLYMSG = 7 };

struct MinNode *as_node(struct Message *message)
{
    return reinterpret_cast<struct MinNode *>(&message->mn_Node);
}

struct Message *as_message(struct MinNode *node)
{
    return reinterpret_cast<struct Message *>(node);
}

} // namespace

struct Message *WaitPort(struct MsgPort *port)
{
    platform::journal("WaitPort");
    while (IsMinListEmpty(&port->mp_MsgList)) {
        if (port->mp_Fill == nullptr)
            return nullptr; // nothing could ever arrive
        port->mp_Fill(port, true);
    }
    return as_message(port->mp_MsgList.mlh_Head);
}

struct Message *GetMsg(struct MsgPort *port)
{
    if (IsMinListEmpty(&port->mp_MsgList) && port->mp_Fill != nullptr)
        port->mp_Fill(port, false);
    struct Message *message = as_message(RemHead(&port->mp_MsgList));
    platform::journal(message != nullptr ? "GetMsg" : "GetMsg -> none");
    return message;
}

void ReplyMsg(struct Message *message)
{
    if (message == nullptr)
        return;
    if (message->mn_Node.ln_Type == NT_REPLYMSG) {
        platform::journal("ReplyMsg FAULT message replied twice");
        return;
    }
    platform::journal("ReplyMsg");
    message->mn_Node.ln_Type = NT_REPLYMSG;
    if (message->mn_ReplyPort != nullptr)
        AddTail(&message->mn_ReplyPort->mp_MsgList, as_node(message));
}

void PutMsg(struct MsgPort *port, struct Message *message)
{
    message->mn_Node.ln_Type = NT_MESSAGE;
    AddTail(&port->mp_MsgList, as_node(message));
}

void InitPort(struct MsgPort *port)
{
    std::memset(port, 0, sizeof *port);
    NewMinList(&port->mp_MsgList);
}

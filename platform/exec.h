// exec.library: the system's core on Linux.
//
// Basic types, tag lists, libraries, memory blocks and message ports, as the
// rest of the program sees them. The program opens each library by name with
// OpenLibrary and keeps the returned base in a process-wide variable named
// after the library; every call of a library goes through that variable (see
// the inline forms in each library's header), and the platform refuses a call
// whose base is not open at that moment.
//
// Ownership:
//  - A base belongs to whoever opened it until the matching CloseLibrary.
//  - A block from AllocVec belongs to the caller until FreeVec; blocks that
//    are never freed are released when the process ends.
//  - A message taken with GetMsg belongs to the taker until ReplyMsg; it must
//    not be touched after its reply.
//
// 64-bit note: a tag list's words are pointer-sized here (IPTR), so that a
// tag value can carry an address.
#ifndef QUILLPEEK_PLATFORM_EXEC_H
#define QUILLPEEK_PLATFORM_EXEC_H

#include <cstdint>

typedef uint8_t UBYTE;
typedef int8_t BYTE;
typedef uint16_t UWORD;
typedef int16_t WORD;
typedef uint32_t ULONG;
typedef int32_t LONG;
typedef uintptr_t IPTR;
typedef intptr_t SIPTR;
typedef void *APTR;
typedef char *STRPTR;
typedef const char *CONST_STRPTR;
typedef int16_t BOOL;

#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif

typedef IPTR Tag;

struct TagItem {
    Tag ti_Tag;
    IPTR ti_Data;
};

enum : ULONG {
    TAG_DONE = 0,
    TAG_END = 0,
    TAG_IGNORE = 1,
    TAG_USER = 0x80000000u,
};

// Returns the data of the first item with this tag, or fallback.
IPTR GetTagData(Tag tag, IPTR fallback, const struct TagItem *tags);

struct Node {
    struct Node *ln_Succ;
    struct Node *ln_Pred;
    UBYTE ln_Type;
    BYTE ln_Pri;
    const char *ln_Name;
};

struct MinNode {
    struct MinNode *mln_Succ;
    struct MinNode *mln_Pred;
};

// A list with a head and tail sentinel folded into three words.
struct MinList {
    struct MinNode *mlh_Head;
    struct MinNode *mlh_Tail;
    struct MinNode *mlh_TailPred;
};

struct Library {
    struct Node lib_Node;
    UWORD lib_Version;
    UWORD lib_Revision;
    UWORD lib_OpenCnt;
};

struct MsgPort;

struct Message {
    struct Node mn_Node;
    struct MsgPort *mn_ReplyPort;
    UWORD mn_Length;
};

struct MsgPort {
    struct Node mp_Node;
    UBYTE mp_Flags;
    struct MinList mp_MsgList;
    // Filled by the library that owns the port: fetches pending events into
    // the port, blocking until at least one arrives when wait is true.
    void (*mp_Fill)(struct MsgPort *port, bool wait);
    void *mp_Owner;
};

enum : ULONG {
    MEMF_ANY = 0,
    MEMF_PUBLIC = 1u << 0,
    MEMF_CLEAR = 1u << 16,
};

struct Library *OpenLibrary(CONST_STRPTR name, ULONG version);
void CloseLibrary(struct Library *library);

// A block of byteSize bytes, zero-filled with MEMF_CLEAR; null when the
// memory cannot be had (including sizes the process could never hold).
APTR AllocVec(ULONG byteSize, ULONG attributes);
void FreeVec(APTR memoryBlock);

struct Message *WaitPort(struct MsgPort *port);
struct Message *GetMsg(struct MsgPort *port);
void ReplyMsg(struct Message *message);
// Queues a message on a port (for the libraries that own ports).
void PutMsg(struct MsgPort *port, struct Message *message);
// Prepares a port: empty list, no filler.
void InitPort(struct MsgPort *port);

// List primitives, used by the platform's ports.
void NewMinList(struct MinList *list);
void AddTail(struct MinList *list, struct MinNode *node);
struct MinNode *RemHead(struct MinList *list);
bool IsMinListEmpty(const struct MinList *list);

#endif

// One archive member, found by a piece of its name, into memory.
//
// Each routine opens xadmaster.library, lists the archive into an EntryTable
// of its own, searches it and releases the listing, the archive info and the
// library, in that order, on every path.
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "archive/archive.h"
#include "flow/libraries.h"
#include "flow/report.h"
#include "platform/limits.h"

namespace
{

// One member of the listing. A name that does not fit the field is held as
// the listing's own text (alive until xadFreeInfo) in long_name.
struct EntryRecord {
    char name[152];
    ULONG entry_number;
    ULONG size;
    const char *long_name;
};

// A row past the table's own 29: its name stays in the listing's own text.
struct ExtraRecord {
    const char *name;
    ULONG entry_number;
    ULONG size;
};

enum { ENTRY_TABLE_ROWS = 30 };

// Rows from 1 upward hold the members in listing order; row 0 stays empty.
// Rows 1 to 29 live in the table itself; rows from 30 on in a heap array
// (extra[0] is row 30) owned by the table and freed by entry_table_end.
struct EntryTable {
    EntryRecord rows[ENTRY_TABLE_ROWS];
    ExtraRecord *extra;
    LONG extra_capacity;
    LONG member_count;
    LONG search_index;
};

// A row as the search and the extraction read it.
struct EntryView {
    const char *name;
    ULONG entry_number;
    ULONG size;
};

void entry_table_begin(EntryTable *table)
{
    table->extra = nullptr;
    table->extra_capacity = 0;
    table->member_count = 0;
    table->search_index = 0;
}

void entry_table_end(EntryTable *table)
{
    free(table->extra);
    table->extra = nullptr;
    table->extra_capacity = 0;
}

// Room for row member_count + 1; false when the memory cannot be had.
bool entry_table_grow(EntryTable *table)
{
    LONG needed = table->member_count + 1 - ENTRY_TABLE_ROWS + 1;
    if (needed <= table->extra_capacity)
        return true;
    if (table->extra_capacity > 0x3FFFFFFF / 2)
        return false;
    LONG capacity = table->extra_capacity == 0 ? 64 : table->extra_capacity * 2;
    void *grown = realloc(table->extra, sizeof(ExtraRecord) * static_cast<size_t>(capacity));
    if (grown == nullptr)
        return false;
    table->extra = static_cast<ExtraRecord *>(grown);
    table->extra_capacity = capacity;
    return true;
}

EntryView entry_at(const EntryTable *table, LONG row)
{
    if (row >= ENTRY_TABLE_ROWS) {
        const ExtraRecord *extra = &table->extra[row - ENTRY_TABLE_ROWS];
        return {extra->name, extra->entry_number, extra->size};
    }
    const EntryRecord *record = &table->rows[row];
    return {record->long_name != nullptr ? record->long_name : record->name, record->entry_number,
            record->size};
}

// The listing walk: one row per member, from row 1. False when the table
// cannot hold the listing.
bool fill_table(EntryTable *table, const struct xadArchiveInfo *ai)
{
    for (const struct xadFileInfo *fi = ai->xai_FileInfo; fi != nullptr; fi = fi->xfi_Next) {
        if (!entry_table_grow(table))
            return false;
        table->member_count++;
        if (table->member_count >= ENTRY_TABLE_ROWS) {
            table->extra[table->member_count - ENTRY_TABLE_ROWS] = {fi->xfi_FileName, fi->xfi_EntryNumber,
                                                                    fi->xfi_Size};
            continue;
        }
        EntryRecord *row = &table->rows[table->member_count];
        int length = snprintf(row->name, sizeof row->name, "%s", fi->xfi_FileName);
        row->long_name =
            length < 0 || static_cast<size_t>(length) >= sizeof row->name ? fi->xfi_FileName : nullptr;
        row->entry_number = fi->xfi_EntryNumber;
        row->size = fi->xfi_Size;
    }
    return true;
}

// The search: the first row whose name contains wanted, into *chosen. False
// when none does.
bool search_table(EntryTable *table, const char *wanted, EntryView *chosen)
{
    for (table->search_index = 1; table->search_index <= table->member_count; table->search_index++) {
        EntryView row = entry_at(table, table->search_index);
        if (strstr(row.name, wanted) != nullptr) {
            *chosen = row;
            return true;
        }
    }
    return false;
}

// What one listing of the archive gave.
enum ListingOutcome { LISTED, NO_LIBRARY, NO_OBJECT, NOT_READ, NO_TABLE };

// The library open, an archive info allocated and the archive
// listed into the table. On LISTED the caller holds the library, the object
// (*ai) and the listing and must release them with close_listing; on any
// other outcome everything obtained is already released.
ListingOutcome open_listing(const char *path, EntryTable *table, struct xadArchiveInfo **ai, LONG *info_code)
{
    *ai = nullptr;
    *info_code = XADERR_OK;
    xadMasterBase = OpenLibrary("xadmaster.library", 0);
    if (xadMasterBase == nullptr)
        return NO_LIBRARY;
    *ai = static_cast<struct xadArchiveInfo *>(xadAllocObject(XADOBJ_ARCHIVEINFO, TAG_DONE));
    if (*ai == nullptr) {
        CloseLibrary(xadMasterBase);
        return NO_OBJECT;
    }
    *info_code = xadGetInfo(*ai, XAD_INFILENAME, path, TAG_DONE);
    if (*info_code != XADERR_OK) {
        xadFreeObject(*ai, TAG_DONE);
        CloseLibrary(xadMasterBase);
        *ai = nullptr;
        return NOT_READ;
    }
    if (!fill_table(table, *ai)) {
        xadFreeInfo(*ai);
        xadFreeObject(*ai, TAG_DONE);
        CloseLibrary(xadMasterBase);
        *ai = nullptr;
        return NO_TABLE;
    }
    return LISTED;
}

// Releases the listing, the object and the library, in that order.
void close_listing(struct xadArchiveInfo *ai)
{
    xadFreeInfo(ai);
    xadFreeObject(ai, TAG_DONE);
    CloseLibrary(xadMasterBase);
}

// The block for a member of this size: four times its size, zero-filled.
// Null for a member larger than XAD_MEMBER_LIMIT (no allocation is tried).
void *allocate_block(ULONG size)
{
    if (size > XAD_MEMBER_LIMIT)
        return nullptr;
    uint64_t bytes = 4ull * size;
    if (bytes > 0xFFFFFFFFull)
        return nullptr;
    return AllocVec(static_cast<ULONG>(bytes), MEMF_CLEAR);
}

// The archive listed into the table and the first member whose name
// contains wanted chosen from it. True when one was: the caller then holds
// the table and the listing and releases them with close_chosen. Otherwise
// everything is already released.
bool open_chosen(const char *path, const char *wanted, EntryTable *table, struct xadArchiveInfo **ai,
                 EntryView *chosen)
{
    entry_table_begin(table);
    LONG info_code;
    if (open_listing(path, table, ai, &info_code) != LISTED) {
        entry_table_end(table);
        return false;
    }
    if (search_table(table, wanted, chosen))
        return true;
    close_listing(*ai);
    entry_table_end(table);
    return false;
}

void close_chosen(EntryTable *table, struct xadArchiveInfo *ai)
{
    close_listing(ai);
    entry_table_end(table);
}

} // namespace

void *XAD_file_unpacker(const char *path, const char *wanted)
{
    EntryTable table;
    struct xadArchiveInfo *ai;
    EntryView chosen;
    if (!open_chosen(path, wanted, &table, &ai, &chosen))
        return nullptr;
    void *block = allocate_block(chosen.size);
    if (block != nullptr)
        xadFileUnArc(ai, XAD_OUTMEMORY, block, XAD_OUTSIZE, chosen.size, XAD_ENTRYNUMBER, chosen.entry_number,
                     TAG_DONE);
    close_chosen(&table, ai);
    return block;
}

uint32_t XAD_file_grosse(const char *path, const char *wanted)
{
    EntryTable table;
    struct xadArchiveInfo *ai;
    EntryView chosen;
    if (!open_chosen(path, wanted, &table, &ai, &chosen))
        return 0;
    uint32_t size = chosen.size;
    close_chosen(&table, ai);
    return size;
}

namespace
{

char problem_text[256];
char cause_text[128];

// Why the file itself cannot be read, or null when it can be opened.
const char *file_problem(const char *path)
{
    struct stat st;
    if (stat(path, &st) != 0)
        return strerror(errno);
    if (S_ISDIR(st.st_mode))
        return "is a directory";
    if (!S_ISREG(st.st_mode))
        return "is not a regular file";
    FILE *file = fopen(path, "rb");
    if (file == nullptr)
        return strerror(errno);
    fclose(file);
    return nullptr;
}

using platform::limits::archive_extract_unpacked;
using platform::limits::archive_listing_members;
using platform::limits::archive_listing_names;
using platform::limits::archive_listing_unpacked;

// Why xadGetInfoA refused the archive, in a few words.
const CodeMessage listing_problems[] = {
    {XADERR_NOMEMORY, "its listing is too large to hold in memory", 0},
    {XADERR_RESOURCE, "cannot be read: libarchive.so.13 cannot be loaded", 0},
    {XADERR_LIMIT_MEMBERS, "it has more members than the limit of %llu", archive_listing_members},
    {XADERR_LIMIT_LISTING, "its listing is larger than the limit of %llu MiB", archive_listing_names >> 20},
    {XADERR_LIMIT_UNPACKED, "listing it would unpack more than the limit of %llu MiB",
     archive_listing_unpacked >> 20},
};

const char *listing_problem(LONG code)
{
    return code_message(listing_problems, sizeof listing_problems / sizeof listing_problems[0], code,
                        "cannot be read as an archive", problem_text, sizeof problem_text);
}

// Why xadFileUnArcA could not give the member, in a few words.
const CodeMessage extraction_causes[] = {
    {XADERR_ENCRYPTED, "it is encrypted", 0},
    {XADERR_TRUNCATED, "the archive is cut short", 0},
    {XADERR_ILLEGALDATA, "the archive's data is damaged", 0},
    {XADERR_SHORTBUFFER, "the archive's data is damaged", 0},
    {XADERR_NOMEMORY, "there is not enough memory", 0},
    {XADERR_RESOURCE, "libarchive.so.13 cannot be loaded", 0},
    {XADERR_LIMIT_UNPACKED, "reaching it would unpack more than the limit of %llu MiB",
     archive_extract_unpacked >> 20},
};

const char *extraction_cause(LONG code)
{
    return code_message(extraction_causes, sizeof extraction_causes / sizeof extraction_causes[0], code,
                        "the archive cannot be read", cause_text, sizeof cause_text);
}

const char *extraction_problem(const char *cause)
{
    snprintf(problem_text, sizeof problem_text, "its thumbnail could not be extracted: %s", cause);
    return problem_text;
}

const struct xadFileInfo *file_info(const struct xadArchiveInfo *ai, ULONG entry_number)
{
    for (const struct xadFileInfo *fi = ai->xai_FileInfo; fi != nullptr; fi = fi->xfi_Next)
        if (fi->xfi_EntryNumber == entry_number)
            return fi;
    return nullptr;
}

// The member's bytes, or an empty text with *code set when they cannot be had.
std::string extract_text(struct xadArchiveInfo *ai, const struct xadFileInfo *fi, LONG *code)
{
    std::string data;
    void *block = AllocVec(fi->xfi_Size + 1, MEMF_CLEAR);
    if (block == nullptr) {
        *code = XADERR_NOMEMORY;
        return data;
    }
    *code = xadFileUnArc(ai, XAD_OUTMEMORY, block, XAD_OUTSIZE, fi->xfi_Size, XAD_ENTRYNUMBER,
                         fi->xfi_EntryNumber, TAG_DONE);
    if (*code == XADERR_OK)
        data.assign(static_cast<const char *>(block), fi->xfi_Size);
    FreeVec(block);
    return data;
}

// Whether an OpenDocument manifest marks the member named name as enciphered:
// its file-entry holds encryption-data.
bool manifest_encrypts(const std::string &manifest, const char *name)
{
    std::string path = std::string("manifest:full-path=\"") + name + "\"";
    size_t at = manifest.find(path);
    if (at == std::string::npos)
        return false;
    size_t start = manifest.rfind("<manifest:file-entry", at);
    size_t end = manifest.find("</manifest:file-entry>", at);
    size_t next = manifest.find("<manifest:file-entry", at);
    if (start == std::string::npos || end == std::string::npos || (next != std::string::npos && next < end))
        return false; // an entry without content holds no encryption data
    return manifest.find("<manifest:encryption-data", start) < end;
}

// Whether the archive is an OpenDocument whose manifest enciphers the member.
bool odf_encrypts(struct xadArchiveInfo *ai, const char *name)
{
    const ULONG manifest_limit = 4u << 20;
    for (const struct xadFileInfo *fi = ai->xai_FileInfo; fi != nullptr; fi = fi->xfi_Next) {
        if (strcmp(fi->xfi_FileName, "META-INF/manifest.xml") != 0 || fi->xfi_Size > manifest_limit)
            continue;
        LONG code;
        return manifest_encrypts(extract_text(ai, fi, &code), name);
    }
    return false;
}

// Why the listed member does not come out whole, or null.
const char *member_problem(struct xadArchiveInfo *ai, const EntryView &chosen)
{
    const struct xadFileInfo *fi = file_info(ai, chosen.entry_number);
    if (fi == nullptr || chosen.size == 0 || chosen.size > XAD_MEMBER_LIMIT)
        return nullptr;
    if ((fi->xfi_Flags & XADFIF_CRYPTED) != 0)
        return extraction_problem(extraction_cause(XADERR_ENCRYPTED));
    LONG code;
    extract_text(ai, fi, &code);
    if (code != XADERR_OK)
        return extraction_problem(extraction_cause(code));
    if (odf_encrypts(ai, fi->xfi_FileName))
        return extraction_problem("it is encrypted (the document is protected by a password)");
    return nullptr;
}

} // namespace

const char *XAD_member_problem(const char *path, const char *wanted)
{
    EntryTable table;
    struct xadArchiveInfo *ai;
    EntryView chosen;
    if (!open_chosen(path, wanted, &table, &ai, &chosen))
        return nullptr;
    const char *problem = member_problem(ai, chosen);
    close_chosen(&table, ai);
    return problem;
}

const char *XAD_file_problem(const char *path, const char *wanted)
{
    const char *problem = file_problem(path);
    if (problem != nullptr)
        return problem;
    EntryTable table;
    entry_table_begin(&table);
    struct xadArchiveInfo *ai;
    LONG info_code;
    switch (open_listing(path, &table, &ai, &info_code)) {
    case NO_LIBRARY:
        problem = "xadmaster.library cannot be opened";
        break;
    case NO_OBJECT:
    case NO_TABLE:
        problem = "there is not enough memory to list it";
        break;
    case NOT_READ:
        problem = listing_problem(info_code);
        break;
    case LISTED: {
        EntryView chosen;
        if (!search_table(&table, wanted, &chosen)) {
            snprintf(problem_text, sizeof problem_text, "has no member whose name contains \"%.200s\"",
                     wanted);
            problem = problem_text;
        } else if (chosen.size == 0) {
            problem = "its thumbnail member is empty";
        } else if (chosen.size > XAD_MEMBER_LIMIT) {
            snprintf(problem_text, sizeof problem_text, "its thumbnail member is larger than %u MiB",
                     XAD_MEMBER_LIMIT >> 20);
            problem = problem_text;
        } else {
            problem = "there is not enough memory for its thumbnail member";
        }
        close_listing(ai);
        break;
    }
    }
    entry_table_end(&table);
    return problem;
}

// The libraries' calls when the C++ runtime runs out of memory inside them:
// each returns its empty result or succeeds, and no exception reaches the
// caller. This program replaces the global operator new, so that the N-th
// allocation of a call can be made to fail, for every N up to the count
// the call needs. The array forms call these, or under the sanitizer
// pair with its own.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "flow/libraries.h"
#include "platform/control.h"
#include "platform/startup.h"
#include "platform_fixture.h"
#include "support.h"

namespace
{

long allocations_left = -1; // never fail while negative
bool allocation_failed = false;

void *take(size_t size) noexcept
{
    if (allocations_left == 0) {
        allocation_failed = true;
        return nullptr;
    }
    if (allocations_left > 0)
        --allocations_left;
    return std::malloc(size != 0 ? size : 1);
}

void *take_or_throw(size_t size)
{
    if (void *block = take(size))
        return block;
    throw std::bad_alloc();
}

} // namespace

void *operator new(size_t size)
{
    return take_or_throw(size);
}
void *operator new(size_t size, const std::nothrow_t &) noexcept
{
    return take(size);
}
void operator delete(void *block) noexcept
{
    std::free(block);
}
void operator delete(void *block, size_t) noexcept
{
    std::free(block);
}

namespace
{

using testing_support::TempDir;

const char *const named_document = "a document named at length.odt";

// What the calls work on, made before any allocation may fail.
struct Material {
    TempDir dir;
    std::string archive = dir.file("doc.zip");
    std::string folder = dir.file("a folder named at some length");
    std::string extracted = dir.file("a member extracted at some length.txt");
    std::string png = testing_support::encode_png(40, 30, testing_support::test_pattern(40, 30));
    std::vector<uint32_t> pixels = testing_support::test_pattern(40, 30);
    std::vector<uint32_t> canvas = std::vector<uint32_t>(64 * 64);
    struct BitMap bitmap = {};
    struct RastPort rastport = {};
    struct xadArchiveInfo *ai = nullptr;
    std::vector<uint8_t> member = std::vector<uint8_t>(64);
};
Material *material = nullptr;

// What a call got, given back once allocations succeed again.
APTR got = nullptr;
BPTR got_lock = 0;

Object *new_picture()
{
    return NewDTObject(nullptr, DTA_SourceType, DTST_MEMORY, DTA_SourceAddress, material->png.data(),
                       DTA_SourceSize, material->png.size(), TAG_DONE);
}

LONG get_info()
{
    return xadGetInfo(material->ai, XAD_INFILENAME, material->archive.c_str(), TAG_DONE);
}

void free_info()
{
    if (material->ai->xai_Private != nullptr)
        xadFreeInfo(material->ai);
    platform_forget_archive_listings();
}

void nothing() {}

bool read_args()
{
    IPTR array[1] = {0};
    got = ReadArgs("DOCUMENTPATH/A", array, nullptr);
    const char *value = nullptr;
    std::memcpy(&value, &array[0], sizeof value); // GCC 12 takes a cast word for a pointer into array
    return got != nullptr && std::strcmp(value, named_document) == 0;
}

testing_support::Member member(const char *name, const char *data)
{
    testing_support::Member m;
    m.name = name;
    m.data = data;
    return m;
}

// One call, run with allocations failing from some point on: true for its
// result (checked), false for its empty result. Prepare makes what it needs
// first, undo gives back what either left, both while allocations succeed.
struct Call {
    const char *name;
    void (*prepare)();
    bool (*run)();
    void (*undo)();
};

const Call entry_points[] = {
    {"AllocVec", nothing, [] { return (got = AllocVec(64, MEMF_CLEAR)) != nullptr; }, [] { FreeVec(got); }},
    {"ReadArgs", nothing, read_args, [] { FreeArgs(static_cast<struct RDArgs *>(got)); }},
    {"CreateDir", nothing,
     [] {
         got_lock = CreateDir(material->folder.c_str());
         return got_lock != 0;
     },
     [] {
         if (got_lock != 0)
             UnLock(got_lock);
         rmdir(material->folder.c_str());
     }},
    {"xadGetInfoA", nothing, [] { return get_info() == XADERR_OK; }, free_info},
    {"xadFileUnArcA", [] { get_info(); },
     [] {
         LONG code = xadFileUnArc(material->ai, XAD_OUTMEMORY, material->member.data(), XAD_OUTSIZE,
                                  material->member.size(), XAD_ENTRYNUMBER, 1, TAG_DONE);
         return code == XADERR_OK && std::memcmp(material->member.data(), "first", 5) == 0;
     },
     free_info},
    {"xadFileUnArcA to a file", [] { get_info(); },
     [] {
         LONG code = xadFileUnArc(material->ai, XAD_OUTFILENAME, material->extracted.c_str(), XAD_OVERWRITE,
                                  TRUE, XAD_ENTRYNUMBER, 2, TAG_DONE);
         return code == XADERR_OK;
     },
     [] {
         free_info();
         unlink(material->extracted.c_str());
     }},
    {"NewDTObjectA", nothing, [] { return (got = new_picture()) != nullptr; },
     [] { DisposeDTObject(static_cast<Object *>(got)); }},
    {"DoDTMethodA", [] { got = new_picture(); },
     [] {
         return DoDTMethod(static_cast<Object *>(got), nullptr, nullptr, DTM_PROCLAYOUT, nullptr, TRUE) != 0;
     },
     [] {
         DisposeDTObject(static_cast<Object *>(got));
         platform_forget_decoded_pictures();
     }},
    {"ScalePixelArray", nothing,
     [] {
         return ScalePixelArray(material->pixels.data(), 40, 30, 160, &material->rastport, 0, 0, 64, 50,
                                RECTFMT_ARGB) > 0;
     },
     nothing},
    {"OpenWindowTagList", nothing,
     [] {
         got = OpenWindowTags(nullptr, WA_Width, 64, WA_Height, 48, WA_Title,
                              "A window titled at some length", TAG_DONE);
         return got != nullptr;
     },
     [] { CloseWindow(static_cast<struct Window *>(got)); }},
};

class NoMemory : public PlatformTest
{
  protected:
    void SetUp() override
    {
        setenv("SDL_VIDEODRIVER", "offscreen", 0);
        PlatformTest::SetUp();
        xadMasterBase = OpenLibrary("xadmaster.library", 13);
        DataTypesBase = OpenLibrary("datatypes.library", 0);
        IntuitionBase = OpenLibrary("intuition.library", 0);
        ASSERT_NE(IntuitionBase, nullptr);
        material = new Material;
        testing_support::write_archive(material->archive, "zip",
                                       {member("a.txt", "first"), member("b.txt", "hello")});
        material->ai = static_cast<struct xadArchiveInfo *>(xadAllocObject(XADOBJ_ARCHIVEINFO, TAG_DONE));
        material->bitmap = {64 * 4, 64, 0, 32, 0, {reinterpret_cast<PLANEPTR>(material->canvas.data())}};
        material->rastport.BitMap = &material->bitmap;
        char program[] = "quillpeek";
        char *argv[] = {program, const_cast<char *>(named_document)};
        platform_set_arguments(2, argv);
    }

    void TearDown() override
    {
        xadFreeObject(material->ai, TAG_DONE);
        delete material;
        CloseLibrary(IntuitionBase);
        CloseLibrary(DataTypesBase);
        CloseLibrary(xadMasterBase);
        PlatformTest::TearDown();
    }

    // Runs the call with allocations failing after `successes`; true when
    // none failed.
    bool run_failing_after(const Call &call, long successes)
    {
        long blocks = platform_live_blocks(), objects = platform_live_objects();
        got = nullptr;
        got_lock = 0;
        call.prepare();
        bool result = false;
        allocation_failed = false;
        allocations_left = successes;
        try {
            result = call.run();
        } catch (...) {
            allocations_left = -1;
            ADD_FAILURE() << call.name << " let an exception out after " << successes << " allocations";
        }
        allocations_left = -1;
        call.undo();
        EXPECT_TRUE(result || allocation_failed)
            << call.name << " gave its empty result, yet nothing failed, after " << successes;
        EXPECT_EQ(platform_live_blocks(), blocks) << call.name << " after " << successes;
        EXPECT_EQ(platform_live_objects(), objects) << call.name << " after " << successes;
        clear_journal(); // FAULT lines are expected here; and the journal allocates anew
        return !allocation_failed;
    }
};

TEST_F(NoMemory, EveryCallReturnsItsEmptyResultOrSucceeds)
{
    for (const Call &call : entry_points) {
        long successes = 0;
        while (!run_failing_after(call, successes) && successes < 100000)
            ++successes;
        EXPECT_LT(successes, 100000) << call.name;
    }
}

} // namespace

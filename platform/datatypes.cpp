// datatypes.library and its picture class.
//
// An object is made from a picture file in memory. NewDTObjectA checks the
// attributes, picks the decoder whose signature the data carries and reads
// the picture's header: data that no decoder accepts gives no object. The
// object keeps the caller's block (it must outlive the object) and its
// BitMapHeader. DTM_PROCLAYOUT decodes the picture into the object's
// true-colour BitMap, unless the header names a picture too large to hold;
// then the object keeps its header and never has a bitmap. Damaged data
// gives no bitmap either. DisposeDTObject releases the object and its
// bitmap; the pixels go with the last of the object and the class's memory
// of the last picture decoded (see Decoded below).
//
// DoDTMethodA runs inside the call boundary (guarded); the other calls
// allocate nothing that can throw.
#include "platform/datatypes.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <new>
#include <string_view>

#include "platform/control.h"
#include "platform/decoders/decoder.h"
#include "platform/dos.h"
#include "platform/internal/internal.h"
#include "platform/internal/large_memory.h"
#include "platform/internal/registry.h"

namespace
{

// Decoded pixels, shared by the objects of one picture and the class's memory
// of the last picture decoded.
using Pixels = std::shared_ptr<uint32_t>;

} // namespace

struct DTObject {
    const platform::Decoder *decoder;
    const uint8_t *source; // the caller's block, not ours
    size_t source_size;
    struct BitMapHeader header;
    bool size_allowed;    // the picture may be decoded at all
    bool laid_out;        // DTM_PROCLAYOUT has run (successfully or not)
    bool has_bitmap;      // bitmap holds the decoded picture
    LONG problem;         // IoErr code of a failed layout
    Pixels pixels;        // what bitmap.Planes[0] points at
    struct BitMap bitmap; // Planes[0]: the pixels
};

namespace
{

// The last picture laid out: its source by address, size and a hash of its
// bytes, and the outcome, pixels or the code of a failure that would come
// again (never a failed allocation).
struct Decoded {
    std::mutex lock;
    const uint8_t *address = nullptr;
    size_t size = 0;
    size_t hash = 0;
    LONG problem = 0;
    Pixels pixels;
};

Decoded &last_decoded()
{
    static Decoded *instance = new Decoded;
    return *instance;
}

size_t hash_of(const uint8_t *data, size_t size)
{
    return std::hash<std::string_view>()(std::string_view(reinterpret_cast<const char *>(data), size));
}

// The remembered outcome for the object's source, if it is the same.
bool recall(const DTObject *o, LONG *problem, Pixels *pixels)
{
    Decoded &last = last_decoded();
    std::lock_guard<std::mutex> hold(last.lock);
    if (last.address != o->source || last.size != o->source_size ||
        last.hash != hash_of(o->source, o->source_size))
        return false;
    *problem = last.problem;
    *pixels = last.pixels;
    return true;
}

void remember(const DTObject *o, LONG problem, const Pixels &pixels)
{
    if (problem == ERROR_NO_FREE_STORE)
        return; // may well succeed next time
    Decoded &last = last_decoded();
    std::lock_guard<std::mutex> hold(last.lock);
    last.address = o->source;
    last.size = o->source_size;
    last.hash = hash_of(o->source, o->source_size);
    last.problem = problem;
    last.pixels = pixels;
}

// Decoders, asked in this order.
const platform::Decoder *const decoders[] = {&platform::png_decoder, &platform::jpeg_decoder};

// Objects made and not yet disposed of.
platform::Registry<DTObject> &live_objects()
{
    return platform::Registry<DTObject>::instance();
}

bool is_object(const DTObject *o)
{
    return live_objects().contains(o);
}

// What NewDTObjectA's attributes ask for.
struct Source {
    const uint8_t *address = nullptr;
    size_t size = 0;
};

// The attributes as a source in memory of the picture group in true colour;
// false for unknown attributes and for values the class cannot honour.
bool read_attributes(const struct TagItem *attrs, Source *source)
{
    bool from_memory = false;
    for (const struct TagItem *item = attrs; item != nullptr && item->ti_Tag != TAG_DONE; ++item) {
        switch (item->ti_Tag) {
        case TAG_IGNORE:
        case PDTA_Remap:
        case PDTA_Screen: // true colour needs no screen to remap to
            break;
        case DTA_SourceType:
            if (item->ti_Data != DTST_MEMORY)
                return false;
            from_memory = true;
            break;
        case DTA_SourceAddress:
            source->address = reinterpret_cast<const uint8_t *>(item->ti_Data);
            break;
        case DTA_SourceSize:
            source->size = item->ti_Data;
            break;
        case DTA_GroupID:
            if (item->ti_Data != GID_PICTURE)
                return false;
            break;
        case PDTA_DestMode:
            if (item->ti_Data != PMODE_V43) // the class makes true-colour bitmaps only
                return false;
            break;
        default:
            return false;
        }
    }
    return from_memory && source->address != nullptr && source->size != 0;
}

const platform::Decoder *decoder_for(const Source &source)
{
    for (const platform::Decoder *decoder : decoders)
        if (decoder->recognises(source.address, source.size))
            return decoder;
    return nullptr;
}

void fill_header(struct BitMapHeader *header, platform::PictureSize size)
{
    header->bmh_Width = static_cast<UWORD>(size.width);
    header->bmh_Height = static_cast<UWORD>(size.height);
    header->bmh_Depth = 32;
    header->bmh_XAspect = 1;
    header->bmh_YAspect = 1;
    header->bmh_PageWidth = static_cast<WORD>(size.width > 0x7FFF ? 0x7FFF : size.width);
    header->bmh_PageHeight = static_cast<WORD>(size.height > 0x7FFF ? 0x7FFF : size.height);
}

// Why the source gives no object, or 0: no decoder, an unreadable header or
// one naming a size a BitMapHeader cannot carry. A source that starts in a
// block from AllocVec must end in it too.
LONG source_problem(const Source &source, const platform::Decoder **decoder, platform::PictureSize *size)
{
    size_t room = 0;
    if (platform::block_room(source.address, &room) && source.size > room)
        return DTERROR_BEYOND_BLOCK;
    *decoder = decoder_for(source);
    if (*decoder == nullptr)
        return DTERROR_UNKNOWN_DATATYPE;
    LONG problem = (*decoder)->read_size(source.address, source.size, size);
    if (problem != 0)
        return problem;
    if (size->width == 0 || size->height == 0)
        return DTERROR_INVALID_DATA;
    if (size->width > 0xFFFF || size->height > 0xFFFF)
        return ERROR_OBJECT_TOO_LARGE;
    return 0;
}

// A new object for the source, or null with IoErr set.
DTObject *make_object(const Source &source)
{
    const platform::Decoder *decoder = nullptr;
    platform::PictureSize size = {};
    LONG problem = source_problem(source, &decoder, &size);
    void *memory = problem == 0 ? platform::allocate(sizeof(DTObject)) : nullptr;
    if (memory == nullptr) {
        platform::set_io_error(problem != 0 ? problem : ERROR_NO_FREE_STORE);
        return nullptr;
    }
    DTObject *o = new (memory) DTObject{};
    o->decoder = decoder;
    o->source = source.address;
    o->source_size = source.size;
    o->size_allowed = platform::picture_size_allowed(size);
    fill_header(&o->header, size);
    if (!live_objects().add(o)) {
        o->~DTObject();
        platform::release(o);
        platform::set_io_error(ERROR_NO_FREE_STORE);
        return nullptr;
    }
    return o;
}

void free_pixels(void *pixels)
{
    if (!platform::huge_block_free(pixels))
        std::free(pixels);
}

// The object's picture decoded into fresh pixels, or the code of why not.
LONG decode(const DTObject *o, Pixels *pixels)
{
    platform::PictureSize size = {o->header.bmh_Width, o->header.bmh_Height};
    // Counted like every allocation for the program, but not zero-filled:
    // the decoder writes every pixel or the pixels are dropped.
    size_t bytes = static_cast<size_t>(size.width) * size.height * 4;
    uint32_t *memory = nullptr;
    if (platform::allocation_allowed()) {
        memory = static_cast<uint32_t *>(platform::huge_block(bytes));
        memory = memory != nullptr ? memory : static_cast<uint32_t *>(std::malloc(bytes));
    }
    if (memory == nullptr)
        return ERROR_NO_FREE_STORE;
    // A damaged picture may stop early: only its first rows (a whole
    // thumbnail of 512 x 512) are given their pages ahead, so that a header
    // naming a huge picture costs little memory that its data does not fill.
    const size_t prepared_bytes = 1u << 20;
    platform::prepare_for_writing(memory, std::min(bytes, prepared_bytes));
    Pixels decoded(memory, free_pixels);
    LONG problem = o->decoder->decode(o->source, o->source_size, size, memory);
    if (problem == 0)
        *pixels = decoded;
    return problem;
}

// The pixels for the object, from the last picture laid out when its source
// is the same, else decoded; the code of a failure otherwise.
LONG pixels_for(const DTObject *o, Pixels *pixels)
{
    LONG problem = 0;
    if (recall(o, &problem, pixels))
        return problem;
    problem = decode(o, pixels);
    remember(o, problem, *pixels);
    return problem;
}

// Gives the object its bitmap. True when it has one; IoErr tells why not.
bool lay_out(DTObject *o)
{
    if (!o->laid_out) {
        o->problem = o->size_allowed ? pixels_for(o, &o->pixels) : ERROR_OBJECT_TOO_LARGE;
        o->laid_out = true; // not before: a layout cut short by memory runs again
    }
    if (o->problem != 0 || o->pixels == nullptr) {
        platform::set_io_error(o->problem != 0 ? o->problem : DTERROR_INVALID_DATA);
        return false;
    }
    o->bitmap.BytesPerRow = static_cast<UWORD>(o->header.bmh_Width * 4);
    o->bitmap.Rows = o->header.bmh_Height;
    o->bitmap.Depth = 32;
    o->bitmap.Planes[0] = reinterpret_cast<PLANEPTR>(o->pixels.get());
    o->has_bitmap = true;
    return true;
}

// Stores a pointer-sized value at the address a GetDTAttrsA tag gives.
void store(IPTR address, const void *value)
{
    if (address != 0)
        std::memcpy(reinterpret_cast<void *>(address), &value, sizeof value);
}

} // namespace

namespace platform
{

bool picture_size_allowed(PictureSize size)
{
    return size.width < 16384 && size.height <= 65535 &&
           static_cast<uint64_t>(size.width) * size.height <= PICTURE_MAX_PIXELS;
}

} // namespace platform

void platform_forget_decoded_pictures()
{
    Decoded &last = last_decoded();
    std::lock_guard<std::mutex> hold(last.lock);
    last.address = nullptr;
    last.size = 0;
    last.pixels.reset();
}

void LVO_ForgetLastDecode(struct Library *base)
{
    if (!platform::library_ready(base, "datatypes.library", "ForgetLastDecode"))
        return;
    platform::journal("ForgetLastDecode");
    platform_forget_decoded_pictures();
}

long platform_live_objects()
{
    return live_objects().count();
}

Object *LVO_NewDTObjectA(struct Library *base, APTR name, const struct TagItem *attrs)
{
    if (!platform::library_ready(base, "datatypes.library", "NewDTObjectA"))
        return nullptr;
    const char *shown = name != nullptr ? static_cast<const char *>(name) : "(null)";
    Source source;
    DTObject *o = nullptr;
    if (read_attributes(attrs, &source))
        o = make_object(source);
    else
        platform::set_io_error(DTERROR_UNKNOWN_DATATYPE);
    if (o != nullptr)
        platform::journal("NewDTObjectA %s", shown);
    else
        platform::journal("NewDTObjectA %s -> NULL", shown);
    return o;
}

void LVO_DisposeDTObject(struct Library *base, Object *o)
{
    if (!platform::library_ready(base, "datatypes.library", "DisposeDTObject") || o == nullptr)
        return;
    if (!is_object(o)) {
        platform::journal("DisposeDTObject FAULT not an object");
        return;
    }
    platform::journal("DisposeDTObject");
    live_objects().remove(o);
    o->~DTObject();
    platform::release(o);
}

IPTR LVO_DoDTMethodA(struct Library *base, Object *o, struct Window *, struct Requester *, Msg msg)
{
    if (!platform::library_ready(base, "datatypes.library", "DoDTMethodA"))
        return 0;
    if (!is_object(o) || msg == nullptr) {
        platform::journal("DoDTMethodA FAULT not an object or no message");
        return 0;
    }
    if (msg->MethodID != DTM_PROCLAYOUT) {
        platform::journal("DoDTMethodA 0x%lx -> 0", static_cast<unsigned long>(msg->MethodID));
        return 0;
    }
    bool laid_out = platform::guarded("DoDTMethodA", false, [&] { return lay_out(o); });
    platform::journal("DoDTMethodA DTM_PROCLAYOUT%s", laid_out ? "" : " -> 0");
    return laid_out ? 1 : 0;
}

ULONG LVO_GetDTAttrsA(struct Library *base, Object *o, const struct TagItem *attrs)
{
    if (!platform::library_ready(base, "datatypes.library", "GetDTAttrsA"))
        return 0;
    if (!is_object(o)) {
        platform::journal("GetDTAttrsA FAULT not an object");
        return 0;
    }
    platform::journal("GetDTAttrsA");
    ULONG stored = 0;
    for (const struct TagItem *item = attrs; item != nullptr && item->ti_Tag != TAG_DONE; ++item) {
        const void *value = nullptr;
        if (item->ti_Tag == TAG_IGNORE)
            continue;
        if (item->ti_Tag == PDTA_BitMapHeader)
            value = &o->header;
        else if (item->ti_Tag == PDTA_BitMap && o->has_bitmap)
            value = &o->bitmap;
        store(item->ti_Data, value);
        if (value != nullptr)
            ++stored;
    }
    return stored;
}

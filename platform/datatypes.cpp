// datatypes.library and its picture class.
//
// An object is made from a picture file in memory. NewDTObjectA checks the
// attributes, picks the decoder whose signature the data carries and reads
// the picture's header: data that no decoder accepts gives no object. The
// object keeps the caller's block (it must outlive the object) and its
// BitMapHeader. DTM_PROCLAYOUT decodes the picture into the object's
// true-colour BitMap, unless the header names a picture too large to hold;
// then the object keeps its header and never has a bitmap. Damaged data
// gives no bitmap either. DisposeDTObject releases the object, its bitmap
// and its pixels.
#include "platform/datatypes.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <unordered_set>

#include "platform/control.h"
#include "platform/decoders/decoder.h"
#include "platform/internal.h"

struct DTObject {
    const platform::Decoder *decoder;
    const uint8_t *source; // the caller's block, not ours
    size_t source_size;
    struct BitMapHeader header;
    bool size_allowed;    // the picture may be decoded at all
    bool laid_out;        // DTM_PROCLAYOUT has run (successfully or not)
    bool has_bitmap;      // bitmap holds the decoded picture
    struct BitMap bitmap; // Planes[0]: our pixels, released with the object
};

namespace
{

// Decoders, asked in this order.
const platform::Decoder *const decoders[] = {&platform::png_decoder, &platform::jpeg_decoder};

// Objects made and not yet disposed of.
struct LiveObjects {
    std::mutex lock;
    std::unordered_set<const DTObject *> objects;
};

LiveObjects &live_objects()
{
    static LiveObjects *instance = new LiveObjects;
    return *instance;
}

bool is_object(const DTObject *o)
{
    LiveObjects &live = live_objects();
    std::lock_guard<std::mutex> hold(live.lock);
    return live.objects.count(o) != 0;
}

void add_object(const DTObject *o)
{
    LiveObjects &live = live_objects();
    std::lock_guard<std::mutex> hold(live.lock);
    live.objects.insert(o);
}

void remove_object(const DTObject *o)
{
    LiveObjects &live = live_objects();
    std::lock_guard<std::mutex> hold(live.lock);
    live.objects.erase(o);
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

// A new object for the source, or null: no decoder, unreadable header, a size
// the header cannot carry, or no memory.
DTObject *make_object(const Source &source)
{
    const platform::Decoder *decoder = decoder_for(source);
    platform::PictureSize size = {};
    if (decoder == nullptr || !decoder->read_size(source.address, source.size, &size))
        return nullptr;
    if (size.width == 0 || size.height == 0 || size.width > 0xFFFF || size.height > 0xFFFF)
        return nullptr;
    void *memory = platform::allocate(sizeof(DTObject));
    if (memory == nullptr)
        return nullptr;
    DTObject *o = new (memory) DTObject{};
    o->decoder = decoder;
    o->source = source.address;
    o->source_size = source.size;
    o->size_allowed = platform::picture_size_allowed(size);
    fill_header(&o->header, size);
    add_object(o);
    return o;
}

// Decodes the picture into the object's bitmap. True when it has one.
bool lay_out(DTObject *o)
{
    if (o->laid_out)
        return o->has_bitmap;
    o->laid_out = true;
    if (!o->size_allowed)
        return false;
    platform::PictureSize size = {o->header.bmh_Width, o->header.bmh_Height};
    // Counted like every allocation for the program, but not zero-filled:
    // the decoder writes every pixel or the pixels are dropped.
    size_t bytes = static_cast<size_t>(size.width) * size.height * 4;
    uint32_t *pixels = platform::allocation_allowed() ? static_cast<uint32_t *>(std::malloc(bytes)) : nullptr;
    if (pixels == nullptr)
        return false;
    if (!o->decoder->decode(o->source, o->source_size, size, pixels)) {
        std::free(pixels);
        return false;
    }
    o->bitmap.BytesPerRow = static_cast<UWORD>(size.width * 4);
    o->bitmap.Rows = static_cast<UWORD>(size.height);
    o->bitmap.Depth = 32;
    o->bitmap.Planes[0] = reinterpret_cast<PLANEPTR>(pixels);
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

long platform_live_objects()
{
    LiveObjects &live = live_objects();
    std::lock_guard<std::mutex> hold(live.lock);
    return static_cast<long>(live.objects.size());
}

Object *LVO_NewDTObjectA(struct Library *base, APTR name, const struct TagItem *attrs)
{
    if (!platform::library_ready(base, "datatypes.library", "NewDTObjectA"))
        return nullptr;
    const char *shown = name != nullptr ? static_cast<const char *>(name) : "(null)";
    Source source;
    DTObject *o = read_attributes(attrs, &source) ? make_object(source) : nullptr;
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
    remove_object(o);
    std::free(o->bitmap.Planes[0]);
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
    bool laid_out = lay_out(o);
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

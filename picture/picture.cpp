// Picture decoding through datatypes.library's picture class.
//
// Every routine opens the library, makes an object from the block, lays it
// out (which decodes the picture), asks for the header and the bitmap, takes
// what it needs, disposes of the object and closes the library. Nothing
// survives a call but a PictureBuffer that DTLoad hands to its caller.
#include "picture/picture.h"

#include "flow/libraries.h"

namespace
{

// What one decode gives: the object and its header and bitmap, both owned by
// the object and valid until it is disposed of.
struct Decoded {
    Object *object;
    struct BitMapHeader *header;
    struct BitMap *bitmap;
};

// Opens datatypes.library and decodes the block. True when an object was
// made: the library is then open and close_picture must follow. False when
// the library is missing or no object results; nothing is left open then.
bool open_picture(void *block, uint32_t size, Decoded *decoded)
{
    decoded->object = nullptr;
    decoded->header = nullptr;
    decoded->bitmap = nullptr;
    DataTypesBase = OpenLibrary("datatypes.library", 51);
    if (DataTypesBase == nullptr)
        return false;
    // There is no screen to remap to: the picture comes back in true colour.
    decoded->object = NewDTObject(const_cast<char *>("tst"), DTA_SourceType, DTST_MEMORY, DTA_SourceAddress,
                                  block, DTA_SourceSize, size, DTA_GroupID, GID_PICTURE, PDTA_Remap, TRUE,
                                  PDTA_Screen, nullptr, PDTA_DestMode, PMODE_V43, TAG_DONE);
    if (decoded->object == nullptr) {
        CloseLibrary(DataTypesBase);
        return false;
    }
    // A failed layout shows as a missing bitmap or header below.
    DoDTMethod(decoded->object, nullptr, nullptr, DTM_PROCLAYOUT, nullptr, TRUE);
    GetDTAttrs(decoded->object, PDTA_BitMapHeader, &decoded->header, PDTA_BitMap, &decoded->bitmap, TAG_DONE);
    return true;
}

void close_picture(Decoded *decoded)
{
    DisposeDTObject(decoded->object);
    CloseLibrary(DataTypesBase);
}

// A new PictureBuffer with the bitmap's pixels, or null. The row length
// handed to ReadPixelArray is 16-bit, so wider pictures are refused.
void *copy_pixels(const struct BitMapHeader *header, struct BitMap *bitmap)
{
    uint64_t width = header->bmh_Width;
    uint64_t height = header->bmh_Height;
    uint64_t bytes = width * (height * 4) * 4;
    if (width * 4 > 0xFFFF || bytes > 0xFFFFFFFFu)
        return nullptr;
    struct RastPort rastport;
    InitRastPort(&rastport);
    rastport.BitMap = bitmap;
    void *buffer = AllocVec(static_cast<ULONG>(bytes), MEMF_CLEAR);
    if (buffer == nullptr)
        return nullptr;
    ReadPixelArray(buffer, 0, 0, static_cast<UWORD>(width * 4), &rastport, 0, 0, header->bmh_Width,
                   header->bmh_Height, RECTFMT_ARGB);
    return buffer;
}

// The picture's width (or height), 0 when it has no size.
uint32_t picture_dimension(void *block, uint32_t size, bool want_width)
{
    Decoded decoded;
    if (!open_picture(block, size, &decoded))
        return 0;
    uint32_t dimension = 0;
    if (decoded.header != nullptr)
        dimension = want_width ? decoded.header->bmh_Width : decoded.header->bmh_Height;
    close_picture(&decoded);
    return dimension;
}

} // namespace

void *DTLoad(void *block, uint32_t size)
{
    Decoded decoded;
    if (!open_picture(block, size, &decoded))
        return nullptr;
    void *buffer = nullptr;
    if (decoded.header != nullptr && decoded.bitmap != nullptr)
        buffer = copy_pixels(decoded.header, decoded.bitmap);
    close_picture(&decoded);
    return buffer;
}

uint32_t DT_width(void *block, uint32_t size)
{
    return picture_dimension(block, size, true);
}

uint32_t DT_height(void *block, uint32_t size)
{
    return picture_dimension(block, size, false);
}

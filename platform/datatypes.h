// datatypes.library and its picture class: decoding pictures from memory.
//
// The picture class chooses a decoder by the data's content, never by a
// name (platform/decoders/decoder.h). An object is made by NewDTObjectA,
// decodes its picture when laid out with DTM_PROCLAYOUT, and then supplies
// a BitMapHeader and a true-colour BitMap (platform/graphics.h) through
// GetDTAttrsA. Both belong to the object and die with DisposeDTObject.
// Pictures too large to hold are refused from their header alone: no
// object, or a header and no bitmap.
//
// A source that starts inside a block from AllocVec must end inside it: a
// size running past the block's end gives no object (the block was filled
// for a smaller picture, so its data changed while it was being read).
//
// The class keeps the last picture it decoded, keyed by the source's
// address, size and content: laying out an object of the same source again
// takes its pixels (or its failure) from there instead of decoding anew.
// Every call is journalled as if it had done the work.
//
// When NewDTObjectA gives no object, or DTM_PROCLAYOUT gives no bitmap,
// IoErr (dos.library) tells why: one of the codes below, or dos.library's
// ERROR_NO_FREE_STORE (memory ran out) and ERROR_OBJECT_TOO_LARGE (the
// header names a picture beyond PICTURE_MAX_PIXELS).
#ifndef QUILLPEEK_PLATFORM_DATATYPES_H
#define QUILLPEEK_PLATFORM_DATATYPES_H

#include "platform/graphics.h"

extern struct Library *DataTypesBase;

struct DTObject;
typedef struct DTObject Object;

struct Window;
struct Requester;
struct GadgetInfo;

// A method message: the method's identifier, then its words.
struct MsgHeader {
    IPTR MethodID;
};
typedef struct MsgHeader *Msg;

struct gpLayout {
    IPTR MethodID;
    struct GadgetInfo *gpl_GInfo;
    IPTR gpl_Initial;
};

struct BitMapHeader {
    UWORD bmh_Width;
    UWORD bmh_Height;
    WORD bmh_Left;
    WORD bmh_Top;
    UBYTE bmh_Depth;
    UBYTE bmh_Masking;
    UBYTE bmh_Compression;
    UBYTE bmh_Pad;
    UWORD bmh_Transparent;
    UBYTE bmh_XAspect;
    UBYTE bmh_YAspect;
    WORD bmh_PageWidth;
    WORD bmh_PageHeight;
};

enum : ULONG {
    DTA_GroupID = 0x8000101Fu,
    DTA_SourceAddress = 0x80001027u,
    DTA_SourceSize = 0x80001028u,
    DTA_SourceType = 0x80001065u,
    PDTA_BitMapHeader = 0x800010C9u,
    PDTA_BitMap = 0x800010CAu,
    PDTA_Remap = 0x800010D3u,
    PDTA_Screen = 0x800010D4u,
    PDTA_DestMode = 0x800010FBu,
};

enum : ULONG {
    DTST_MEMORY = 5,
    GID_PICTURE = 0x70696374u, // 'pict'
    PMODE_V42 = 0,
    PMODE_V43 = 1,
    DTM_PROCLAYOUT = 0x602,
};

// The largest picture the class decodes: width below 16384 (a row of 4-byte
// pixels must fit cybergraphics' 16-bit row length), height at most 65535
// and at most this many pixels in all: 4096 x 4096, 64 MiB of pixels, so
// that a picture costs at most 64 MiB in its bitmap (and 256 MiB in a
// PictureBuffer, most of it untouched zero pages). Larger pictures are
// refused from their header: the object gives its BitMapHeader and no
// bitmap. Headers beyond 65535 in either direction give no object at all,
// since a BitMapHeader cannot carry them.
enum : ULONG {
    PICTURE_MAX_PIXELS = 16u * 1024u * 1024u,
};

// Codes of IoErr after a failed NewDTObjectA or DTM_PROCLAYOUT.
enum : LONG {
    DTERROR_UNKNOWN_DATATYPE = 2000, // no decoder knows the data
    DTERROR_NOT_ENOUGH_DATA = 2007,  // the data ends before the picture does
    DTERROR_INVALID_DATA = 2008,     // the data is damaged
    // The platform's own: one of the work budgets of platform/limits.h was
    // reached, or the source does not fit its block.
    DTERROR_WORK_LIMIT = 2100,     // limits::jpeg_decode_work
    DTERROR_MEMORY_LIMIT = 2101,   // limits::jpeg_decode_memory
    DTERROR_METADATA_LIMIT = 2102, // limits::picture_metadata_bytes
    DTERROR_BEYOND_BLOCK = 2103,   // the source runs past the end of its block
};

Object *LVO_NewDTObjectA(struct Library *base, APTR name, const struct TagItem *attrs);
void LVO_DisposeDTObject(struct Library *base, Object *o);
IPTR LVO_DoDTMethodA(struct Library *base, Object *o, struct Window *win, struct Requester *req, Msg msg);
ULONG LVO_GetDTAttrsA(struct Library *base, Object *o, const struct TagItem *attrs);

// Forgets the last picture the class decoded, so that its memory serves
// other work once nothing will ask for that picture again (objects made
// keep their own bitmaps); the next layout of that source decodes anew.
void LVO_ForgetLastDecode(struct Library *base);

inline void ForgetLastDecode()
{
    LVO_ForgetLastDecode(DataTypesBase);
}

inline Object *NewDTObjectA(APTR name, const struct TagItem *attrs)
{
    return LVO_NewDTObjectA(DataTypesBase, name, attrs);
}
inline void DisposeDTObject(Object *o)
{
    LVO_DisposeDTObject(DataTypesBase, o);
}
inline IPTR DoDTMethodA(Object *o, struct Window *win, struct Requester *req, Msg msg)
{
    return LVO_DoDTMethodA(DataTypesBase, o, win, req, msg);
}
inline ULONG GetDTAttrsA(Object *o, const struct TagItem *attrs)
{
    return LVO_GetDTAttrsA(DataTypesBase, o, attrs);
}

#endif

// intuition.library: windows and their messages, on SDL2.
//
// A window is a real window of the host's window system. The host's window
// manager draws the frame outside it, so the borders are 0: Width x Height
// is the drawable area and GZZWidth/GZZHeight equal it. The window's RPort
// draws into its pixels. Covered parts are restored by the platform (smart
// refresh); no message asks the program to redraw them.
//
// Messages: the classes asked for with WA_IDCMP, and only those, arrive on
// UserPort as IntuiMessages. IDCMP_NEWSIZE is queued after Width and Height
// hold the new size. A message taken with GetMsg must be replied with
// ReplyMsg exactly once. Drawing reaches the screen when the program next
// waits on or takes from the port.
//
// Ownership: the window, its Screen, RPort and UserPort belong to
// intuition.library until CloseWindow; messages not yet taken go with it.
#ifndef QUILLPEEK_PLATFORM_INTUITION_H
#define QUILLPEEK_PLATFORM_INTUITION_H

#include "platform/graphics.h"

extern struct Library *IntuitionBase;

struct Screen {
    struct ViewPort ViewPort;
    CONST_STRPTR Title;
    WORD Width;
    WORD Height;
};

struct Window {
    WORD LeftEdge;
    WORD TopEdge;
    WORD Width; // outer size, borders included
    WORD Height;
    WORD MinWidth;
    WORD MinHeight;
    BYTE BorderLeft;
    BYTE BorderTop;
    BYTE BorderRight;
    BYTE BorderBottom;
    WORD GZZWidth; // inner size
    WORD GZZHeight;
    ULONG Flags;
    ULONG IDCMPFlags;
    CONST_STRPTR Title;
    CONST_STRPTR ScreenTitle;
    struct RastPort *RPort;
    struct MsgPort *UserPort;
    struct Screen *WScreen;
    APTR w_Private; // the library's own
};

struct NewWindow;

struct IntuiMessage {
    struct Message ExecMessage;
    ULONG Class;
    UWORD Code;
    UWORD Qualifier;
    APTR IAddress;
    WORD MouseX;
    WORD MouseY;
    ULONG Seconds;
    ULONG Micros;
    struct Window *IDCMPWindow;
};

enum : ULONG {
    WA_Left = 0x80000064u,
    WA_Top = 0x80000065u,
    WA_Width = 0x80000066u,
    WA_Height = 0x80000067u,
    WA_IDCMP = 0x8000006Au,
    WA_Title = 0x8000006Eu,
    WA_ScreenTitle = 0x8000006Fu,
    WA_MinWidth = 0x80000072u,
    WA_MinHeight = 0x80000073u,
    WA_SizeGadget = 0x80000081u,
    WA_DragBar = 0x80000082u,
    WA_DepthGadget = 0x80000083u,
    WA_CloseGadget = 0x80000084u,
    WA_ReportMouse = 0x80000086u,
    WA_Activate = 0x80000089u,
    WA_RMBTrap = 0x8000008Au,
    WA_GimmeZeroZero = 0x80000091u,
};

enum : ULONG {
    IDCMP_SIZEVERIFY = 0x1u,
    IDCMP_NEWSIZE = 0x2u,
    IDCMP_REFRESHWINDOW = 0x4u,
    IDCMP_MOUSEBUTTONS = 0x8u,
    IDCMP_MOUSEMOVE = 0x10u,
    IDCMP_CLOSEWINDOW = 0x200u,
    IDCMP_RAWKEY = 0x400u,
    IDCMP_VANILLAKEY = 0x200000u,
};

struct Window *LVO_OpenWindowTagList(struct Library *base, const struct NewWindow *nw,
                                     const struct TagItem *tags);
void LVO_CloseWindow(struct Library *base, struct Window *window);

inline struct Window *OpenWindowTagList(const struct NewWindow *nw, const struct TagItem *tags)
{
    return LVO_OpenWindowTagList(IntuitionBase, nw, tags);
}
inline void CloseWindow(struct Window *window)
{
    LVO_CloseWindow(IntuitionBase, window);
}

#endif

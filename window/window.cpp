// The viewer window: opens intuition.library and a window of the picture's
// size, draws the picture, and serves the window's messages until the user
// closes it. Every resize clears the window with pen 2 and draws the
// picture again, scaled to the window's new size.
//
// Ownership: the PictureBuffer stays the caller's and is only read. The
// window and intuition.library are obtained and released here, in reverse
// order, on every path.
#include "window/window.h"

#include "flow/libraries.h"

namespace
{

const char *const window_title = "Quillpeek 1.2";
const ULONG window_idcmp = IDCMP_NEWSIZE | IDCMP_MOUSEBUTTONS | IDCMP_MOUSEMOVE | IDCMP_CLOSEWINDOW |
                           IDCMP_RAWKEY | IDCMP_VANILLAKEY; // 0x0020061A
const ULONG clear_pen = 2;

// Whether the picture can be handed to the 16-bit drawing call: a row of
// width * 4 bytes and the height must each fit in 16 bits.
bool drawable(const void *buffer, uint32_t width, uint32_t height)
{
    return buffer != nullptr && width != 0 && height != 0 && width * 4ull <= 0xFFFF && height <= 0xFFFF;
}

struct Window *open_viewer(uint32_t width, uint32_t height)
{
    return OpenWindowTags(nullptr, WA_Left, 100, WA_Top, 100, WA_Width, width, WA_Height, height, WA_Title,
                          window_title, WA_ScreenTitle, window_title, WA_CloseGadget, TRUE, WA_DragBar, TRUE,
                          WA_SizeGadget, TRUE, WA_RMBTrap, TRUE, WA_ReportMouse, TRUE, WA_MinWidth, 100,
                          WA_MinHeight, 100, WA_DepthGadget, TRUE, WA_GimmeZeroZero, TRUE, WA_IDCMP,
                          window_idcmp, WA_Activate, TRUE, TAG_DONE);
}

// Takes every queued message and handles it before replying it. Returns
// true when one of them asked for the window to close.
bool serve_batch(struct MsgPort *port, struct RastPort *rastport, void *buffer, struct Window *window,
                 uint32_t width, uint32_t height)
{
    bool close_requested = false;
    while (struct IntuiMessage *message = reinterpret_cast<struct IntuiMessage *>(GetMsg(port))) {
        if (message->Class == IDCMP_NEWSIZE) {
            SetRast(rastport, clear_pen);
            render(rastport, buffer, window, width, height);
        } else if (message->Class == IDCMP_CLOSEWINDOW) {
            close_requested = true;
        }
        ReplyMsg(&message->ExecMessage);
    }
    return close_requested;
}

} // namespace

void render(struct RastPort *rastport, void *buffer, struct Window *window, uint32_t width, uint32_t height)
{
    ScalePixelArray(buffer, static_cast<UWORD>(width), static_cast<UWORD>(height),
                    static_cast<UWORD>(width * 4), rastport, 0, 0, static_cast<UWORD>(window->Width),
                    static_cast<UWORD>(window->Height), RECTFMT_ARGB);
}

bool WINDOW_Open(void *buffer, uint32_t width, uint32_t height)
{
    if (!drawable(buffer, width, height))
        return false;
    IntuitionBase = OpenLibrary("intuition.library", 0);
    if (IntuitionBase == nullptr)
        return false;
    struct Window *window = open_viewer(width, height);
    if (window == nullptr) {
        CloseLibrary(IntuitionBase);
        return false;
    }
    struct RastPort *rastport = window->RPort;
    struct MsgPort *port = window->UserPort;
    struct ColorMap *colormap = window->WScreen->ViewPort.ColorMap;
    LONG first_pen =
        ObtainBestPen(colormap, 0x55000000, 0x01100000, 0x0A000000, OBP_Precision, PRECISION_EXACT, TAG_DONE);
    ObtainBestPen(colormap, 0xFF000000, 0x00000000, 0x0A000000, OBP_Precision, PRECISION_EXACT, TAG_DONE);
    ObtainBestPen(colormap, 0xFF000000, 0x0FF00000, 0x0AFF0000, OBP_Precision, PRECISION_EXACT, TAG_DONE);
    SetRast(rastport, clear_pen);
    SetAPen(rastport, static_cast<ULONG>(first_pen));
    render(rastport, buffer, window, width, height);

    bool close_requested = false;
    while (!close_requested) {
        WaitPort(port);
        close_requested = serve_batch(port, rastport, buffer, window, width, height);
    }
    CloseWindow(window);
    CloseLibrary(IntuitionBase);
    return true;
}

// intuition.library on SDL2: windows of the host's window system and their
// messages.
//
// Each window lies on its own default screen record (the size of the host's
// first display, a 256-pen colour map whose first pens are the classic
// grey, black, white and blue). Its RastPort's Layer hands the window's
// current SDL surface to graphics.library and cybergraphics.library.
//
// Messages: the UserPort's filler turns SDL's events into IntuiMessages of
// the classes the window asked for, and only those, and puts them on the
// port; they come back through ReplyMsg to the window's own reply port and
// are freed there. Before it looks for events the filler presents what was
// drawn since the last time, so drawing reaches the screen when the program
// waits or takes a message. Expose events only present the surface again
// (smart refresh).
//
// OpenWindowTagList runs inside the call boundary (guarded), as does
// CloseWindow's one allocation; the message calls allocate without throwing.
#include "platform/intuition.h"

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "platform/internal/input_codes.h"
#include "platform/internal/internal.h"
#include "platform/internal/layer.h"
#include "platform/internal/startup_display.h"

namespace
{

// Window flags, as the window's Flags field reports them.
enum : ULONG {
    WFLG_SIZEGADGET = 0x1,
    WFLG_DRAGBAR = 0x2,
    WFLG_DEPTHGADGET = 0x4,
    WFLG_CLOSEGADGET = 0x8,
    WFLG_REPORTMOUSE = 0x200,
    WFLG_GIMMEZEROZERO = 0x400,
    WFLG_ACTIVATE = 0x1000,
    WFLG_RMBTRAP = 0x10000,
};

// Everything intuition keeps for one window. The Window record comes first
// so that a Window pointer leads back to it.
struct WindowRecord {
    struct Window window;
    struct Screen screen;
    struct ColorMap colormap;
    struct RastPort rastport;
    struct Layer layer;
    struct MsgPort user_port;
    struct MsgPort *reply_port; // separate: it outlives the window if messages are still out
    SDL_Window *sdl;
    Uint32 id;
    std::string title;
    std::string screen_title;
    long live_messages;     // allocated and not yet freed
    bool closed_when_shown; // the close request of QUILLPEEK_CLOSE_WHEN_SHOWN was sent
    WORD mouse_x;
    WORD mouse_y;
};

std::vector<WindowRecord *> open_windows;

// Reply ports of windows closed while messages were still out: kept (and
// reachable) so that those messages can still be replied.
std::vector<struct MsgPort *> &orphaned_ports()
{
    static std::vector<struct MsgPort *> *ports = new std::vector<struct MsgPort *>;
    return *ports;
}

// QUILLPEEK_CLOSE_WHEN_SHOWN: each window is asked to close, as by its
// close gadget, the first time its port is about to sleep after drawing.
bool close_when_shown = false;

platform::WaitHook wait_hook = nullptr;
void *wait_hook_data = nullptr;

WindowRecord *record_of(struct Window *window)
{
    for (WindowRecord *record : open_windows)
        if (&record->window == window)
            return record;
    return nullptr;
}

WindowRecord *record_with_id(Uint32 id)
{
    for (WindowRecord *record : open_windows)
        if (record->id == id)
            return record;
    return nullptr;
}

// ---- messages -------------------------------------------------------------

void free_replied(WindowRecord *record)
{
    while (struct MinNode *node = RemHead(&record->reply_port->mp_MsgList)) {
        delete reinterpret_cast<struct IntuiMessage *>(node);
        --record->live_messages;
    }
}

const char *class_name(ULONG cls)
{
    static const platform::Pair<ULONG, const char *> names[] = {
        {IDCMP_NEWSIZE, "NEWSIZE"},     {IDCMP_MOUSEBUTTONS, "MOUSEBUTTONS"},
        {IDCMP_MOUSEMOVE, "MOUSEMOVE"}, {IDCMP_CLOSEWINDOW, "CLOSEWINDOW"},
        {IDCMP_RAWKEY, "RAWKEY"},       {IDCMP_VANILLAKEY, "VANILLAKEY"},
    };
    return platform::paired(names, cls, "?");
}

UWORD qualifier_now()
{
    return platform::input_qualifier(platform::sdl().GetModState(),
                                     platform::sdl().GetMouseState(nullptr, nullptr));
}

// Queues one message of a class the window asked for. The journal line
// names the class and what the program may read of it.
void deliver(WindowRecord *record, ULONG cls, UWORD code, UWORD qualifier)
{
    if ((record->window.IDCMPFlags & cls) == 0)
        return;
    struct IntuiMessage *message = new (std::nothrow) IntuiMessage();
    if (message == nullptr)
        return; // the event is lost, as when the system runs out of memory
    ++record->live_messages;
    auto now = std::chrono::system_clock::now().time_since_epoch();
    auto micros = std::chrono::duration_cast<std::chrono::microseconds>(now).count();
    message->ExecMessage.mn_ReplyPort = record->reply_port;
    message->ExecMessage.mn_Length = sizeof *message;
    message->Class = cls;
    message->Code = code;
    message->Qualifier = qualifier;
    message->IAddress = &record->window;
    message->MouseX = record->mouse_x;
    message->MouseY = record->mouse_y;
    message->Seconds = static_cast<ULONG>(micros / 1000000);
    message->Micros = static_cast<ULONG>(micros % 1000000);
    message->IDCMPWindow = &record->window;
    PutMsg(&record->user_port, &message->ExecMessage);
    if (cls == IDCMP_NEWSIZE)
        platform::journal("IDCMP NEWSIZE %dx%d", record->window.Width, record->window.Height);
    else if (cls == IDCMP_MOUSEMOVE)
        platform::journal("IDCMP MOUSEMOVE %d %d", record->mouse_x, record->mouse_y);
    else if (cls == IDCMP_CLOSEWINDOW)
        platform::journal("IDCMP CLOSEWINDOW");
    else
        platform::journal("IDCMP %s 0x%02x %d %d", class_name(cls), code, record->mouse_x, record->mouse_y);
}

// ---- events ----------------------------------------------------------------

// The window's pixels after a change of size: Width and Height hold the new
// size and the surface is fetched anew before NEWSIZE is queued.
void resized(WindowRecord *record)
{
    int width = 0, height = 0;
    platform::sdl().GetWindowSize(record->sdl, &width, &height);
    record->window.Width = record->window.GZZWidth = static_cast<WORD>(width);
    record->window.Height = record->window.GZZHeight = static_cast<WORD>(height);
    record->layer.surface = platform::sdl().GetWindowSurface(record->sdl);
    if (record->layer.surface == nullptr)
        platform::journal("IDCMP NEWSIZE no surface: %s", platform::sdl().GetError());
    deliver(record, IDCMP_NEWSIZE, 0, 0);
}

void window_event(WindowRecord *record, const SDL_WindowEvent &event)
{
    switch (event.event) {
    case SDL_WINDOWEVENT_SIZE_CHANGED:
        resized(record);
        break;
    case SDL_WINDOWEVENT_EXPOSED:
        record->layer.drawn = true; // presented again before the filler returns
        break;
    case SDL_WINDOWEVENT_CLOSE:
        deliver(record, IDCMP_CLOSEWINDOW, 0, qualifier_now());
        break;
    default:
        break;
    }
}

void mouse_button(WindowRecord *record, const SDL_MouseButtonEvent &event)
{
    UWORD code = platform::button_code(event.button, event.state == SDL_RELEASED,
                                       (record->window.Flags & WFLG_RMBTRAP) != 0);
    if (code == platform::IECODE_NONE)
        return;
    record->mouse_x = static_cast<WORD>(event.x);
    record->mouse_y = static_cast<WORD>(event.y);
    deliver(record, IDCMP_MOUSEBUTTONS, code, qualifier_now());
}

void mouse_motion(WindowRecord *record, const SDL_MouseMotionEvent &event)
{
    record->mouse_x = static_cast<WORD>(event.x);
    record->mouse_y = static_cast<WORD>(event.y);
    if ((record->window.Flags & WFLG_REPORTMOUSE) != 0)
        deliver(record, IDCMP_MOUSEMOVE, platform::IECODE_NOBUTTON, qualifier_now());
}

void key(WindowRecord *record, const SDL_KeyboardEvent &event)
{
    platform::KeyMessage message = platform::key_message(event.keysym, event.state == SDL_RELEASED,
                                                         (record->window.IDCMPFlags & IDCMP_VANILLAKEY) != 0);
    if (message.cls == 0)
        return;
    UWORD repeat = event.repeat != 0 ? platform::IEQUALIFIER_REPEAT : 0;
    deliver(record, message.cls, message.code, qualifier_now() | repeat);
}

Uint32 event_window_id(const SDL_Event &event)
{
    switch (event.type) {
    case SDL_WINDOWEVENT:
        return event.window.windowID;
    case SDL_MOUSEBUTTONDOWN:
    case SDL_MOUSEBUTTONUP:
        return event.button.windowID;
    case SDL_MOUSEMOTION:
        return event.motion.windowID;
    case SDL_KEYDOWN:
    case SDL_KEYUP:
        return event.key.windowID;
    }
    return 0;
}

// Hands one SDL event to the window it belongs to; events of no window
// (quit requests, clipboard, displays) mean nothing here.
void dispatch(const SDL_Event &event)
{
    WindowRecord *record = record_with_id(event_window_id(event));
    if (record == nullptr)
        return;
    switch (event.type) {
    case SDL_WINDOWEVENT:
        window_event(record, event.window);
        break;
    case SDL_MOUSEBUTTONDOWN:
    case SDL_MOUSEBUTTONUP:
        if (event.button.which != SDL_TOUCH_MOUSEID)
            mouse_button(record, event.button);
        break;
    case SDL_MOUSEMOTION:
        mouse_motion(record, event.motion);
        break;
    case SDL_KEYDOWN:
    case SDL_KEYUP:
        key(record, event.key);
        break;
    }
}

// Puts the window's drawing on the screen, if anything was drawn.
void present(WindowRecord *record)
{
    if (!record->layer.drawn || record->layer.surface == nullptr)
        return;
    record->layer.drawn = false;
    platform::sdl().UpdateWindowSurface(record->sdl);
}

// The UserPort's filler: see the top of this file.
void fill_port(struct MsgPort *port, bool wait)
{
    WindowRecord *record = static_cast<WindowRecord *>(port->mp_Owner);
    free_replied(record);
    present(record);
    SDL_Event event;
    if (wait && close_when_shown && !record->closed_when_shown) {
        record->closed_when_shown = true;
        deliver(record, IDCMP_CLOSEWINDOW, 0, 0);
    }
    if (wait && IsMinListEmpty(&port->mp_MsgList)) {
        if (wait_hook != nullptr)
            wait_hook(&record->window, wait_hook_data);
        if (platform::sdl().WaitEvent(&event))
            dispatch(event);
        else
            platform::sdl().Delay(10); // SDL cannot wait: do not spin
    }
    while (platform::sdl().PollEvent(&event))
        dispatch(event);
    present(record);
}

// ---- opening -----------------------------------------------------------------

// What the tag list asks for, with the defaults of a bare window.
struct WindowRequest {
    long left = 0, top = 0;
    long width = 0, height = 0; // 0: what is left of the screen
    long min_width = 1, min_height = 1;
    const char *title = nullptr;
    const char *screen_title = nullptr;
    ULONG flags = 0;
    ULONG idcmp = 0;
};

// The window's flags that a boolean tag sets or clears.
ULONG switch_flag(ULONG flags, Tag tag, bool on)
{
    static const platform::Pair<Tag, ULONG> switches[] = {
        {WA_SizeGadget, WFLG_SIZEGADGET},   {WA_DragBar, WFLG_DRAGBAR},
        {WA_DepthGadget, WFLG_DEPTHGADGET}, {WA_CloseGadget, WFLG_CLOSEGADGET},
        {WA_ReportMouse, WFLG_REPORTMOUSE}, {WA_GimmeZeroZero, WFLG_GIMMEZEROZERO},
        {WA_Activate, WFLG_ACTIVATE},       {WA_RMBTrap, WFLG_RMBTRAP},
    };
    ULONG flag = platform::paired(switches, tag, 0); // 0 for tags of other kinds
    return on ? flags | flag : flags & ~flag;
}

// The request's numbers that a tag gives.
const platform::Pair<Tag, long WindowRequest::*> number_tags[] = {
    {WA_Left, &WindowRequest::left},          {WA_Top, &WindowRequest::top},
    {WA_Width, &WindowRequest::width},        {WA_Height, &WindowRequest::height},
    {WA_MinWidth, &WindowRequest::min_width}, {WA_MinHeight, &WindowRequest::min_height},
};

WindowRequest read_tags(const struct TagItem *tags)
{
    WindowRequest r;
    for (const struct TagItem *item = tags; item != nullptr && item->ti_Tag != TAG_DONE; ++item) {
        IPTR data = item->ti_Data;
        long WindowRequest::*number = platform::paired(number_tags, item->ti_Tag, nullptr);
        if (number != nullptr)
            r.*number = static_cast<LONG>(data);
        else if (item->ti_Tag == WA_Title)
            r.title = reinterpret_cast<const char *>(data);
        else if (item->ti_Tag == WA_ScreenTitle)
            r.screen_title = reinterpret_cast<const char *>(data);
        else if (item->ti_Tag == WA_IDCMP)
            r.idcmp = static_cast<ULONG>(data);
        else
            r.flags = switch_flag(r.flags, item->ti_Tag, data != 0); // tags of other kinds are ignored
    }
    return r;
}

// Fits the window on its screen as the system does: a window larger than
// the screen is made as large as the screen, then moved until it lies on it.
void fit_on_screen(WindowRequest &r, const SDL_Rect &screen)
{
    if (r.left < 0)
        r.left = 0;
    if (r.top < 0)
        r.top = 0;
    if (r.width <= 0)
        r.width = screen.w > r.left ? screen.w - r.left : screen.w;
    if (r.height <= 0)
        r.height = screen.h > r.top ? screen.h - r.top : screen.h;
    if (r.width > screen.w)
        r.width = screen.w;
    if (r.height > screen.h)
        r.height = screen.h;
    if (r.left + r.width > screen.w)
        r.left = screen.w - r.width;
    if (r.top + r.height > screen.h)
        r.top = screen.h - r.height;
}

SDL_Rect screen_bounds()
{
    SDL_Rect bounds = {0, 0, 0, 0};
    if (platform::sdl().GetDisplayBounds(0, &bounds) != 0 || bounds.w <= 0 || bounds.h <= 0)
        bounds = {0, 0, 1024, 768};
    bounds.w = bounds.w > 32767 ? 32767 : bounds.w;
    bounds.h = bounds.h > 32767 ? 32767 : bounds.h;
    return bounds;
}

// What opening can fail on for want of memory, done before the host window
// exists so that none is left behind: the titles' copies and the room in
// the list of open windows.
void reserve_record(WindowRecord *record, const WindowRequest &r)
{
    record->title = r.title != nullptr ? r.title : "";
    record->screen_title = r.screen_title != nullptr ? r.screen_title : "";
    open_windows.reserve(open_windows.size() + 1);
}

void init_records(WindowRecord *record, const WindowRequest &r, const SDL_Rect &screen)
{
    platform::default_colormap(&record->colormap);
    record->screen.ViewPort.ColorMap = &record->colormap;
    record->screen.ViewPort.DWidth = record->screen.Width = static_cast<WORD>(screen.w);
    record->screen.ViewPort.DHeight = record->screen.Height = static_cast<WORD>(screen.h);
    record->screen.Title = record->screen_title.c_str();

    InitPort(&record->user_port);
    record->user_port.mp_Fill = fill_port;
    record->user_port.mp_Owner = record;
    InitPort(record->reply_port);

    record->layer.window = record->sdl;
    record->layer.colormap = &record->colormap;
    record->rastport.Layer = &record->layer;
    record->rastport.FgPen = 1;
    record->rastport.BgPen = 0;

    struct Window &w = record->window;
    w.LeftEdge = static_cast<WORD>(r.left);
    w.TopEdge = static_cast<WORD>(r.top);
    w.Width = w.GZZWidth = static_cast<WORD>(r.width);
    w.Height = w.GZZHeight = static_cast<WORD>(r.height);
    w.Flags = r.flags;
    w.IDCMPFlags = r.idcmp;
    w.Title = record->title.c_str();
    w.ScreenTitle = record->screen_title.c_str();
    w.RPort = &record->rastport;
    w.UserPort = &record->user_port;
    w.WScreen = &record->screen;
    w.w_Private = record;
}

// The host window for the request; the minimum size never exceeds the size
// the window opens with, so the host never enlarges it on its own.
SDL_Window *open_host_window(const WindowRequest &r, const SDL_Rect &screen, long &min_width,
                             long &min_height)
{
    Uint32 flags = SDL_WINDOW_SHOWN;
    if ((r.flags & WFLG_SIZEGADGET) != 0)
        flags |= SDL_WINDOW_RESIZABLE;
    SDL_Window *sdl = platform::sdl().CreateWindow(r.title != nullptr ? r.title : "", screen.x + int(r.left),
                                                   screen.y + int(r.top), int(r.width), int(r.height), flags);
    if (sdl == nullptr)
        return nullptr;
    min_width = r.min_width < 1 ? 1 : (r.min_width > r.width ? r.width : r.min_width);
    min_height = r.min_height < 1 ? 1 : (r.min_height > r.height ? r.height : r.min_height);
    if ((flags & SDL_WINDOW_RESIZABLE) != 0) {
        platform::sdl().SetWindowMinimumSize(sdl, int(min_width), int(min_height));
        platform::sdl().SetWindowMaximumSize(sdl, screen.w, screen.h);
    }
    return sdl;
}

void destroy_record(WindowRecord *record)
{
    if (record->sdl != nullptr)
        platform::sdl().DestroyWindow(record->sdl);
    delete record->reply_port;
    delete record;
}

} // namespace

namespace platform
{

bool intuition_first_open()
{
    const char *close_control = std::getenv("QUILLPEEK_CLOSE_WHEN_SHOWN");
    close_when_shown =
        close_control != nullptr && *close_control != '\0' && std::strcmp(close_control, "0") != 0;
    return display_start();
}

void intuition_last_close()
{
    while (!open_windows.empty()) {
        journal("CloseWindow FAULT window left open at the last CloseLibrary");
        WindowRecord *record = open_windows.back();
        open_windows.pop_back();
        destroy_record(record);
    }
    display_stop();
}

void intuition_set_wait_hook(WaitHook hook, void *data)
{
    wait_hook = hook;
    wait_hook_data = data;
}

} // namespace platform

namespace
{

struct Window *open_window(const struct TagItem *tags)
{
    WindowRequest request = read_tags(tags);
    long asked_width = request.width, asked_height = request.height;
    SDL_Rect screen = screen_bounds();
    fit_on_screen(request, screen);

    std::unique_ptr<WindowRecord> record;
    if (platform::allocation_allowed())
        record.reset(new (std::nothrow) WindowRecord());
    std::unique_ptr<MsgPort> reply_port(record != nullptr ? new (std::nothrow) MsgPort() : nullptr);
    if (reply_port != nullptr)
        reserve_record(record.get(), request);
    long min_width = 0, min_height = 0;
    SDL_Window *sdl =
        reply_port != nullptr ? open_host_window(request, screen, min_width, min_height) : nullptr;
    SDL_Surface *surface = sdl != nullptr ? platform::sdl().GetWindowSurface(sdl) : nullptr;
    if (surface == nullptr) {
        platform::journal("OpenWindowTagList %ld %ld %ldx%ld \"%s\" -> NULL%s%s", request.left, request.top,
                          asked_width, asked_height, request.title != nullptr ? request.title : "",
                          record != nullptr ? ": " : "", record != nullptr ? platform::sdl().GetError() : "");
        if (sdl != nullptr)
            platform::sdl().DestroyWindow(sdl);
        return nullptr;
    }
    record->sdl = sdl;
    record->id = platform::sdl().GetWindowID(sdl);
    record->reply_port = reply_port.release();
    init_records(record.get(), request, screen);
    record->window.MinWidth = static_cast<WORD>(min_width);
    record->window.MinHeight = static_cast<WORD>(min_height);
    record->layer.surface = surface;
    open_windows.push_back(record.get()); // into the room reserved
    platform::journal("OpenWindowTagList %ld %ld %ldx%ld \"%s\"", request.left, request.top, request.width,
                      request.height, record->title.c_str());
    return &record.release()->window;
}

} // namespace

struct Window *LVO_OpenWindowTagList(struct Library *base, const struct NewWindow *nw,
                                     const struct TagItem *tags)
{
    if (!platform::library_ready(base, "intuition.library", "OpenWindowTagList"))
        return nullptr;
    (void)nw; // a NewWindow record is never given on this platform; tags describe the window
    return platform::guarded("OpenWindowTagList", static_cast<struct Window *>(nullptr),
                             [&] { return open_window(tags); });
}

void LVO_CloseWindow(struct Library *base, struct Window *window)
{
    if (!platform::library_ready(base, "intuition.library", "CloseWindow"))
        return;
    WindowRecord *record = record_of(window);
    if (record == nullptr) {
        if (window != nullptr)
            platform::journal("CloseWindow FAULT not an open window");
        return;
    }
    platform::journal("CloseWindow");
    for (auto it = open_windows.begin(); it != open_windows.end(); ++it)
        if (*it == record) {
            open_windows.erase(it);
            break;
        }
    // Messages not yet taken go with the window; replied ones are freed.
    while (struct MinNode *node = RemHead(&record->user_port.mp_MsgList)) {
        delete reinterpret_cast<struct IntuiMessage *>(node);
        --record->live_messages;
    }
    free_replied(record);
    if (record->live_messages != 0) {
        // Taken and never replied: a later ReplyMsg must still find its
        // reply port, so that port (and those messages) stay.
        platform::journal("CloseWindow FAULT %ld messages not replied", record->live_messages);
        struct MsgPort *port = record->reply_port;
        platform::guarded("CloseWindow", [&] { orphaned_ports().push_back(port); }); // else kept unlisted
        record->reply_port = nullptr;
    }
    destroy_record(record);
}

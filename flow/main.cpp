// Quillpeek: shows the preview picture that an office document carries.
//
// main opens the three libraries that stay open for the whole run, takes the
// document's path from the argument parser, and runs the pipeline document
// -> thumbnail member -> PictureBuffer -> window. It stops with one message
// at the first step that yields nothing, and always closes its libraries in
// the reverse order of opening. A document without a thumbnail member gets a
// second try: the preview picture that an Office Open XML package names.
// The result is 0 when a picture was shown and its window closed by the
// user, 1 otherwise. "--help" and "--version" are answered before anything
// is opened; a document may be named by a file: URI.
#include <cstdio>
#include <string>

#include "archive/archive.h"
#include "flow/libraries.h"
#include "flow/report.h"
#include "picture/picture.h"
#include "platform/startup.h"
#include "window/window.h"

extern "C" const unsigned long __stack = 2000000;

// Found in the program file by its "$VER: " marker; reads as empty.
extern const char *ver;
const char *ver __attribute__((used)) = "\0$VER: Quillpeek 1.2 (05.08.2012)\n"
                                        "Shows the preview picture of an office document";

namespace
{

const char *const member_name = "thumbnail.png";

// The member's picture in a window. True when it was shown; a message
// names what failed otherwise. name is the preview's member name on the
// second try, null for the thumbnail member.
bool show_member(const char *path, const char *name, void *member, uint32_t size)
{
    void *picture = DTLoad(member, size);
    uint32_t width = picture != nullptr ? DT_width(member, size) : 0;
    uint32_t height = width != 0 ? DT_height(member, size) : 0;
    if (picture == nullptr || width == 0 || height == 0) {
        if (name != nullptr && XAD_preview_is_metafile(name, member, size))
            return report_problem(path, "its preview is a Windows metafile, which cannot be shown");
        const char *extraction = XAD_member_problem(path, name != nullptr ? name : member_name);
        return report_problem(path, extraction != nullptr ? extraction : picture_problem(member, size));
    }
    if (!WINDOW_Open(picture, width, height))
        return report_problem(path, "no window could be opened (is a display available?)");
    return true;
}

// The second try. True when the preview was shown.
bool show_preview(const char *path)
{
    char name[256];
    const char *refused = nullptr;
    if (!XAD_preview_name(path, name, sizeof name, &refused))
        return report_problem(path, refused != nullptr ? refused : XAD_file_problem(path, member_name));
    void *member = XAD_file_unpacker(path, name);
    uint32_t size = member != nullptr ? XAD_file_grosse(path, name) : 0;
    if (size == 0)
        return report_problem(path, XAD_file_problem(path, name));
    return show_member(path, name, member, size);
}

// The document's thumbnail on screen. True when it was shown.
bool show_document(const char *path)
{
    void *member = XAD_file_unpacker(path, member_name);
    if (member == nullptr && XAD_file_grosse(path, member_name) == 0)
        return show_preview(path);
    if (member == nullptr)
        return report_problem(path, XAD_file_problem(path, member_name));
    uint32_t size = XAD_file_grosse(path, member_name);
    if (size == 0)
        return report_problem(path, XAD_file_problem(path, member_name));
    return show_member(path, nullptr, member, size);
}

// The document named by the argument, a path or a file: URI.
bool show_argument(const char *argument)
{
    std::string path;
    const char *problem = document_from_uri(argument, path);
    if (problem != nullptr)
        return report_problem(argument, problem);
    return show_document(path.c_str());
}

} // namespace

int main(int argc, char **argv)
{
    // The conventional options are answered before anything is opened.
    if (argc == 2 && answer_option(argv[1], ver + 1))
        return 0;
    DOSBase1 = OpenLibrary("dos.library", 39);
    if (DOSBase1 == nullptr)
        return 1;
    GfxBase = OpenLibrary("graphics.library", 0);
    if (GfxBase == nullptr) {
        CloseLibrary(DOSBase1);
        return 1;
    }
    CyberGfxBase = OpenLibrary("cybergraphics.library", 0);
    if (CyberGfxBase == nullptr) {
        CloseLibrary(GfxBase);
        CloseLibrary(DOSBase1);
        return 1;
    }
    IPTR arguments[1] = {0};
    bool shown = false;
    if (ReadArgs("DOCUMENTPATH/A", arguments, nullptr) == nullptr)
        printf("There was no file specified!\n");
    else
        shown = show_argument(reinterpret_cast<const char *>(arguments[0]));
    CloseLibrary(CyberGfxBase);
    CloseLibrary(GfxBase);
    CloseLibrary(DOSBase1);
    return shown ? 0 : 1;
}

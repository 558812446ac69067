// quillpeek-thumbnailer: an office document's preview picture as a small PNG,
// for file managers (the freedesktop thumbnailer convention).
//
//   quillpeek-thumbnailer [-s SIZE] INPUT OUTPUT
//
// It takes the same member as the viewer, with the same routines: the first
// whose name contains "thumbnail.png", else the preview picture that an
// Office Open XML package names. A preview that is a Windows metafile (WMF)
// is drawn with libwmf (thumbnailer/metafile.h) on opaque white, in its own
// proportions, at the size a sketch is drawn at (below): the metafile is
// checked first and drawn within the budgets of platform/limits.h. A
// document that carries neither, whose preview is an enhanced metafile
// (EMF, never drawn), or a WMF that is refused or fails, gets a sketch of
// its first page instead (sketch/sketch.h): its first paragraphs and
// headings, its first sheet's top-left cells or its first slide's text,
// read from the document's XML within the budgets of platform/limits.h and
// drawn on a white page of its proportions with fontconfig's sans-serif
// fonts, larger than SIZE (twice 128, 128 more from 256 on). A document
// with no text to sketch ends with a message saying so. The viewer never
// draws a sketch nor a metafile. It shrinks the picture to fit SIZE x SIZE
// (128 unless given), keeping its aspect ratio and never enlarging it, and
// writes it as an 8-bit RGBA PNG under a temporary name beside OUTPUT, which
// is renamed to OUTPUT once complete (an empty file that OUTPUT named
// before is given the same bytes then, for a caller that holds it open). It
// returns 0 then; otherwise 1, after one line on standard error naming the
// document and the cause, and there is no OUTPUT.
//
// Every document is untrusted. Before it reads any of the document, the
// process confines itself for good (Landlock and seccomp): it may read
// INPUT, write the temporary file and OUTPUT's former file through the
// descriptors it opened before, and rename and remove files in OUTPUT's
// folder (and beneath it). Besides, it may read, and only read, the
// system's public files it needs: the shared library folders and
// /etc/ld.so.cache (a library is loaded only when a document needs it:
// libwmf for a WMF preview, the sketch's libraries for a sketch), the font
// folders (libwmf's URW fonts among them) and fontconfig's configuration and
// cache (fontconfig finds the caches under the home closed and writes none;
// libwmf goes without Ghostscript's font map, which is closed to it). Every
// other file is closed to it, nothing under the user's home among them; it
// may open no file for writing at all; it can start no program, make no
// process, open no socket and connect nowhere. On a kernel without
// Landlock the seccomp half still holds. Its work is bounded
// by the caps of the libraries beneath it (platform/limits.h).
#include <fcntl.h>
#include <malloc.h>
#include <spng.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "archive/archive.h"
#include "flow/libraries.h"
#include "flow/report.h"
#include "picture/picture.h"
#include "platform/control.h"
#include "platform/startup.h"
#include "sketch/readers/readers.h"
#include "sketch/sketch.h"
#include "thumbnailer/confine.h"
#include "thumbnailer/metafile.h"

// The start-up runs main on a stack of at least this many bytes.
extern "C" const unsigned long __stack = 2000000;

namespace
{

const char *const member_name = "thumbnail.png";
const char *const metafile_problem = "its preview is a Windows metafile, which cannot be shown";
const unsigned long default_size = 128;
const unsigned long largest_size = 4096;
// What XAD_file_problem says of a listed archive without the member.
const char *const no_member_problem = "has no member whose name contains";
const char *const not_an_archive = "cannot be read as an archive";
const char *const encrypted_problem = "is encrypted (the document is protected by a password)";

// A decoded picture: a PictureBuffer and its size.
struct Picture {
    void *pixels;
    uint32_t width;
    uint32_t height;
};

bool report(const char *path, const char *problem)
{
    fprintf(stderr, "quillpeek-thumbnailer: %s: %s\n", path, problem);
    return false;
}

// Has the picture class forget the picture it decoded last.
void forget_last_decode()
{
    DataTypesBase = OpenLibrary("datatypes.library", 0);
    if (DataTypesBase != nullptr) {
        ForgetLastDecode();
        CloseLibrary(DataTypesBase);
        DataTypesBase = nullptr;
    }
}

// What loading the document's picture knows besides the picture.
struct Loading {
    uint32_t side = 0;   // the longest side of a picture drawn here (drawing_side)
    bool absent = false; // it carries none that can be shown: the sketch stands in
    std::string text;    // room for a message made here
};

// The side of a picture the thumbnailer draws itself, larger than the
// thumbnail for the area filter to shrink as it shrinks any picture: twice
// a small size, 128 pixels more than a large one, whose glyphs and lines
// are large enough already and whose page would cost four times the memory.
uint32_t drawing_side(uint32_t size)
{
    uint32_t longest = size < 256 ? 2 * size : size + 128;
    return longest < 256 ? 256 : longest > largest_size ? largest_size : longest;
}

// A Windows metafile preview drawn (thumbnailer/metafile.h); null, or why
// it is not, the document then being without a picture that can be shown.
const char *draw_metafile(const void *member, uint32_t size, Picture *picture, Loading &loading)
{
    const char *refused = nullptr;
    picture->pixels = metafile_draw(member, size, loading.side, &picture->width, &picture->height, &refused);
    if (picture->pixels != nullptr)
        return nullptr;
    loading.absent = true;
    loading.text = std::string(metafile_problem) + " (" + refused + ")";
    return loading.text.c_str();
}

// The member's picture into *picture; null, or why it gives none. name is
// the preview's member name, null for the thumbnail member.
const char *decode_member(const char *name, void *member, uint32_t size, Picture *picture, Loading &loading)
{
    picture->pixels = DTLoad(member, size);
    picture->width = picture->pixels != nullptr ? DT_width(member, size) : 0;
    picture->height = picture->width != 0 ? DT_height(member, size) : 0;
    if (picture->pixels != nullptr && picture->width != 0 && picture->height != 0) {
        // Nothing decodes it again: its memory serves the shrinking instead.
        forget_last_decode();
        return nullptr;
    }
    if (name != nullptr && XAD_preview_is_metafile(name, member, size))
        return draw_metafile(member, size, picture, loading);
    return picture_problem(member, size);
}

// The preview picture that an Office Open XML package names.
// loading.absent is set when the document, read as an archive, has no such
// member.
const char *load_preview(const char *path, Picture *picture, Loading &loading)
{
    char name[256];
    const char *refused = nullptr;
    if (!XAD_preview_name(path, name, sizeof name, &refused)) {
        // A preview that cannot be reached is no preview: the sketch stands in.
        const char *problem = refused != nullptr ? refused : XAD_file_problem(path, member_name);
        loading.absent =
            refused != nullptr || strncmp(problem, no_member_problem, strlen(no_member_problem)) == 0;
        return problem;
    }
    void *member = XAD_file_unpacker(path, name);
    uint32_t size = member != nullptr ? XAD_file_grosse(path, name) : 0;
    if (size == 0) {
        const char *problem = XAD_file_problem(path, name);
        loading.absent =
            strncmp(problem, no_member_problem, strlen(no_member_problem)) == 0; // named, not there
        return problem;
    }
    const char *problem = decode_member(name, member, size, picture, loading);
    FreeVec(member);
    return problem;
}

// The document's picture, as the viewer would show it, or the Windows
// metafile it carries as its preview, drawn. loading.absent is set when the
// document carries none that can be shown: no thumbnail member and no
// preview, or a metafile preview that is not drawn.
const char *load_picture(const char *path, Picture *picture, Loading &loading)
{
    void *member = XAD_file_unpacker(path, member_name);
    if (member == nullptr && XAD_file_grosse(path, member_name) == 0)
        return load_preview(path, picture, loading);
    if (member == nullptr)
        return XAD_file_problem(path, member_name);
    uint32_t size = XAD_file_grosse(path, member_name);
    const char *problem = size == 0 ? XAD_file_problem(path, member_name)
                                    : decode_member(nullptr, member, size, picture, loading);
    FreeVec(member);
    return problem;
}

// The size that fits size x size with the picture's aspect ratio, never
// larger than the picture.
void fit(uint32_t width, uint32_t height, uint32_t size, uint32_t *fit_width, uint32_t *fit_height)
{
    *fit_width = width;
    *fit_height = height;
    if (width <= size && height <= size)
        return;
    if (width >= height) {
        *fit_width = size;
        *fit_height = static_cast<uint32_t>((uint64_t(height) * size + width / 2) / width);
    } else {
        *fit_height = size;
        *fit_width = static_cast<uint32_t>((uint64_t(width) * size + height / 2) / height);
    }
    *fit_width = *fit_width == 0 ? 1 : *fit_width;
    *fit_height = *fit_height == 0 ? 1 : *fit_height;
}

// ARGB bytes into straight RGBA in place. The scaler blends over the
// bitmap's transparent black, which leaves colours multiplied by alpha.
void argb_to_rgba(unsigned char *pixels, size_t count, bool premultiplied)
{
    for (size_t i = 0; i < count; ++i) {
        unsigned char *p = pixels + 4 * i;
        unsigned a = p[0], r = p[1], g = p[2], b = p[3];
        if (premultiplied && a != 0 && a != 255) {
            r = r * 255 + a / 2 < 255u * a ? (r * 255 + a / 2) / a : 255;
            g = g * 255 + a / 2 < 255u * a ? (g * 255 + a / 2) / a : 255;
            b = b * 255 + a / 2 < 255u * a ? (b * 255 + a / 2) / a : 255;
        }
        p[0] = static_cast<unsigned char>(r);
        p[1] = static_cast<unsigned char>(g);
        p[2] = static_cast<unsigned char>(b);
        p[3] = static_cast<unsigned char>(a);
    }
}

// The picture shrunk to width x height through a RastPort over a bitmap in
// memory, as ARGB bytes in a new block; null when memory ran out.
unsigned char *shrink(const Picture &picture, uint32_t width, uint32_t height)
{
    struct BitMap bitmap = {};
    bitmap.BytesPerRow = static_cast<UWORD>(width * 4);
    bitmap.Rows = static_cast<UWORD>(height);
    bitmap.Depth = 32;
    bitmap.Planes[0] = static_cast<PLANEPTR>(AllocVec(width * height * 4, MEMF_CLEAR));
    unsigned char *pixels = static_cast<unsigned char *>(AllocVec(width * height * 4, MEMF_CLEAR));
    if (bitmap.Planes[0] == nullptr) {
        FreeVec(pixels);
        return nullptr;
    }
    if (pixels != nullptr) {
        struct RastPort rastport;
        InitRastPort(&rastport);
        rastport.BitMap = &bitmap;
        ScalePixelArray(picture.pixels, static_cast<UWORD>(picture.width), static_cast<UWORD>(picture.height),
                        static_cast<UWORD>(picture.width * 4), &rastport, 0, 0, static_cast<UWORD>(width),
                        static_cast<UWORD>(height), RECTFMT_ARGB);
        ReadPixelArray(pixels, 0, 0, static_cast<UWORD>(width * 4), &rastport, 0, 0,
                       static_cast<UWORD>(width), static_cast<UWORD>(height), RECTFMT_ARGB);
    }
    FreeVec(bitmap.Planes[0]);
    return pixels;
}

// The picture as an RGBA 8 PNG file in memory (malloc'd, *png_size bytes),
// or null.
void *encode_png(const unsigned char *rgba, uint32_t width, uint32_t height, size_t *png_size)
{
    spng_ctx *context = spng_ctx_new(SPNG_CTX_ENCODER);
    if (context == nullptr)
        return nullptr;
    spng_set_option(context, SPNG_ENCODE_TO_BUFFER, 1);
    // Rows unfiltered at zlib's fastest level: a quarter of the time of
    // trying every filter at level 3, for files at most a fifth larger.
    spng_set_option(context, SPNG_FILTER_CHOICE, SPNG_FILTER_CHOICE_NONE);
    spng_set_option(context, SPNG_IMG_COMPRESSION_LEVEL, 1);
    // A small hash for zlib: its default one took longer to set up than
    // compressing a thumbnail, and files come out within 2% of its size.
    spng_set_option(context, SPNG_IMG_MEM_LEVEL, 4);
    struct spng_ihdr header = {width, height, 8, SPNG_COLOR_TYPE_TRUECOLOR_ALPHA, 0, 0, 0};
    void *png = nullptr;
    int error = spng_set_ihdr(context, &header);
    if (error == 0)
        error =
            spng_encode_image(context, rgba, size_t(width) * height * 4, SPNG_FMT_PNG, SPNG_ENCODE_FINALIZE);
    if (error == 0)
        png = spng_get_png_buffer(context, png_size, &error);
    spng_ctx_free(context);
    return error == 0 ? png : nullptr;
}

// The thumbnail of the picture as a PNG file in memory (malloc'd); null,
// or why there is none.
const char *encode_thumbnail(const Picture &picture, uint32_t size, void **png, size_t *png_size)
{
    uint32_t width, height;
    fit(picture.width, picture.height, size, &width, &height);
    bool shrunk = width != picture.width || height != picture.height;
    unsigned char *pixels =
        shrunk ? shrink(picture, width, height) : static_cast<unsigned char *>(picture.pixels);
    if (pixels == nullptr)
        return "there is not enough memory to shrink its picture";
    argb_to_rgba(pixels, size_t(width) * height, shrunk);
    *png = encode_png(pixels, width, height, png_size);
    if (shrunk)
        FreeVec(pixels);
    return *png == nullptr ? "its thumbnail cannot be encoded as PNG" : nullptr;
}

// The sketch of a document that carries no preview that can be shown,
// drawn at the side of a picture drawn here (drawing_side). Null, or why
// there is none after why there is no preview (into *text).
const char *load_sketch(const char *path, uint32_t longest, const char *no_preview, Picture *picture,
                        std::string *text)
{
    const char *problem = nullptr;
    picture->pixels = sketch_document(path, longest, &picture->width, &picture->height, &problem);
    if (picture->pixels != nullptr)
        return nullptr;
    *text = std::string(no_preview) + "; it " + (problem != nullptr ? problem : "cannot be sketched");
    return text->c_str();
}

// The folder that holds path ("." for a bare name).
std::string folder_of(const char *path)
{
    const char *slash = strrchr(path, '/');
    if (slash == nullptr)
        return ".";
    return slash == path ? "/" : std::string(path, static_cast<size_t>(slash - path));
}

// The document's thumbnail as a PNG file in memory, made confined. True
// when there is one; a message names the cause otherwise.
bool make_thumbnail(const char *input, const char *folder, uint32_t size, void **png, size_t *png_size)
{
    // Confined first: a library the document needs (libarchive for any
    // archive but a plain zip) is loaded afterwards, from the system's
    // library folders that the confinement leaves readable.
    const char *problem = confine_process(input, folder);
    if (problem != nullptr)
        return report(input, (std::string("cannot be read safely: ") + problem).c_str());
    Picture picture = {nullptr, 0, 0};
    Loading loading;
    loading.side = drawing_side(size);
    problem = load_picture(input, &picture, loading);
    // An Office Open XML document protected by a password is no archive:
    // said as what it is.
    if (problem != nullptr && strcmp(problem, not_an_archive) == 0 && sketch_enciphered_package(input))
        problem = encrypted_problem;
    std::string sketch_problem;
    if (loading.absent)
        problem = load_sketch(input, loading.side, problem, &picture, &sketch_problem);
    if (problem == nullptr)
        problem = encode_thumbnail(picture, size, png, png_size);
    FreeVec(picture.pixels);
    return problem == nullptr || report(input, problem);
}

// OUTPUT as its caller made it, open for writing, or -1 when there is no
// such empty regular file. Thumbnail services (Tumbler) make OUTPUT empty,
// keep it open and read the file they made rather than its name. A former
// thumbnail is only replaced: rewriting it would cost a second write and
// the freeing of its blocks, for a reader that has its bytes already.
int open_existing(const char *output)
{
    int fd = open(output, O_WRONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY);
    struct stat st;
    if (fd >= 0 && (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size != 0)) {
        close(fd);
        fd = -1;
    }
    return fd;
}

// The PNG written whole to fd; false after a message naming why not: a
// write that failed says its error, one that wrote nothing more (errno left
// as it was) says so rather than quote an earlier call's error.
bool write_whole(const char *output, int fd, const void *png, size_t png_size)
{
    errno = 0;
    if (platform_write_all(fd, png, png_size) == png_size)
        return true;
    return report(output, errno != 0 ? strerror(errno)
                                     : "the thumbnail could not be written whole (is the disk full?)");
}

// The complete PNG into the temporary file, renamed to OUTPUT; then into
// the empty file that OUTPUT named before, for a caller holding it open.
bool put_in_place(const char *output, const std::string &temporary, int fd, int existing, const void *png,
                  size_t png_size)
{
    if (!write_whole(output, fd, png, png_size))
        return false;
    if (rename(temporary.c_str(), output) != 0)
        return report(output, strerror(errno));
    return existing < 0 || write_whole(output, existing, png, png_size);
}

// Why OUTPUT cannot take the thumbnail, or null. What OUTPUT names now must
// be a regular file or a symbolic link, which the thumbnail replaces (the
// link's target is never written); a folder, a FIFO, a device or a socket is
// never replaced.
const char *output_problem(const char *output)
{
    struct stat st;
    if (*output == '\0')
        return "is an empty name";
    if (output[strlen(output) - 1] == '/')
        return "names a folder, not a file for the thumbnail";
    if (lstat(output, &st) != 0)
        return errno == ENOENT ? nullptr : strerror(errno);
    if (S_ISDIR(st.st_mode))
        return "is a folder, not a file for the thumbnail";
    if (!S_ISREG(st.st_mode) && !S_ISLNK(st.st_mode))
        return "is not a regular file (a FIFO, a device or a socket), which is never replaced";
    return nullptr;
}

// The whole work, with GfxBase and CyberGfxBase open.
bool thumbnail(const char *input, const char *output, uint32_t size)
{
    const char *problem = output_problem(output);
    if (problem != nullptr)
        return report(output, problem);
    std::string folder = folder_of(output);
    std::string temporary = folder + "/.quillpeek-thumbnail-XXXXXX";
    int fd = mkostemp(&temporary[0], O_CLOEXEC);
    if (fd < 0)
        return report(output, strerror(errno));
    mode_t mask = umask(0);
    umask(mask);
    fchmod(fd, 0666 & ~mask); // as a file made by open would be
    int existing = open_existing(output);
    void *png = nullptr;
    size_t png_size = 0;
    bool made = make_thumbnail(input, folder.c_str(), size, &png, &png_size) &&
                put_in_place(output, temporary, fd, existing, png, png_size);
    free(png);
    if (existing >= 0)
        close(existing);
    if (close(fd) != 0 && made)
        made = report(output, strerror(errno));
    if (!made)
        unlink(temporary.c_str());
    return made;
}

// The size from -s, or 0 when it is no number from 1 to largest_size.
uint32_t size_argument(const char *text)
{
    char *end = nullptr;
    errno = 0;
    unsigned long size = strtoul(text, &end, 10);
    if (errno != 0 || end == text || *end != '\0' || !isdigit(static_cast<unsigned char>(text[0])) ||
        size == 0 || size > largest_size)
        return 0;
    return static_cast<uint32_t>(size);
}

} // namespace

int main(int argc, char **argv)
{
    // The decoded picture and the encoder's tables come from the heap and
    // go back to it, so that later blocks take pages that earlier ones had
    // already touched, rather than fresh ones.
    mallopt(M_MMAP_THRESHOLD, 1 << 20);
    mallopt(M_TRIM_THRESHOLD, 64 << 20);
    // The decoded picture and its copy are written once each, as soon as
    // they are made: huge pages clear them at one fault per 2 MiB.
    platform_prefer_huge_pages(true);
    uint32_t size = default_size;
    int first = 1;
    if (argc > 1 && strcmp(argv[1], "-s") == 0) {
        size = argc > 2 ? size_argument(argv[2]) : 0;
        first = 3;
    }
    if (size == 0 || argc - first != 2) {
        fprintf(stderr, "quillpeek-thumbnailer: usage: quillpeek-thumbnailer [-s SIZE] INPUT OUTPUT "
                        "(SIZE from 1 to 4096)\n");
        return 1;
    }
    // Dates in the archive mean nothing here; this spares reading the zone file.
    setenv("TZ", "UTC0", 1);
    GfxBase = OpenLibrary("graphics.library", 0);
    CyberGfxBase = GfxBase != nullptr ? OpenLibrary("cybergraphics.library", 0) : nullptr;
    bool made = CyberGfxBase != nullptr ? thumbnail(argv[first], argv[first + 1], size)
                                        : report(argv[first], "the graphics libraries cannot be opened");
    if (CyberGfxBase != nullptr)
        CloseLibrary(CyberGfxBase);
    if (GfxBase != nullptr)
        CloseLibrary(GfxBase);
    return made ? 0 : 1;
}

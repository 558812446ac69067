// See fonts.h.
#include "sketch/drawing/fonts.h"

namespace
{

// At most this many faces are open at once; a sketch uses a few.
const size_t most_faces = 48;

FcFontSet *sorted_fonts(FcConfig *config, bool bold)
{
    const SketchCalls &lib = sketch_calls();
    FcPattern *pattern = lib.FcNameParse(reinterpret_cast<const FcChar8 *>("sans-serif"));
    if (pattern == nullptr)
        return nullptr;
    lib.FcPatternAddInteger(pattern, FC_WEIGHT, bold ? FC_WEIGHT_BOLD : FC_WEIGHT_REGULAR);
    lib.FcConfigSubstitute(config, pattern, FcMatchPattern);
    lib.FcDefaultSubstitute(pattern);
    FcResult result;
    // Trimmed: a font that covers nothing the better ones lack is left out.
    FcFontSet *set = lib.FcFontSort(config, pattern, FcTrue, nullptr, &result);
    lib.FcPatternDestroy(pattern);
    if (set != nullptr && set->nfont == 0) {
        lib.FcFontSetDestroy(set);
        set = nullptr;
    }
    return set;
}

} // namespace

SketchFonts::~SketchFonts()
{
    const SketchCalls &lib = sketch_calls();
    for (Opened &entry : opened) {
        if (entry.face.shaper != nullptr)
            lib.hb_font_destroy(entry.face.shaper); // releases its face too
    }
    if (library != nullptr)
        lib.FT_Done_FreeType(library);
    for (FcFontSet *set : sorted) {
        if (set != nullptr)
            lib.FcFontSetDestroy(set);
    }
    if (config != nullptr)
        lib.FcConfigDestroy(config);
}

const char *SketchFonts::open()
{
    const SketchCalls &lib = sketch_calls();
    config = lib.FcConfigCreate();
    // The default configuration (FONTCONFIG_FILE, else fonts.conf); its
    // caches are read where they can be, never written.
    if (config == nullptr || !lib.FcConfigParseAndLoad(config, nullptr, FcTrue) ||
        !lib.FcConfigBuildFonts(config))
        return "cannot be sketched: fontconfig cannot be set up";
    sorted[0] = sorted_fonts(config, false);
    sorted[1] = sorted_fonts(config, true);
    if (sorted[0] == nullptr || sorted[1] == nullptr)
        return "cannot be sketched: no font can be found";
    unusable[0].assign(static_cast<size_t>(sorted[0]->nfont), false);
    unusable[1].assign(static_cast<size_t>(sorted[1]->nfont), false);
    opened.reserve(most_faces); // faces are handed out by address
    if (lib.FT_Init_FreeType(&library) != 0) {
        library = nullptr;
        return "cannot be sketched: FreeType cannot be set up";
    }
    return nullptr;
}

int SketchFonts::font_for(uint32_t code, bool bold)
{
    const SketchCalls &lib = sketch_calls();
    FcFontSet *set = sorted[bold];
    for (int i = 0; i < set->nfont; ++i) {
        FcCharSet *charset = nullptr;
        if (unusable[bold][static_cast<size_t>(i)] ||
            lib.FcPatternGetCharSet(set->fonts[i], FC_CHARSET, 0, &charset) != FcResultMatch)
            continue;
        if (lib.FcCharSetHasChar(charset, code))
            return i;
    }
    return -1;
}

const char *SketchFonts::file_of(int font, bool bold, int *index)
{
    const SketchCalls &lib = sketch_calls();
    FcPattern *pattern = sorted[bold]->fonts[font];
    FcChar8 *file = nullptr;
    if (lib.FcPatternGetString(pattern, FC_FILE, 0, &file) != FcResultMatch)
        return nullptr;
    if (lib.FcPatternGetInteger(pattern, FC_INDEX, 0, index) != FcResultMatch)
        *index = 0;
    return reinterpret_cast<const char *>(file);
}

const SketchFace *SketchFonts::face(int font, bool bold, int pixels)
{
    if (font < 0 || font >= sorted[bold]->nfont || unusable[bold][static_cast<size_t>(font)])
        return nullptr;
    for (const Opened &entry : opened) {
        if (entry.font == font && entry.bold == bold && entry.pixels == pixels)
            return &entry.face;
    }
    if (opened.size() >= most_faces)
        return nullptr;
    const SketchCalls &lib = sketch_calls();
    int index = 0;
    const char *file = file_of(font, bold, &index);
    FT_Face face = nullptr;
    if (file == nullptr || lib.FT_New_Face(library, file, index, &face) != 0) {
        unusable[bold][static_cast<size_t>(font)] = true;
        return nullptr;
    }
    // Bitmap-only fonts have no size but their own: left to the next font.
    if (!FT_IS_SCALABLE(face) || lib.FT_Set_Pixel_Sizes(face, 0, static_cast<FT_UInt>(pixels)) != 0) {
        lib.FT_Done_Face(face);
        unusable[bold][static_cast<size_t>(font)] = true;
        return nullptr;
    }
    SketchFace made;
    made.face = face;
    made.shaper = lib.hb_ft_font_create_referenced(face);
    lib.FT_Done_Face(face); // the shaper holds the face now
    made.ascent = static_cast<int>((face->size->metrics.ascender + 63) >> 6);
    made.descent = static_cast<int>((-face->size->metrics.descender + 63) >> 6);
    opened.push_back({font, bold, pixels, made});
    return &opened.back().face;
}

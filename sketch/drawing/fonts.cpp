// See fonts.h.
#include "sketch/drawing/fonts.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>

namespace
{

// At most this many files and sizes are open at once; a sketch uses a few.
const size_t most_files = 24;
const size_t most_sizes = 64;
// Bytes of coverage kept for glyphs drawn again: a page's worth and more.
const size_t most_drawn_bytes = 8u << 20;

// The glyph's coverage into the face's slot, emboldened when the face
// asks for it.
bool render(const SketchFace &face, uint32_t glyph, int pixels)
{
    const SketchCalls &lib = sketch_calls();
    if (!face.embolden)
        return lib.FT_Load_Glyph(face.face, glyph, FT_LOAD_RENDER | FT_LOAD_NO_HINTING) == 0;
    if (lib.FT_Load_Glyph(face.face, glyph, FT_LOAD_NO_HINTING) != 0)
        return false;
    FT_GlyphSlot slot = face.face->glyph;
    if (slot->format == FT_GLYPH_FORMAT_OUTLINE)
        lib.FT_Outline_Embolden(&slot->outline, std::max(16, pixels * 64 / 22));
    return lib.FT_Render_Glyph(slot, FT_RENDER_MODE_NORMAL) == 0;
}

// The slot's 8-bit coverage copied; false for any other kind of bitmap.
bool copy_coverage(const FT_GlyphSlot slot, SketchBitmap *bitmap)
{
    const FT_Bitmap &from = slot->bitmap;
    if (from.pixel_mode != FT_PIXEL_MODE_GRAY && from.rows != 0)
        return false;
    bitmap->left = slot->bitmap_left;
    bitmap->top = slot->bitmap_top;
    bitmap->width = static_cast<int>(from.width);
    bitmap->rows = static_cast<int>(from.rows);
    bitmap->coverage.resize(size_t(from.width) * from.rows);
    for (unsigned row = 0; row < from.rows; ++row)
        std::copy(from.buffer + long(row) * from.pitch, from.buffer + long(row) * from.pitch + from.width,
                  bitmap->coverage.begin() + long(row) * from.width);
    return true;
}

const char *const fallback_families[] = {"sans-serif",      "DejaVu Sans", "Noto Sans",
                                         "Liberation Sans", "Nimbus Sans", "FreeSans"};

// The pattern of the fonts asked for, with the configuration's
// substitutions made.
FcPattern *wanted(FcConfig *config, bool bold)
{
    const SketchCalls &lib = sketch_calls();
    // Built rather than parsed: in fontconfig's names "sans-serif" would be
    // the family "sans" at the size "serif".
    FcPattern *pattern = lib.FcPatternCreate();
    if (pattern == nullptr)
        return nullptr;
    // After the generic family, which the configuration's preferences
    // come before, the common sans-serif families, for a system whose
    // configuration names no preference.
    for (const char *family : fallback_families)
        lib.FcPatternAddString(pattern, FC_FAMILY, reinterpret_cast<const FcChar8 *>(family));
    lib.FcPatternAddInteger(pattern, FC_WEIGHT, bold ? FC_WEIGHT_BOLD : FC_WEIGHT_REGULAR);
    lib.FcConfigSubstitute(config, pattern, FcMatchPattern);
    lib.FcDefaultSubstitute(pattern);
    return pattern;
}

FcPattern *best_font(FcConfig *config, bool bold)
{
    const SketchCalls &lib = sketch_calls();
    FcPattern *pattern = wanted(config, bold);
    if (pattern == nullptr)
        return nullptr;
    FcResult result;
    FcPattern *best = lib.FcFontMatch(config, pattern, &result);
    lib.FcPatternDestroy(pattern);
    return best;
}

FcFontSet *sorted_fonts(FcConfig *config, bool bold)
{
    const SketchCalls &lib = sketch_calls();
    FcPattern *pattern = wanted(config, bold);
    if (pattern == nullptr)
        return nullptr;
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
    for (Sized &entry : sized)
        lib.hb_font_destroy(entry.face.shaper);
    for (File &file : files) {
        if (file.face != nullptr)
            lib.FT_Done_Face(file.face);
        lib.hb_face_destroy(file.shaping);
        lib.hb_blob_destroy(file.blob); // after FreeType, which reads its bytes
    }
    if (library != nullptr)
        lib.FT_Done_FreeType(library);
    for (FcFontSet *set : sorted) {
        if (set != nullptr)
            lib.FcFontSetDestroy(set);
    }
    for (FcPattern *pattern : best) {
        if (pattern != nullptr)
            lib.FcPatternDestroy(pattern);
    }
    if (config != nullptr)
        lib.FcConfigDestroy(config);
    if (packaged != nullptr)
        lib.FcConfigDestroy(packaged);
}

// The configuration read when none is named: the system's font folders
// and caches, its order of preference for the generic families, and its
// administrator's own settings. The rest of the system's configuration
// (hinting, antialiasing, bitmap rules, aliases for named families, the
// folders under the home) means nothing to a sketch that asks for
// sans-serif alone, draws unhinted and is confined, and parsing it would
// take three times the time of everything else fontconfig does here. The
// preferences for scripts other than Latin, the larger part, are read only
// for a text that has such characters.
const char short_config_start[] = R"(<?xml version="1.0"?>
<fontconfig>
  <dir>/usr/share/fonts</dir>
  <dir>/usr/local/share/fonts</dir>
  <cachedir>/var/cache/fontconfig</cachedir>
  <include ignore_missing="yes">/etc/fonts/conf.d/60-latin.conf</include>
)";
const char short_config_other_scripts[] =
    R"(  <include ignore_missing="yes">/etc/fonts/conf.d/65-nonlatin.conf</include>
)";
const char short_config_end[] = R"(  <include ignore_missing="yes">/etc/fonts/local.conf</include>
</fontconfig>
)";

namespace
{

// The folder of DejaVu, which the package depends on (fonts-dejavu-core):
// read on its own, its cache is all that fontconfig needs to read for a
// page whose every character DejaVu Sans covers, however many fonts the
// system has.
const char packaged_config[] = R"(<?xml version="1.0"?>
<fontconfig>
  <dir>/usr/share/fonts/truetype/dejavu</dir>
  <cachedir>/var/cache/fontconfig</cachedir>
</fontconfig>
)";
const char packaged_family[] = "DejaVu Sans";

// A configuration made from text, or when text is null from the one that
// the environment names, its fonts read; null when it cannot be. Parsed
// quietly: the message is ours.
FcConfig *config_from(const std::string *text)
{
    const SketchCalls &lib = sketch_calls();
    FcConfig *made = lib.FcConfigCreate();
    if (made == nullptr)
        return nullptr;
    bool parsed = text == nullptr ? lib.FcConfigParseAndLoad(made, nullptr, FcFalse)
                                  : lib.FcConfigParseAndLoadFromMemory(
                                        made, reinterpret_cast<const FcChar8 *>(text->c_str()), FcFalse);
    if (parsed && lib.FcConfigBuildFonts(made))
        return made;
    lib.FcConfigDestroy(made);
    return nullptr;
}

bool named_in_environment()
{
    return getenv("FONTCONFIG_FILE") != nullptr || getenv("FONTCONFIG_PATH") != nullptr;
}

bool is_packaged_font(FcPattern *font)
{
    FcChar8 *family = nullptr;
    return font != nullptr &&
           sketch_calls().FcPatternGetString(font, FC_FAMILY, 0, &family) == FcResultMatch &&
           strcmp(reinterpret_cast<const char *>(family), packaged_family) == 0;
}

} // namespace

bool SketchFonts::load_config()
{
    // A configuration named in the environment is read whole, as
    // fontconfig reads it.
    std::string text = std::string(short_config_start) + (other_scripts ? short_config_other_scripts : "") +
                       short_config_end;
    config = config_from(named_in_environment() ? nullptr : &text);
    return config != nullptr;
}

// The packaged font when the text is Latin and it is there; else the
// system's best.
const char *SketchFonts::open(bool text_has_other_scripts)
{
    const SketchCalls &lib = sketch_calls();
    other_scripts = text_has_other_scripts;
    if (!other_scripts && !named_in_environment()) {
        const std::string text = packaged_config;
        packaged = config_from(&text);
        if (packaged != nullptr) {
            best[0] = best_font(packaged, false);
            if (!is_packaged_font(best[0]) && best[0] != nullptr) {
                lib.FcPatternDestroy(best[0]);
                best[0] = nullptr;
            }
        }
    }
    if (best[0] == nullptr) {
        if (!load_config())
            return "cannot be sketched: fontconfig cannot be set up";
        best[0] = best_font(config, false);
    }
    if (best[0] == nullptr)
        return "cannot be sketched: no font can be found";
    for (bool bold : {false, true}) {
        unusable[bold].assign(1, false);
        file_index[bold].assign(1, -2);
    }
    files.reserve(most_files);
    sized.reserve(most_sizes); // faces are handed out by address
    if (lib.FT_Init_FreeType(&library) != 0) {
        library = nullptr;
        return "cannot be sketched: FreeType cannot be set up";
    }
    return nullptr;
}

int SketchFonts::count(bool bold) const
{
    return 1 + (sorted[bold] != nullptr ? sorted[bold]->nfont : 0);
}

FcPattern *SketchFonts::pattern_of(int font, bool bold) const
{
    return font == 0 ? best[bold] : sorted[bold]->fonts[font - 1];
}

bool SketchFonts::covers(int font, bool bold, uint32_t code) const
{
    FcCharSet *charset = nullptr;
    return !unusable[bold][static_cast<size_t>(font)] && pattern_of(font, bold) != nullptr &&
           sketch_calls().FcPatternGetCharSet(pattern_of(font, bold), FC_CHARSET, 0, &charset) ==
               FcResultMatch &&
           sketch_calls().FcCharSetHasChar(charset, code);
}

// The best font first; the whole list, sorted, only for a character it
// lacks: sorting every installed font costs more than the rest of finding
// them, on a system with many.
int SketchFonts::font_for(uint32_t code, bool bold)
{
    // Asked again for nearly every character: the Latin ones' answers kept.
    if (code < known_codes) {
        int16_t &known = known_font[bold][code];
        if (known == unknown)
            known = static_cast<int16_t>(find_font(code, bold));
        return known;
    }
    return find_font(code, bold);
}

int SketchFonts::find_font(uint32_t code, bool bold)
{
    if (best[bold] == nullptr && !match_tried[bold]) {
        match_tried[bold] = true;
        // In the configuration the regular font came from.
        best[bold] = best_font(config != nullptr ? config : packaged, bold);
    }
    if (covers(0, bold, code))
        return 0;
    if (sorted[bold] == nullptr && !sort_tried[bold]) {
        sort_tried[bold] = true;
        // After the packaged font, the system's whole list.
        if (config != nullptr || load_config())
            sorted[bold] = sorted_fonts(config, bold);
        unusable[bold].resize(static_cast<size_t>(count(bold)), false);
        file_index[bold].resize(static_cast<size_t>(count(bold)), -2);
    }
    for (int i = 1; i < count(bold); ++i) {
        if (covers(i, bold, code))
            return i;
    }
    return -1;
}

// The open file of the font, opened now if need be; -1 when it cannot be.
long SketchFonts::file_of(int font, bool bold)
{
    const SketchCalls &lib = sketch_calls();
    FcPattern *pattern = pattern_of(font, bold);
    FcChar8 *name = nullptr;
    int index = 0;
    if (lib.FcPatternGetString(pattern, FC_FILE, 0, &name) != FcResultMatch)
        return -1;
    if (lib.FcPatternGetInteger(pattern, FC_INDEX, 0, &index) != FcResultMatch)
        index = 0;
    std::string path = reinterpret_cast<const char *>(name);
    for (size_t i = 0; i < files.size(); ++i) {
        if (files[i].path == path && files[i].index == index)
            return files[i].face != nullptr ? static_cast<long>(i) : -1;
    }
    if (files.size() >= most_files)
        return -1;
    // Mapped, not read: FreeType and HarfBuzz each touch only what they use.
    File file = {path, index, lib.hb_blob_create_from_file(path.c_str()), nullptr, nullptr, 0};
    file.shaping = lib.hb_face_create(file.blob, static_cast<unsigned>(index));
    unsigned length = 0;
    const char *data = lib.hb_blob_get_data(file.blob, &length);
    if (length == 0 || lib.FT_New_Memory_Face(library, reinterpret_cast<const FT_Byte *>(data), length, index,
                                              &file.face) != 0)
        file.face = nullptr;
    // Bitmap-only fonts have no size but their own: left to the next font.
    if (file.face != nullptr && !FT_IS_SCALABLE(file.face)) {
        lib.FT_Done_Face(file.face);
        file.face = nullptr;
    }
    files.push_back(file);
    return file.face != nullptr ? static_cast<long>(files.size() - 1) : -1;
}

const SketchFace *SketchFonts::face(int font, bool bold, int pixels)
{
    if (font < 0 || font >= count(bold) || unusable[bold][static_cast<size_t>(font)])
        return nullptr;
    Handed &last = last_handed[bold];
    if (last.face != nullptr && last.font == font && last.pixels == pixels &&
        files[sized[last.face->slot].file].pixels == pixels)
        return last.face;
    long &at = file_index[bold][static_cast<size_t>(font)];
    if (at == -2)
        at = file_of(font, bold);
    if (at < 0) {
        unusable[bold][static_cast<size_t>(font)] = true;
        std::fill(std::begin(known_font[bold]), std::end(known_font[bold]), unknown);
        return nullptr;
    }
    const SketchCalls &lib = sketch_calls();
    File &file = files[static_cast<size_t>(at)];
    if (file.pixels != pixels) {
        if (lib.FT_Set_Pixel_Sizes(file.face, 0, static_cast<FT_UInt>(pixels)) != 0)
            return nullptr;
        file.pixels = pixels;
    }
    // Fontconfig's own rule: a font lighter than demibold asked for bold
    // is emboldened (ideographs have no bold face in most fonts).
    int weight = FC_WEIGHT_REGULAR;
    if (bold && lib.FcPatternGetInteger(pattern_of(font, true), FC_WEIGHT, 0, &weight) != FcResultMatch)
        weight = FC_WEIGHT_REGULAR;
    bool embolden = bold && weight < FC_WEIGHT_DEMIBOLD;
    for (const Sized &entry : sized) {
        if (entry.file == static_cast<size_t>(at) && entry.pixels == pixels && entry.embolden == embolden)
            return hand_out(font, bold, pixels, &entry.face);
    }
    if (sized.size() >= most_sizes)
        return nullptr;
    hb_font_t *shaper = lib.hb_font_create(file.shaping);
    lib.hb_font_set_scale(shaper, pixels * 64, pixels * 64); // positions in 26.6 pixels
    sized.push_back({static_cast<size_t>(at), pixels, embolden, {file.face, shaper, embolden, sized.size()}});
    return hand_out(font, bold, pixels, &sized.back().face);
}

const SketchFace *SketchFonts::hand_out(int font, bool bold, int pixels, const SketchFace *face)
{
    last_handed[bold] = {font, pixels, face};
    return face;
}

const SketchBitmap *SketchFonts::bitmap(const SketchFace &face, uint32_t glyph)
{
    uint64_t key = uint64_t(face.slot) << 32 | glyph;
    auto found = drawn.find(key);
    if (found != drawn.end())
        return &found->second;
    int pixels = sized[face.slot].pixels;
    if (face.face->size->metrics.x_ppem != pixels &&
        sketch_calls().FT_Set_Pixel_Sizes(face.face, 0, pixels) != 0)
        return nullptr;
    files[sized[face.slot].file].pixels = pixels;
    SketchBitmap made;
    if (!render(face, glyph, pixels) || !copy_coverage(face.face->glyph, &made))
        return nullptr;
    if (drawn_bytes + made.coverage.size() > most_drawn_bytes) {
        scratch = std::move(made);
        return &scratch;
    }
    drawn_bytes += made.coverage.size();
    return &drawn.emplace(key, std::move(made)).first->second;
}

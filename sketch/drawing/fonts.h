// The fonts of a sketch: DejaVu Sans, regular and bold, for a page of Latin
// text, else fontconfig's best sans-serif font; then the system's whole
// list, best first, once a character needs more; and the fonts opened from
// it as the text needs them. A character is drawn in the first font of the
// list that covers it; one that no font covers is drawn as a box.
//
// DejaVu Sans comes from the package's own dependency, fonts-dejavu-core:
// fontconfig reads its folder's cache alone, so that a page of Latin text
// costs the same on a system of three fonts as on one of thousands. The
// system's configuration is read for any other page, or when the folder
// holds no DejaVu Sans: the one that FONTCONFIG_FILE or FONTCONFIG_PATH
// names (then also for a Latin page), else only the parts of the system's
// that choose a sans-serif font: the system's font folders, its order of
// preference for the generic families (conf.d's 60-latin.conf and
// 65-nonlatin.conf) and local.conf. It reads the caches in
// /var/cache/fontconfig; those under the user's home are closed to a
// confined process, and fontconfig writes none.
//
// Each font file is mapped once and shared by FreeType, which draws its
// glyphs, and HarfBuzz, which shapes with it at every size asked for.
#ifndef QUILLPEEK_SKETCH_DRAWING_FONTS_H
#define QUILLPEEK_SKETCH_DRAWING_FONTS_H

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <string>
#include <unordered_map>
#include <vector>

#include "sketch/drawing/libraries.h"

// A font at one pixel size: its FreeType face, set to that size when it is
// handed out, and its HarfBuzz font at that size.
struct SketchFace {
    FT_Face face = nullptr;
    hb_font_t *shaper = nullptr;
    bool embolden = false; // a bold font asked for, a lighter one found
    size_t slot = 0;       // which of the fonts' sizes it is
};

// A glyph's coverage as FreeType drew it, unhinted: rows of width bytes,
// its top left at (left, -top) from its origin on the baseline.
struct SketchBitmap {
    int left = 0, top = 0, width = 0, rows = 0;
    std::vector<unsigned char> coverage;
};

class SketchFonts
{
  public:
    SketchFonts()
    {
        for (auto &known : known_font)
            std::fill(std::begin(known), std::end(known), unknown);
    }
    SketchFonts(const SketchFonts &) = delete;
    SketchFonts &operator=(const SketchFonts &) = delete;
    ~SketchFonts();

    // Finds the fonts; null, or why there are none. text_has_other_scripts:
    // the text has characters of scripts other than Latin, for which the
    // system's fonts and preferences are read at once.
    const char *open(bool text_has_other_scripts);

    // The font of the list that covers code, or -1 when none does.
    int font_for(uint32_t code, bool bold);

    // That font at pixels pixels per em; null when FreeType or HarfBuzz
    // cannot use it at that size. Valid until the fonts are destroyed.
    const SketchFace *face(int font, bool bold, int pixels);

    // The glyph of the face drawn, once for each face and glyph however
    // often the text has it; null when FreeType cannot draw it. Valid until
    // the next call.
    const SketchBitmap *bitmap(const SketchFace &face, uint32_t glyph);

  private:
    struct File {
        std::string path;
        int index;
        hb_blob_t *blob;
        hb_face_t *shaping;
        FT_Face face;
        int pixels; // the face's size now
    };
    struct Sized {
        size_t file;
        int pixels;
        bool embolden;
        SketchFace face;
    };

    // The packaged font's folder alone, when the regular font came from
    // it; the system's configuration, once a font is needed from it.
    FcConfig *packaged = nullptr;
    FcConfig *config = nullptr;
    bool other_scripts = false;
    // Font 0 is the best match; fonts from 1 on are the sorted list's,
    // which is made only when a character needs it.
    FcPattern *best[2] = {nullptr, nullptr};
    FcFontSet *sorted[2] = {nullptr, nullptr};
    bool match_tried[2] = {true, false}; // the regular font is matched at once
    bool sort_tried[2] = {false, false};
    std::vector<bool> unusable[2];   // fonts FreeType or HarfBuzz refused
    std::vector<long> file_index[2]; // each font's file, -2 until opened
    FT_Library library = nullptr;
    std::vector<File> files;
    std::vector<Sized> sized;
    std::unordered_map<uint64_t, SketchBitmap> drawn;
    size_t drawn_bytes = 0;
    SketchBitmap scratch; // once the drawn glyphs have taken their budget

    bool load_config();
    int find_font(uint32_t code, bool bold);
    const SketchFace *hand_out(int font, bool bold, int pixels, const SketchFace *face);

    // The answers of font_for for the Latin characters, and the face
    // handed out last, for text that asks for them character by character.
    static constexpr uint32_t known_codes = 0x300;
    static constexpr int16_t unknown = -3;
    int16_t known_font[2][known_codes];
    struct Handed {
        int font = -1;
        int pixels = 0;
        const SketchFace *face = nullptr;
    };
    Handed last_handed[2];
    int count(bool bold) const;
    FcPattern *pattern_of(int font, bool bold) const;
    bool covers(int font, bool bold, uint32_t code) const;
    long file_of(int font, bool bold);
};

#endif

// The fonts of a sketch: fontconfig's list of sans-serif fonts, regular
// and bold, best first, and the FreeType faces opened from it as the text
// needs them. A character is drawn in the first font of the list that
// covers it; one that no font covers is drawn as a box.
//
// Fontconfig reads its configuration (FONTCONFIG_FILE, else
// /etc/fonts/fonts.conf) and the caches under /var/cache/fontconfig; the
// caches under the user's home are closed to a confined process and
// fontconfig goes on without them, writing none.
#ifndef QUILLPEEK_SKETCH_DRAWING_FONTS_H
#define QUILLPEEK_SKETCH_DRAWING_FONTS_H

#include <cstdint>
#include <vector>

#include "sketch/drawing/libraries.h"

// A face at one pixel size, its metrics in whole pixels.
struct SketchFace {
    FT_Face face = nullptr;
    hb_font_t *shaper = nullptr;
    int ascent = 0;
    int descent = 0; // below the baseline, positive
};

class SketchFonts
{
  public:
    SketchFonts() = default;
    SketchFonts(const SketchFonts &) = delete;
    SketchFonts &operator=(const SketchFonts &) = delete;
    ~SketchFonts();

    // Finds the fonts; null, or why there are none.
    const char *open();

    // The font of the list that covers code, or -1 when none does.
    int font_for(uint32_t code, bool bold);

    // That font at pixels pixels per em, opened once; null when FreeType
    // cannot use it at that size.
    const SketchFace *face(int font, bool bold, int pixels);

  private:
    struct Opened {
        int font;
        bool bold;
        int pixels;
        SketchFace face;
    };

    FcConfig *config = nullptr;
    FcFontSet *sorted[2] = {nullptr, nullptr};
    std::vector<bool> unusable[2]; // fonts FreeType refused
    FT_Library library = nullptr;
    std::vector<Opened> opened;

    const char *file_of(int font, bool bold, int *index);
};

#endif

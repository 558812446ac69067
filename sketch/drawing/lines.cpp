// See lines.h.
#include "sketch/drawing/lines.h"

#include <algorithm>
#include <cmath>

namespace
{

// More characters than this never fit on a page of any size drawn.
const size_t most_characters = 16384;

bool is_space(uint32_t c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == 0xA0 || c == 0x3000 || c == 0x1680 ||
           (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F || c == 0x205F;
}

// Formatting characters that show nothing: shaped with their neighbours'
// font rather than drawn as boxes.
bool is_invisible(uint32_t c)
{
    return c < 0x20 || (c >= 0x7F && c < 0xA0) || c == 0xAD || (c >= 0x200B && c <= 0x200F) ||
           (c >= 0x202A && c <= 0x202E) || (c >= 0x2060 && c <= 0x206F) || c == 0xFEFF ||
           (c >= 0xFE00 && c <= 0xFE0F) || (c >= 0xE0000 && c <= 0xE0FFF);
}

// Ideographs, kana and hangul, between which a line may break.
bool breaks_anywhere(uint32_t c)
{
    return (c >= 0x2E80 && c <= 0x9FFF) || (c >= 0xAC00 && c <= 0xD7AF) || (c >= 0xF900 && c <= 0xFAFF) ||
           (c >= 0xFF00 && c <= 0xFFEF) || (c >= 0x20000 && c <= 0x3FFFF);
}

struct Word {
    size_t begin;
    size_t end;
    bool space_before;
};

struct Shaped {
    std::vector<SketchGlyph> glyphs;
    int width = 0;
};

class Shaper
{
  public:
    Shaper(SketchFonts &fonts, const std::vector<uint32_t> &codes, SketchStyle style)
        : fonts(fonts), codes(codes), style(style), buffer(sketch_calls().hb_buffer_create())
    {
    }
    ~Shaper() { sketch_calls().hb_buffer_destroy(buffer); }
    Shaper(const Shaper &) = delete;
    Shaper &operator=(const Shaper &) = delete;

    Shaped shape(const Word &word);

  private:
    SketchFonts &fonts;
    const std::vector<uint32_t> &codes;
    SketchStyle style;
    hb_buffer_t *buffer;

    int usable_font(uint32_t code);
    bool shape_run(const Word &word, size_t begin, size_t end, int font, Shaped *run);
};

// The first font that covers code and that FreeType can use at the size.
int Shaper::usable_font(uint32_t code)
{
    for (int tries = 0; tries < 16; ++tries) {
        int font = fonts.font_for(code, style.bold);
        if (font < 0 || fonts.face(font, style.bold, style.pixels) != nullptr)
            return font;
    }
    return -1;
}

// Codes [begin, end) of the word shaped in the font, the word around them
// given as context (Arabic joins across a change of font).
bool Shaper::shape_run(const Word &word, size_t begin, size_t end, int font, Shaped *run)
{
    const SketchCalls &lib = sketch_calls();
    const SketchFace *face = fonts.face(font, style.bold, style.pixels);
    if (face == nullptr)
        return false;
    lib.hb_buffer_clear_contents(buffer);
    lib.hb_buffer_add_utf32(buffer, codes.data() + word.begin, static_cast<int>(word.end - word.begin),
                            static_cast<unsigned>(begin - word.begin), static_cast<int>(end - begin));
    lib.hb_buffer_guess_segment_properties(buffer);
    lib.hb_shape(face->shaper, buffer, nullptr, 0);
    if (!lib.hb_buffer_allocation_successful(buffer))
        return false;
    unsigned count = 0;
    const hb_glyph_info_t *infos = lib.hb_buffer_get_glyph_infos(buffer, &count);
    const hb_glyph_position_t *positions = lib.hb_buffer_get_glyph_positions(buffer, &count);
    long x = 0; // 26.6
    for (unsigned i = 0; i < count; ++i) {
        run->glyphs.push_back({font, infos[i].codepoint,
                               static_cast<int>((x + positions[i].x_offset + 32) >> 6),
                               static_cast<int>((positions[i].y_offset + 32) >> 6), 0});
        x += positions[i].x_advance;
    }
    run->width = static_cast<int>((x + 32) >> 6);
    return true;
}

bool run_is_rtl(const std::vector<uint32_t> &codes, size_t begin, size_t end)
{
    const SketchCalls &lib = sketch_calls();
    hb_unicode_funcs_t *unicode = lib.hb_unicode_funcs_get_default();
    for (size_t i = begin; i < end; ++i) {
        hb_script_t script = lib.hb_unicode_script(unicode, codes[i]);
        if (script == HB_SCRIPT_COMMON || script == HB_SCRIPT_INHERITED || script == HB_SCRIPT_UNKNOWN)
            continue;
        return lib.hb_script_get_horizontal_direction(script) == HB_DIRECTION_RTL;
    }
    return false;
}

// The word's runs of one font each, shaped, in the order they show.
Shaped Shaper::shape(const Word &word)
{
    std::vector<Shaped> runs;
    size_t begin = word.begin;
    int font = -2;
    auto close_run = [&](size_t end) {
        if (end == begin)
            return;
        Shaped run;
        if (font >= 0 && shape_run(word, begin, end, font, &run)) {
            runs.push_back(std::move(run));
        } else {
            // No font covers these: one box each, never dropped.
            int box = std::max(2, style.pixels * 3 / 5);
            for (size_t i = begin; i < end; ++i) {
                if (!is_invisible(codes[i]))
                    run.glyphs.push_back({-1, 0, run.width, 0, box}), run.width += box + box / 4;
            }
            runs.push_back(std::move(run));
        }
        begin = end;
    };
    for (size_t i = word.begin; i < word.end; ++i) {
        if (is_invisible(codes[i]) && font != -2)
            continue; // stays in the run around it
        int covering = usable_font(codes[i]);
        if (covering != font && i != word.begin)
            close_run(i);
        font = covering;
    }
    close_run(word.end);
    if (run_is_rtl(codes, word.begin, word.end))
        std::reverse(runs.begin(), runs.end());
    Shaped whole;
    for (Shaped &run : runs) {
        for (SketchGlyph glyph : run.glyphs) {
            glyph.x += whole.width;
            whole.glyphs.push_back(glyph);
        }
        whole.width += run.width;
    }
    return whole;
}

std::vector<Word> split_words(const std::vector<uint32_t> &codes)
{
    std::vector<Word> words;
    bool space = false;
    size_t i = 0;
    while (i < codes.size()) {
        if (is_space(codes[i])) {
            space = true;
            ++i;
            continue;
        }
        size_t end = i + 1;
        if (!breaks_anywhere(codes[i])) {
            while (end < codes.size() && !is_space(codes[end]) && !breaks_anywhere(codes[end]))
                ++end;
        }
        words.push_back({i, end, space});
        space = false;
        i = end;
    }
    return words;
}

// The word cut into its characters, for a word wider than a line.
std::vector<Word> characters_of(const Word &word)
{
    std::vector<Word> pieces;
    for (size_t i = word.begin; i < word.end; ++i)
        pieces.push_back({i, i + 1, i == word.begin && word.space_before});
    return pieces;
}

struct Placed {
    Shaped shaped;
    int gap;
};

SketchLine place_line(const std::vector<Placed> &words, int width, bool rtl)
{
    SketchLine line;
    int x = 0;
    for (const Placed &word : words) {
        x += word.gap;
        for (SketchGlyph glyph : word.shaped.glyphs) {
            glyph.x = rtl ? width - x - word.shaped.width + glyph.x : x + glyph.x;
            line.glyphs.push_back(glyph);
        }
        x += word.shaped.width;
    }
    line.width = x;
    line.rtl = rtl;
    return line;
}

// A paragraph's characters, split into words, and its direction.
struct Paragraph {
    std::vector<uint32_t> codes;
    std::vector<Word> words;
    bool rtl;
    bool cut; // characters were left out

    explicit Paragraph(const std::string &text)
        : codes(sketch_decode(text, most_characters)), words(split_words(codes)),
          rtl(run_is_rtl(codes, 0, codes.size())), cut(codes.size() >= most_characters)
    {
    }
};

int word_space(SketchStyle style)
{
    return std::max(1, static_cast<int>(std::lround(style.pixels * 0.32)));
}

} // namespace

std::vector<uint32_t> sketch_decode(const std::string &text, size_t most)
{
    std::vector<uint32_t> codes;
    const unsigned char *p = reinterpret_cast<const unsigned char *>(text.data());
    const unsigned char *end = p + text.size();
    while (p < end && codes.size() < most) {
        unsigned lead = *p;
        int length = lead < 0x80                   ? 1
                     : lead >= 0xC2 && lead < 0xE0 ? 2
                     : lead >= 0xE0 && lead < 0xF0 ? 3
                     : lead >= 0xF0 && lead < 0xF5 ? 4
                                                   : 0;
        uint32_t code = length == 1   ? lead
                        : length == 2 ? lead & 0x1F
                        : length == 3 ? lead & 0x0F
                                      : lead & 0x07;
        bool sound = length != 0 && end - p >= length;
        for (int i = 1; sound && i < length; ++i) {
            sound = (p[i] & 0xC0) == 0x80;
            code = (code << 6) | (p[i] & 0x3F);
        }
        static const uint32_t least[] = {0, 0, 0x80, 0x800, 0x10000};
        sound = sound && code >= least[length] && code <= 0x10FFFF && (code < 0xD800 || code > 0xDFFF);
        codes.push_back(sound ? code : 0xFFFD);
        p += sound ? length : 1;
    }
    return codes;
}

std::vector<SketchLine> sketch_wrap(SketchFonts &fonts, const std::string &text, SketchStyle style, int width,
                                    size_t most_lines, bool *more)
{
    std::vector<SketchLine> lines;
    Paragraph paragraph(text);
    *more = paragraph.cut;
    std::vector<Word> &words = paragraph.words;
    bool rtl = paragraph.rtl;
    Shaper shaper(fonts, paragraph.codes, style);
    int space = word_space(style);
    std::vector<Placed> line;
    int used = 0;
    for (size_t i = 0; i < words.size() && most_lines > 0; ++i) {
        Shaped shaped = shaper.shape(words[i]);
        if (shaped.width > width && words[i].end - words[i].begin > 1) {
            std::vector<Word> pieces = characters_of(words[i]);
            words.erase(words.begin() + static_cast<long>(i));
            words.insert(words.begin() + static_cast<long>(i), pieces.begin(), pieces.end());
            --i;
            continue;
        }
        int gap = !line.empty() && words[i].space_before ? space : 0;
        if (!line.empty() && used + gap + shaped.width > width) {
            lines.push_back(place_line(line, width, rtl));
            line.clear();
            used = gap = 0;
            if (lines.size() == most_lines) {
                *more = true;
                return lines;
            }
        }
        used += gap + shaped.width;
        line.push_back({std::move(shaped), gap});
    }
    if (!line.empty())
        lines.push_back(place_line(line, width, rtl));
    return lines;
}

SketchLine sketch_line(SketchFonts &fonts, const std::string &text, SketchStyle style, int reach)
{
    Paragraph paragraph(text);
    Shaper shaper(fonts, paragraph.codes, style);
    int space = word_space(style);
    std::vector<Placed> line;
    int used = 0;
    for (const Word &word : paragraph.words) {
        if (used >= reach)
            break;
        Shaped shaped = shaper.shape(word);
        int gap = !line.empty() && word.space_before ? space : 0;
        used += gap + shaped.width;
        line.push_back({std::move(shaped), gap});
    }
    return place_line(line, used, paragraph.rtl);
}

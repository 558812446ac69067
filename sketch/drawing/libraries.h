// The drawing's libraries, fontconfig, FreeType and HarfBuzz, opened when
// the first sketch is drawn rather than at exec.
//
// The thumbnailer links none of them: a document that carries its own
// preview never loads them, nor the libraries behind them (libpng, brotli,
// graphite2, GLib, expat). Every function the drawing calls is reached
// through one table, resolved by name with dlsym, with the libraries' own
// headers giving its types. Loaded once; they stay loaded to the end of the
// process, as linked ones would.
#ifndef QUILLPEEK_SKETCH_DRAWING_LIBRARIES_H
#define QUILLPEEK_SKETCH_DRAWING_LIBRARIES_H

#include <fontconfig/fontconfig.h>
#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_OUTLINE_H
#include <hb.h>

#define SKETCH_FONTCONFIG_CALLS(X)                                                                           \
    X(FcConfigCreate)                                                                                        \
    X(FcConfigParseAndLoad)                                                                                  \
    X(FcConfigParseAndLoadFromMemory)                                                                        \
    X(FcConfigBuildFonts)                                                                                    \
    X(FcConfigDestroy)                                                                                       \
    X(FcConfigSubstitute)                                                                                    \
    X(FcDefaultSubstitute)                                                                                   \
    X(FcFontSort)                                                                                            \
    X(FcFontMatch)                                                                                           \
    X(FcFontSetDestroy)                                                                                      \
    X(FcPatternCreate)                                                                                       \
    X(FcPatternAddString)                                                                                    \
    X(FcPatternDestroy)                                                                                      \
    X(FcPatternAddInteger)                                                                                   \
    X(FcPatternGetString)                                                                                    \
    X(FcPatternGetInteger)                                                                                   \
    X(FcPatternGetBool)                                                                                      \
    X(FcPatternGetCharSet)                                                                                   \
    X(FcCharSetHasChar)

#define SKETCH_FREETYPE_CALLS(X)                                                                             \
    X(FT_Init_FreeType)                                                                                      \
    X(FT_Done_FreeType)                                                                                      \
    X(FT_New_Memory_Face)                                                                                    \
    X(FT_Done_Face)                                                                                          \
    X(FT_Set_Pixel_Sizes)                                                                                    \
    X(FT_Load_Glyph)                                                                                         \
    X(FT_Outline_Embolden)                                                                                   \
    X(FT_Render_Glyph)

#define SKETCH_HARFBUZZ_CALLS(X)                                                                             \
    X(hb_blob_create_from_file)                                                                              \
    X(hb_blob_get_data)                                                                                      \
    X(hb_blob_destroy)                                                                                       \
    X(hb_face_create)                                                                                        \
    X(hb_face_destroy)                                                                                       \
    X(hb_font_create)                                                                                        \
    X(hb_font_set_scale)                                                                                     \
    X(hb_font_destroy)                                                                                       \
    X(hb_buffer_create)                                                                                      \
    X(hb_buffer_destroy)                                                                                     \
    X(hb_buffer_clear_contents)                                                                              \
    X(hb_buffer_add_utf32)                                                                                   \
    X(hb_buffer_guess_segment_properties)                                                                    \
    X(hb_buffer_allocation_successful)                                                                       \
    X(hb_shape)                                                                                              \
    X(hb_buffer_get_glyph_infos)                                                                             \
    X(hb_buffer_get_glyph_positions)                                                                         \
    X(hb_unicode_funcs_get_default)                                                                          \
    X(hb_unicode_script)                                                                                     \
    X(hb_script_get_horizontal_direction)

struct SketchCalls {
#define SKETCH_CALL_MEMBER(name) decltype(&::name) name;
    SKETCH_FONTCONFIG_CALLS(SKETCH_CALL_MEMBER)
    SKETCH_FREETYPE_CALLS(SKETCH_CALL_MEMBER)
    SKETCH_HARFBUZZ_CALLS(SKETCH_CALL_MEMBER)
#undef SKETCH_CALL_MEMBER
};

// Loads the three libraries and resolves the table, once; later calls give
// the same answer. False when a library or one of its functions is missing.
bool sketch_libraries_load();

// The table; valid once sketch_libraries_load() returned true.
const SketchCalls &sketch_calls();

#endif

#include "testkit.h"

#include <spng.h>

#include <cstdio>
#include <cstdlib>
#include <stdexcept>

#include <jpeglib.h>

namespace testkit
{

size_t bytes_per_row(const PngRecipe &recipe)
{
    unsigned channels = recipe.colour_type == 2   ? 3
                        : recipe.colour_type == 4 ? 2
                        : recipe.colour_type == 6 ? 4
                                                  : 1;
    return (static_cast<size_t>(recipe.width) * channels * recipe.bit_depth + 7) / 8;
}

std::string encode_png(const PngRecipe &recipe)
{
    spng_ctx *ctx = spng_ctx_new(SPNG_CTX_ENCODER);
    spng_set_option(ctx, SPNG_ENCODE_TO_BUFFER, 1);
    struct spng_ihdr ihdr = {};
    ihdr.width = recipe.width;
    ihdr.height = recipe.height;
    ihdr.bit_depth = recipe.bit_depth;
    ihdr.color_type = recipe.colour_type;
    ihdr.interlace_method = recipe.interlaced ? SPNG_INTERLACE_ADAM7 : SPNG_INTERLACE_NONE;
    spng_set_ihdr(ctx, &ihdr);
    if (recipe.colour_type == 3) {
        struct spng_plte plte = {};
        plte.n_entries = static_cast<uint32_t>(recipe.palette.size());
        for (size_t i = 0; i < recipe.palette.size(); ++i) {
            plte.entries[i].red = static_cast<uint8_t>(recipe.palette[i] >> 16);
            plte.entries[i].green = static_cast<uint8_t>(recipe.palette[i] >> 8);
            plte.entries[i].blue = static_cast<uint8_t>(recipe.palette[i]);
        }
        spng_set_plte(ctx, &plte);
    }
    if (recipe.has_trns) {
        struct spng_trns trns = {};
        trns.gray = recipe.trns_grey;
        trns.red = recipe.trns_red;
        trns.green = recipe.trns_green;
        trns.blue = recipe.trns_blue;
        trns.n_type3_entries = static_cast<uint32_t>(recipe.trns_alpha.size());
        for (size_t i = 0; i < recipe.trns_alpha.size(); ++i)
            trns.type3_alpha[i] = recipe.trns_alpha[i];
        spng_set_trns(ctx, &trns);
    }
    int status = spng_encode_image(ctx, recipe.samples.data(), recipe.samples.size(), SPNG_FMT_PNG,
                                   SPNG_ENCODE_FINALIZE);
    size_t size = 0;
    int error = 0;
    void *png = spng_get_png_buffer(ctx, &size, &error);
    spng_ctx_free(ctx);
    if (status != 0 || png == nullptr)
        throw std::runtime_error(std::string("png encode: ") + spng_strerror(status ? status : error));
    std::string result(static_cast<char *>(png), size);
    free(png);
    return result;
}

std::string encode_jpeg(uint32_t width, uint32_t height, int components, const std::string &samples,
                        bool progressive, int quality)
{
    struct jpeg_compress_struct cinfo;
    struct jpeg_error_mgr errors;
    cinfo.err = jpeg_std_error(&errors);
    jpeg_create_compress(&cinfo);
    unsigned char *out = nullptr;
    unsigned long out_size = 0;
    jpeg_mem_dest(&cinfo, &out, &out_size);
    cinfo.image_width = width;
    cinfo.image_height = height;
    cinfo.input_components = components;
    cinfo.in_color_space = components == 1 ? JCS_GRAYSCALE : components == 3 ? JCS_RGB : JCS_CMYK;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, quality, TRUE);
    if (progressive)
        jpeg_simple_progression(&cinfo);
    jpeg_start_compress(&cinfo, TRUE);
    while (cinfo.next_scanline < height) {
        JSAMPROW row = reinterpret_cast<JSAMPROW>(const_cast<char *>(samples.data())) +
                       static_cast<size_t>(cinfo.next_scanline) * width * components;
        jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    std::string result(reinterpret_cast<char *>(out), out_size);
    free(out);
    return result;
}

std::string encode_png(uint32_t width, uint32_t height, const std::vector<uint32_t> &argb)
{
    PngRecipe recipe;
    recipe.width = width;
    recipe.height = height;
    recipe.samples.assign(static_cast<size_t>(width) * height * 4, '\0');
    for (size_t i = 0; i < argb.size() && i * 4 < recipe.samples.size(); ++i) {
        recipe.samples[i * 4 + 0] = static_cast<char>(argb[i] >> 16);
        recipe.samples[i * 4 + 1] = static_cast<char>(argb[i] >> 8);
        recipe.samples[i * 4 + 2] = static_cast<char>(argb[i]);
        recipe.samples[i * 4 + 3] = static_cast<char>(argb[i] >> 24);
    }
    return encode_png(recipe);
}

} // namespace testkit

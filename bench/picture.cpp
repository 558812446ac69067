// What the picture layer costs over the decoder alone: DTLoad (object,
// decode into the bitmap, copy into a fresh PictureBuffer, release) against
// libspng decoding the same file straight into a fresh plain buffer, on a
// corpus thumbnail and on a 4096 x 4096 picture, in the same run.
#include <benchmark/benchmark.h>

#include <archive.h>
#include <archive_entry.h>
#include <spng.h>

#include <cstdint>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <vector>

#include "flow/libraries.h"
#include "picture/picture.h"
#include "platform/control.h"

namespace
{

std::string corpus_thumbnail()
{
    const std::string path = std::string(QUILLPEEK_SOURCE_DIR) + "/tests/data/corpus/writer.odt";
    struct archive *a = archive_read_new();
    archive_read_support_format_zip(a);
    std::string data;
    struct archive_entry *entry = nullptr;
    if (archive_read_open_filename(a, path.c_str(), 65536) == ARCHIVE_OK)
        while (archive_read_next_header(a, &entry) == ARCHIVE_OK)
            if (std::string(archive_entry_pathname(entry)) == "Thumbnails/thumbnail.png") {
                char chunk[65536];
                la_ssize_t got;
                while ((got = archive_read_data(a, chunk, sizeof chunk)) > 0)
                    data.append(chunk, static_cast<size_t>(got));
                break;
            }
    archive_read_free(a);
    if (data.empty())
        throw std::runtime_error("no thumbnail in " + path);
    return data;
}

// A 4096 x 4096 RGB picture like a photograph's: smooth gradients with a
// little noise, so that it neither compresses to nothing nor not at all.
std::string large_png()
{
    const uint32_t side = 4096;
    std::vector<unsigned char> rgb(static_cast<size_t>(side) * side * 3);
    uint32_t noise = 12345;
    for (uint32_t y = 0; y < side; ++y)
        for (uint32_t x = 0; x < side; ++x) {
            noise = noise * 1103515245u + 12345u;
            unsigned char *p = &rgb[(static_cast<size_t>(y) * side + x) * 3];
            p[0] = static_cast<unsigned char>((x / 16 + (noise >> 29)) & 0xFF);
            p[1] = static_cast<unsigned char>((y / 16 + (noise >> 28 & 3)) & 0xFF);
            p[2] = static_cast<unsigned char>(((x + y) / 32) & 0xFF);
        }
    spng_ctx *ctx = spng_ctx_new(SPNG_CTX_ENCODER);
    spng_set_option(ctx, SPNG_ENCODE_TO_BUFFER, 1);
    struct spng_ihdr ihdr = {};
    ihdr.width = side;
    ihdr.height = side;
    ihdr.bit_depth = 8;
    ihdr.color_type = SPNG_COLOR_TYPE_TRUECOLOR;
    spng_set_ihdr(ctx, &ihdr);
    int status = spng_encode_image(ctx, rgb.data(), rgb.size(), SPNG_FMT_PNG, SPNG_ENCODE_FINALIZE);
    size_t size = 0;
    int error = 0;
    void *png = spng_get_png_buffer(ctx, &size, &error);
    spng_ctx_free(ctx);
    if (status != 0 || png == nullptr)
        throw std::runtime_error("cannot encode the large picture");
    std::string result(static_cast<char *>(png), size);
    std::free(png);
    return result;
}

// 0: the corpus thumbnail, 1: the 4096 x 4096 picture; each made once.
const std::string &picture(int which)
{
    if (which == 0) {
        static const std::string thumbnail = corpus_thumbnail();
        return thumbnail;
    }
    static const std::string large = large_png();
    return large;
}

// graphics.library and cybergraphics.library open, as main leaves them.
void open_libraries()
{
    if (GfxBase == nullptr) {
        platform_reset();
        GfxBase = OpenLibrary("graphics.library", 0);
        CyberGfxBase = OpenLibrary("cybergraphics.library", 0);
    }
}

void BM_DTLoad(benchmark::State &state)
{
    open_libraries();
    std::string data = picture(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        void *buffer = DTLoad(&data[0], static_cast<uint32_t>(data.size()));
        if (buffer == nullptr)
            state.SkipWithError("DTLoad gave no picture");
        benchmark::DoNotOptimize(buffer);
        FreeVec(buffer);
    }
}

// libspng alone: the same file into a fresh buffer of RGBA bytes.
void BM_SpngAlone(benchmark::State &state)
{
    std::string data = picture(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        spng_ctx *ctx = spng_ctx_new(0);
        spng_set_png_buffer(ctx, data.data(), data.size());
        size_t size = 0;
        spng_decoded_image_size(ctx, SPNG_FMT_RGBA8, &size);
        void *pixels = std::malloc(size);
        if (spng_decode_image(ctx, pixels, size, SPNG_FMT_RGBA8, SPNG_DECODE_TRNS) != 0)
            state.SkipWithError("libspng cannot decode it");
        benchmark::DoNotOptimize(pixels);
        std::free(pixels);
        spng_ctx_free(ctx);
    }
}

// 0: the corpus thumbnail, 1: the 4096 x 4096 picture.
BENCHMARK(BM_SpngAlone)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_DTLoad)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();

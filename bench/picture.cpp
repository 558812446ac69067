// What the picture layer costs over the decoder alone: DTLoad (object,
// decode into the bitmap, copy into a fresh PictureBuffer, release) against
// libspng decoding the same file straight into a fresh plain buffer, on a
// corpus thumbnail and on a 4096 x 4096 picture, in the same run.
//
// BM_ViewingFlow is the viewing flow's picture work, DTLoad, DT_width and
// DT_height on one block, as a fresh process does it: /0 with the picture
// class remembering the picture it decoded (one decode), /1 with it made to
// forget before each routine (three decodes, as without the memory).
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
#include "testkit.h"

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
    testkit::PngRecipe recipe;
    recipe.width = recipe.height = 4096;
    recipe.colour_type = 2;
    recipe.samples.resize(static_cast<size_t>(recipe.width) * recipe.height * 3);
    const std::string noise = testkit::noise(recipe.samples.size());
    for (uint32_t y = 0; y < recipe.height; ++y)
        for (uint32_t x = 0; x < recipe.width; ++x) {
            size_t at = (static_cast<size_t>(y) * recipe.width + x) * 3;
            unsigned char grain = static_cast<unsigned char>(noise[at]) & 3;
            recipe.samples[at] = static_cast<char>((x / 16 + grain) & 0xFF);
            recipe.samples[at + 1] = static_cast<char>((y / 16 + grain) & 0xFF);
            recipe.samples[at + 2] = static_cast<char>(((x + y) / 32) & 0xFF);
        }
    return testkit::encode_png(recipe);
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
        platform_forget_decoded_pictures(); // a first decode each time
        void *buffer = DTLoad(&data[0], static_cast<uint32_t>(data.size()));
        if (buffer == nullptr)
            state.SkipWithError("DTLoad gave no picture");
        benchmark::DoNotOptimize(buffer);
        FreeVec(buffer);
    }
}

void BM_ViewingFlow(benchmark::State &state)
{
    open_libraries();
    std::string data = picture(static_cast<int>(state.range(0)));
    bool forget_each = state.range(1) != 0;
    void *block = &data[0];
    uint32_t size = static_cast<uint32_t>(data.size());
    for (auto _ : state) {
        platform_forget_decoded_pictures();
        void *buffer = DTLoad(block, size);
        if (forget_each)
            platform_forget_decoded_pictures();
        uint32_t width = DT_width(block, size);
        if (forget_each)
            platform_forget_decoded_pictures();
        uint32_t height = DT_height(block, size);
        if (buffer == nullptr || width == 0 || height == 0)
            state.SkipWithError("no picture");
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
// Second argument: 0 remembered, 1 forgotten before each routine.
BENCHMARK(BM_ViewingFlow)->ArgsProduct({{0, 1}, {0, 1}})->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();

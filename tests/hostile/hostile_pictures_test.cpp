// Hostile pictures given to the program: a thumbnail that would make its
// decoder work or hold memory without bound ends with one message naming the
// limit it reached, within a thumbnailer's budgets of 5 s of CPU time and
// 256 MiB of memory.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support.h"
#include "testkit.h"

namespace
{

using testing_support::ProcessResult;

const bool budgets_apply = !testing_support::sanitized;

std::string big_endian16(size_t value)
{
    return {static_cast<char>(value >> 8 & 0xFF), static_cast<char>(value & 0xFF)};
}

// A progressive picture whose last scan, a refinement of every coefficient,
// comes again and again, up to libjpeg's cap of 1000 scans.
std::string repeated_scans()
{
    const uint32_t side = 2048;
    std::string jpeg = testkit::encode_jpeg(side, side, 1, std::string(side * side, '\x80'), true);
    size_t last_scan = jpeg.rfind("\xFF\xDA");
    std::string scan = jpeg.substr(last_scan, jpeg.size() - 2 - last_scan);
    std::string hostile = jpeg.substr(0, jpeg.size() - 2);
    for (int i = 0; i < 990; ++i)
        hostile += scan;
    return hostile + "\xFF\xD9";
}

// A small picture behind hundreds of 64 KiB metadata segments: more than the
// metadata budget, less than the member limit.
std::string metadata_segments()
{
    std::string jpeg = testkit::encode_jpeg(16, 16, 3, std::string(16 * 16 * 3, '\x40'), false);
    std::string segment = "\xFF\xE1" + big_endian16(65535) + std::string(65533, 'x');
    std::string segments;
    for (int i = 0; i < 400; ++i)
        segments += segment;
    return jpeg.insert(2, segments);
}

// A progressive CMYK picture of 10 million pixels: 80 MiB of coefficients.
std::string coefficients_beyond_memory()
{
    const uint32_t width = 4096, height = 2560;
    return testkit::encode_jpeg(width, height, 4, testkit::noise(size_t{width} * height * 4), true, 50);
}

struct Hostile {
    const char *name;
    std::string (*make)();
    const char *problem;
};

const Hostile hostile_pictures[] = {
    {"scans", repeated_scans,
     "its thumbnail (2048 x 2048 pixels) was not decoded: it takes more work than the limit of 300 million "
     "pixel scans"},
    {"metadata", metadata_segments, "its thumbnail carries more metadata than the limit of 16 MiB"},
    {"memory", coefficients_beyond_memory,
     "its thumbnail (4096 x 2560 pixels) was not decoded: it needs more memory than the limit of 64 MiB"},
};

TEST(HostilePictures, EachBudgetReachedEndsInTimeWithAMessageNamingIt)
{
    testing_support::TempDir dir;
    for (const Hostile &hostile : hostile_pictures) {
        testing_support::Member thumbnail;
        thumbnail.name = "Thumbnails/thumbnail.png";
        thumbnail.data = hostile.make();
        const std::string path = dir.file(std::string(hostile.name) + ".odt");
        testing_support::write_archive(path, "zip", {thumbnail});
        thumbnail.data.clear();
        testing_support::ProcessOptions options;
        options.timeout_seconds = 120;
        ProcessResult result = testing_support::run_quillpeek({path}, options);
        EXPECT_EQ(result.exit_code, 1) << hostile.name;
        EXPECT_EQ(result.err, "quillpeek: " + path + ": " + hostile.problem + "\n");
        ::testing::Test::RecordProperty(std::string("cpu_ms_") + hostile.name,
                                        std::to_string(static_cast<long>(result.cpu_seconds * 1000)));
        ::testing::Test::RecordProperty(std::string("peak_rss_kib_") + hostile.name,
                                        std::to_string(result.peak_rss_kib));
        if (budgets_apply) {
            EXPECT_LT(result.cpu_seconds, 5.0) << hostile.name;
            EXPECT_LT(result.peak_rss_kib, 256 * 1024) << hostile.name;
        }
    }
}

} // namespace

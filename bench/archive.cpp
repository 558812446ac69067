// XAD_file_unpacker + XAD_file_grosse together, as the viewing flow runs
// them, on (a) a corpus document, (b) a 1 GiB zip whose thumbnail is its last
// member, (c) the largest real document, (d) a zip of 100,000 small members
// whose thumbnail is the last, (e) the same as the simplest zip writers
// make it (stored, no extra fields, names parts/000001.xml on).
//
// "First" runs make the library forget its remembered listing before each
// iteration (a fresh process); "Again" runs keep it (the same document
// viewed again). The generated archives are made once into
// $TMPDIR/quillpeek-bench (or /tmp) and reused.
#include <archive.h>
#include <archive_entry.h>
#include <benchmark/benchmark.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <vector>

#include "archive/archive.h"
#include "flow/libraries.h"
#include "platform/control.h"
#include "testkit.h"

namespace
{

std::string cache_dir()
{
    const char *tmp = std::getenv("TMPDIR");
    std::string dir = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/quillpeek-bench";
    mkdir(dir.c_str(), 0700);
    return dir;
}

using testkit::noise;

void add(struct archive *a, const std::string &name, const std::string &data, int copies = 1)
{
    struct archive_entry *entry = archive_entry_new();
    archive_entry_set_pathname(entry, name.c_str());
    archive_entry_set_filetype(entry, AE_IFREG);
    archive_entry_set_perm(entry, 0644);
    archive_entry_set_size(entry, static_cast<la_int64_t>(data.size()) * copies);
    if (archive_write_header(a, entry) != ARCHIVE_OK)
        throw std::runtime_error(archive_error_string(a));
    for (int i = 0; i < copies; ++i)
        archive_write_data(a, data.data(), data.size());
    archive_entry_free(entry);
}

// Writes the archive once (under a temporary name, renamed when complete).
template <typename Fill> std::string made_once(const std::string &name, bool stored, Fill fill)
{
    std::string path = cache_dir() + "/" + name;
    struct stat st;
    if (stat(path.c_str(), &st) == 0)
        return path;
    std::string partial = path + ".part";
    struct archive *a = archive_write_new();
    archive_write_set_format_zip(a);
    if (stored)
        archive_write_set_option(a, "zip", "compression", "store");
    if (archive_write_open_filename(a, partial.c_str()) != ARCHIVE_OK)
        throw std::runtime_error(archive_error_string(a));
    fill(a);
    archive_write_close(a);
    archive_write_free(a);
    std::rename(partial.c_str(), path.c_str());
    sleep(2); // let the new file settle, as any document on disk has
    return path;
}

const std::string thumbnail = std::string("\x89PNG\r\n\x1a\n", 8) + noise(20000);

std::string big_zip()
{
    return made_once("big-1gib.zip", true, [](struct archive *a) {
        std::string block = noise(16u << 20);
        for (int i = 0; i < 64; ++i)
            add(a, "media/part" + std::to_string(i) + ".bin", block);
        add(a, "Thumbnails/thumbnail.png", thumbnail);
    });
}

std::string many_zip()
{
    return made_once("members-100000.zip", false, [](struct archive *a) {
        char name[64];
        for (int i = 1; i < 100000; ++i) {
            std::snprintf(name, sizeof name, "content/part%06d.xml", i);
            add(a, name, "<p>" + std::to_string(i) + "</p>");
        }
        add(a, "Thumbnails/thumbnail.png", thumbnail);
    });
}

void put_le(std::string &out, uint64_t value, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        out.push_back(static_cast<char>(value >> (8 * i)));
}

// A zip of stored members with no extra fields, as the simplest writers
// make them (libarchive's adds time and owner fields to every header).
std::string plain_zip(const std::vector<std::pair<std::string, std::string>> &members)
{
    std::string zip, directory;
    for (const auto &[name, data] : members) {
        uint32_t crc = testkit::crc32(data);
        std::string fields;
        put_le(fields, 20, 2); // version needed
        put_le(fields, 0, 2);  // flags
        put_le(fields, 0, 2);  // stored
        put_le(fields, 0, 4);  // time and date
        put_le(fields, crc, 4);
        put_le(fields, data.size(), 4);
        put_le(fields, data.size(), 4);
        put_le(fields, name.size(), 2);
        put_le(fields, 0, 2); // extra field
        std::string central = "PK\1\2";
        put_le(central, 0x031E, 2); // made by: Unix
        central += fields;
        put_le(central, 0, 2);              // comment
        put_le(central, 0, 4);              // disk, internal attributes
        put_le(central, 0100644u << 16, 4); // a regular file
        put_le(central, zip.size(), 4);     // its local header
        directory += central + name;
        zip += "PK\3\4" + fields + name + data;
    }
    std::string end = "PK\5\6";
    put_le(end, 0, 4);
    put_le(end, members.size(), 2);
    put_le(end, members.size(), 2);
    put_le(end, directory.size(), 4);
    put_le(end, zip.size(), 4);
    put_le(end, 0, 2);
    return zip + directory + end;
}

// 100,000 members of a few bytes named parts/000001.xml on, the thumbnail
// (not a picture that decodes) the last.
std::string parts_zip()
{
    std::string path = cache_dir() + "/parts-100000.zip";
    struct stat st;
    if (stat(path.c_str(), &st) == 0)
        return path;
    std::vector<std::pair<std::string, std::string>> members;
    char name[64];
    for (int i = 1; i < 100000; ++i) {
        std::snprintf(name, sizeof name, "parts/%06d.xml", i);
        members.emplace_back(name, "<p>" + std::to_string(i) + "</p>");
    }
    members.emplace_back("Thumbnails/thumbnail.png", thumbnail);
    std::string partial = path + ".part";
    FILE *file = std::fopen(partial.c_str(), "wb");
    std::string zip = plain_zip(members);
    if (file == nullptr || std::fwrite(zip.data(), 1, zip.size(), file) != zip.size() ||
        std::fclose(file) != 0)
        throw std::runtime_error("cannot write " + partial);
    std::rename(partial.c_str(), path.c_str());
    sleep(2); // let the new file settle, as any document on disk has
    return path;
}

std::string corpus_document()
{
    return std::string(QUILLPEEK_SOURCE_DIR) + "/tests/data/corpus/writer.odt";
}

std::string largest_real_document()
{
    return std::string(QUILLPEEK_SHARED_DIR) + "/realcorpus/odftoolkit__Presentation3.odp";
}

void run(benchmark::State &state, const std::string &path, bool first)
{
    for (auto _ : state) {
        if (first)
            platform_forget_archive_listings();
        void *block = XAD_file_unpacker(path.c_str(), "thumbnail.png");
        uint32_t size = XAD_file_grosse(path.c_str(), "thumbnail.png");
        if (block == nullptr || size == 0) {
            state.SkipWithError(("no thumbnail in " + path).c_str());
            break;
        }
        benchmark::DoNotOptimize(block);
        FreeVec(block);
    }
}

void register_all()
{
    struct Case {
        const char *name;
        std::string (*path)();
    };
    const Case cases[] = {{"a_corpus_document", corpus_document},
                          {"b_zip_1GiB_thumbnail_last", big_zip},
                          {"c_Presentation3_2012_members", largest_real_document},
                          {"d_zip_100000_members_thumbnail_last", many_zip},
                          {"e_zip_100000_plain_parts_thumbnail_last", parts_zip}};
    for (bool first : {true, false})
        for (const Case &c : cases) {
            std::string path = c.path();
            std::string name = std::string(first ? "First/" : "Again/") + c.name;
            benchmark::RegisterBenchmark(name.c_str(), [path, first](benchmark::State &s) {
                run(s, path, first);
            })->Unit(benchmark::kMillisecond);
        }
}

} // namespace

int main(int argc, char **argv)
{
    register_all();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

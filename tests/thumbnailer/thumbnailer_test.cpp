// quillpeek-thumbnailer as file managers run it: documents in, small RGBA
// PNGs out, or one message and no output at all.
#include <gtest/gtest.h>

#include <spng.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstdio>
#include <filesystem>
#include <string>
#include <tuple>
#include <vector>

#include "archive/archive.h"
#include "flow/libraries.h"
#include "metafiles.h"
#include "support.h"

namespace
{

using namespace testing_support;

const long ceiling_kib = testing_support::memory_ceiling_kib(64 * 1024);

struct Png {
    uint32_t width = 0, height = 0;
    uint8_t depth = 0, colour_type = 0;
    std::vector<uint8_t> rgba;
};

Png decode_png(const std::string &bytes)
{
    Png png;
    spng_ctx *context = spng_ctx_new(0);
    spng_set_png_buffer(context, bytes.data(), bytes.size());
    struct spng_ihdr header;
    size_t size = 0;
    if (spng_get_ihdr(context, &header) == 0 &&
        spng_decoded_image_size(context, SPNG_FMT_RGBA8, &size) == 0) {
        png = {header.width, header.height, header.bit_depth, header.color_type, std::vector<uint8_t>(size)};
        if (spng_decode_image(context, png.rgba.data(), size, SPNG_FMT_RGBA8, 0) != 0)
            png.rgba.clear();
    }
    spng_ctx_free(context);
    return png;
}

// A JPEG of width x height in one colour.
std::string encode_jpeg(uint32_t width, uint32_t height, uint8_t r, uint8_t g, uint8_t b)
{
    std::string samples;
    for (size_t i = 0; i < size_t(width) * height; ++i)
        samples += {char(r), char(g), char(b)};
    return testkit::encode_jpeg(width, height, 3, samples, false);
}

// A root relationships part naming target as the package's preview.
Member rels_naming(const std::string &target)
{
    return regular("_rels/.rels",
                   "<?xml version=\"1.0\"?>\n<Relationships xmlns=\"http://schemas.openxmlformats.org/"
                   "package/2006/relationships\"><Relationship Id=\"rId1\" Type=\"http://schemas."
                   "openxmlformats.org/package/2006/relationships/metadata/thumbnail\" Target=\"" +
                       target + "\"/></Relationships>");
}

std::string picture_png(uint32_t width, uint32_t height, std::vector<uint32_t> argb = {})
{
    return testing_support::encode_png(width, height,
                                       argb.empty() ? testing_support::test_pattern(width, height) : argb);
}

// Sets the uncompressed size that every local header and central directory
// record claims.
void claim_size(std::string &zip, uint32_t size)
{
    for (const char *signature : {"PK\x03\x04", "PK\x01\x02"})
        for (size_t at = zip.find(signature); at != std::string::npos; at = zip.find(signature, at + 4))
            for (int i = 0; i < 4; ++i)
                zip[at + (signature[2] == 3 ? 22 : 24) + i] = static_cast<char>(size >> (8 * i));
}

class Thumbnailer : public ::testing::Test
{
  protected:
    ProcessResult run(std::vector<std::string> arguments, const std::string &fail_alloc_after = "")
    {
        arguments.insert(arguments.begin(), QUILLPEEK_THUMBNAILER);
        ProcessOptions options;
        options.env["QUILLPEEK_FAIL_ALLOC_AFTER"] = fail_alloc_after;
        return testing_support::run_process(arguments, options);
    }
    // The thumbnail of document at size, checked to be a complete RGBA 8 PNG
    // alone in the output folder.
    Png thumbnail(const std::string &document, uint32_t size = 128)
    {
        ProcessResult result = run({"-s", std::to_string(size), document, output});
        EXPECT_EQ(result.exit_code, 0) << result.err;
        EXPECT_EQ(result.err, "");
        EXPECT_LT(result.peak_rss_kib, ceiling_kib);
        EXPECT_EQ(leftovers(), std::vector<std::string>{"thumb.png"});
        Png png = decode_png(testing_support::read_file(output));
        EXPECT_EQ(png.depth, 8);
        EXPECT_EQ(png.colour_type, SPNG_COLOR_TYPE_TRUECOLOR_ALPHA);
        std::filesystem::remove(output);
        return png;
    }
    // rc 1, one line naming the document (and words), nothing left behind.
    void expect_refused(const ProcessResult &result, const std::string &document,
                        const std::string &words = "")
    {
        EXPECT_EQ(result.exit_code, 1) << document;
        EXPECT_EQ(result.signal, 0);
        EXPECT_FALSE(result.timed_out);
        EXPECT_EQ(result.err.rfind("quillpeek-thumbnailer: " + document + ": ", 0), 0u) << result.err;
        EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 1) << result.err;
        EXPECT_NE(result.err.find(words), std::string::npos) << result.err;
        EXPECT_LT(result.peak_rss_kib, ceiling_kib) << document;
        EXPECT_EQ(leftovers(), std::vector<std::string>{}) << document;
    }
    std::vector<std::string> leftovers()
    {
        std::vector<std::string> names;
        for (const auto &entry : std::filesystem::directory_iterator(out.path()))
            names.push_back(entry.path().filename());
        return names;
    }
    std::string document(const std::string &name, const std::vector<Member> &members)
    {
        testing_support::write_archive(in.file(name), "zip", members);
        return in.file(name);
    }
    TempDir in, out;
    std::string output = out.file("thumb.png");
};

TEST_F(Thumbnailer, CorpusDocumentsFitTheSizeKeepingTheirAspectAndAreNeverEnlarged)
{
    for (const char *name : {"calc.ods", "draw.odg", "impress.odp", "pictures-40.odt", "writer.odt"}) {
        std::string path = testing_support::corpus_dir() + "/" + name;
        void *member = XAD_file_unpacker(path.c_str(), "thumbnail.png");
        ASSERT_NE(member, nullptr) << name;
        Png original = decode_png(
            std::string(static_cast<char *>(member), XAD_file_grosse(path.c_str(), "thumbnail.png")));
        FreeVec(member);
        ASSERT_GT(original.width, 128u) << name;
        Png small = thumbnail(path, 128);
        EXPECT_EQ(std::max(small.width, small.height), 128u) << name;
        EXPECT_NEAR(double(small.width) / small.height, double(original.width) / original.height, 2.0 / 128);
        Png large = thumbnail(path, 1024);
        EXPECT_EQ(std::tie(large.width, large.height, large.rgba),
                  std::tie(original.width, original.height, original.rgba))
            << name;
    }
}

// Confined first, the thumbnailer loads libarchive only for a document that
// needs it: any archive but a plain zip (the dynamic linker names each
// library it loads under LD_DEBUG=files).
TEST_F(Thumbnailer, ArchivesOtherThanAPlainZipAreReadWithLibarchiveLoadedOnceConfined)
{
    const struct {
        const char *format;
        bool needs_libarchive;
    } cases[] = {{"zip", false}, {"zip-stored", false}, {"7z", true}, {"tar.gz", true}, {"tar.xz", true}};
    for (const auto &c : cases) {
        std::string path = in.file(std::string("document.") + c.format);
        write_archive(path, c.format, {regular("Thumbnails/thumbnail.png", picture_png(256, 64))});
        ProcessOptions options;
        options.env["LD_DEBUG"] = "files";
        ProcessResult result = testing_support::run_process({QUILLPEEK_THUMBNAILER, path, output}, options);
        EXPECT_EQ(result.exit_code, 0) << c.format << result.err;
        EXPECT_EQ(result.err.find("file=libarchive.so.13") != std::string::npos, c.needs_libarchive)
            << c.format;
        Png png = decode_png(testing_support::read_file(output));
        EXPECT_EQ(std::tie(png.width, png.height), std::make_tuple(128u, 32u)) << c.format;
        std::filesystem::remove(output);
    }
}

TEST_F(Thumbnailer, ShrinkingKeepsTranslucentColoursAsTheyAre)
{
    Png tinted =
        thumbnail(document("translucent.odt",
                           {regular("Thumbnails/thumbnail.png",
                                    picture_png(300, 300, std::vector<uint32_t>(300 * 300, 0x80C04020u)))}),
                  100);
    ASSERT_EQ(tinted.rgba.size(), 100u * 100 * 4);
    for (size_t i = 0; i < tinted.rgba.size(); i += 4) {
        ASSERT_NEAR(tinted.rgba[i], 0xC0, 2) << "pixel " << i / 4;
        ASSERT_NEAR(tinted.rgba[i + 1], 0x40, 2);
        ASSERT_NEAR(tinted.rgba[i + 2], 0x20, 2);
        ASSERT_NEAR(tinted.rgba[i + 3], 0x80, 1);
    }
}

TEST_F(Thumbnailer, ShrinkingAveragesStripesRatherThanDroppingThem)
{
    std::vector<uint32_t> stripes(300 * 300);
    for (size_t i = 0; i < stripes.size(); ++i)
        stripes[i] = i % 2 == 0 ? 0xFF000000u : 0xFFFFFFFFu;
    Png grey = thumbnail(
        document("stripes.odt", {regular("Thumbnails/thumbnail.png", picture_png(300, 300, stripes))}), 100);
    ASSERT_EQ(grey.rgba.size(), 100u * 100 * 4);
    // Three columns to a pixel: one or two of them white, never none or all.
    double sum = 0;
    for (size_t i = 0; i < grey.rgba.size(); i += 4) {
        int red = grey.rgba[i];
        ASSERT_TRUE(std::abs(red - 85) <= 3 || std::abs(red - 170) <= 3) << "pixel " << i / 4 << ": " << red;
        sum += red;
    }
    EXPECT_NEAR(sum / (100 * 100), 127.5, 2);
}

TEST_F(Thumbnailer, OfficeOpenXmlPackagesGiveThePreviewTheirRelationshipsName)
{
    std::string jpeg = encode_jpeg(256, 192, 200, 30, 30);
    for (const char *target : {"docProps/thumbnail.jpeg", "/docProps/thumbnail.jpeg"}) {
        Png png = thumbnail(
            document("preview.docx", {regular("[Content_Types].xml", "<Types/>"), rels_naming(target),
                                      regular("docProps/thumbnail.jpeg", jpeg)}));
        EXPECT_EQ(std::tie(png.width, png.height), std::make_tuple(128u, 96u)) << target;
        ASSERT_FALSE(png.rgba.empty());
        EXPECT_NEAR(png.rgba[0], 200, 8);
    }
}

TEST_F(Thumbnailer, DocumentsWithoutAPictureEndWithOneMessageAndNoOutput)
{
    std::string claims = picture_png(40, 30); // made to claim 60000 x 60000
    claims.replace(16, 8, std::string("\0\0\xEA\x60\0\0\xEA\x60", 8));
    uint32_t crc = testing_support::crc32(claims.substr(12, 17));
    for (int i = 0; i < 4; ++i)
        claims[29 + i] = static_cast<char>(crc >> (24 - 8 * i));
    std::string wmf = std::string("\xD7\xCD\xC6\x9A") + std::string(60, '\0');
    std::string emf = std::string("\x01\0\0\0", 4) + std::string(36, '\0') + " EMF" + std::string(40, '\0');
    std::string writer = testing_support::read_file(testing_support::corpus_dir() + "/writer.odt");
    testing_support::write_file(in.file("cut.odt"), writer.substr(0, writer.size() / 2));
    testing_support::write_file(in.file("notes.txt"), "not an archive\n");
    // An Office Open XML document with a password: a compound file holding
    // the enciphered package.
    const char stream[] = "E\0n\0c\0r\0y\0p\0t\0e\0d\0P\0a\0c\0k\0a\0g\0e\0";
    testing_support::write_file(in.file("secret.docx"), std::string("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8) +
                                                            std::string(1528, '\0') +
                                                            std::string(stream, sizeof stream - 1));
    const std::string metafile = "its preview is a Windows metafile, which cannot be shown";
    std::vector<std::pair<std::string, std::string>> cases = {
        {in.file("missing.odt"), "No such file"},
        {in.path(), "directory"},
        {in.file("notes.txt"), "archive"},
        {in.file("secret.docx"), "is encrypted (the document is protected by a password)"},
        {in.file("cut.odt"), ""},
        {document("none.odt", {regular("content.xml", "<x/>")}), "thumbnail.png"},
        {document("text.odt", {regular("Thumbnails/thumbnail.png", "just some text\n")}), "thumbnail"},
        {document("claims.odt", {regular("Thumbnails/thumbnail.png", claims)}), "too large"},
        {document("huge.odt", {regular("Thumbnails/thumbnail.png", claims + std::string(300u << 20, '\0'))}),
         "larger than"},
        {document("wmf.xlsx",
                  {rels_naming("docProps/thumbnail.wmf"), regular("docProps/thumbnail.wmf", wmf)}),
         metafile},
        {document("emf.docx",
                  {rels_naming("docProps/thumbnail.emf"), regular("docProps/thumbnail.emf", emf)}),
         metafile},
        {document("named.xlsx", {rels_naming("docProps/t.wmf"), regular("docProps/t.wmf", "garbage")}),
         metafile},
        {document("dangling.pptx", {rels_naming("docProps/thumbnail.jpeg")}), "docProps/thumbnail.jpeg"},
        {document("plain.docx", {regular("_rels/.rels", "<Relationships/>")}), "thumbnail.png"},
    };
    for (const auto &[path, words] : cases)
        expect_refused(run({"-s", "128", path, output}), path, words);
}

// A document whose preview cannot be shown, or that has none, gets the
// sketch of its first page: a white page of its proportions with its text.
TEST_F(Thumbnailer, DocumentsWithoutAPreviewThatCanBeShownGetTheirSketch)
{
    const std::string wmf = std::string("\xD7\xCD\xC6\x9A") + std::string(60, '\0');
    const std::string text = "<office:document-content xmlns:office=\"urn:oasis:names:tc:opendocument:xmlns:"
                             "office:1.0\" xmlns:text=\"urn:oasis:names:tc:opendocument:xmlns:text:1.0\">"
                             "<office:body><office:text><text:h text:outline-level=\"1\">Minutes</text:h>"
                             "<text:p>Of the meeting held on Monday.</text:p></office:text></office:body>"
                             "</office:document-content>";
    const std::string word = "<w:document xmlns:w=\"http://schemas.openxmlformats.org/wordprocessingml/2006/"
                             "main\"><w:body><w:p><w:r><w:t>Minutes of the meeting</w:t></w:r></w:p></w:body>"
                             "</w:document>";
    Member word_rels =
        regular("_rels/.rels",
                "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
                "<Relationship Id=\"rId1\" Type=\"http://schemas.openxmlformats.org/officeDocument/2006/"
                "relationships/officeDocument\" Target=\"word/document.xml\"/><Relationship Id=\"rId2\" "
                "Type=\"http://schemas.openxmlformats.org/package/2006/relationships/metadata/thumbnail\" "
                "Target=\"docProps/thumbnail.wmf\"/></Relationships>");
    for (const std::string &path :
         {document("plain.odt", {regular("mimetype", "application/vnd.oasis.opendocument.text"),
                                 regular("content.xml", text)}),
          document("metafile.docx", {word_rels, regular("word/document.xml", word),
                                     regular("docProps/thumbnail.wmf", wmf)})}) {
        Png png = thumbnail(path, 512);
        EXPECT_EQ(std::tie(png.width, png.height), std::make_tuple(362u, 512u)) << path;
        size_t white = 0, dark = 0;
        for (size_t i = 0; i < png.rgba.size(); i += 4) {
            EXPECT_EQ(png.rgba[i + 3], 255) << "opaque";
            white += png.rgba[i] > 240;
            dark += png.rgba[i] < 128;
        }
        EXPECT_GT(white, png.rgba.size() / 4 * 9 / 10) << path;
        EXPECT_GT(dark, 20u) << path;
    }
}

// Without a font there is no sketch: one line says so, fontconfig's own
// complaints are not added to it.
TEST_F(Thumbnailer, NoFontEndsWithOneMessage)
{
    std::string path = document(
        "text.odt",
        {regular("content.xml", "<office:document-content xmlns:office=\"urn:oasis:names:tc:"
                                "opendocument:xmlns:office:1.0\" xmlns:text=\"urn:oasis:names:tc:"
                                "opendocument:xmlns:text:1.0\"><office:body><office:text><text:p>"
                                "Words</text:p></office:text></office:body></office:document-content>")});
    ProcessOptions options;
    options.env["FONTCONFIG_FILE"] = in.file("no-such-fonts.conf");
    ProcessResult result = testing_support::run_process({QUILLPEEK_THUMBNAILER, path, output}, options);
    expect_refused(result, path, "it cannot be sketched: no font can be found");
}

TEST_F(Thumbnailer, ThumbnailsWhoseDataOutgrowsOrBelieTheirHeadersAreCutOrRefused)
{
    std::string picture = picture_png(40, 30);
    for (uint32_t extra : {512u << 20, 0u}) {
        std::string path =
            document("bomb.odt", {regular("Thumbnails/thumbnail.png", picture + std::string(extra, '\0'))});
        for (uint32_t claimed : {static_cast<uint32_t>(picture.size()), 100u, 0xFFFFFFFFu}) {
            std::string zip = testing_support::read_file(path);
            claim_size(zip, claimed);
            testing_support::write_file(path, zip);
            ProcessResult result = run({path, output});
            EXPECT_LT(result.peak_rss_kib, ceiling_kib) << claimed;
            if (result.exit_code != 0)
                expect_refused(result, path);
            else
                EXPECT_EQ(decode_png(testing_support::read_file(output)).width, 40u);
            std::filesystem::remove(output);
        }
    }
}

// The PNG's header made to claim height rows, its checksum made to match.
std::string claim_height(std::string png, uint32_t height)
{
    for (int i = 0; i < 4; ++i)
        png[20 + i] = static_cast<char>(height >> (24 - 8 * i));
    uint32_t crc = 0xFFFFFFFFu;
    for (size_t at = 12; at < 29; ++at) { // the header's type and fields
        crc ^= static_cast<uint8_t>(png[at]);
        for (int bit = 0; bit < 8; ++bit)
            crc = crc >> 1 ^ (0xEDB88320u & (0u - (crc & 1)));
    }
    crc = ~crc;
    for (int i = 0; i < 4; ++i)
        png[29 + i] = static_cast<char>(crc >> (24 - 8 * i));
    return png;
}

// A header naming far more rows than the data holds costs memory only for
// the rows there are (the whole picture would be 64 MiB).
TEST_F(Thumbnailer, AHeaderNamingAHugePictureCostsOnlyTheRowsItsDataHolds)
{
    std::string path =
        document("tall.odt", {regular("Thumbnails/thumbnail.png", claim_height(picture_png(4000, 4), 4000))});
    ProcessResult result = run({path, output});
    expect_refused(result, path, "damaged");
#if !defined(__SANITIZE_ADDRESS__)
    EXPECT_LT(result.peak_rss_kib, 24 * 1024);
#endif
}

TEST_F(Thumbnailer, EveryFailedAllocationEndsWithAMessageOrAThumbnail)
{
    std::string writer = testing_support::corpus_dir() + "/writer.odt";
    for (int successes = 0; successes < 16; ++successes) {
        ProcessResult result = run({writer, output}, std::to_string(successes));
        if (result.exit_code != 0)
            expect_refused(result, writer);
        else
            EXPECT_EQ(leftovers(), std::vector<std::string>{"thumb.png"});
        std::filesystem::remove(output);
    }
}

TEST_F(Thumbnailer, WrongUseAndAnUnwritableOutputAreNamed)
{
    std::string writer = testing_support::corpus_dir() + "/writer.odt";
    for (const auto &arguments :
         std::vector<std::vector<std::string>>{{},
                                               {writer},
                                               {"-s", "0", writer, output},
                                               {"-s", "-5", writer, output},
                                               {"-s", "big", writer, output},
                                               {"-s", "4097", writer, output},
                                               {"-s", "18446744073709551617", writer, output},
                                               {"-s", " 5", writer, output},
                                               {"-s", "+5", writer, output},
                                               {"-s", "", writer, output},
                                               {"-s"}}) {
        ProcessResult result = run(arguments);
        EXPECT_EQ(result.exit_code, 1);
        EXPECT_NE(result.err.find("usage: quillpeek-thumbnailer [-s SIZE] INPUT OUTPUT"), std::string::npos);
        EXPECT_EQ(leftovers(), std::vector<std::string>{});
    }
    std::string nowhere = out.file("no/such/folder/t.png");
    ProcessResult result = run({writer, nowhere});
    EXPECT_EQ(result.exit_code, 1);
    EXPECT_EQ(result.err, "quillpeek-thumbnailer: " + nowhere + ": No such file or directory\n");
}

// OUTPUT and INPUT that are no plain file: a folder, a FIFO, a device are
// never written nor read; a symbolic link as OUTPUT is replaced, its
// target never written.
TEST_F(Thumbnailer, OutputsAndInputsThatAreNoPlainFileAreNeverWrittenNorReadThrough)
{
    std::string writer = testing_support::corpus_dir() + "/writer.odt";
    std::filesystem::create_directory(out.file("folder"));
    ASSERT_EQ(mkfifo(out.file("fifo").c_str(), 0644), 0);
    ASSERT_EQ(mkfifo(in.file("fifo").c_str(), 0644), 0);
    // A device of its own (as root, the thumbnailer replaced /dev/null).
    bool device = mknod(out.file("device").c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0;
    const struct {
        std::string input, output, words;
    } rows[] = {
        {writer, out.file("folder"), "is a folder"},
        {writer, out.file("folder") + "/", "names a folder"},
        {writer, out.file("fifo"), "is not a regular file"},
        {writer, out.file(device ? "device" : "fifo"), "is not a regular file"},
        {in.file("fifo"), output, "is not a regular file"},
        {in.path(), output, "is a directory"},
        {"/dev/zero", output, "is not a regular file"},
    };
    for (const auto &row : rows) {
        ProcessResult result = run({row.input, row.output});
        SCOPED_TRACE(row.input + " " + row.output);
        EXPECT_EQ(result.exit_code, 1);
        std::string named = row.input == writer ? row.output : row.input;
        EXPECT_EQ(result.err.rfind("quillpeek-thumbnailer: " + named + ": ", 0), 0u) << result.err;
        EXPECT_NE(result.err.find(row.words), std::string::npos) << result.err;
        std::vector<std::string> left = leftovers();
        std::sort(left.begin(), left.end());
        std::vector<std::string> expected = {"fifo", "folder"};
        if (device)
            expected.insert(expected.begin(), "device");
        EXPECT_EQ(left, expected);
    }
    std::string target = in.file("target.png");
    testing_support::write_file(target, "kept");
    ASSERT_EQ(symlink(target.c_str(), output.c_str()), 0);
    ProcessResult linked = run({writer, output});
    EXPECT_EQ(linked.exit_code, 0) << linked.err;
    EXPECT_EQ(testing_support::read_file(target), "kept");
    struct stat st;
    ASSERT_EQ(lstat(output.c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode)) << "the link itself is replaced by the thumbnail";
}

// A folder the thumbnailer may not write in: named, nothing left.
TEST_F(Thumbnailer, AnOutputFolderThatCannotBeWrittenIsNamed)
{
    std::string writer = in.file("writer.odt");
    std::filesystem::copy_file(testing_support::corpus_dir() + "/writer.odt", writer);
    chmod(in.path().c_str(), 0755);
    chmod(out.path().c_str(), 0555);
    ProcessOptions options;
    options.as_nobody = geteuid() == 0;
    ProcessResult result = testing_support::run_process({QUILLPEEK_THUMBNAILER, writer, output}, options);
    chmod(out.path().c_str(), 0700);
    if (result.exit_code == 126 || result.exit_code == 127)
        GTEST_SKIP() << "the thumbnailer cannot be run as an unprivileged user here";
    EXPECT_EQ(result.exit_code, 1);
    EXPECT_EQ(result.err, "quillpeek-thumbnailer: " + output + ": Permission denied\n");
    EXPECT_EQ(leftovers(), std::vector<std::string>{});
}

// Tumbler makes OUTPUT itself, holds it open and reads it through that.
TEST_F(Thumbnailer, ACallerHoldingItsOwnOutputFileOpenReadsTheThumbnailThroughIt)
{
    FILE *held = fopen(output.c_str(), "w+");
    ASSERT_NE(held, nullptr);
    EXPECT_EQ(run({testing_support::corpus_dir() + "/writer.odt", output}).exit_code, 0);
    std::string through_it(64 * 1024, '\0');
    rewind(held);
    through_it.resize(fread(&through_it[0], 1, through_it.size(), held));
    fclose(held);
    EXPECT_EQ(through_it, testing_support::read_file(output));
    EXPECT_EQ(decode_png(through_it).height, 128u);
}

// A former thumbnail is replaced by name; whoever still holds it keeps its
// bytes.
TEST_F(Thumbnailer, AFormerThumbnailIsReplacedAndNotRewritten)
{
    const std::string former = "a former thumbnail";
    FILE *held = fopen(output.c_str(), "w+");
    ASSERT_NE(held, nullptr);
    fputs(former.c_str(), held);
    fflush(held);
    EXPECT_EQ(run({testing_support::corpus_dir() + "/writer.odt", output}).exit_code, 0);
    std::string through_it(64 * 1024, '\0');
    rewind(held);
    through_it.resize(fread(&through_it[0], 1, through_it.size(), held));
    fclose(held);
    EXPECT_EQ(through_it, former);
    EXPECT_EQ(decode_png(testing_support::read_file(output)).height, 128u);
}

// Tumbler on a private bus, asked over D-Bus, runs our installed entry.
TEST_F(Thumbnailer, TumblerMakesThumbnailsWithTheInstalledEntry)
{
    if (access("/usr/bin/gdbus", X_OK) != 0 || access("/usr/bin/dbus-run-session", X_OK) != 0 ||
        testing_support::run_process({"/bin/sh", "-c", "ls /usr/lib/*/tumbler-1/tumblerd"}).exit_code != 0)
        GTEST_SKIP()
            << "Tumbler, gdbus or dbus-run-session is not installed (scripts/setup.sh installs them)";
    TempDir prefix;
    ProcessResult installed =
        testing_support::run_process({"cmake", "--install", QUILLPEEK_BUILD_DIR, "--prefix", prefix.path()});
    ASSERT_EQ(installed.exit_code, 0) << installed.err;
    std::string docx =
        document("preview.docx", {rels_naming("docProps/thumbnail.jpeg"),
                                  regular("docProps/thumbnail.jpeg", encode_jpeg(256, 192, 9, 99, 199))});
    // A text document without a preview gets its sketch, an A4 page.
    std::string sketched = document(
        "sketched.odt",
        {regular("mimetype", "application/vnd.oasis.opendocument.text"),
         regular("content.xml", "<office:document-content xmlns:office=\"urn:oasis:names:tc:opendocument:"
                                "xmlns:office:1.0\" xmlns:text=\"urn:oasis:names:tc:opendocument:xmlns:text:"
                                "1.0\"><office:body><office:text><text:p>Minutes of the meeting</text:p>"
                                "</office:text></office:body></office:document-content>")});
    for (const auto &[path, mime, size] :
         {std::make_tuple(testing_support::corpus_dir() + "/writer.odt",
                          std::string("application/vnd.oasis.opendocument.text"), std::string("91x128")),
          std::make_tuple(sketched, std::string("application/vnd.oasis.opendocument.text"),
                          std::string("91x128")),
          std::make_tuple(
              docx, std::string("application/vnd.openxmlformats-officedocument.wordprocessingml.document"),
              std::string("128x96"))}) {
        ProcessResult result = testing_support::run_process(
            {testing_support::source_dir() + "/scripts/tumbler-check", prefix.path(), path, mime});
        EXPECT_EQ(result.exit_code, 0) << result.err;
        EXPECT_NE(result.out.find("/thumbnails/normal/"), std::string::npos) << result.out;
        EXPECT_NE(result.out.find(".png " + size + "\n"), std::string::npos) << result.out;
    }
}

// A word processing document whose preview is the WMF given, and whose
// text is there for a sketch: an A4 page, 91 x 128 at size 128.
std::vector<Member> wmf_docx(const std::string &wmf)
{
    return {
        regular("_rels/.rels",
                "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
                "<Relationship Id=\"rId1\" Type=\"http://schemas.openxmlformats.org/officeDocument/2006/"
                "relationships/officeDocument\" Target=\"word/document.xml\"/><Relationship Id=\"rId2\" "
                "Type=\"http://schemas.openxmlformats.org/package/2006/relationships/metadata/thumbnail\" "
                "Target=\"docProps/thumbnail.wmf\"/></Relationships>"),
        regular("word/document.xml",
                "<w:document xmlns:w=\"http://schemas.openxmlformats.org/wordprocessingml/2006/main\">"
                "<w:body><w:p><w:r><w:t>Minutes of the meeting</w:t></w:r></w:p></w:body></w:document>"),
        regular("docProps/thumbnail.wmf", wmf)};
}

// The thumbnail at size 128 with the libraries the run loaded: the sketch
// is the one that loads fontconfig.
struct Drawn {
    Png png;
    bool libwmf = false, fontconfig = false;
};

Drawn drawn_with_libraries(const std::string &document, const std::string &output)
{
    ProcessOptions options;
    options.env["LD_DEBUG"] = "files";
    ProcessResult result = testing_support::run_process({QUILLPEEK_THUMBNAILER, document, output}, options);
    EXPECT_EQ(result.exit_code, 0) << document << result.err;
    EXPECT_EQ(result.signal, 0) << document;
    EXPECT_LT(result.peak_rss_kib, ceiling_kib) << document;
    std::string said;
    for (size_t at = 0, end; at < result.err.size(); at = end + 1) {
        end = std::min(result.err.find('\n', at), result.err.size());
        if (result.err.compare(at, 1, " ") != 0 && !isdigit(static_cast<unsigned char>(result.err[at])))
            said += result.err.substr(at, end - at);
    }
    EXPECT_EQ(said, "") << document;
    Drawn drawn = {decode_png(testing_support::read_file(output))};
    drawn.libwmf = result.err.find("file=libwmf-0.2.so.7") != std::string::npos;
    drawn.fontconfig = result.err.find("file=libfontconfig.so.1") != std::string::npos;
    std::filesystem::remove(output);
    return drawn;
}

// The pixel at (x, y) as 0xRRGGBB, and whether it is opaque.
uint32_t rgb_at(const Png &png, uint32_t x, uint32_t y)
{
    const uint8_t *p = &png.rgba[(size_t(y) * png.width + x) * 4];
    EXPECT_EQ(p[3], 255) << x << "," << y;
    return uint32_t(p[0]) << 16 | uint32_t(p[1]) << 8 | p[2];
}

TEST_F(Thumbnailer, WmfPreviewsAreDrawnOnWhiteInTheirOwnProportionsWithLibwmfLoadedForThemAlone)
{
    // An office suite's anisotropic window, its left half red.
    metafiles::Wmf office = metafiles::window(400, 200);
    metafiles::box(metafiles::solid_fill(office, 0xFF0000), 0, 0, 200, 200);
    Drawn halves = drawn_with_libraries(document("office.docx", wmf_docx(office.bytes())), output);
    ASSERT_EQ(std::tie(halves.png.width, halves.png.height), std::make_tuple(128u, 64u));
    EXPECT_TRUE(halves.libwmf && !halves.fontconfig);
    for (uint32_t y = 4; y < 60; y += 5) {
        for (uint32_t x = 4; x < 124; x += 5) {
            if (x < 60 || x > 68) {
                ASSERT_EQ(rgb_at(halves.png, x, y), x < 64 ? 0xFF0000u : 0xFFFFFFu) << x << "," << y;
            }
        }
    }
    // A placeable metafile without a window: the drawing is its own frame.
    metafiles::Wmf plain;
    metafiles::box(metafiles::solid_fill(plain, 0x0000FF), 0, 0, 300, 100);
    Drawn blue =
        drawn_with_libraries(document("plain.docx", wmf_docx(plain.placeable(0, 0, 300, 100))), output);
    ASSERT_EQ(std::tie(blue.png.width, blue.png.height), std::make_tuple(128u, 43u));
    EXPECT_EQ(rgb_at(blue.png, 64, 21), 0x0000FFu);
    // A PNG preview loads no metafile library.
    Drawn png =
        drawn_with_libraries(document("png.docx", {rels_naming("docProps/thumbnail.png"),
                                                   regular("docProps/thumbnail.png", picture_png(64, 32))}),
                             output);
    EXPECT_EQ(png.png.width, 64u);
    EXPECT_FALSE(png.libwmf || png.fontconfig);
}

// Metafiles the check refuses and metafiles whose drawing would cost
// without bound: each ends at once, far under the memory ceiling (and
// without a fault under the sanitizers), in the sketch; in a document with
// no text to sketch, with one message that says why it was not drawn.
TEST_F(Thumbnailer, HostileWmfPreviewsEndBoundedInTheSketch)
{
    using namespace metafiles;
    auto sized = [](std::string bytes, size_t at, uint32_t value) {
        for (int i = 0; i < 4; ++i)
            bytes[at + i] = char(value >> (8 * i));
        return bytes;
    };
    Wmf sound = window(100, 100);
    box(solid_fill(sound, 0x00FF00), 0, 0, 100, 100);
    Wmf million = window(100, 100);
    for (int i = 0; i < 1000000; ++i)
        million.record(save_dc, {});
    Wmf absurd = window(1, 1);
    box(solid_fill(absurd, 0xFF0000), -32000, -32000, 32000, 32000);
    Wmf pen = window(10, 10);
    pen.record(create_pen, {0, 30000, 30000, 0, 0}).record(select_object, {0}).record(line_to, {10, 10});
    Wmf text = window(10, 10);
    text.record(create_font, {30000, 0, 0, 0, 400, 0, 0, 0, 0, 0x7241, 0x6169, 0x006C})
        .record(select_object, {0})
        .record(ext_text_out, {0, 0, 1, 0, 'A'});
    Wmf overdrawn = window(10, 10);
    solid_fill(overdrawn, 0x0000FF);
    for (int i = 0; i < 60000; ++i)
        box(overdrawn, 0, 0, 10, 10);
    Wmf flood = window(10, 10);
    flood.record(flood_fill, {0, 0, 0, 5, 5});
    const std::string bytes = sound.bytes();
    const struct {
        const char *name;
        std::string wmf;
        const char *why;
    } cases[] = {
        {"truncated", bytes.substr(0, 40), "cut short"},
        {"record size 0", sized(bytes, 18, 0), "runs past"},
        {"record size huge", sized(bytes, 18, 0x40000000), "runs past"},
        {"largest record past the end", sized(bytes, 12, 0x40000000), "larger than the whole metafile"},
        {"a million records", million.bytes(), "more records than the limit of 65536"},
        {"absurd extents", absurd.bytes(), "more work than the limit of 64 Mi pixels"},
        {"a pen wider than the picture", pen.bytes(), "pens is wider than the picture"},
        {"a text larger than the picture", text.bytes(), "texts is larger than twice the picture"},
        {"sixty thousand pictures over each other", overdrawn.bytes(), "more work than the limit"},
        {"a flood fill", flood.bytes(), "flooding"},
    };
    for (const auto &c : cases) {
        Drawn sketch = drawn_with_libraries(document("hostile.docx", wmf_docx(c.wmf)), output);
        EXPECT_EQ(std::tie(sketch.png.width, sketch.png.height), std::make_tuple(91u, 128u)) << c.name;
        EXPECT_TRUE(sketch.fontconfig) << c.name;
        std::vector<Member> textless = wmf_docx(c.wmf);
        textless.erase(textless.begin() + 1);
        std::string path = document("textless.docx", textless);
        ProcessResult refused = run({path, output});
        expect_refused(refused, path, c.why);
        EXPECT_NE(refused.err.find("its preview is a Windows metafile, which cannot be shown ("),
                  std::string::npos);
    }
}

// The real documents whose preview is a WMF get it drawn: a sheet's grid,
// in the window's proportions; those whose preview is an EMF, the sketch.
TEST_F(Thumbnailer, RealWmfPreviewsAreDrawnAndEmfOnesSketched)
{
    REQUIRE_REALCORPUS();
    const struct {
        const char *name;
        double aspect; // of the metafile's window; 0 for an EMF
    } rows[] = {{"tika__testXLSX_Thumbnail.xlsx", 348.0 / 202},
                {"poi__60289.xlsx", 347.0 / 201},
                {"poi__54524.xlsx", 494.0 / 217},
                {"tika__testDOCX_Thumbnail.docx", 0},
                {"abiword-ts__Understanding-themes_final.docx", 0}};
    for (const auto &row : rows) {
        Drawn drawn = drawn_with_libraries(testing_support::realcorpus_dir() + "/" + row.name, output);
        EXPECT_EQ(drawn.fontconfig, row.aspect == 0) << row.name;
        if (row.aspect == 0)
            continue;
        EXPECT_EQ(drawn.png.width, 128u) << row.name;
        EXPECT_NEAR(drawn.png.height, 128 / row.aspect, 1.0) << row.name;
        size_t dark = 0, light = 0;
        for (size_t i = 0; i < drawn.png.rgba.size(); i += 4) {
            dark += drawn.png.rgba[i + 1] < 128;
            light += drawn.png.rgba[i + 1] > 200;
        }
        EXPECT_GT(dark, 20u) << row.name << ": the grid's figures and lines";
        EXPECT_GT(light, drawn.png.rgba.size() / 4 / 2) << row.name << ": mostly white cells";
    }
}

TEST_F(Thumbnailer, LoadsNoWindowSystemLibrary)
{
    ProcessResult result = testing_support::run_process({"/usr/bin/ldd", QUILLPEEK_THUMBNAILER});
    ASSERT_EQ(result.exit_code, 0) << result.err;
    for (const char *library : {"libSDL", "libX11", "libwayland", "libxcb"})
        EXPECT_EQ(result.out.find(library), std::string::npos) << library;
}

} // namespace

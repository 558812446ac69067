// The newer ways untrusted input comes in, met by both programs: the zip
// reader's records, an Office Open XML package's relationships, file: URIs
// and the template query's line. Each row ends with the picture shown (a
// thumbnail written) or one message naming the document, rc 1 and nothing
// written; never a crash.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "support.h"

namespace
{

using namespace testing_support;

const long ceiling_kib = testing_support::memory_ceiling_kib(128 * 1024);

// What a row must come to: shown, or a message holding words.
struct Outcome {
    bool shown;
    std::string words;
};
const Outcome shown{true, ""};
Outcome message(const std::string &words)
{
    return {false, words};
}

class HostileSurfaces : public ::testing::Test
{
  protected:
    // The viewer on document: shown and closed, or the one message.
    // named: the document as the message quotes it, when not as given.
    void expect_viewer(const std::string &document, const Outcome &outcome, const std::string &input = "",
                       const std::string &named = "")
    {
        ProcessOptions options;
        options.env["QUILLPEEK_CLOSE_WHEN_SHOWN"] = "1";
        options.env["SDL_VIDEODRIVER"] = "offscreen";
        options.input = input;
        options.timeout_seconds = 120;
        ProcessResult r = run_quillpeek({input.empty() ? document : "?"}, options);
        EXPECT_EQ(r.signal, 0) << document;
        EXPECT_LT(r.peak_rss_kib, ceiling_kib) << document;
        if (outcome.shown) {
            EXPECT_EQ(r.exit_code, 0) << document << ": " << r.err;
            return;
        }
        EXPECT_EQ(r.exit_code, 1) << document;
        EXPECT_EQ(r.err.rfind("quillpeek: " + (named.empty() ? document : named) + ": ", 0), 0u) << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
        EXPECT_NE(r.err.find(outcome.words), std::string::npos) << r.err;
    }

    // The thumbnailer on document: a thumbnail alone in its folder, or the
    // one message and nothing at all there.
    void expect_thumbnailer(const std::string &document, const Outcome &outcome)
    {
        ProcessResult r = run_process({QUILLPEEK_THUMBNAILER, document, output});
        EXPECT_EQ(r.signal, 0) << document;
        EXPECT_LT(r.peak_rss_kib, ceiling_kib) << document;
        std::vector<std::string> left;
        for (const auto &entry : std::filesystem::directory_iterator(out.path()))
            left.push_back(entry.path().filename());
        if (outcome.shown) {
            EXPECT_EQ(r.exit_code, 0) << document << ": " << r.err;
            EXPECT_EQ(left, std::vector<std::string>{"thumb.png"}) << document;
            std::filesystem::remove(output);
            return;
        }
        EXPECT_EQ(r.exit_code, 1) << document;
        EXPECT_EQ(r.err.rfind("quillpeek-thumbnailer: " + document + ": ", 0), 0u) << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
        EXPECT_NE(r.err.find(outcome.words), std::string::npos) << r.err;
        EXPECT_EQ(left, std::vector<std::string>{}) << document;
    }

    void expect_both(const std::string &document, const Outcome &outcome)
    {
        SCOPED_TRACE(document);
        expect_viewer(document, outcome);
        expect_thumbnailer(document, outcome);
    }

    TempDir in, out;
    std::string output = out.file("thumb.png");
};

std::string picture()
{
    return encode_png(8, 8, test_pattern(8, 8));
}

// Zips whose records lie (testkit::hostile_zips; the archive tests show the
// library's reader and libarchive agree on each). libarchive reads a member
// by its central record, so most still give the picture.
TEST_F(HostileSurfaces, ZipsWhoseRecordsLie)
{
    const std::string none = "has no member whose name contains";
    const std::string damaged = "its thumbnail"; // damaged data, or no picture
    const struct {
        const char *name;
        Outcome outcome;
    } rows[] = {
        {"plain.zip", shown},
        {"local-name.zip", message(none)},        // libarchive names it by its local header
        {"local-name-length.zip", message(none)}, //
        {"local-sizes.zip", message(damaged)},    // the local sizes are read
        {"local-method.zip", message(damaged)},   // stored data read as deflated
        {"local-encrypted.zip", message("encrypted")},
        {"local-descriptor.zip", shown},
        {"overlapping-members.zip", shown},      // the picture and trailing bytes
        {"sizes-lie-into-next.zip", shown},      //
        {"sizes-lie-into-directory.zip", shown}, //
        {"sizes-lie-short.zip", message("")},    // half a PNG
        {"stored-sizes-differ.zip", shown},      // the lie is b's
        {"offset-past-end.zip", message(none)},
        {"zip64-huge.zip", shown}, // the local header's sizes
        {"directory-repeated.zip", shown},
        {"directory-cut.zip", message("cannot be read as an archive")},
        {"directory-short-count.zip", shown},
    };
    std::vector<testkit::HostileZip> zips = testkit::hostile_zips(picture());
    ASSERT_EQ(zips.size(), std::size(rows));
    for (size_t i = 0; i < zips.size(); ++i) {
        ASSERT_EQ(zips[i].name, rows[i].name);
        std::string path = in.file(zips[i].name);
        write_file(path, zips[i].bytes);
        expect_both(path, rows[i].outcome);
    }
}

const char *const thumbnail_type =
    "http://schemas.openxmlformats.org/package/2006/relationships/metadata/thumbnail";

// A relationship of the preview's type: its attributes after Type.
std::string relationship(const std::string &attributes)
{
    return "<Relationship Id=\"r\" Type=\"" + std::string(thumbnail_type) + "\" " + attributes + "/>";
}

std::string relationships(const std::string &elements)
{
    return "<?xml version=\"1.0\"?>\n<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/"
           "relationships\">" +
           elements + "</Relationships>";
}

std::string repeated(const std::string &text, size_t times)
{
    std::string all;
    for (size_t i = 0; i < times; ++i)
        all += text;
    return all;
}

TEST_F(HostileSurfaces, RelationshipsThatLeadAnywhere)
{
    const std::string outside = "its preview is named outside the document";
    const std::string escaping = "leads outside the package";
    const std::string no_part = "names no picture part";
    std::string deep;
    for (int i = 0; i < 5000; ++i)
        deep = "<x>" + deep + "</x>";
    deep.insert(deep.size() / 2, relationship("Target=\"docProps/preview.png\""));
    const struct {
        const char *name;
        std::string rels;
        Outcome outcome;
    } rows[] = {
        {"plain", relationships(relationship("Target=\"docProps/preview.png\"")), shown},
        {"dots", relationships(relationship("Target=\"./docProps/../docProps/preview.png\"")), shown},
        {"absolute", relationships(relationship("Target=\"/docProps/preview.png\"")), shown},
        {"absolute-elsewhere", relationships(relationship("Target=\"/etc/passwd\"")),
         message("has no member whose name contains \"etc/passwd\"")},
        {"escaping", relationships(relationship("Target=\"../docProps/preview.png\"")), message(escaping)},
        {"escaping-deep", relationships(relationship("Target=\"docProps/../../../etc/passwd\"")),
         message(escaping)},
        {"url", relationships(relationship("Target=\"http://example.com/thumbnail.png\"")), message(outside)},
        {"file-url", relationships(relationship("Target=\"file:///etc/passwd\"")), message(outside)},
        {"network-path", relationships(relationship("Target=\"//server/share/t.png\"")), message(outside)},
        {"external", relationships(relationship("Target=\"docProps/preview.png\" TargetMode=\"External\"")),
         message(outside)},
        {"itself", relationships(relationship("Target=\"/_rels/.rels\"")), message(no_part)},
        {"another-rels", relationships(relationship("Target=\"docProps/_rels/x.rels\"")), message(no_part)},
        {"folder", relationships(relationship("Target=\"docProps/\"")), message(no_part)},
        {"fragment", relationships(relationship("Target=\"docProps/preview.png#a\"")), message(no_part)},
        {"empty", relationships(relationship("Target=\"\"")), message(no_part)},
        {"entities", relationships(relationship("Target=\"docProps/pr&#101;view.png\"")), shown},
        // Several: the first that can be followed.
        {"several",
         relationships(relationship("Target=\"http://x/t.png\"") + relationship("Target=\"/x/../y/\"") +
                       relationship("Target=\"docProps/preview.png\"")),
         shown},
        {"several-refused",
         relationships(relationship("Target=\"../t.png\"") + relationship("Target=\"http://x/t.png\"")),
         message(escaping)},
        {"nested-deep", relationships(deep), shown},
        // Nearly 1 MiB of elements that end only with the last: each was
        // read to that end, minutes of work.
        {"unended",
         relationships(repeated("<Relationship ", 74000) + relationship("Target=\"docProps/preview.png\"")),
         shown},
        {"many-mb",
         relationships(std::string(3u << 20, ' ') + relationship("Target=\"docProps/preview.png\"")),
         message("larger than 1 MiB")},
    };
    std::string types =
        "<?xml version=\"1.0\"?><Types><Default Extension=\"png\" ContentType=\"text/plain\"/>"
        "<Override PartName=\"/docProps/preview.png\" ContentType=\"image/jpeg\"/></Types>";
    for (const auto &row : rows) {
        std::string path = in.file(std::string(row.name) + ".docx");
        // docProps/preview.png: no "thumbnail.png", which the viewer looks for first.
        write_archive(path, "zip",
                      {regular("[Content_Types].xml", types), regular("_rels/.rels", row.rels),
                       regular("docProps/preview.png", picture())});
        expect_both(path, row.outcome);
    }
}

} // namespace

namespace
{

// file: URIs (the viewer's; file managers give the thumbnailer paths).
TEST_F(HostileSurfaces, FileUrisThatNameNoFileOrAnOddOne)
{
    std::string odd = in.file("\xff\xfe.odt"); // a name that is not UTF-8
    write_archive(odd, "zip", {regular("Thumbnails/thumbnail.png", picture())});
    std::string folder = "file://" + in.path();
    const std::string escaped = "escapes a NUL or a slash";
    const std::string query = "with a query or fragment";
    const struct {
        std::string uri;
        Outcome outcome;
        std::string named = "";
    } rows[] = {
        {folder + "/%FF%FE.odt", shown},
        // Named by its path, quoted as the shell would write it.
        {folder + "/%FF%FD.odt", message("No such file"), "'" + in.path() + "/'$'\\377\\375''.odt'"},
        {folder + "/%00.odt", message(escaped)},
        {folder + "%2F%FF%FE.odt", message(escaped)},
        {folder + "/%FF%FE.odt?x=1", message(query)},
        {folder + "/%FF%FE.odt#page", message(query)},
        {"file://elsewhere" + in.path() + "/%FF%FE.odt", message("of another computer")},
        {"file://localhost" + in.path() + "/%FF%FE.odt", shown},
        {"file://" + std::string(100000, 'h') + "/a.odt", message("of another computer")},
    };
    for (const auto &row : rows)
        expect_viewer(row.uri, row.outcome, "", row.named);
}

} // namespace

namespace
{

// The template query's line, from standard input.
TEST(TemplateQuery, LinesOfAnyShapeGiveTheDocumentOrOneMessage)
{
    std::string writer = corpus_dir() + "/writer.odt";
    const std::string asked = "DOCUMENTPATH/A: ", none = "There was no file specified!\n";
    const struct {
        const char *what;
        std::string input;
        int code;
        std::string out, err;
    } rows[] = {
        {"no newline at its end", writer, 0, asked, ""},
        {"empty", "", 1, asked + none, ""},
        {"megabytes", std::string(3u << 20, 'a') + "\n" + writer + "\n", 1, asked + none,
         "quillpeek: the line given is longer than 64 KiB\n"},
        {"a NUL", writer + std::string(1, '\0') + "x\n", 1, asked + none,
         "quillpeek: the line given holds a NUL byte, which no argument can\n"},
        {"not UTF-8", "\xff\xfe.odt\n", 1, asked,
         "quillpeek: ''$'\\377\\376''.odt': No such file or directory\n"},
    };
    for (const auto &row : rows) {
        ProcessOptions options;
        options.env["QUILLPEEK_CLOSE_WHEN_SHOWN"] = "1";
        options.env["SDL_VIDEODRIVER"] = "offscreen";
        options.input = row.input;
        ProcessResult r = run_quillpeek({"?"}, options);
        EXPECT_EQ(r.exit_code, row.code) << row.what << ": " << r.err;
        EXPECT_EQ(r.out, row.out) << row.what;
        EXPECT_EQ(r.err, row.err) << row.what;
    }
}

} // namespace

// The document readers (sketch/readers/) on documents written here: each
// format's page, the refusals, and hostile parts each ended by a budget.
#include <gtest/gtest.h>
#include <zlib.h>

#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <functional>

#include "platform/limits.h"
#include "platform_fixture.h"
#include "sketch/readers/readers.h"
#include "sketch/readers/readers_intern.h"
#include "support.h"

using testing_support::Member;
using testing_support::regular;
using testing_support::TempDir;
using testing_support::write_archive;
namespace limits = platform::limits;

namespace
{

// --- OpenDocument and 1.x parts ---

const char *const odf_names =
    " xmlns:office=\"urn:oasis:names:tc:opendocument:xmlns:office:1.0\""
    " xmlns:text=\"urn:oasis:names:tc:opendocument:xmlns:text:1.0\""
    " xmlns:table=\"urn:oasis:names:tc:opendocument:xmlns:table:1.0\""
    " xmlns:draw=\"urn:oasis:names:tc:opendocument:xmlns:drawing:1.0\""
    " xmlns:style=\"urn:oasis:names:tc:opendocument:xmlns:style:1.0\""
    " xmlns:fo=\"urn:oasis:names:tc:opendocument:xmlns:xsl-fo-compatible:1.0\""
    " xmlns:presentation=\"urn:oasis:names:tc:opendocument:xmlns:presentation:1.0\"";
const char *const old_names = " xmlns:office=\"http://openoffice.org/2000/office\""
                              " xmlns:text=\"http://openoffice.org/2000/text\""
                              " xmlns:style=\"http://openoffice.org/2000/style\""
                              " xmlns:fo=\"http://www.w3.org/1999/XSL/Format\"";

std::string content(const std::string &inside, const std::string &names = odf_names,
                    const std::string &prologue = "")
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>" + prologue + "<office:document-content" + names +
           " office:class=\"text\">" + inside + "</office:document-content>";
}

std::string body(const std::string &kind, const std::string &inside)
{
    return "<office:body><office:" + kind + ">" + inside + "</office:" + kind + "></office:body>";
}

std::string styles(const std::string &width, const std::string &height)
{
    return std::string("<office:document-styles") + odf_names +
           "><office:automatic-styles><style:page-layout style:name=\"pm1\"><style:page-layout-properties"
           " fo:page-width=\"" +
           width + "\" fo:page-height=\"" + height +
           "\"/></style:page-layout></office:automatic-styles><office:master-styles><style:master-page"
           " style:name=\"Standard\" style:page-layout-name=\"pm1\"/></office:master-styles>"
           "</office:document-styles>";
}

std::vector<Member> odf(const std::string &mimetype, const std::string &content_xml,
                        const std::string &styles_xml = "")
{
    std::vector<Member> members = {regular("mimetype", mimetype), regular("content.xml", content_xml)};
    if (!styles_xml.empty())
        members.push_back(regular("styles.xml", styles_xml));
    members.push_back(regular("Object 1/content.xml", content(body("text", "<text:p>embedded</text:p>"))));
    return members;
}

// --- Office Open XML parts ---

const char *const rel_ns = "http://schemas.openxmlformats.org/officeDocument/2006/relationships";

std::string relationships(const std::vector<std::array<std::string, 3>> &rows)
{
    std::string xml =
        "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">";
    for (const auto &row : rows)
        xml += "<Relationship Id=\"" + row[0] + "\" Type=\"" + rel_ns + "/" + row[1] + "\" Target=\"" +
               row[2] + "\"" + (row[1] == "external" ? " TargetMode=\"External\"" : "") + "/>";
    return xml + "</Relationships>";
}

std::vector<Member> ooxml(const std::string &main, const std::string &main_xml,
                          const std::vector<std::array<std::string, 3>> &main_rels,
                          const std::vector<Member> &others)
{
    std::vector<Member> members = {
        regular("[Content_Types].xml", "<Types xmlns=\"http://schemas.openxmlformats.org/package/2006/"
                                       "content-types\"/>"),
        regular("_rels/.rels", relationships({{"rId1", "officeDocument", main}})), regular(main, main_xml),
        regular(sketch_readers::relationships_of(main), relationships(main_rels))};
    members.insert(members.end(), others.begin(), others.end());
    return members;
}

const char *const w_ns = " xmlns:w=\"http://schemas.openxmlformats.org/wordprocessingml/2006/main\"";

std::string word(const std::string &body_xml)
{
    return std::string("<w:document") + w_ns + "><w:body>" + body_xml + "</w:body></w:document>";
}

std::string sheet_ns()
{
    return std::string(" xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\" xmlns:r=\"") +
           rel_ns + "\"";
}

std::string worksheet(const std::string &rows)
{
    return "<worksheet" + sheet_ns() + "><sheetData>" + rows + "</sheetData></worksheet>";
}

const char *const p_ns = " xmlns:p=\"http://schemas.openxmlformats.org/presentationml/2006/main\""
                         " xmlns:a=\"http://schemas.openxmlformats.org/drawingml/2006/main\""
                         " xmlns:r=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships\"";

std::string shape(const std::string &placeholder, const std::string &paragraphs)
{
    return "<p:sp><p:nvSpPr><p:nvPr>" + placeholder + "</p:nvPr></p:nvSpPr><p:txBody>" + paragraphs +
           "</p:txBody></p:sp>";
}

std::string a_p(const std::string &text)
{
    return "<a:p><a:r><a:t>" + text + "</a:t></a:r></a:p>";
}

std::vector<Member> pptx(const std::string &slide_xml, const std::string &target = "slides/slide1.xml")
{
    return ooxml("ppt/presentation.xml",
                 std::string("<p:presentation") + p_ns +
                     "><p:sldIdLst><p:sldId id=\"256\" r:id=\"rId2\"/></p:sldIdLst>"
                     "<p:sldSz cx=\"12192000\" cy=\"6858000\"/></p:presentation>",
                 {{"rId2", "slide", target}},
                 {regular("ppt/slides/slide1.xml", std::string("<p:sld") + p_ns + "><p:cSld><p:spTree>" +
                                                       slide_xml + "</p:spTree></p:cSld></p:sld>")});
}

// --- What a page must hold ---

struct Expected {
    SketchKind kind;
    double width_mm, height_mm;
    std::vector<std::pair<int, std::string>> blocks; // level, text: the page's blocks exactly
    std::vector<std::array<std::string, 3>> cells;   // row, column, text: exactly
    bool cut;
};

struct DocumentCase {
    const char *name;
    std::vector<Member> members;
    Expected expected;
};

void PrintTo(const DocumentCase &row, std::ostream *out)
{
    *out << row.name;
}

std::vector<DocumentCase> documents()
{
    return {
        {"text.odt",
         odf("application/vnd.oasis.opendocument.text",
             content(
                 "<office:automatic-styles><style:style style:name=\"P1\" style:family=\"paragraph\">"
                 "<style:text-properties fo:font-weight=\"bold\"/></style:style></office:automatic-styles>" +
                 body("text",
                      "<text:sequence-decls><text:sequence-decl text:name=\"x\"/></text:sequence-decls>"
                      "<text:h text:outline-level=\"2\">Quarterly  Report</text:h>"
                      "<text:p text:style-name=\"P1\">Bold<text:s text:c=\"4\"/>lead</text:p>"
                      "<text:p>one<text:tab/>two <office:annotation><text:p>no</text:p>"
                      "</office:annotation>three<text:note><text:note-body><text:p>foot</text:p>"
                      "</text:note-body></text:note></text:p>"
                      "<text:tracked-changes><text:p>deleted</text:p></text:tracked-changes>"
                      "<text:list><text:list-item><text:p>item</text:p></text:list-item></text:list>"
                      "<text:p/><text:p>before<text:line-break/>after</text:p>"
                      "<text:soft-page-break/><text:p>second page</text:p>")),
             styles("8.5in", "11in")),
         {SKETCH_TEXT,
          215.9,
          279.4,
          {{2, "Quarterly Report"},
           {0, "Bold lead"},
           {0, "one two three"},
           {0, "\xE2\x80\xA2 item"},
           {0, ""},
           {0, "before"},
           {0, "after"}},
          {},
          true}},
        {"sheet.ods",
         odf("application/vnd.oasis.opendocument.spreadsheet",
             content(body(
                 "spreadsheet",
                 "<table:table table:name=\"One\"><table:table-column table:number-columns-repeated=\"9\"/>"
                 "<table:table-row><table:table-cell><text:p>Name</text:p></table:table-cell>"
                 "<table:table-cell office:value=\"42\"/><table:table-cell "
                 "table:number-columns-repeated=\"2\"><text:p>x</text:p></table:table-cell>"
                 "</table:table-row><table:table-row table:number-rows-repeated=\"2\">"
                 "<table:table-cell table:number-columns-repeated=\"1000\"/><table:table-cell>"
                 "<text:p>far</text:p></table:table-cell></table:table-row>"
                 "<table:table-row><table:covered-table-cell/><table:table-cell><text:p>a</text:p>"
                 "<text:p>b</text:p></table:table-cell></table:table-row></table:table>"
                 "<table:table table:name=\"Two\"><table:table-row><table:table-cell><text:p>other"
                 "</text:p></table:table-cell></table:table-row></table:table>"))),
         {SKETCH_SHEET,
          210,
          297,
          {},
          {{"0", "0", "Name"}, {"0", "1", "42"}, {"0", "2", "x"}, {"0", "3", "x"}, {"3", "1", "a b"}},
          false}},
        {"slides.odp",
         odf("application/vnd.oasis.opendocument.presentation",
             content(body(
                 "presentation",
                 "<draw:page><draw:frame presentation:class=\"title\"><draw:text-box><text:p>Deck</text:p>"
                 "</draw:text-box></draw:frame><draw:frame presentation:class=\"outline\"><draw:text-box>"
                 "<text:list><text:list-item><text:p>point</text:p></text:list-item></text:list>"
                 "</draw:text-box></draw:frame><presentation:notes><draw:frame><draw:text-box><text:p>"
                 "notes</text:p></draw:text-box></draw:frame></presentation:notes></draw:page>"
                 "<draw:page><draw:frame><draw:text-box><text:p>slide two</text:p></draw:text-box>"
                 "</draw:frame></draw:page>")),
             styles("28cm", "15.75cm")),
         {SKETCH_SLIDE, 280, 157.5, {{1, "Deck"}, {0, "\xE2\x80\xA2 point"}}, {}, false}},
        {"drawing.odg",
         odf("application/vnd.oasis.opendocument.graphics",
             content(body("drawing", "<draw:page><draw:custom-shape><text:p>Box</text:p></draw:custom-shape>"
                                     "</draw:page>"))),
         {SKETCH_DRAWING, 210, 297, {{0, "Box"}}, {}, false}},
        {"writer.sxw",
         {regular("mimetype", "application/vnd.sun.xml.writer"),
          regular(
              "content.xml",
              content("<office:body><text:h text:level=\"1\">Old heading</text:h><text:p>Old text</text:p>"
                      "</office:body>",
                      old_names,
                      "<!DOCTYPE office:document-content PUBLIC \"-//OpenOffice.org//DTD OfficeDocument "
                      "1.0//EN\" \"office.dtd\">")),
          regular("styles.xml",
                  std::string("<office:document-styles") + old_names +
                      "><office:automatic-styles><style:page-master style:name=\"pm1\"><style:properties "
                      "fo:page-width=\"20.999cm\" fo:page-height=\"297mm\"/></style:page-master>"
                      "</office:automatic-styles><office:master-styles><style:master-page "
                      "style:name=\"Standard\" "
                      "style:page-master-name=\"pm1\"/></office:master-styles></office:document-styles>")},
         {SKETCH_TEXT, 209.99, 297, {{1, "Old heading"}, {0, "Old text"}}, {}, false}},
        {"letter.docx",
         ooxml(
             "word/document.xml",
             word("<w:p><w:pPr><w:pStyle w:val=\"berschrift1\"/></w:pPr><w:r><w:t>Docx "
                  "heading</w:t></w:r></w:p>"
                  "<w:p><w:r><w:rPr><w:b/></w:rPr><w:t xml:space=\"preserve\">All "
                  "</w:t></w:r><w:r><w:rPr><w:b/>"
                  "</w:rPr><w:t>bold</w:t></w:r></w:p>"
                  "<w:p><w:r><w:t>one</w:t><w:tab/><w:t>two</w:t><w:br/><w:t>next</w:t><w:instrText>PAGE"
                  "</w:instrText></w:r><w:del><w:r><w:delText>gone</w:delText></w:r></w:del></w:p>"
                  "<w:p><w:pPr><w:pStyle w:val=\"Heading3\"/></w:pPr><w:r><w:t>Plain id</w:t></w:r></w:p>"
                  "<w:p><w:r><w:lastRenderedPageBreak/><w:t>page two</w:t></w:r></w:p>"
                  "<w:sectPr><w:pgSz w:w=\"12240\" w:h=\"15840\"/></w:sectPr>"),
             {{"rId1", "styles", "styles.xml"}},
             {regular(
                 "word/styles.xml",
                 std::string("<w:styles") + w_ns +
                     "><w:style w:type=\"paragraph\" w:styleId=\"berschrift1\"><w:name w:val=\"heading 1\"/>"
                     "</w:style></w:styles>")}),
         {SKETCH_TEXT,
          215.9,
          279.4,
          {{1, "Docx heading"}, {0, "All bold"}, {0, "one two"}, {0, "next"}, {3, "Plain id"}},
          {},
          true}},
        {"book.xlsx",
         ooxml(
             "xl/workbook.xml",
             "<workbook" + sheet_ns() +
                 "><sheets><sheet name=\"Hidden\" sheetId=\"1\" state=\"hidden\" r:id=\"rId1\"/><sheet "
                 "name=\"Shown\" sheetId=\"2\" r:id=\"rId2\"/></sheets></workbook>",
             {{"rId1", "worksheet", "worksheets/sheet1.xml"},
              {"rId2", "worksheet", "/xl/worksheets/./sheet2.xml"},
              {"rId3", "sharedStrings", "sharedStrings.xml"}},
             {regular("xl/worksheets/sheet1.xml", worksheet("<row r=\"1\"><c r=\"A1\"><v>9</v></c></row>")),
              regular(
                  "xl/worksheets/sheet2.xml",
                  worksheet("<row r=\"1\"><c r=\"A1\" t=\"s\"><v>0</v></c><c r=\"B1\"><v>3.50</v></c></row>"
                            "<row r=\"3\"><c r=\"C3\" t=\"inlineStr\"><is><t>inline</t></is></c><c t=\"s\">"
                            "<v>2</v></c><c r=\"E3\" t=\"b\"><v>1</v></c><c r=\"F3\" t=\"s\"><v>1</v></c>"
                            "</row><row r=\"61\"><c r=\"A61\"><v>1</v></c></row>")),
              regular(
                  "xl/sharedStrings.xml",
                  "<sst" + sheet_ns() +
                      "><si><t>Hello</t></si><si><r><t>Rich</t></r><r><t xml:space=\"preserve\"> text</t>"
                      "</r><rPh><t>reading</t></rPh></si><si><t>Wor_x006C_d</t></si><si><t>unused</t></si></"
                      "sst>")}),
         {SKETCH_SHEET,
          210,
          297,
          {},
          {{"0", "0", "Hello"},
           {"0", "1", "3.5"},
           {"2", "2", "inline"},
           {"2", "3", "World"},
           {"2", "4", "TRUE"},
           {"2", "5", "Rich text"}},
          true}},
        {"deck.pptx",
         pptx(shape("<p:ph type=\"ctrTitle\"/>", a_p("Deck title")) +
              shape("<p:ph type=\"subTitle\"/>", a_p("Sub")) +
              shape("",
                    a_p("one") + "<a:p><a:r><a:t>two</a:t></a:r><a:br/><a:r><a:t>three</a:t></a:r></a:p>")),
         {SKETCH_SLIDE,
          338.67,
          190.5,
          {{1, "Deck title"}, {2, "Sub"}, {0, "one"}, {0, "two"}, {0, "three"}},
          {},
          false}},
    };
}

class SketchReaders : public PlatformTest
{
  protected:
    TempDir dir_;

    // The document written with these members, read.
    const char *read(const std::string &name, const std::vector<Member> &members, SketchPage *page)
    {
        std::string path = dir_.file(name);
        write_archive(path, "zip", members);
        return sketch_read_document(path.c_str(), page);
    }
};

class SketchDocuments : public SketchReaders, public ::testing::WithParamInterface<DocumentCase>
{
};

TEST_P(SketchDocuments, GiveTheirFirstPage)
{
    const DocumentCase &row = GetParam();
    SketchPage page;
    const char *problem = read(row.name, row.members, &page);
    ASSERT_EQ(problem, nullptr) << problem;
    EXPECT_EQ(page.kind, row.expected.kind);
    EXPECT_NEAR(page.width_mm, row.expected.width_mm, 0.05);
    EXPECT_NEAR(page.height_mm, row.expected.height_mm, 0.05);
    std::vector<std::pair<int, std::string>> blocks;
    for (const SketchBlock &block : page.blocks)
        blocks.push_back({block.level, block.text});
    EXPECT_EQ(blocks, row.expected.blocks);
    std::vector<std::array<std::string, 3>> cells;
    for (const SketchCell &cell : page.cells)
        cells.push_back({std::to_string(cell.row), std::to_string(cell.column), cell.text});
    EXPECT_EQ(cells, row.expected.cells);
    EXPECT_EQ(page.cut, row.expected.cut);
}

INSTANTIATE_TEST_SUITE_P(Formats, SketchDocuments, ::testing::ValuesIn(documents()),
                         [](const ::testing::TestParamInfo<DocumentCase> &info) {
                             std::string name = info.param.name;
                             for (char &c : name)
                                 c = isalnum(static_cast<unsigned char>(c)) ? c : '_';
                             return name;
                         });

// A page filled before its section's properties: the first section's size
// still holds, found after the reading stopped.
TEST_F(SketchReaders, AFirstSectionSizedAfterAFullPageKeepsItsSize)
{
    std::string words;
    for (int i = 0; i < 1000; ++i)
        words += "word" + std::to_string(i) + " ";
    SketchPage page;
    ASSERT_EQ(read("long.docx",
                   ooxml("word/document.xml",
                         word("<w:p><w:r><w:t>" + words +
                              "</w:t></w:r></w:p><w:p><w:pPr><w:sectPr><w:pgSz "
                              "w:w=\"16838\" w:h=\"11906\" w:orient=\"landscape\"/></w:sectPr></w:pPr></w:p>"
                              "<w:sectPr><w:pgSz w:w=\"11906\" w:h=\"16838\"/></w:sectPr>"),
                         {}, {}),
                   &page),
              nullptr);
    EXPECT_TRUE(page.cut);
    EXPECT_NEAR(page.width_mm, 297.0, 0.1);
    EXPECT_NEAR(page.height_mm, 210.0, 0.1);
}

// The page size is read from styles.xml's automatic styles on, found in
// its bytes; a part laid out otherwise still gives it.
TEST_F(SketchReaders, APageSizeIsFoundInStylesLaidOutAnyWay)
{
    const std::string page = "<o:automatic-styles><s:page-layout s:name=\"L\"><s:page-layout-properties"
                             " fo:page-width=\"297mm\" fo:page-height=\"210mm\"/></s:page-layout>"
                             "</o:automatic-styles><o:master-styles><s:master-page s:name=\"M\""
                             " s:page-layout-name=\"L\"/></o:master-styles>";
    const std::string names = " xmlns:o=\"urn:oasis:names:tc:opendocument:xmlns:office:1.0\""
                              " xmlns:s=\"urn:oasis:names:tc:opendocument:xmlns:style:1.0\""
                              " xmlns:fo=\"urn:oasis:names:tc:opendocument:xmlns:xsl-fo-compatible:1.0\"";
    const struct {
        const char *name;
        std::string styles;
    } cases[] = {
        {"other prefixes", "<o:document-styles" + names + ">" + page + "</o:document-styles>"},
        {"a '>' in the root's values",
         "<?xml version=\"1.0\"?><!-- x --><o:document-styles o:version=\"a>b\"" + names + ">" + page +
             "</o:document-styles>"},
        {"the name in a comment before", "<o:document-styles" + names +
                                             "><o:styles><!-- <o:automatic-styles> --></o:styles>" + page +
                                             "</o:document-styles>"},
        {"namespaces declared below the root",
         "<o:document-styles xmlns:o=\"urn:oasis:names:tc:opendocument:xmlns:office:1.0\"><o:x" + names +
             ">" + page + "</o:x></o:document-styles>"},
    };
    for (const auto &c : cases) {
        SketchPage sketch;
        ASSERT_EQ(read("styled.odt",
                       odf("application/vnd.oasis.opendocument.text",
                           content(body("text", "<text:p>words</text:p>")), c.styles),
                       &sketch),
                  nullptr)
            << c.name;
        EXPECT_NEAR(sketch.width_mm, 297.0, 0.1) << c.name;
        EXPECT_NEAR(sketch.height_mm, 210.0, 0.1) << c.name;
    }
}

// A sheet's cells are read from its body on, the automatic styles before
// it stepped over unparsed: what only looks like the body's start there is
// stepped over too, and the part's declared encoding still holds.
TEST_F(SketchReaders, ASheetsBodyIsFoundPastWhatLooksLikeIt)
{
    const std::string table = "<table:table><table:table-row><table:table-cell><text:p>caf\xE9</text:p>"
                              "</table:table-cell></table:table-row></table:table>";
    const std::string latin1 = "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>";
    const struct {
        const char *name;
        std::string before_body;
    } cases[] = {
        {"a comment", "<!-- <office:body> -->"},
        {"a CDATA section", "<style:style><![CDATA[ <office:body> ]]></style:style>"},
        {"a processing instruction", "<?x <office:body>?>"},
        {"a longer name, and a '>' in a value", "<office:bodyx style:name=\"a>b\"/>"},
        {"nothing", ""},
    };
    for (const auto &c : cases) {
        std::string xml = latin1 + "<office:document-content" + odf_names + "><office:automatic-styles>" +
                          c.before_body + "</office:automatic-styles>" + body("spreadsheet", table) +
                          "</office:document-content>";
        SketchPage page;
        ASSERT_EQ(read("sheet.ods", odf("application/vnd.oasis.opendocument.spreadsheet", xml), &page),
                  nullptr)
            << c.name;
        ASSERT_EQ(page.cells.size(), 1u) << c.name;
        EXPECT_EQ(page.cells[0].text, "caf\xC3\xA9") << c.name;
    }
}

TEST_F(SketchReaders, BoldFromTheStylesAndRuns)
{
    SketchPage page;
    ASSERT_EQ(read("bold.docx", documents()[5].members, &page), nullptr);
    ASSERT_GE(page.blocks.size(), 3u);
    EXPECT_TRUE(page.blocks[1].bold);
    EXPECT_FALSE(page.blocks[2].bold);
    ASSERT_EQ(read("bold.odt", documents()[0].members, &page), nullptr);
    EXPECT_TRUE(page.blocks[1].bold);
    EXPECT_FALSE(page.blocks[2].bold);
}

// --- Refusals ---

struct Refusal {
    const char *name;
    std::function<void(const std::string &)> write;
    const char *problem;
};

std::string compound_file()
{
    std::string file("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8);
    file.resize(1536, '\0');
    const char name[] = "E\0n\0c\0r\0y\0p\0t\0e\0d\0P\0a\0c\0k\0a\0g\0e\0";
    return file + std::string(name, sizeof name - 1) + std::string(512, '\0');
}

TEST_F(SketchReaders, RefuseWhatHoldsNoPage)
{
    auto zip = [](std::vector<Member> members) {
        return [members](const std::string &path) { write_archive(path, "zip", members); };
    };
    const std::string manifest = "<manifest:manifest xmlns:manifest=\"urn:oasis:names:tc:opendocument:xmlns:"
                                 "manifest:1.0\"><manifest:file-entry manifest:full-path=\"content.xml\">"
                                 "<manifest:encryption-data/></manifest:file-entry></manifest:manifest>";
    const Refusal rows[] = {
        {"plain text", [](const std::string &p) { testing_support::write_file(p, "just text\n"); },
         "cannot be read as an archive"},
        {"encrypted OOXML", [](const std::string &p) { testing_support::write_file(p, compound_file()); },
         "is encrypted (the document is protected by a password)"},
        {"a zip of nothing", zip({regular("readme.txt", "hello")}), "is not a document that can be sketched"},
        {"no text",
         zip(odf("application/vnd.oasis.opendocument.text", content(body("text", "<text:p> </text:p>")))),
         "holds no text to sketch"},
        {"empty slide", zip(pptx(shape("", "<a:p/>"))), "holds no text to sketch"},
        {"enciphered content",
         zip({regular("mimetype", "application/vnd.oasis.opendocument.text"),
              regular("content.xml", std::string("\x8f\x01\xfe garbage", 11)),
              regular("META-INF/manifest.xml", manifest)}),
         "is encrypted (the document is protected by a password)"},
        {"damaged content", zip({regular("content.xml", "\x01\x02 not xml")}),
         "is damaged: its content.xml cannot be read as XML"},
        {"main part missing",
         zip({regular("_rels/.rels", relationships({{"rId1", "officeDocument", "word/document.xml"}}))}),
         "is damaged: its part word/document.xml is missing"},
        {"main part outside the package",
         zip({regular("_rels/.rels", relationships({{"rId1", "officeDocument", "../word/document.xml"}})),
              regular("word/document.xml", word("<w:p><w:r><w:t>x</w:t></w:r></w:p>"))}),
         "is not a document that can be sketched"},
        {"slide outside the package", zip(pptx(shape("", a_p("x")), "../../slides/slide1.xml")),
         "holds no text to sketch"},
        {"slide elsewhere", zip(pptx(shape("", a_p("x")), "file:///etc/passwd")), "holds no text to sketch"},
    };
    for (const Refusal &row : rows) {
        std::string path = dir_.file("refused");
        row.write(path);
        SketchPage page;
        page.blocks.push_back({});
        const char *problem = sketch_read_document(path.c_str(), &page);
        EXPECT_STREQ(problem, row.problem) << row.name;
        EXPECT_TRUE(page.blocks.empty() && page.cells.empty()) << row.name;
        unlink(path.c_str());
    }
}

TEST(SketchTargets, ResolveWithinThePackage)
{
    const char *const rows[][3] = {
        {"word/document.xml", "styles.xml", "word/styles.xml"},
        {"word/document.xml", "/word/styles.xml", "word/styles.xml"},
        {"ppt/presentation.xml", "slides/./slide1.xml", "ppt/slides/slide1.xml"},
        {"xl/workbook.xml", "../xl/worksheets/sheet%201.xml", "xl/worksheets/sheet 1.xml"},
        {"xl/workbook.xml", "sheet.xml#frag", "xl/sheet.xml"},
        {"", "word/document.xml", "word/document.xml"},
        {"word/document.xml", "../../etc/passwd", ""},
        {"", "../document.xml", ""},
        {"word/document.xml", "http://example.com/x.xml", ""},
        {"word/document.xml", "file:///etc/passwd", ""},
        {"word/document.xml", "//server/share/x.xml", ""},
        {"word/document.xml", "a%00b", ""},
        {"word/document.xml", "%zz", ""},
        {"word/document.xml", "", ""},
    };
    for (const auto &row : rows)
        EXPECT_EQ(sketch_readers::resolve_target(row[0], row[1]), row[2]) << row[0] << " + " << row[1];
    EXPECT_EQ(sketch_readers::resolve_target("word/document.xml", std::string("a.p\0ng", 6)), "");
}

// --- Hostile parts ---

// A zip of deflated members written with zlib, each given as a prefix, a
// unit repeated count times and a suffix, so that a member of hundreds of
// megabytes takes a few hundred kilobytes and is never held whole.
class ZipWriter
{
  public:
    void add(const std::string &name, const std::string &prefix, const std::string &unit, uint64_t count,
             const std::string &suffix)
    {
        z_stream z = {};
        deflateInit2(&z, 1, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
        std::string data;
        uLong crc = crc32(0, nullptr, 0);
        uint64_t size = 0;
        std::string chunk;
        uint64_t per_chunk = unit.empty() ? 1 : std::max<uint64_t>(1, (1 << 20) / unit.size());
        for (uint64_t i = 0; i < per_chunk && !unit.empty(); ++i)
            chunk += unit;
        auto feed = [&](const std::string &bytes, int flush) {
            crc = crc32(crc, reinterpret_cast<const Bytef *>(bytes.data()), static_cast<uInt>(bytes.size()));
            size += bytes.size();
            z.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(bytes.data()));
            z.avail_in = static_cast<uInt>(bytes.size());
            char out[1 << 16];
            do {
                z.next_out = reinterpret_cast<Bytef *>(out);
                z.avail_out = sizeof out;
                deflate(&z, flush);
                data.append(out, sizeof out - z.avail_out);
            } while (z.avail_out == 0);
        };
        feed(prefix, Z_NO_FLUSH);
        for (uint64_t left = unit.empty() ? 0 : count; left > 0; left -= std::min(left, per_chunk))
            feed(left >= per_chunk ? chunk : chunk.substr(0, left * unit.size()), Z_NO_FLUSH);
        feed(suffix, Z_FINISH);
        deflateEnd(&z);
        record(name, data, static_cast<uint32_t>(crc), static_cast<uint32_t>(size));
    }

    std::string finish() const
    {
        std::string end;
        put(end, 0x06054b50, 4);
        put(end, 0, 4);
        put(end, count_, 2);
        put(end, count_, 2);
        put(end, central_.size(), 4);
        put(end, file_.size(), 4);
        put(end, 0, 2);
        return file_ + central_ + end;
    }

  private:
    static void put(std::string &to, uint64_t value, int bytes)
    {
        for (int i = 0; i < bytes; ++i)
            to.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
    }

    void record(const std::string &name, const std::string &data, uint32_t crc, uint32_t size)
    {
        uint64_t offset = file_.size();
        for (bool central : {false, true}) {
            std::string &to = central ? central_ : file_;
            put(to, central ? 0x02014b50 : 0x04034b50, 4);
            if (central)
                put(to, 20, 2);
            put(to, 20, 2);
            put(to, 0, 2);
            put(to, 8, 2);
            put(to, 0, 4);
            put(to, crc, 4);
            put(to, data.size(), 4);
            put(to, size, 4);
            put(to, name.size(), 2);
            put(to, 0, 2);
            if (central) {
                put(to, 0, 2);
                put(to, 0, 2);
                put(to, 0, 2);
                put(to, 0, 4);
                put(to, offset, 4);
            }
            to += name;
        }
        file_ += data;
        count_++;
    }

    std::string file_, central_;
    uint64_t count_ = 0;
};

struct Hostile {
    const char *name;
    std::string prefix;
    std::string unit;
    uint64_t count;
    std::string suffix;
    const char *problem; // null: a page, cut, holding first
    const char *first;
};

// Whether text is UTF-8 throughout: a cut never splits a character.
bool valid_utf8(const std::string &text)
{
    for (size_t i = 0; i < text.size();) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        size_t length = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
        if (length == 0 || i + length > text.size())
            return false;
        for (size_t k = 1; k < length; ++k)
            if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80)
                return false;
        i += length;
    }
    return true;
}

std::string bomb()
{
    std::string doctype = "<!DOCTYPE office:document-content [<!ENTITY l0 \"lollollollollol\">";
    for (int i = 1; i < 12; ++i)
        doctype += "<!ENTITY l" + std::to_string(i) + " \"" + [&] {
            std::string refs;
            for (int j = 0; j < 10; ++j)
                refs += "&l" + std::to_string(i - 1) + ";";
            return refs;
        }() + "\">";
    return doctype + "]>";
}

TEST_F(SketchReaders, HostilePartsEndWithinTheirBudgets)
{
    std::string secret = dir_.file("secret.txt");
    testing_support::write_file(secret, "SECRET-MARKER");
    const std::string open_text = content(body("text", "@")).substr(0, content(body("text", "@")).find('@'));
    const std::string close_text =
        content(body("text", "@")).substr(content(body("text", "@")).find('@') + 1);
    const Hostile rows[] = {
        {"entity bomb", "", "", 0,
         content(body("text", "<text:p>before</text:p><text:p>&l11;</text:p><text:p>after</text:p>"),
                 odf_names, bomb()),
         "is damaged: its content.xml cannot be read as XML", nullptr},
        {"external entity", "", "", 0,
         content(body("text", "<text:p>seen &ext;</text:p>"), odf_names,
                 "<!DOCTYPE office:document-content [<!ENTITY ext SYSTEM \"file://" + secret + "\">]>"),
         nullptr, "seen"},
        {"one text run of 300 MB", open_text + "<text:p>", "a", 300u << 20, "</text:p>" + close_text, nullptr,
         "aaaa"},
        {"a long run of CJK and Arabic", open_text + "<text:p>", "\xE6\xBC\xA2\xD8\xB9", 100000,
         "</text:p>" + close_text, nullptr, "\xE6\xBC\xA2\xD8\xB9"},
        {"millions of empty paragraphs", open_text + "<text:h>Top</text:h>", "<text:p/>", 3000000,
         "<text:p>late</text:p>" + close_text, nullptr, "Top"},
        {"nesting 200,000 deep", open_text + "<text:p>start</text:p><text:section>", "", 0,
         [] {
             std::string deep;
             for (int i = 0; i < 200000; ++i)
                 deep += "<text:span>";
             return deep + "deep";
         }(),
         nullptr, "start"},
        {"empty paragraphs only", open_text, "<text:p/>", 1000000, "<text:p>late</text:p>" + close_text,
         "holds no text to sketch", nullptr},
        {"rows and columns repeated", "", "", 0,
         content(body("spreadsheet",
                      "<table:table><table:table-row table:number-rows-repeated=\"2000000000\">"
                      "<table:table-cell table:number-columns-repeated=\"2000000000\"><text:p>r"
                      "</text:p></table:table-cell></table:table-row></table:table>")),
         nullptr, nullptr},
    };
    for (const Hostile &row : rows) {
        ZipWriter zip;
        zip.add("content.xml", row.prefix, row.unit, row.count, row.suffix);
        std::string path = dir_.file("hostile.odt");
        testing_support::write_file(path, zip.finish());
        SketchPage page;
        const char *problem = sketch_read_document(path.c_str(), &page);
        if (row.problem != nullptr) {
            EXPECT_STREQ(problem, row.problem) << row.name;
            continue;
        }
        ASSERT_EQ(problem, nullptr) << row.name << ": " << problem;
        size_t text = 0;
        for (const SketchBlock &block : page.blocks) {
            text += block.text.size();
            EXPECT_EQ(block.text.find("SECRET"), std::string::npos) << row.name;
            EXPECT_TRUE(valid_utf8(block.text)) << row.name;
            EXPECT_EQ(block.text.find("lollol"), std::string::npos) << row.name;
        }
        for (const SketchCell &cell : page.cells) {
            text += cell.text.size();
            EXPECT_LT(cell.row, limits::sketch_sheet_rows);
            EXPECT_LT(cell.column, limits::sketch_sheet_columns);
        }
        EXPECT_LE(text, limits::sketch_text_bytes) << row.name;
        EXPECT_LE(page.blocks.size(), limits::sketch_blocks) << row.name;
        EXPECT_LE(page.cells.size(), size_t(limits::sketch_sheet_rows) * limits::sketch_sheet_columns)
            << row.name;
        if (row.first != nullptr) {
            ASSERT_FALSE(page.blocks.empty()) << row.name;
            EXPECT_EQ(page.blocks[0].text.compare(0, strlen(row.first), row.first), 0) << row.name;
        } else {
            EXPECT_EQ(page.cells.size(), size_t(limits::sketch_sheet_rows) * limits::sketch_sheet_columns);
        }
        EXPECT_TRUE(page.cut || (row.count == 0 && strstr(row.name, "nesting") == nullptr)) << row.name;
    }
}

} // namespace

// See office_documents.h.
#include "office_documents.h"

#include <stdexcept>

#include "support.h"

namespace office_documents
{
namespace
{

using testing_support::Member;
using testing_support::regular;

const char *const odf_namespaces =
    " xmlns:office=\"urn:oasis:names:tc:opendocument:xmlns:office:1.0\""
    " xmlns:text=\"urn:oasis:names:tc:opendocument:xmlns:text:1.0\""
    " xmlns:table=\"urn:oasis:names:tc:opendocument:xmlns:table:1.0\""
    " xmlns:draw=\"urn:oasis:names:tc:opendocument:xmlns:drawing:1.0\""
    " xmlns:presentation=\"urn:oasis:names:tc:opendocument:xmlns:presentation:1.0\""
    " xmlns:svg=\"urn:oasis:names:tc:opendocument:xmlns:svg-compatible:1.0\" office:version=\"1.3\"";

std::vector<Member> odf(const std::string &kind, const std::string &body)
{
    std::string mime = "application/vnd.oasis.opendocument." + kind;
    return {
        regular("mimetype", mime),
        regular("META-INF/manifest.xml",
                "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<manifest:manifest xmlns:manifest=\"urn:oasis:"
                "names:tc:opendocument:xmlns:manifest:1.0\"><manifest:file-entry manifest:full-path=\"/\" "
                "manifest:media-type=\"" +
                    mime +
                    "\"/><manifest:file-entry manifest:full-path=\"content.xml\" "
                    "manifest:media-type=\"text/xml\"/></manifest:manifest>"),
        regular("content.xml", std::string("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<office:document-"
                                           "content") +
                                   odf_namespaces + "><office:body>" + body +
                                   "</office:body></office:document-content>")};
}

std::vector<Member> odt(const Content &c)
{
    std::string body = "<office:text><text:h text:outline-level=\"1\">" + c.heading + "</text:h>";
    for (const std::string &p : c.paragraphs)
        body += "<text:p>" + p + "</text:p>";
    return odf("text", body + "</office:text>");
}

std::string ods_cell(const std::string &text)
{
    return "<table:table-cell office:value-type=\"string\"><text:p>" + text + "</text:p></table:table-cell>";
}

std::vector<Member> ods(const Content &c)
{
    std::string rows = "<table:table-row>" + ods_cell(c.heading) + "</table:table-row>";
    for (const std::string &p : c.paragraphs)
        rows += "<table:table-row>" + ods_cell(p) + "</table:table-row>";
    return odf("spreadsheet", "<office:spreadsheet><table:table table:name=\"Sheet1\">" + rows +
                                  "</table:table></office:spreadsheet>");
}

std::string odp_frame(const std::string &kind, const std::string &paragraphs)
{
    return "<draw:frame presentation:class=\"" + kind +
           "\" svg:width=\"25cm\" svg:height=\"3cm\"><draw:text-box>" + paragraphs +
           "</draw:text-box></draw:frame>";
}

std::vector<Member> odp(const Content &c)
{
    std::string points;
    for (const std::string &p : c.paragraphs)
        points += "<text:p>" + p + "</text:p>";
    return odf("presentation", "<office:presentation><draw:page draw:name=\"page1\">" +
                                   odp_frame("title", "<text:p>" + c.heading + "</text:p>") +
                                   odp_frame("outline", points) + "</draw:page></office:presentation>");
}

const char *const relationships = "http://schemas.openxmlformats.org/officeDocument/2006/relationships";

Member rels(const std::string &name, const std::string &type, const std::string &target,
            const std::string &more = "")
{
    return regular(name, "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Relationships xmlns=\"http://schemas."
                         "openxmlformats.org/package/2006/relationships\"><Relationship Id=\"rId1\" Type=\"" +
                             std::string(relationships) + "/" + type + "\" Target=\"" + target + "\"/>" +
                             more + "</Relationships>");
}

Member content_types(const std::string &part, const std::string &type)
{
    return regular(
        "[Content_Types].xml",
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Types xmlns=\"http://schemas.openxmlformats.org/"
        "package/2006/content-types\"><Default Extension=\"rels\" ContentType=\"application/"
        "vnd.openxmlformats-package.relationships+xml\"/><Default Extension=\"xml\" "
        "ContentType=\"application/xml\"/><Override PartName=\"/" +
            part + "\" ContentType=\"" + type + "\"/></Types>");
}

std::string docx_paragraph(const std::string &text, const std::string &style)
{
    std::string properties = style.empty() ? "" : "<w:pPr><w:pStyle w:val=\"" + style + "\"/></w:pPr>";
    return "<w:p>" + properties + "<w:r><w:t xml:space=\"preserve\">" + text + "</w:t></w:r></w:p>";
}

std::vector<Member> docx(const Content &c)
{
    const std::string w = "xmlns:w=\"http://schemas.openxmlformats.org/wordprocessingml/2006/main\"";
    std::string body = docx_paragraph(c.heading, "Heading1");
    for (const std::string &p : c.paragraphs)
        body += docx_paragraph(p, "");
    return {content_types("word/document.xml",
                          "application/vnd.openxmlformats-officedocument.wordprocessingml.document.main+xml"),
            rels("_rels/.rels", "officeDocument", "word/document.xml"),
            rels("word/_rels/document.xml.rels", "styles", "styles.xml"),
            regular("word/styles.xml", "<?xml version=\"1.0\"?>\n<w:styles " + w +
                                           "><w:style w:type=\"paragraph\" w:styleId=\"Heading1\"><w:name "
                                           "w:val=\"heading 1\"/><w:pPr><w:outlineLvl w:val=\"0\"/></w:pPr>"
                                           "<w:rPr><w:b/></w:rPr></w:style></w:styles>"),
            regular("word/document.xml", "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<w:document " + w +
                                             "><w:body>" + body +
                                             "<w:sectPr><w:pgSz w:w=\"11906\" w:h=\"16838\"/></w:sectPr>"
                                             "</w:body></w:document>")};
}

std::vector<Member> xlsx(const Content &c)
{
    const std::string main = "xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\"";
    std::vector<std::string> texts = {c.heading};
    texts.insert(texts.end(), c.paragraphs.begin(), c.paragraphs.end());
    std::string strings, rows;
    for (size_t i = 0; i < texts.size(); ++i) {
        strings += "<si><t>" + texts[i] + "</t></si>";
        std::string r = std::to_string(i + 1);
        rows += "<row r=\"" + r + "\"><c r=\"A" + r + "\" t=\"s\"><v>" + std::to_string(i) + "</v></c></row>";
    }
    return {
        content_types("xl/workbook.xml",
                      "application/vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml"),
        rels("_rels/.rels", "officeDocument", "xl/workbook.xml"),
        rels("xl/_rels/workbook.xml.rels", "worksheet", "worksheets/sheet1.xml",
             "<Relationship Id=\"rId2\" Type=\"" + std::string(relationships) +
                 "/sharedStrings\" Target=\"sharedStrings.xml\"/>"),
        regular("xl/workbook.xml", "<?xml version=\"1.0\"?>\n<workbook " + main + " xmlns:r=\"" +
                                       relationships +
                                       "\"><sheets><sheet name=\"Sheet1\" sheetId=\"1\" r:id=\"rId1\"/>"
                                       "</sheets></workbook>"),
        regular("xl/sharedStrings.xml", "<?xml version=\"1.0\"?>\n<sst " + main + ">" + strings + "</sst>"),
        regular("xl/worksheets/sheet1.xml", "<?xml version=\"1.0\"?>\n<worksheet " + main + "><sheetData>" +
                                                rows + "</sheetData></worksheet>")};
}

std::string pptx_shape(const std::string &placeholder, const std::vector<std::string> &paragraphs)
{
    std::string text;
    for (const std::string &p : paragraphs)
        text += "<a:p><a:r><a:t>" + p + "</a:t></a:r></a:p>";
    return "<p:sp><p:nvSpPr><p:cNvPr id=\"2\" name=\"Shape\"/><p:cNvSpPr/><p:nvPr><p:ph type=\"" +
           placeholder + "\"/></p:nvPr></p:nvSpPr><p:spPr/><p:txBody><a:bodyPr/>" + text +
           "</p:txBody></p:sp>";
}

std::vector<Member> pptx(const Content &c)
{
    const std::string ns =
        "xmlns:a=\"http://schemas.openxmlformats.org/drawingml/2006/main\" "
        "xmlns:p=\"http://schemas.openxmlformats.org/presentationml/2006/main\" xmlns:r=\"" +
        std::string(relationships) + "\"";
    return {
        content_types("ppt/presentation.xml",
                      "application/vnd.openxmlformats-officedocument.presentationml.presentation.main+xml"),
        rels("_rels/.rels", "officeDocument", "ppt/presentation.xml"),
        rels("ppt/_rels/presentation.xml.rels", "slide", "slides/slide1.xml"),
        regular("ppt/presentation.xml", "<?xml version=\"1.0\"?>\n<p:presentation " + ns +
                                            "><p:sldIdLst><p:sldId id=\"256\" r:id=\"rId1\"/></p:sldIdLst>"
                                            "<p:sldSz cx=\"12192000\" cy=\"6858000\"/></p:presentation>"),
        regular("ppt/slides/slide1.xml", "<?xml version=\"1.0\"?>\n<p:sld " + ns + "><p:cSld><p:spTree>" +
                                             pptx_shape("title", {c.heading}) +
                                             pptx_shape("body", c.paragraphs) +
                                             "</p:spTree></p:cSld></p:sld>")};
}

} // namespace

void write(const std::string &path, const std::string &extension, const Content &content)
{
    std::vector<Member> members = extension == "odt"    ? odt(content)
                                  : extension == "ods"  ? ods(content)
                                  : extension == "odp"  ? odp(content)
                                  : extension == "docx" ? docx(content)
                                  : extension == "xlsx" ? xlsx(content)
                                  : extension == "pptx" ? pptx(content)
                                                        : throw std::invalid_argument(extension);
    testing_support::write_archive(path, "zip", members);
}

} // namespace office_documents

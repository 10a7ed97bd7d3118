// Slide, workbook and OpenDocument parts: what each reader makes a segment of, and what a
// translation does to the part's bytes. Whole packages from real programs are in office/.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "translation/doc/odf.h"
#include "translation/doc/pptx.h"
#include "translation/doc/xlsx.h"

namespace quorvel {
namespace {

struct Case {
  const char* name;
  const PartReader* reader;
  std::string xml;
  std::vector<std::string> segments;
  Translations translations;
  std::string written;  // the part afterwards
};

const std::string A_RUN = "<a:r><a:rPr lang=\"en\"/><a:t>";
const std::string A_BOLD = "<a:r><a:rPr lang=\"en\" b=\"1\"/><a:t>";
const std::string A_END = "</a:t></a:r>";
const std::string FIELD =
    "<a:fld id=\"{1}\" type=\"slidenum\"><a:rPr lang=\"en\"/><a:t>3</a:t></a:fld>";

std::string slide(const std::string& body) {
  return "<p:sld><p:txBody><a:bodyPr/>" + body + "</p:txBody></p:sld>";
}

const Case CASES[] = {
    {"slide: spans move with their words; paragraph properties and end mark stay",
     &PPTX_SLIDE_PART,
     slide("<a:p><a:pPr algn=\"ctr\"/>" + A_RUN + "Sales grew in " + A_END + A_BOLD +
           "every region" + A_END + A_RUN + " this year." + A_END + "<a:endParaRPr/></a:p>"),
     {"Sales grew in <g1>every region</g1> this year."},
     {"<g1>Chaque région</g1> a progressé & crû."},
     slide("<a:p><a:pPr algn=\"ctr\"/>" + A_BOLD + "Chaque région" + A_END + A_RUN +
           " a progressé &amp; crû." + A_END + "<a:endParaRPr/></a:p>")},
    {"slide: a field is kept whole and a line feed becomes a break between runs",
     &PPTX_SLIDE_PART,
     slide("<a:p>" + A_RUN + "Slide " + A_END + FIELD + A_RUN + " of ten" + A_END +
           "<a:br><a:rPr lang=\"en\"/></a:br>" + A_RUN + "next" + A_END + "</a:p>"),
     {"Slide <x1/> of ten\nnext"},
     {"Diapositive <x1/> sur dix\nsuite"},
     slide("<a:p>" + A_RUN + "Diapositive " + A_END + FIELD + A_RUN + " sur dix" + A_END +
           "<a:br><a:rPr lang=\"en\"/></a:br>" + A_RUN + "suite" + A_END + "</a:p>")},
    {"slide: a paragraph without a translation, or of spaces only, keeps every byte",
     &PPTX_SLIDE_PART,
     slide("<a:p>" + A_RUN + "Keep &amp; me" + A_END + "</a:p><a:p>" + A_RUN + "  " + A_END +
           "</a:p>"),
     {"Keep & me"},
     {std::nullopt},
     slide("<a:p>" + A_RUN + "Keep &amp; me" + A_END + "</a:p><a:p>" + A_RUN + "  " + A_END +
           "</a:p>")},
    {"slide: an answer that lost its tags keeps the words, the field after them",
     &PPTX_SLIDE_PART,
     slide("<a:p>" + A_RUN + "Slide " + A_END + FIELD + A_RUN + " of ten" + A_END + "</a:p>"),
     {"Slide <x1/> of ten"},
     {"Diapo sur dix"},
     slide("<a:p>" + A_RUN + "Diapo sur dix" + A_END + FIELD + "</a:p>")},
    {"shared strings: plain and rich items; phonetic guides stay; spaces are kept",
     &XLSX_STRINGS_PART,
     "<sst><si><t>Total</t></si><si><r><t xml:space=\"preserve\">Net profit of </t></r><r><rPr>"
     "<b/></rPr><t>Q1</t></r><rPh sb=\"0\" eb=\"1\"><t>ネ</t></rPh></si><si><t>12</t></si></sst>",
     {"Total", "Net profit of <g1>Q1</g1>", "12"},
     {" Somme ", "Bénéfice net du <g1>T1</g1>", std::nullopt},
     "<sst><si><t xml:space=\"preserve\"> Somme </t></si><si><r><t xml:space=\"preserve\">"
     "Bénéfice net du </t></r><r><rPr><b/></rPr><t xml:space=\"preserve\">T1</t></r><rPh "
     "sb=\"0\" eb=\"1\"><t>ネ</t></rPh></si><si><t>12</t></si></sst>"},
    {"worksheet: inline strings only; formulas and values are no text",
     &XLSX_STRINGS_PART,
     "<worksheet><sheetData><row><c r=\"A1\" t=\"inlineStr\"><is><t>Label</t></is></c>"
     "<c r=\"B1\"><f>SUM(Budget!A1:A3)</f><v>6</v></c><c r=\"C1\" t=\"str\"><f>A1</f>"
     "<v>Label</v></c></row></sheetData></worksheet>",
     {"Label"},
     {"Étiquette"},
     "<worksheet><sheetData><row><c r=\"A1\" t=\"inlineStr\"><is><t "
     "xml:space=\"preserve\">Étiquette</t></is></c><c r=\"B1\"><f>SUM(Budget!A1:A3)</f><v>6</v>"
     "</c><c r=\"C1\" t=\"str\"><f>A1</f><v>Label</v></c></row></sheetData></worksheet>"},
    {"threaded comments: the text of each reply",
     &XLSX_THREADED_PART,
     "<ThreadedComments><threadedComment ref=\"A1\" id=\"{1}\"><text>Is this right?</text>"
     "</threadedComment><threadedComment ref=\"A1\" id=\"{2}\" parentId=\"{1}\"><text>Yes &lt;"
     "checked&gt;</text><mentions/></threadedComment></ThreadedComments>",
     {"Is this right?", "Yes <checked>"},
     {"Est-ce juste ?", "Oui"},
     "<ThreadedComments><threadedComment ref=\"A1\" id=\"{1}\"><text>Est-ce juste ?</text>"
     "</threadedComment><threadedComment ref=\"A1\" id=\"{2}\" parentId=\"{1}\"><text>Oui</text>"
     "<mentions/></threadedComment></ThreadedComments>"},
    {"odf: spans, spaces, tabs and line breaks; white space collapses as readers show it",
     &ODF_PART,
     "<office:text><text:p text:style-name=\"P1\">Two<text:s text:c=\"2\"/>spaces\n  and "
     "<text:span text:style-name=\"T1\">bold</text:span><text:tab/>end<text:line-break/>"
     "</text:p></office:text>",
     {"Two  spaces and <g1>bold</g1>\tend\n"},
     {"Deux  espaces <g1>gras</g1>\nfin"},
     "<office:text><text:p text:style-name=\"P1\">Deux <text:s/>espaces <text:span "
     "text:style-name=\"T1\">gras</text:span><text:line-break/>fin</text:p></office:text>"},
    {"odf: a note is moved whole, its own paragraph translated inside it",
     &ODF_PART,
     "<text:p>See<text:note text:id=\"n1\"><text:note-citation>1</text:note-citation>"
     "<text:note-body><text:p>The note.</text:p></text:note-body></text:note> here.</text:p>",
     {"The note.", "See<x1/> here."},
     {"La note.", "Voir<x1/> ici."},
     "<text:p>Voir<text:note text:id=\"n1\"><text:note-citation>1</text:note-citation>"
     "<text:note-body><text:p>La note.</text:p></text:note-body></text:note> ici.</text:p>"},
    {"odf: the note's paragraph is translated where the outer paragraph is kept",
     &ODF_PART,
     "<text:p>See<text:note><text:note-body><text:p>The note.</text:p></text:note-body>"
     "</text:note> here.</text:p>",
     {"The note.", "See<x1/> here."},
     {"La note.", std::nullopt},
     "<text:p>See<text:note><text:note-body><text:p>La note.</text:p></text:note-body>"
     "</text:note> here.</text:p>"},
    {"ods: cells holding numbers, dates or formulas are left alone; bookmarks stay",
     &ODF_PART,
     "<table:table table:name=\"Budget\"><table:table-row><table:table-cell "
     "office:value-type=\"float\" office:value=\"3\"><text:p>3</text:p></table:table-cell>"
     "<table:table-cell table:formula=\"of:=[.A1]\" office:value-type=\"string\" "
     "office:string-value=\"x\"><text:p>x</text:p></table:table-cell><table:table-cell "
     "office:value-type=\"date\"><text:p>Monday</text:p></table:table-cell><table:table-cell "
     "office:value-type=\"string\"><text:p><text:bookmark text:name=\"b\"/>Label</text:p>"
     "</table:table-cell></table:table-row></table:table>",
     {"Label"},
     {"Étiquette"},
     "<table:table table:name=\"Budget\"><table:table-row><table:table-cell "
     "office:value-type=\"float\" office:value=\"3\"><text:p>3</text:p></table:table-cell>"
     "<table:table-cell table:formula=\"of:=[.A1]\" office:value-type=\"string\" "
     "office:string-value=\"x\"><text:p>x</text:p></table:table-cell><table:table-cell "
     "office:value-type=\"date\"><text:p>Monday</text:p></table:table-cell><table:table-cell "
     "office:value-type=\"string\"><text:p><text:bookmark text:name=\"b\"/>Étiquette</text:p>"
     "</table:table-cell></table:table-row></table:table>"},
    {"odf: document text that reads as a tag is never taken for one",
     &ODF_PART,
     "<office:text><text:p>Use &lt;g1&gt; <text:span text:style-name=\"T1\">here</text:span></text:p>"
     "<text:p>Plain &lt;x1/&gt;</text:p></office:text>",
     {"Plain <x1/>"},
     {"Simple <x1/>"},
     "<office:text><text:p>Use &lt;g1&gt; <text:span text:style-name=\"T1\">here</text:span></text:p>"
     "<text:p>Simple &lt;x1/&gt;</text:p></office:text>"},
};

TEST(PackageParagraphs, ReadAndWriteBack) {
  for (const auto& c : CASES) {
    SCOPED_TRACE(c.name);
    std::vector<Segment> segments;
    auto slots = c.reader->extract(c.xml, segments);
    ASSERT_TRUE(slots) << slots.error().message;
    std::vector<std::string> texts;
    for (const auto& segment : segments) texts.push_back(segment.text);
    EXPECT_EQ(texts, c.segments);
    ASSERT_EQ(c.translations.size(), segments.size());
    auto written = c.reader->rewrite(c.xml, *slots, segments, c.translations);
    ASSERT_TRUE(written) << written.error().message;
    EXPECT_EQ(*written, c.written);

    // The copy reads again as the translations, or the source where there was none.
    std::vector<Segment> again;
    ASSERT_TRUE(c.reader->extract(*written, again));
    ASSERT_EQ(again.size(), segments.size());
    for (std::size_t i = 0; i < again.size(); ++i) {
      if (!c.translations[i]) continue;
      std::string expected = *c.translations[i];
      if (c.reader == &ODF_PART) expected.erase(0, expected.find_first_not_of(' '));
      EXPECT_EQ(again[i].text, expected);
    }
  }
}

TEST(PackageParagraphs, RefuseAPartThatChangedOrIsNotXml) {
  const std::string xml = slide("<a:p>" + A_RUN + "One" + A_END + "</a:p>");
  std::vector<Segment> segments;
  auto slots = PPTX_SLIDE_PART.extract(xml, segments);
  ASSERT_TRUE(slots);
  auto changed = PPTX_SLIDE_PART.rewrite(slide("<a:p>" + A_RUN + "Two" + A_END + "</a:p>"), *slots,
                                         segments, {"Un"});
  ASSERT_FALSE(changed);
  EXPECT_EQ(changed.error().message,
            "the part no longer holds the text that was read; the source changed after it was "
            "read");
  auto more = PPTX_SLIDE_PART.rewrite(slide("<a:p>" + A_RUN + "One" + A_END + "</a:p><a:p/>"),
                                      *slots, segments, {"Un"});
  EXPECT_FALSE(more);

  std::vector<Segment> none;
  auto broken = ODF_PART.extract("<text:p>open", none);
  ASSERT_FALSE(broken);
  EXPECT_TRUE(broken.error().message.starts_with("xml: ")) << broken.error().message;
  auto doctype = XLSX_STRINGS_PART.extract(
      "<!DOCTYPE sst [<!ENTITY a \"aaaa\">]><sst><si><t>&a;</t></si></sst>", none);
  ASSERT_FALSE(doctype);
  EXPECT_EQ(doctype.error().message, "xml: document type declarations are not allowed");
}

}  // namespace
}  // namespace quorvel

// Word paragraphs whose runs differ in formatting, or that hold hyperlinks and fields, travel
// with inline tags; the tagged answer is written back as runs with each span's own formatting.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "translation/doc/docx.h"
#include "translation/doc/zip_fixtures.h"
#include "translation/inline_tags.h"

namespace quorvel {
namespace {

using testing::document_xml;

std::string run(const std::string& formatting, const std::string& text) {
  return "<w:r>" + formatting + "<w:t xml:space=\"preserve\">" + text + "</w:t></w:r>";
}

const std::string BOLD = "<w:rPr><w:b/></w:rPr>";
const std::string ITALIC = "<w:rPr><w:i/></w:rPr>";
const std::string BOLD_ITALIC = "<w:rPr><w:b/><w:i/></w:rPr>";
const std::string LINK_STYLE = "<w:rPr><w:rStyle w:val=\"Hyperlink\"/></w:rPr>";
const std::string LINK = "<w:hyperlink r:id=\"rId5\" w:history=\"1\">";
const std::string PAGE_FIELD =
    "<w:r><w:fldChar w:fldCharType=\"begin\"/></w:r><w:r><w:instrText xml:space=\"preserve\"> "
    "PAGE </w:instrText></w:r><w:r><w:fldChar w:fldCharType=\"separate\"/></w:r><w:r><w:t>1</w:t>"
    "</w:r><w:r><w:fldChar w:fldCharType=\"end\"/></w:r>";
const std::string DATE_FIELD =
    "<w:fldSimple w:instr=\" DATE \"><w:r><w:t>1 May</w:t></w:r></w:fldSimple>";
const std::string BOOKMARK = "<w:bookmarkStart w:id=\"0\" w:name=\"a\"/>";

struct Case {
  const char* name;
  std::string body;
  std::string segment;      // what the model sees
  std::string translation;  // what it answers
  std::string written;      // the paragraph afterwards
};

const Case CASES[] = {
    {"bold and italic spans move with their words",
     "<w:p><w:pPr><w:jc w:val=\"both\"/></w:pPr>" + run("", "Read how to ") +
         run(BOLD, "build it") + run("", " on a ") + run(ITALIC, "Unix-like") +
         run("", " system.") + "</w:p>",
     "Read how to <g1>build it</g1> on a <g2>Unix-like</g2> system.",
     "Lisez sur un système <g2>de type Unix</g2> comment <g1>le construire</g1>.",
     "<w:p><w:pPr><w:jc w:val=\"both\"/></w:pPr>" + run("", "Lisez sur un système ") +
         run(ITALIC, "de type Unix") + run("", " comment ") + run(BOLD, "le construire") +
         run("", ".") + "</w:p>"},
    {"a hyperlink keeps its target and its own formatting",
     "<w:p>" + run("", "Read the ") + LINK + run(LINK_STYLE, "online ") +
         run(LINK_STYLE, "manual") + "</w:hyperlink>" + run("", " first.") + "</w:p>",
     "Read the <g1>online manual</g1> first.", "Lisez d'abord <g1>le manuel en ligne</g1>.",
     "<w:p>" + run("", "Lisez d&apos;abord ") + LINK + run(LINK_STYLE, "le manuel en ligne") +
         "</w:hyperlink>" + run("", ".") + "</w:p>"},
    {"formatting that wraps the paragraph is no tag; a nested span inside a link is",
     "<w:p>" + run(BOLD, "Warning: back up ") + LINK + run(LINK_STYLE, "your ") +
         run(BOLD_ITALIC, "configuration") + "</w:hyperlink>" + run(BOLD, " first.") + "</w:p>",
     "Warning: back up <g1>your <g2>configuration</g2></g1> first.",
     "Achtung: sichern Sie zuerst <g1>Ihre <g2>Konfiguration</g2></g1>.",
     "<w:p>" + run(BOLD, "Achtung: sichern Sie zuerst ") + LINK + run(LINK_STYLE, "Ihre ") +
         run(BOLD_ITALIC, "Konfiguration") + "</w:hyperlink>" + run(BOLD, ".") + "</w:p>"},
    {"fields are placeholders and stay fields in their new place; bookmarks stay put",
     "<w:p>" + run("", "Page ") + PAGE_FIELD + run("", " of the report, ") + BOOKMARK + DATE_FIELD +
         run("", "\u2014 Confidential") + "</w:p>",
     "Page <x1/> of the report, <x2/>\u2014 Confidential",
     "<x2/> Seite <x1/> des Berichts \u2014 Vertraulich",
     "<w:p>" + DATE_FIELD + run("", " Seite ") + PAGE_FIELD +
         run("", " des Berichts \u2014 Vertraulich") + BOOKMARK + "</w:p>"},
    {"an answer that lost its tags goes into one run; fields follow it, nothing is lost",
     "<w:p>" + run("", "Page ") + PAGE_FIELD + run("", " of the report ") + run(BOLD, "now") +
         "</w:p>",
     "Page <x1/> of the report <g2>now</g2>", "Seite des Berichts jetzt",
     "<w:p>" + run("", "Seite des Berichts jetzt") + PAGE_FIELD + "</w:p>"},
    {"line breaks and tabs inside a tagged span become elements of its run",
     "<w:p>" + run("", "First line here") +
         "<w:r><w:rPr><w:b/></w:rPr><w:br/><w:t>two</w:t><w:tab/><w:t>three</w:t></w:r></w:p>",
     "First line here<g1>\ntwo\tthree</g1>", "Erste Zeile<g1>\nzwei\tdrei</g1>",
     "<w:p>" + run("", "Erste Zeile") + "<w:r>" + BOLD +
         "<w:t xml:space=\"preserve\"></w:t><w:br/><w:t xml:space=\"preserve\">zwei</w:t><w:tab/>"
         "<w:t xml:space=\"preserve\">drei</w:t></w:r></w:p>"},
};

TEST(DocxInline, TaggedParagraphsComeBackWithTheirFormatting) {
  for (const auto& c : CASES) {
    SCOPED_TRACE(c.name);
    std::vector<Segment> segments;
    const std::string xml = document_xml(c.body);
    auto slots = extract_part(xml, segments);
    ASSERT_TRUE(slots) << slots.error().message;
    ASSERT_EQ(segments.size(), 1u);
    EXPECT_EQ(segments[0].text, c.segment);
    EXPECT_EQ(segments[0].tags, TagPolicy::strip);
    auto written = rewrite_part(xml, *slots, segments, {c.translation});
    ASSERT_TRUE(written) << written.error().message;
    EXPECT_EQ(*written, document_xml(c.written));
    // Read again, the written paragraph holds the translation with the same tags.
    std::vector<Segment> again;
    ASSERT_TRUE(extract_part(*written, again));
    ASSERT_EQ(again.size(), 1u);
    EXPECT_EQ(strip_inline_tags(again[0].text), strip_inline_tags(c.translation)) << again[0].text;
  }
}

TEST(DocxInline, UniformOrUnmodelledParagraphsStayPlain) {
  const std::pair<std::string, std::string> cases[] = {
      // One formatting throughout, a field only at the end: plain text as before.
      {"<w:p>" + run(BOLD, "Page ") + PAGE_FIELD + "</w:p>", "Page "},
      // A hyperlink around the whole paragraph: the text stays inside it, untagged.
      {"<w:p>" + LINK + run(LINK_STYLE, "Home ") + run(LINK_STYLE, "page") + "</w:hyperlink></w:p>",
       "Home page"},
      // Document text that reads as a tag is never taken for one.
      {"<w:p>" + run("", "Type &lt;g1&gt; here ") + run(BOLD, "now") + "</w:p>",
       "Type <g1> here now"},
      // Text inside a tracked insertion: the flat text of every element.
      {"<w:p>" + run("", "Kept ") + "<w:ins w:id=\"1\">" + run(BOLD, "added") + "</w:ins></w:p>",
       "Kept added"},
      // A field running on into the next paragraph (a table of contents).
      {"<w:p><w:r><w:fldChar w:fldCharType=\"begin\"/></w:r>" + run("", "Intro ") +
           run(BOLD, "one") + "</w:p>",
       "Intro one"},
  };
  for (const auto& [body, text] : cases) {
    SCOPED_TRACE(text);
    std::vector<Segment> segments;
    ASSERT_TRUE(extract_part(document_xml(body), segments));
    ASSERT_EQ(segments.size(), 1u);
    EXPECT_EQ(segments[0].text, text);
    EXPECT_EQ(segments[0].tags, TagPolicy::none);
  }
}

}  // namespace
}  // namespace quorvel

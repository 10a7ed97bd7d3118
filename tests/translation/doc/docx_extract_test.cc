#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/temp_dir.h"
#include "translation/doc/docx.h"
#include "translation/doc/zip_fixtures.h"

namespace quorvel {
namespace {

using testing::document_xml;
using testing::paragraph;
using testing::TempDir;
using testing::write_zip;
using testing::ZipItem;

// Slots as "C0 L0 U": carrier or cleared with their segment, or unchanged.
std::string describe(const std::vector<TextSlot>& slots) {
  std::string out;
  for (const auto& slot : slots) {
    if (!out.empty()) out += ' ';
    if (slot.role == SlotRole::unchanged) {
      out += 'U';
    } else {
      out += (slot.role == SlotRole::carrier ? 'C' : 'L') + std::to_string(slot.segment);
    }
  }
  return out;
}

std::vector<std::string> texts(const std::vector<Segment>& segments) {
  std::vector<std::string> out;
  for (const auto& segment : segments) out.push_back(segment.text);
  return out;
}

TEST(DocxExtract, ParagraphsBecomeSegmentsAndSlots) {
  struct Case {
    const char* name;
    std::string body;
    std::vector<std::string> segments;
    std::string slots;
  };
  const Case cases[] = {
      {"runs of one formatting join without separator",
       "<w:p><w:r><w:rPr><w:b/></w:rPr><w:t>Hel</w:t></w:r><w:r><w:rPr><w:b/></w:rPr>"
       "<w:t xml:space=\"preserve\">lo </w:t></w:r><w:r><w:rPr><w:b/></w:rPr><w:t>world</w:t>"
       "</w:r></w:p>",
       {"Hello world"},
       "C0 L0 L0"},
      {"tabs and line breaks; tab stops and page breaks are layout, not text",
       "<w:p><w:pPr><w:tabs><w:tab w:val=\"left\" w:pos=\"720\"/></w:tabs></w:pPr><w:r><w:tab/>"
       "<w:t>A</w:t><w:br/><w:t>B</w:t><w:cr/><w:br w:type=\"textWrapping\"/>"
       "<w:br w:type=\"page\"/></w:r></w:p>",
       {"\tA\nB\n\n"},
       "C0 L0"},
      {"blank paragraphs stay unchanged",
       "<w:p><w:r><w:t xml:space=\"preserve\">  </w:t><w:br/></w:r></w:p><w:p/>" + paragraph("x"),
       {"x"},
       "U C0"},
      {"self-closing text elements count",
       "<w:p><w:r><w:t/><w:t>x</w:t></w:r></w:p><w:p><w:r><w:t>y</w:t><w:t/></w:r></w:p>",
       {"x", "y"},
       "C0 L0 C1 L1"},
      {"references and entities decoded",
       paragraph("a &amp; b &#233; &#x4E2D; &lt;&gt;&quot;&apos;"),
       {"a & b \xC3\xA9 \xE4\xB8\xAD <>\"'"},
       "C0"},
      {"deleted and field text are not text elements",
       "<w:p><w:r><w:delText>gone</w:delText><w:instrText>PAGE</w:instrText><w:t>kept</w:t>"
       "</w:r></w:p>",
       {"kept"},
       "C0"},
      {"text after the last paragraph end",
       paragraph("A") + "<w:r><w:t>tail</w:t></w:r>",
       {"A", "tail"},
       "C0 C1"},
      {"a text box ends the surrounding paragraph",
       "<w:p><w:r><w:t>Outer</w:t></w:r><w:r><w:txbxContent>" + paragraph("Inner") +
           "</w:txbxContent></w:r><w:r><w:t>after</w:t></w:r></w:p>",
       {"OuterInner", "after"},
       "C0 L0 C1"},
      {"CDATA is text of its element", paragraph("<![CDATA[a<b]]>c"), {"a<bc"}, "C0"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<Segment> segments;
    auto slots = extract_part(document_xml(c.body), segments);
    ASSERT_TRUE(slots) << slots.error().message;
    EXPECT_EQ(texts(segments), c.segments);
    EXPECT_EQ(describe(*slots), c.slots);
  }
}

TEST(DocxExtract, RefusesMalformedUnsafeAndNonUtf8Parts) {
  const std::string bomb =
      "<?xml version=\"1.0\"?><!DOCTYPE lolz [<!ENTITY lol \"lol\">"
      "<!ENTITY lol2 \"&lol;&lol;&lol;&lol;&lol;&lol;&lol;&lol;&lol;&lol;\">]>"
      "<w:document><w:p><w:r><w:t>&lol2;</w:t></w:r></w:p></w:document>";
  const std::string external =
      "<!DOCTYPE d [<!ENTITY x SYSTEM \"file:///etc/passwd\">]><d><w:t>&x;</w:t></d>";
  std::string utf16 = "\xFF\xFE";
  for (char c : std::string("<d><w:t>x</w:t></d>")) utf16 += std::string{c, '\0'};
  struct Case {
    std::string xml;
    std::string message;
  };
  const Case cases[] = {
      {"<d><w:p><w:t>x</w:p></d>", "xml text: mismatched tag at line 1 column 17"},
      {"<d><w:p></d>", "xml: mismatched tag at line 1 column 11"},
      {bomb, "xml: document type declarations are not allowed"},
      {external, "xml: document type declarations are not allowed"},
      {"<d><w:t>&nbsp;</w:t></d>", "xml text: undefined entity at line 1 column 9"},
      {"<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><d><w:t>caf\xE9</w:t></d>",
       "xml: the part is encoded in ISO-8859-1, not UTF-8"},
      {"<d><w:t>caf\xE9</w:t></d>",
       "xml text: not well-formed (invalid token) at line 1 column 12"},
      {utf16, "xml: the part is not encoded in UTF-8"},
      {utf16.substr(2), "xml: the part is not encoded in UTF-8"},
      {"", "xml: no element found at line 1 column 1"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.xml);
    std::vector<Segment> segments;
    auto slots = extract_part(c.xml, segments);
    ASSERT_FALSE(slots);
    EXPECT_EQ(slots.error().message, c.message);
    EXPECT_TRUE(segments.empty());
  }
}

TEST(DocxExtract, ReadsTextPartsInTheirOrder) {
  TempDir dir;
  std::string path = dir.file("report.docx");
  // Entries deliberately out of order, with parts that must not be read.
  write_zip(path, {
                      {"[Content_Types].xml", "<Types/>"},
                      {"word/footnotes.xml", document_xml(paragraph("footnote"))},
                      {"word/header2.xml", document_xml(paragraph("header2"))},
                      {"word/settings.xml", document_xml(paragraph("settings"))},
                      {"word/comments.xml", document_xml(paragraph("comment"))},
                      {"word/header10.xml", document_xml(paragraph("header10"))},
                      {"word/footer1.xml", document_xml(paragraph("footer1"))},
                      {"docProps/core.xml", document_xml(paragraph("core"))},
                      {"word/endnotes.xml", document_xml(paragraph("endnote"))},
                      {"word/header1.xml", document_xml(paragraph("header1"))},
                      {"word/document.xml", document_xml(paragraph("body") + paragraph(" "))},
                      {"word/glossary/document.xml", document_xml(paragraph("glossary"))},
                  });
  auto document = extract_docx(path);
  ASSERT_TRUE(document) << document.error().message;
  EXPECT_EQ(document->source_path, path);
  EXPECT_EQ(texts(document->segments),
            (std::vector<std::string>{"body", "header1", "header10", "header2", "footer1",
                                      "footnote", "endnote", "comment"}));
  std::vector<std::string> names;
  for (const auto& part : document->parts) names.push_back(part.name);
  EXPECT_EQ(names,
            (std::vector<std::string>{"word/document.xml", "word/header1.xml", "word/header10.xml",
                                      "word/header2.xml", "word/footer1.xml", "word/footnotes.xml",
                                      "word/endnotes.xml", "word/comments.xml"}));
  EXPECT_EQ(describe(document->parts[0].slots), "C0 U");
  EXPECT_EQ(describe(document->parts[7].slots), "C7");
}

TEST(DocxExtract, PackageWithoutMainDocumentStillReadsNotes) {
  TempDir dir;
  write_zip(dir.file("notes.docx"), {{"word/footnotes.xml", document_xml(paragraph("only"))}});
  auto document = extract_docx(dir.file("notes.docx"));
  ASSERT_TRUE(document);
  EXPECT_EQ(texts(document->segments), std::vector<std::string>{"only"});
}

TEST(DocxExtract, ReportsUnreadableAndEmptyPackages) {
  TempDir dir;
  const std::string png = "\x89PNG\r\n\x1a\n\0\0\0\rIHDR";
  testing::write_bytes(dir.file("image.docx"), png);
  write_zip(dir.file("whole.docx"), {{"word/document.xml", document_xml(paragraph("x"))},
                                     {"word/media/a.bin", std::string(5000, 'q')}});
  std::string whole = testing::read_bytes(dir.file("whole.docx"));
  testing::write_bytes(dir.file("truncated.docx"), whole.substr(0, whole.size() / 2));
  write_zip(dir.file("plain.docx"), {{"readme.txt", "not a word document"}});
  write_zip(dir.file("empty.docx"),
            {{"word/document.xml", document_xml("<w:p/><w:p><w:r><w:t> </w:t></w:r></w:p>")}});
  write_zip(dir.file("broken.docx"), {{"word/document.xml", "<w:document><w:p>"}});

  struct Case {
    std::string file;
    std::string message;
  };
  const Case cases[] = {
      {"missing.docx", "opening " + dir.file("missing.docx")},
      {"image.docx", "reading docx zip"},
      {"truncated.docx", "reading docx zip"},
      {"plain.docx", "no translatable text found in document"},
      {"empty.docx", "no translatable text found in document"},
      {"broken.docx", "parsing word/document.xml"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    auto document = extract_docx(dir.file(c.file));
    ASSERT_FALSE(document);
    EXPECT_EQ(document.error().message, c.message);
  }
  EXPECT_EQ(extract_docx(dir.file("missing.docx")).error().cause, "No such file or directory");
  EXPECT_EQ(extract_docx(dir.file("image.docx")).error().cause, "Not a zip archive");
  EXPECT_EQ(extract_docx(dir.file("broken.docx")).error().cause,
            "xml: no element found at line 1 column 18");
}

TEST(DocxExtract, RefusesPackagesBeyondTheLimits) {
  TempDir dir;
  // Ten megabytes of zeros deflate about a thousand times: a zip bomb in miniature.
  write_zip(dir.file("bomb.docx"), {{"word/document.xml", document_xml(paragraph("x"))},
                                    {"word/media/zeros.bin", std::string(10 << 20, '\0')}});
  // Sizes are taken from the directory, so the refusal comes before any data is read.
  testing::write_raw_zip(dir.file("huge.docx"),
                         {{"word/document.xml", std::string(3 << 20, 'x'), 300u << 20, 3u << 20}});
  const std::string body = document_xml(paragraph("x"));
  testing::write_raw_zip(
      dir.file("liar.docx"),
      {{"word/document.xml", body + std::string(2000, ' '), static_cast<std::uint32_t>(body.size()),
        static_cast<std::uint32_t>(body.size() + 2000)}});

  struct Case {
    std::string file;
    std::string message;
  };
  const Case cases[] = {
      {"bomb.docx",
       "reading docx zip: entry word/media/zeros.bin expands more than 100 times (a "
       "zip bomb)"},
      {"huge.docx", "reading docx zip: the text parts exceed the 256 MiB limit"},
      {"liar.docx", "reading docx zip: entry word/document.xml holds more than its recorded size"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    auto document = extract_docx(dir.file(c.file));
    ASSERT_FALSE(document);
    EXPECT_EQ(document.error().message, c.message);
    EXPECT_EQ(document.error().kind, ErrorKind::limit);
  }
}

TEST(DocxExtract, RefusesTooManyEntries) {
  TempDir dir;
  std::vector<ZipItem> items{{"word/document.xml", document_xml(paragraph("x"))}};
  for (int i = 0; i < 100'000; ++i) items.push_back({"e/" + std::to_string(i), "", true});
  write_zip(dir.file("many.docx"), items);
  auto document = extract_docx(dir.file("many.docx"));
  ASSERT_FALSE(document);
  EXPECT_EQ(document.error().message, "reading docx zip: more than 100000 entries");
}

}  // namespace
}  // namespace quorvel

#include <gtest/gtest.h>

#include <ctime>
#include <random>
#include <string>
#include <vector>

#include "platform/text.h"
#include "support/file_size_limit.h"
#include "support/temp_dir.h"
#include "translation/doc/docx.h"
#include "translation/doc/zip_fixtures.h"

namespace quorvel {
namespace {

using testing::document_xml;
using testing::paragraph;
using testing::read_bytes;
using testing::read_zip;
using testing::TempDir;
using testing::write_bytes;
using testing::write_zip;
using testing::ZipItem;

std::string paragraph_with_preserve(const std::string& text) {
  return "<w:p><w:r><w:t xml:space=\"preserve\">" + text + "</w:t></w:r></w:p>";
}

std::string rewrite(const std::string& body, const Translations& translations) {
  std::vector<Segment> segments;
  std::string xml = document_xml(body);
  auto slots = extract_part(xml, segments);
  EXPECT_TRUE(slots) << slots.error().message;
  EXPECT_EQ(segments.size(), translations.size());
  auto rewritten = rewrite_part(xml, *slots, segments, translations);
  EXPECT_TRUE(rewritten) << rewritten.error().message;
  return rewritten ? *rewritten : "";
}

TEST(DocxRewrite, ChangesOnlyTheTextElementsOfTranslatedParagraphs) {
  struct Case {
    const char* name;
    std::string body;
    Translations translations;
    std::string expected;
  };
  const Case cases[] = {
      {"whole translation in the first element, others emptied, breaks as elements",
       "<w:p><w:r><w:t>Hel</w:t></w:r><w:r><w:t xml:space=\"preserve\">lo </w:t><w:br/>"
       "<w:t>world</w:t></w:r></w:p>",
       {"Bonjour\tle\n\nmonde\n"},
       "<w:p><w:r><w:t xml:space=\"preserve\">Bonjour</w:t><w:tab/><w:t xml:space=\"preserve\">le"
       "</w:t><w:br/><w:br/><w:t xml:space=\"preserve\">monde</w:t><w:br/></w:r><w:r>"
       "<w:t xml:space=\"preserve\"></w:t><w:t xml:space=\"preserve\"></w:t></w:r></w:p>"},
      {"a kept paragraph, and one translated to itself, are not touched",
       "<w:p><w:r><w:t>A</w:t><w:br/><w:t>B</w:t></w:r></w:p>"
       "<w:p><w:r><w:t xml:space='preserve'>C </w:t></w:r><w:r><w:t>D</w:t></w:r></w:p>",
       {std::nullopt, "C D"},
       "<w:p><w:r><w:t>A</w:t><w:br/><w:t>B</w:t></w:r></w:p>"
       "<w:p><w:r><w:t xml:space='preserve'>C </w:t></w:r><w:r><w:t>D</w:t></w:r></w:p>"},
      {"attributes kept as written, xml:space replaced, odd spacing elsewhere untouched",
       "<w:p  w:rsidR = 'A1' ><w:r><w:t xml:space='default' w:x='&amp;1'\n>x</w:t ></w:r></w:p>",
       {"y"},
       "<w:p  w:rsidR = 'A1' ><w:r><w:t w:x='&amp;1' xml:space=\"preserve\">y</w:t ></w:r></w:p>"},
      {"markup characters escaped",
       paragraph("x"),
       {"<a> & 'b' \"c\""},
       paragraph_with_preserve("&lt;a&gt; &amp; &apos;b&apos; &quot;c&quot;")},
      {"self-closing carrier opens up; self-closing cleared stays",
       "<w:p><w:r><w:t/><w:t>x</w:t><w:t/></w:r></w:p>",
       {"X"},
       "<w:p><w:r><w:t xml:space=\"preserve\">X</w:t><w:t xml:space=\"preserve\"></w:t><w:t/>"
       "</w:r></w:p>"},
      {"self-closing carrier with an empty translation stays as it was",
       "<w:p><w:r><w:t/><w:t>x</w:t></w:r></w:p>",
       {""},
       "<w:p><w:r><w:t/><w:t xml:space=\"preserve\"></w:t></w:r></w:p>"},
      {"blank paragraphs and CDATA-free markup copied byte for byte",
       "<w:p><w:r><w:t xml:space=\"preserve\">  </w:t></w:r></w:p><!-- note --><?pi x?>" +
           paragraph("a"),
       {"b"},
       "<w:p><w:r><w:t xml:space=\"preserve\">  </w:t></w:r></w:p><!-- note --><?pi x?>" +
           paragraph_with_preserve("b")},
      {"characters XML cannot hold are dropped, bytes that are not UTF-8 replaced",
       paragraph("x"),
       {"a\x01\x0B\tb\xFF"},
       "<w:p><w:r><w:t xml:space=\"preserve\">a</w:t><w:tab/><w:t xml:space=\"preserve\">"
       "b\xEF\xBF\xBD</w:t></w:r></w:p>"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(rewrite(c.body, c.translations), document_xml(c.expected));
  }
}

TEST(DocxRewrite, RefusesAPartThatNoLongerMatchesItsSlots) {
  std::vector<Segment> segments;
  auto slots = extract_part(document_xml(paragraph("a") + paragraph("b")), segments);
  ASSERT_TRUE(slots);
  auto changed = rewrite_part(document_xml(paragraph("a")), *slots, segments, {"x", "y"});
  ASSERT_FALSE(changed);
  EXPECT_EQ(changed.error().message,
            "the part has 1 text elements where 2 were read; the source changed after it was "
            "read");
  auto broken = rewrite_part("<w:document><w:t>", *slots, segments, {"x", "y"});
  ASSERT_FALSE(broken);
  EXPECT_EQ(broken.error().message.substr(0, 3), "xml");
}

std::string random_bytes(std::size_t size) {
  std::mt19937 generator(7);
  std::string out(size, '\0');
  for (auto& c : out) c = static_cast<char>(generator());
  return out;
}

Translations upper_cased(const DocxDocument& document) {
  Translations out;
  for (const auto& segment : document.segments) {
    std::string text = segment.text;
    for (auto& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    out.push_back(text);
  }
  return out;
}

class DocxWrite : public ::testing::Test {
 protected:
  void SetUp() override {
    source_ = dir_.file("report.docx");
    items_ = {
        {"[Content_Types].xml", "<?xml version=\"1.0\"?><Types/>"},
        {"_rels/.rels", "<Relationships/>", true},
        {"word/document.xml",
         document_xml(paragraph("Hello") + "<w:p><w:r><w:t>Two </w:t></w:r><w:r><w:t>runs</w:t>"
                                           "</w:r></w:p>")},
        {"word/media/image1.png", random_bytes(300'000), true},
        {"word/header1.xml", document_xml(paragraph("Head"))},
        {"docProps/core.xml", "<cp:coreProperties/>"},
        {"word/empty.bin", ""},
    };
    write_zip(source_, items_);
  }

  Result<void> translate(const std::string& output) {
    auto document = extract_docx(source_);
    EXPECT_TRUE(document) << document.error().message;
    if (!document) return std::unexpected(document.error());
    return write_docx(*document, upper_cased(*document), output);
  }

  TempDir dir_;
  std::string source_;
  std::vector<ZipItem> items_;
};

TEST_F(DocxWrite, CopiesEveryEntryInOrderWithFixedOptions) {
  std::string output = dir_.file("report.fr.docx");
  ASSERT_TRUE(translate(output));

  auto records = read_zip(output);
  ASSERT_EQ(records.size(), items_.size());
  std::tm epoch{};
  epoch.tm_year = 80;
  epoch.tm_mday = 1;
  epoch.tm_isdst = -1;
  const time_t expected_time = std::mktime(&epoch);
  for (std::size_t i = 0; i < records.size(); ++i) {
    SCOPED_TRACE(records[i].name);
    EXPECT_EQ(records[i].name, items_[i].name);
    if (!records[i].data.empty()) EXPECT_EQ(records[i].method, ZIP_CM_DEFLATE);
    EXPECT_EQ(records[i].mtime, expected_time);
    EXPECT_EQ(records[i].opsys, ZIP_OPSYS_UNIX);
    EXPECT_EQ(records[i].attributes, 0100644u << 16);
    bool is_text_part =
        records[i].name == "word/document.xml" || records[i].name == "word/header1.xml";
    if (!is_text_part) EXPECT_EQ(records[i].data, items_[i].data);
  }
  EXPECT_EQ(records[2].data,
            document_xml("<w:p><w:r><w:t xml:space=\"preserve\">HELLO</w:t></w:r></w:p>"
                         "<w:p><w:r><w:t xml:space=\"preserve\">TWO RUNS</w:t></w:r><w:r>"
                         "<w:t xml:space=\"preserve\"></w:t></w:r></w:p>"));

  auto again = extract_docx(output);
  ASSERT_TRUE(again);
  ASSERT_EQ(again->segments.size(), 3u);
  EXPECT_EQ(again->segments[2].text, "HEAD");
  EXPECT_EQ(dir_.list(), (std::vector<std::string>{"report.docx", "report.fr.docx"}));
}

// Stored in the source, a run of zeros deflates a thousandfold: past the ratio the reader
// takes for a zip bomb. The translated copy must read back all the same.
TEST_F(DocxWrite, AnEntryThatWouldDeflatePastTheBombRatioIsStoredAndReadsBack) {
  items_.push_back({"word/media/zeros.bin", std::string(2 << 20, '\0'), true});
  write_zip(source_, items_);
  std::string output = dir_.file("report.fr.docx");
  ASSERT_TRUE(translate(output));
  auto again = extract_docx(output);
  ASSERT_TRUE(again) << again.error().message;
  auto records = read_zip(output);
  ASSERT_EQ(records.size(), items_.size());
  EXPECT_EQ(records.back().method, ZIP_CM_STORE);
  EXPECT_EQ(records.back().data, items_.back().data);
  EXPECT_EQ(records[2].method, ZIP_CM_DEFLATE);  // the others as always
  EXPECT_EQ(dir_.list(), (std::vector<std::string>{"report.docx", "report.fr.docx"}));
}

TEST_F(DocxWrite, OutputMayReplaceTheSource) {
  ASSERT_TRUE(translate(source_));
  auto records = read_zip(source_);
  ASSERT_EQ(records.size(), items_.size());
  EXPECT_EQ(records[3].data, items_[3].data);
  EXPECT_NE(records[2].data.find("HELLO"), std::string::npos);
  EXPECT_EQ(dir_.list(), std::vector<std::string>{"report.docx"});
}

TEST_F(DocxWrite, FailureLeavesNothingBehindAndTheOldOutputIntact) {
  std::string output = dir_.file("out.docx");
  write_bytes(output, "previous translation");
  {
    testing::FileSizeLimit limit(100'000);  // the disk fills up before the image is written
    auto written = translate(output);
    ASSERT_FALSE(written);
    EXPECT_EQ(written.error().message, "Write error: File too large");
  }
  EXPECT_EQ(read_bytes(output), "previous translation");
  EXPECT_EQ(dir_.list(), (std::vector<std::string>{"out.docx", "report.docx"}));

  auto uncreatable = translate("/proc/quorvel-test.docx");
  ASSERT_FALSE(uncreatable);
  EXPECT_EQ(uncreatable.error().message, "creating /proc/quorvel-test.docx");
  auto no_directory = translate(dir_.file("missing/out.docx"));
  ASSERT_FALSE(no_directory);
  EXPECT_EQ(no_directory.error().message, "creating " + dir_.file("missing/out.docx"));
  EXPECT_EQ(no_directory.error().cause, "No such file or directory");
}

TEST_F(DocxWrite, SourceThatChangedOrVanishedIsReported) {
  auto document = extract_docx(source_);
  ASSERT_TRUE(document);
  auto translations = upper_cased(*document);
  std::string output = dir_.file("out.docx");

  items_[2].data = document_xml(paragraph("only one now"));
  write_zip(source_, items_);
  auto changed = write_docx(*document, translations, output);
  ASSERT_FALSE(changed);
  EXPECT_EQ(changed.error().message, "rewriting word/document.xml");

  std::remove(source_.c_str());
  auto vanished = write_docx(*document, translations, output);
  ASSERT_FALSE(vanished);
  EXPECT_EQ(vanished.error().message, "re-opening " + source_);
  EXPECT_EQ(dir_.list(), std::vector<std::string>{});
}

TEST_F(DocxWrite, EntryHoldingMoreThanItsRecordedSizeIsStoppedWhileCopying) {
  const std::string body = document_xml(paragraph("x"));
  testing::write_raw_zip(source_,
                         {{"word/document.xml", body, static_cast<std::uint32_t>(body.size()),
                           static_cast<std::uint32_t>(body.size())},
                          {"word/media/big.bin", std::string(50'000, 'z'), 1000, 50'000}});
  auto written = translate(dir_.file("out.docx"));
  ASSERT_FALSE(written);
  EXPECT_EQ(written.error().message,
            "reading docx zip: entry word/media/big.bin holds more than its recorded size");
  EXPECT_EQ(dir_.list(), std::vector<std::string>{"report.docx"});
}

}  // namespace
}  // namespace quorvel

#include "translation/doc/limits.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/temp_dir.h"
#include "translation/doc/docx.h"
#include "translation/doc/plain_text.h"
#include "translation/doc/subtitles.h"
#include "translation/doc/zip_fixtures.h"

namespace quorvel {
namespace {

using testing::document_xml;
using testing::RawZipItem;
using testing::TempDir;
using testing::write_raw_zip;
using testing::write_zip;

const std::string TOO_MANY = "the document has more than 100000 paragraphs, the limit for one file";

std::string repeated(const std::string& unit, std::size_t times) {
  std::string out;
  out.reserve(unit.size() * times);
  for (std::size_t i = 0; i < times; ++i) out += unit;
  return out;
}

// A file of millions of one-word paragraphs would take gigabytes before the first prompt;
// every kind of document stops at the same paragraph count, and takes exactly that many.
TEST(DocumentLimits, ParagraphCountIsBoundedForEveryKind) {
  const std::size_t n = MAX_DOCUMENT_SEGMENTS;
  EXPECT_EQ(split_plain_text(repeated("p\n\n", n))->segments.size(), n);
  auto plain = split_plain_text(repeated("p\n\n", n + 1));
  ASSERT_FALSE(plain);
  EXPECT_EQ(plain.error().message, TOO_MANY);
  EXPECT_EQ(plain.error().kind, ErrorKind::limit);

  const std::string cue = "00:00.000 --> 00:01.000\nx\n\n";
  EXPECT_EQ(split_subtitles(repeated(cue, n))->segments.size(), n);
  auto subtitles = split_subtitles(repeated(cue, n + 1));
  ASSERT_FALSE(subtitles);
  EXPECT_EQ(subtitles.error().message, TOO_MANY);

  // In a package the count runs across parts.
  TempDir dir;
  const std::string paragraph = "<w:p><w:r><w:t>x</w:t></w:r></w:p>";
  // Stored: such repetitive XML would deflate past the zip-bomb ratio.
  write_zip(dir.file("full.docx"),
            {{"word/document.xml", document_xml(repeated(paragraph, n)), true}});
  auto full = extract_docx(dir.file("full.docx"));
  ASSERT_TRUE(full) << full.error().message;
  EXPECT_EQ(full->segments.size(), n);
  write_zip(dir.file("over.docx"),
            {{"word/document.xml", document_xml(repeated(paragraph, n - 1)), true},
             {"word/footnotes.xml", document_xml(repeated(paragraph, 2))}});
  auto over = extract_docx(dir.file("over.docx"));
  ASSERT_FALSE(over);
  EXPECT_EQ(over.error().message, TOO_MANY);
}

// The run of blank lines that used to cost a block each is now one literal; the output is
// byte for byte the same.
TEST(DocumentLimits, RunsOfBlankLinesStayExact) {
  std::string text = "a\n" + repeated("\n", 1000) + "  \n\t\nb\n" + repeated("\r\n", 10);
  auto document = split_plain_text(text);
  ASSERT_TRUE(document);
  EXPECT_EQ(document->blocks.size(), 4u);  // a, the blank run, b, the trailing blank run
  std::string expected = "a\n" + repeated("\n", 1000) + "  \n\t\nb\n" + repeated("\n", 10);
  EXPECT_EQ(render_plain_text(*document, Translations(2)), expected);
}

// One compressed stream listed under many names expands without bound while every entry's
// own ratio looks harmless (a "non-recursive" zip bomb); so does a package of many entries
// just under the per-entry grace size.
TEST(DocumentLimits, PackagesThatExpandBeyondTheirFileAreRefused) {
  TempDir dir;
  const std::string body = document_xml(testing::paragraph("x"));
  const auto body_size = static_cast<std::uint32_t>(body.size());
  std::string kernel(100'000, 'k');
  std::vector<RawZipItem> shared{{"word/document.xml", body, body_size, body_size}};
  for (int i = 0; i < 3; ++i) {
    // Each directory record claims the whole kernel; only the first local copy is real.
    shared.push_back(
        {"word/media/k" + std::to_string(i) + ".bin", i == 0 ? kernel : "", 100'000, 100'000});
  }
  write_raw_zip(dir.file("shared.docx"), shared);

  std::vector<RawZipItem> many{{"word/document.xml", body, body_size, body_size}};
  const std::uint32_t grace = DOCX_LIMITS.ratio_grace_bytes;
  for (std::uint64_t i = 0; i <= DOCX_LIMITS.package_bytes / grace; ++i) {
    many.push_back({"m/" + std::to_string(i), "z", grace, 1, 8});
  }
  write_raw_zip(dir.file("many.docx"), many);

  struct Case {
    std::string file;
    std::string message;
  };
  const Case cases[] = {
      {"shared.docx", "reading docx zip: entries share their compressed data (a zip bomb)"},
      {"many.docx", "reading docx zip: the entries expand to more than the 4 GiB package limit"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    auto document = extract_docx(dir.file(c.file));
    ASSERT_FALSE(document);
    EXPECT_EQ(document.error().message, c.message);
    EXPECT_EQ(document.error().kind, ErrorKind::limit);
  }
}

}  // namespace
}  // namespace quorvel

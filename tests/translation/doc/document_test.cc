#include "translation/doc/document.h"
#include "translation/doc/docx.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/temp_dir.h"
#include "translation/doc/zip_fixtures.h"

namespace quorvel {
namespace {

using testing::TempDir;

// One small document of each kind, each with two segments.
std::vector<std::pair<std::string, Document>> documents(const TempDir& dir) {
  testing::write_bytes(dir.file("a.md"), "One\n\nTwo\n");
  testing::write_bytes(dir.file("a.srt"),
                       "1\n00:00:01,000 --> 00:00:02,000\nOne\n\n"
                       "2\n00:00:03,000 --> 00:00:04,000\nTwo\n");
  testing::write_zip(dir.file("a.docx"),
                     {{"word/document.xml", testing::document_xml(testing::paragraph("One") +
                                                                  testing::paragraph("Two"))}});
  std::vector<std::pair<std::string, Document>> out;
  out.emplace_back("md", *parse_plain_text(dir.file("a.md")));
  out.emplace_back("srt", *parse_subtitles(dir.file("a.srt")));
  out.emplace_back("docx", *extract_docx(dir.file("a.docx")));
  return out;
}

TEST(WriteDocument, WritesEachKindWithItsWriter) {
  TempDir dir;
  for (const auto& [extension, document] : documents(dir)) {
    SCOPED_TRACE(extension);
    ASSERT_EQ(document_segments(document).size(), 2u);
    EXPECT_EQ(document_segments(document)[1].text, "Two");
    std::string output = dir.file("out." + extension);
    ASSERT_TRUE(write_document(document, {"Un", std::nullopt}, output));
    std::string written =
        extension == "docx" ? testing::read_zip(output)[0].data : testing::read_bytes(output);
    EXPECT_NE(written.find("Un"), std::string::npos);
    EXPECT_NE(written.find("Two"), std::string::npos);
  }
}

TEST(WriteDocument, CountMismatchWritesNothing) {
  TempDir dir;
  for (const auto& [extension, document] : documents(dir)) {
    SCOPED_TRACE(extension);
    std::string output = dir.file("out." + extension);
    auto short_one = write_document(document, {"Un"}, output);
    ASSERT_FALSE(short_one);
    EXPECT_EQ(short_one.error().message, "1 translations for 2 segments");
    auto long_one = write_document(document, Translations(3), output);
    ASSERT_FALSE(long_one);
    EXPECT_EQ(long_one.error().message, "3 translations for 2 segments");
  }
  EXPECT_EQ(dir.list(), (std::vector<std::string>{"a.docx", "a.md", "a.srt"}));
}

}  // namespace
}  // namespace quorvel

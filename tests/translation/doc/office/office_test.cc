// DOCX packages written by real programs (pandoc, LibreOffice) are translated with a
// deterministic fake translation, and LibreOffice then reads the translated copies: the
// package must keep every entry, and a real consumer must see the translations in place.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <set>
#include <string>
#include <vector>

#include "fakes/fake_generator.h"
#include "platform/text.h"
#include "support/temp_dir.h"
#include "translation/doc/docx.h"
#include "translation/doc/zip_fixtures.h"
#include "translation/inline_tags.h"
#include "translation/pipeline.h"

namespace quorvel {
namespace {

const char* const SAMPLES[] = {"pandoc-sample", "pandoc-licence", "office-sample", "office-licence",
                               "python-docx-sample"};

// A code paragraph that no translation comes back for: it must be left as it was.
constexpr std::string_view KEPT = "make install\nmake check";

std::string office_script() {
  return std::string(QUORVEL_SOURCE_DIR) + "/tests/translation/doc/office/office.py";
}

int run(const std::string& command) {
  return std::system((command + " >&2").c_str());
}

// Upper-cases the words and keeps the inline tags, as a model that keeps them would.
std::string translate(std::string_view text) {
  std::string out = "XX ";
  for (const auto& piece : parse_inline_tags(text)) {
    if (piece.kind != InlineKind::text) {
      out += piece.text;
      continue;
    }
    for (char c : piece.text) out += (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
  }
  return out;
}

bool is_simple(const std::string& text) {
  return text.find_first_of("\t\n") == std::string::npos;
}

struct Sample {
  std::string name;
  DocxDocument document;
  Translations translations;
};

class OfficeDocuments : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new testing::TempDir;
    ASSERT_EQ(run("/usr/bin/python3 " + office_script() + " samples " + dir_->path()), 0)
        << "pandoc or LibreOffice could not make the samples (scripts/install-deps.sh installs "
           "them)";
    samples_ = new std::vector<Sample>;
    for (const char* name : SAMPLES) {
      auto document = extract_docx(dir_->file(std::string(name) + ".docx"));
      ASSERT_TRUE(document) << name << ": " << document.error().message;
      Translations translations;
      for (const auto& segment : document->segments) {
        if (segment.text == KEPT) {
          translations.emplace_back();
        } else {
          translations.push_back(translate(segment.text));
        }
      }
      ASSERT_TRUE(write_docx(*document, translations, translated_path(name))) << name;
      samples_->push_back({name, std::move(*document), std::move(translations)});
    }
    // The python-docx sample once more through the pipeline, with a model that loses every
    // tag: the retry fails too and the words are placed without their formatting.
    const Sample& sample = samples_->back();
    FakeGenerator loser(FakeGenerator::tags_lost("xx"));
    auto lost = translate_segments(loser, {"fr", "en"}, sample.document.segments);
    ASSERT_TRUE(write_docx(sample.document, lost, lost_path()));
  }

  static std::string lost_path() { return dir_->file("python-docx-sample.lost.docx"); }

  static void TearDownTestSuite() {
    delete samples_;
    delete dir_;
  }

  static std::string translated_path(const std::string& name) {
    return dir_->file(name + ".fr.docx");
  }

  static std::vector<std::string> texts(const DocxDocument& document) {
    std::vector<std::string> out;
    for (const auto& segment : document.segments) {
      out.emplace_back(trim(strip_inline_tags(segment.text)));
    }
    return out;
  }

  static testing::TempDir* dir_;
  static std::vector<Sample>* samples_;
};

testing::TempDir* OfficeDocuments::dir_ = nullptr;
std::vector<Sample>* OfficeDocuments::samples_ = nullptr;

TEST_F(OfficeDocuments, FindsTheTextOfEveryKindOfPart) {
  ASSERT_EQ(samples_->size(), 5u);
  const std::vector<std::vector<std::string>> expected = {
      {"Introduction", "This paragraph has bold, italic and code runs.", "First bullet point",
       "Alpha", "Second value", "An image caption", "A line with a break\nand its second line.",
       "A footnote written by pandoc.", "The comment from pandoc."},
      {"TERMS AND CONDITIONS FOR USE, REPRODUCTION, AND DISTRIBUTION", "Definitions.",
       "END OF TERMS AND CONDITIONS"},
      {"Plain bold and italic words in one paragraph.", "First list item", "Cell number two",
       "Line one\nline two\tafter a tab", "Header text of the office sample",
       "Footer text of the office sample", "The footnote of the office sample.",
       "The comment of the office sample."},
      {"GNU GENERAL PUBLIC LICENSE", "END OF TERMS AND CONDITIONS"},
      {"This guide explains how to build and install the tools on a Unix-like system. Read the "
       "online manual first.",
       "Warning: Back up your configuration before upgrading.", std::string(KEPT),
       "Draft of the quarterly report", "Page  \u2014 Confidential"},
  };
  for (std::size_t i = 0; i < samples_->size(); ++i) {
    SCOPED_TRACE((*samples_)[i].name);
    auto found = texts((*samples_)[i].document);
    for (const auto& text : expected[i]) {
      EXPECT_NE(std::find(found.begin(), found.end(), text), found.end()) << text;
    }
  }
}

TEST_F(OfficeDocuments, TranslatedCopyKeepsThePackage) {
  for (const auto& sample : *samples_) {
    SCOPED_TRACE(sample.name);
    auto source = testing::read_zip(dir_->file(sample.name + ".docx"));
    auto copy = testing::read_zip(translated_path(sample.name));
    std::set<std::string> rewritten;
    for (const auto& part : sample.document.parts) rewritten.insert(part.name);
    ASSERT_EQ(copy.size(), source.size());
    for (std::size_t i = 0; i < source.size(); ++i) {
      EXPECT_EQ(copy[i].name, source[i].name);
      EXPECT_EQ(copy[i].method, source[i].data.empty() ? copy[i].method : ZIP_CM_DEFLATE);
      if (!rewritten.count(source[i].name)) {
        EXPECT_TRUE(copy[i].data == source[i].data) << source[i].name << " changed";
      }
    }

    // Reading the copy again finds each paragraph holding exactly its translation.
    auto again = extract_docx(translated_path(sample.name));
    ASSERT_TRUE(again) << again.error().message;
    ASSERT_EQ(again->segments.size(), sample.translations.size());
    for (std::size_t i = 0; i < sample.translations.size(); ++i) {
      const std::string& source = sample.document.segments[i].text;
      if (is_simple(source) || !sample.translations[i]) {
        EXPECT_EQ(again->segments[i].text, sample.translations[i].value_or(source));
      }
    }
  }
}

TEST_F(OfficeDocuments, LibreOfficeReadsTheTranslatedCopies) {
  std::string command = "/usr/bin/python3 " + office_script() + " text " + dir_->file("text");
  for (const auto& sample : *samples_) command += " " + translated_path(sample.name);
  command += " " + lost_path();
  ASSERT_EQ(run(command), 0) << "LibreOffice could not read a translated copy";
  EXPECT_NE(testing::read_bytes(dir_->file("text/python-docx-sample.lost.txt"))
                .find("[xx] This guide explains how to build and install the tools on a Unix-like "
                      "system. Read the online manual first."),
            std::string::npos);

  for (const auto& sample : *samples_) {
    SCOPED_TRACE(sample.name);
    std::string text = testing::read_bytes(dir_->file("text/" + sample.name + ".fr.txt"));
    std::set<std::string> lines;
    for (auto line : split_lines(text)) lines.emplace(trim(line));

    // LibreOffice's text export holds the main document; the body paragraphs are checked.
    std::set<std::size_t> body;
    for (const auto& part : sample.document.parts) {
      if (part.name != "word/document.xml") continue;
      for (const auto& slot : part.slots) {
        if (slot.role == SlotRole::carrier) body.insert(slot.segment);
      }
    }
    ASSERT_FALSE(body.empty());
    std::size_t checked = 0;
    for (auto i : body) {
      const std::string source = strip_inline_tags(sample.document.segments[i].text);
      if (!is_simple(source) || !sample.translations[i]) continue;
      std::string expected(trim(strip_inline_tags(*sample.translations[i])));
      EXPECT_NE(text.find(expected), std::string::npos) << expected;
      EXPECT_EQ(lines.count(std::string(trim(source))), 0u) << "still untranslated: " << source;
      ++checked;
    }
    EXPECT_GE(checked, 2u);
  }
}

// The part of `xml` from the start of the paragraph holding `text` to its end.
std::string paragraph_holding(const std::string& xml, std::string_view text) {
  std::size_t at = xml.find(text);
  if (at == std::string::npos) return {};
  std::size_t begin = xml.rfind("<w:p>", at);
  std::size_t other = xml.rfind("<w:p ", at);
  if (begin == std::string::npos || (other != std::string::npos && other > begin)) begin = other;
  std::size_t end = xml.find("</w:p>", at);
  if (begin == std::string::npos || end == std::string::npos) return {};
  return xml.substr(begin, end + 6 - begin);
}

// The formatting of the run whose text is `text`: its <w:rPr> element, or empty.
std::string formatting_of(const std::string& xml, std::string_view text) {
  std::size_t at = xml.find(">" + std::string(text) + "</w:t>");
  std::size_t run = xml.rfind("<w:r>", at);
  if (at == std::string::npos || run == std::string::npos) return "missing";
  std::string_view head = std::string_view(xml).substr(run, at - run);
  if (!head.starts_with("<w:r><w:rPr>")) return {};
  return std::string(head.substr(5, head.find("</w:rPr>") + 8 - 5));
}

std::string entry(const std::string& path, const std::string& name) {
  for (auto& record : testing::read_zip(path)) {
    if (record.name == name) return record.data;
  }
  return {};
}

TEST_F(OfficeDocuments, SpansKeepTheirFormattingLinksAndFieldsAndKeptParagraphsTheirBytes) {
  const std::string source = dir_->file("python-docx-sample.docx");
  const std::string copy = translated_path("python-docx-sample");
  const std::string body = entry(copy, "word/document.xml");

  EXPECT_EQ(formatting_of(body, "BUILD AND INSTALL"), "<w:rPr><w:b/></w:rPr>");
  EXPECT_EQ(formatting_of(body, "UNIX-LIKE"), "<w:rPr><w:i/></w:rPr>");
  EXPECT_EQ(formatting_of(body, "WARNING:"), "<w:rPr><w:b/></w:rPr>");
  EXPECT_EQ(formatting_of(body, "BACK UP"), "<w:rPr><w:i/></w:rPr>");
  EXPECT_EQ(formatting_of(body, " YOUR CONFIGURATION BEFORE UPGRADING."), "");
  // The link text is still inside the hyperlink, which still names its target.
  std::size_t link = body.find("<w:hyperlink r:id=\"");
  ASSERT_NE(link, std::string::npos);
  EXPECT_LT(body.find("ONLINE MANUAL", link), body.find("</w:hyperlink>", link));
  EXPECT_NE(entry(copy, "word/_rels/document.xml.rels").find("https://example.org/manual"),
            std::string::npos);

  // Kept: byte for byte, its line break still an element.
  const std::string kept = paragraph_holding(entry(source, "word/document.xml"), "make install");
  ASSERT_NE(kept.find("<w:br/>"), std::string::npos);
  EXPECT_EQ(paragraph_holding(body, "make install"), kept);

  // The page field stays a field, between the words around it.
  const std::string footer = paragraph_holding(entry(copy, "word/footer1.xml"), "PAGE");
  std::size_t begin = footer.find("w:fldCharType=\"begin\"");
  std::size_t end = footer.find("w:fldCharType=\"end\"");
  ASSERT_NE(begin, std::string::npos);
  EXPECT_LT(footer.find("XX PAGE"), begin);
  EXPECT_LT(begin, footer.find(" PAGE </w:instrText>"));
  EXPECT_GT(footer.find("CONFIDENTIAL"), end);
}

TEST_F(OfficeDocuments, LostTagsCostTheSpansAndLinksButNeverTheWordsOrFields) {
  const std::string body = entry(lost_path(), "word/document.xml");
  // The words in one run of the paragraph's main formatting, no link left around them.
  EXPECT_EQ(formatting_of(body,
                          "[xx] This guide explains how to build and install the tools on "
                          "a Unix-like system. Read the online manual first."),
            "");
  EXPECT_EQ(body.find("<w:hyperlink"), std::string::npos);
  // The page field survives, after the words it stood between.
  const std::string footer = paragraph_holding(entry(lost_path(), "word/footer1.xml"), "PAGE");
  std::size_t words = footer.find("[xx] Page  \u2014 Confidential");
  ASSERT_NE(words, std::string::npos);
  EXPECT_LT(words, footer.find("w:fldCharType=\"begin\""));
  EXPECT_NE(footer.find(" PAGE </w:instrText>"), std::string::npos);
  EXPECT_NE(footer.find("w:fldCharType=\"end\""), std::string::npos);
}

}  // namespace
}  // namespace quorvel

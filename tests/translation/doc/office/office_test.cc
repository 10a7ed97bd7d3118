// DOCX packages written by real programs (pandoc, LibreOffice) are translated with a
// deterministic fake translation, and LibreOffice then reads the translated copies: the
// package must keep every entry, and a real consumer must see the translations in place.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <set>
#include <string>
#include <vector>

#include "platform/text.h"
#include "support/temp_dir.h"
#include "translation/doc/docx.h"
#include "translation/doc/zip_fixtures.h"
#include "translation/inline_tags.h"

namespace quorvel {
namespace {

const char* const SAMPLES[] = {"pandoc-sample", "pandoc-licence", "office-sample",
                               "office-licence"};

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
      for (const auto& segment : document->segments)
        translations.push_back(translate(segment.text));
      ASSERT_TRUE(write_docx(*document, translations, translated_path(name))) << name;
      samples_->push_back({name, std::move(*document), std::move(translations)});
    }
  }

  static void TearDownTestSuite() {
    delete samples_;
    delete dir_;
  }

  static std::string translated_path(const std::string& name) {
    return dir_->file(name + ".fr.docx");
  }

  static std::vector<std::string> texts(const DocxDocument& document) {
    std::vector<std::string> out;
    for (const auto& segment : document.segments) out.emplace_back(trim(segment.text));
    return out;
  }

  static testing::TempDir* dir_;
  static std::vector<Sample>* samples_;
};

testing::TempDir* OfficeDocuments::dir_ = nullptr;
std::vector<Sample>* OfficeDocuments::samples_ = nullptr;

TEST_F(OfficeDocuments, FindsTheTextOfEveryKindOfPart) {
  ASSERT_EQ(samples_->size(), 4u);
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
      if (is_simple(sample.document.segments[i].text)) {
        EXPECT_EQ(again->segments[i].text, *sample.translations[i]);
      }
    }
  }
}

TEST_F(OfficeDocuments, LibreOfficeReadsTheTranslatedCopies) {
  std::string command = "/usr/bin/python3 " + office_script() + " text " + dir_->file("text");
  for (const auto& sample : *samples_) command += " " + translated_path(sample.name);
  ASSERT_EQ(run(command), 0) << "LibreOffice could not read a translated copy";

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
      const std::string& source = sample.document.segments[i].text;
      if (!is_simple(source)) continue;
      std::string expected(trim(*sample.translations[i]));
      EXPECT_NE(text.find(expected), std::string::npos) << expected;
      EXPECT_EQ(lines.count(std::string(trim(source))), 0u) << "still untranslated: " << source;
      ++checked;
    }
    EXPECT_GE(checked, 2u);
  }
}

}  // namespace
}  // namespace quorvel

// Presentations, workbooks and OpenDocument files written by LibreOffice and openpyxl are
// translated with a deterministic fake translation; the copies must keep every other entry
// byte for byte, keep numbers, dates and formulas, and LibreOffice must open each copy,
// convert it to PDF and find the translations where the source text was.

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <nlohmann/json.hpp>
#include <set>
#include <string>
#include <vector>

#include "platform/text.h"
#include "support/temp_dir.h"
#include "translation/doc/formats.h"
#include "translation/doc/zip_fixtures.h"
#include "translation/inline_tags.h"
#include "translation/jobs.h"

namespace quorvel {
namespace {

const char* const SAMPLES[] = {"deck.pptx", "deck.odp", "calc.xlsx",
                               "calc.ods",  "text.odt", "book.xlsx"};

std::string script() {
  return std::string(QUORVEL_SOURCE_DIR) + "/tests/translation/doc/office/packages.py";
}

int run(const std::string& command) {
  return std::system((command + " >&2").c_str());
}

std::string output_of(const std::string& command) {
  std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
  std::string out;
  char buffer[4096];
  while (pipe && std::fgets(buffer, sizeof buffer, pipe.get())) out += buffer;
  return out;
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

std::string translated_name(const std::string& name) {
  return default_output_path(name, "fr");
}

struct Sample {
  std::string name;
  PackageDocument document;
};

class OfficePackages : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new testing::TempDir;
    ASSERT_EQ(run("/usr/bin/python3 " + script() + " samples " + dir_->path()), 0)
        << "LibreOffice or openpyxl could not make the samples (scripts/install-deps.sh "
           "installs them)";
    samples_ = new std::vector<Sample>;
    std::string check = "/usr/bin/python3 " + script() + " check " + dir_->file("check");
    for (const char* name : SAMPLES) {
      const FileFormat* format = format_for_extension(file_extension(name));
      ASSERT_NE(format, nullptr) << name;
      auto document = format->parse(dir_->file(name));
      ASSERT_TRUE(document) << name << ": " << document.error().message;
      Translations translations;
      for (const auto& segment : document_segments(*document)) {
        translations.push_back(translate(segment.text));
      }
      const std::string out = dir_->file(translated_name(name));
      auto written = write_document(*document, translations, out);
      ASSERT_TRUE(written) << name << ": " << written.error().message;
      samples_->push_back({name, std::get<PackageDocument>(std::move(*document))});
      check += " " + out;
    }
    converted_ = run(check) == 0;
  }

  static void TearDownTestSuite() {
    delete samples_;
    delete dir_;
  }

  static std::vector<std::string> texts(const Sample& sample) {
    std::vector<std::string> out;
    for (const auto& segment : sample.document.segments) out.push_back(segment.text);
    return out;
  }

  static const Sample& sample(std::string_view name) {
    for (const auto& s : *samples_) {
      if (s.name == name) return s;
    }
    ADD_FAILURE() << "no sample " << name;
    return samples_->front();
  }

  static testing::TempDir* dir_;
  static std::vector<Sample>* samples_;
  static bool converted_;
};

testing::TempDir* OfficePackages::dir_ = nullptr;
std::vector<Sample>* OfficePackages::samples_ = nullptr;
bool OfficePackages::converted_ = false;

TEST_F(OfficePackages, ReadsTheTextInReadingOrderAndNothingElse) {
  const std::vector<std::string> slides = {"Welcome to the quarterly review",
                                           "Sales grew in <g1>every region</g1> this year.",
                                           "First line\nsecond line",
                                           "Text in a grouped shape",
                                           "Another grouped text",
                                           "Table header cell",
                                           "Second header cell",
                                           "Slide <x1/> of the deck"};
  struct Case {
    const char* name;
    std::vector<std::string> expected;  // in this order, among others
    std::vector<std::string> absent;    // substrings of no segment
  };
  const Case cases[] = {
      {"deck.pptx",
       {slides[0], slides[1], slides[2], slides[3], slides[4], slides[5], slides[7],
        "Speaker notes for the opening slide.", "Speaker notes for the details slide."},
       {"Template text", "Opening", "Details"}},
      {"deck.odp",
       {slides[0], slides[1], slides[2], "Speaker notes for the opening slide.", slides[3],
        slides[5], slides[7]},
       {"Opening", "Details"}},
      {"calc.xlsx",
       {"Quarterly budget", "Repeated label", "Mixed <g1>bold</g1> cell", "Total of the budget",
        "A note on the cell"},
       {"1250", "2501", "3751", "Budget", "Totals", "2024"}},
      {"calc.ods",
       {"Quarterly budget", "Repeated label", "A note on the cell", "Mixed <g1>bold</g1> cell",
        "Total of the budget"},
       {"1250", "2501", "3751", "Budget", "Totals", "2024"}},
      {"text.odt",
       {"A heading from the office sample", "The footnote of the office sample.",
        "Plain <g1>bold</g1> and <g2>italic</g2> words in one paragraph.",
        "The comment of the office sample.", "First list item", "Cell number one",
        "Line one\nline two\tafter a tab", "Text after the image.",
        "Header text of the office sample", "Footer text of the office sample"},
       {"Values", "Picture", "Tester"}},
      {"book.xlsx",
       {"Quarterly budget", "Repeated label", "  Spaces around  ", "Line one\nline two",
        "Total of the budget", "Check the figures before sending"},
       {"1250", "B1*2", "SUM", "BudgetTotal"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto found = texts(sample(c.name));
    auto at = found.begin();
    for (const auto& text : c.expected) {
      auto next = std::find_if(at, found.end(), [&](const std::string& t) {
        return t == text || strip_inline_tags(t).ends_with(text);
      });
      EXPECT_NE(next, found.end()) << "missing or out of order: " << text;
      if (next != found.end()) at = next;
    }
    for (const auto& text : found) {
      for (const auto& absent : c.absent) EXPECT_EQ(text.find(absent), std::string::npos) << text;
    }
  }
  // A string shared by several cells is one segment; openpyxl's inline strings are one each.
  auto calc = texts(sample("calc.xlsx"));
  EXPECT_EQ(std::count(calc.begin(), calc.end(), "Repeated label"), 1);
  auto book = texts(sample("book.xlsx"));
  EXPECT_EQ(std::count(book.begin(), book.end(), "Repeated label"), 3);
}

TEST_F(OfficePackages, CopiesKeepEveryOtherEntryByteForByte) {
  for (const auto& s : *samples_) {
    SCOPED_TRACE(s.name);
    auto source = testing::read_zip(dir_->file(s.name));
    auto copy = testing::read_zip(dir_->file(translated_name(s.name)));
    std::set<std::string> rewritten;  // the parts with a translated paragraph
    for (const auto& part : s.document.parts) {
      for (const auto& slot : part.slots) {
        if (slot.role == SlotRole::carrier) rewritten.insert(part.name);
      }
    }
    ASSERT_EQ(copy.size(), source.size());
    for (std::size_t i = 0; i < source.size(); ++i) {
      EXPECT_EQ(copy[i].name, source[i].name);
      if (rewritten.count(source[i].name)) {
        EXPECT_NE(copy[i].data, source[i].data) << source[i].name << " kept its text";
      } else {
        EXPECT_TRUE(copy[i].data == source[i].data) << source[i].name << " changed";
      }
    }
    if (s.name.ends_with(".xlsx") || s.name.ends_with(".pptx")) continue;
    // OpenDocument readers find the type at a fixed place: first and stored.
    ASSERT_FALSE(copy.empty());
    EXPECT_EQ(copy[0].name, "mimetype");
    EXPECT_EQ(copy[0].method, ZIP_CM_STORE);
  }
}

TEST_F(OfficePackages, ReadingACopyFindsTheTranslations) {
  for (const auto& s : *samples_) {
    SCOPED_TRACE(s.name);
    const FileFormat* format = format_for_extension(file_extension(s.name));
    auto again = format->parse(dir_->file(translated_name(s.name)));
    ASSERT_TRUE(again) << again.error().message;
    const auto& segments = document_segments(*again);
    ASSERT_EQ(segments.size(), s.document.segments.size());
    for (std::size_t i = 0; i < segments.size(); ++i) {
      EXPECT_EQ(segments[i].text, translate(s.document.segments[i].text));
    }
  }
}

TEST_F(OfficePackages, WorkbooksKeepFormulasNumbersDatesAndNames) {
  const std::string command = "/usr/bin/python3 " + script() + " cells ";
  auto source = nlohmann::json::parse(output_of(command + dir_->file("book.xlsx")));
  auto copy = nlohmann::json::parse(output_of(command + dir_->file("book.fr.xlsx")));
  EXPECT_EQ(copy["sheets"], source["sheets"]);
  EXPECT_EQ(copy["names"], source["names"]);
  ASSERT_EQ(copy["cells"].size(), source["cells"].size());
  std::size_t strings = 0;
  for (std::size_t i = 0; i < source["cells"].size(); ++i) {
    const auto& before = source["cells"][i];
    const auto& after = copy["cells"][i];
    SCOPED_TRACE(before.dump());
    EXPECT_EQ(after[0], before[0]);
    EXPECT_EQ(after[1], before[1]);
    EXPECT_EQ(after[2], before[2]);
    if (before[2] == "s") {
      EXPECT_EQ(after[3], translate(before[3].get<std::string>()));
      ++strings;
    } else {
      EXPECT_EQ(after[3], before[3]);
    }
  }
  EXPECT_EQ(strings, 7u);
}

TEST_F(OfficePackages, LibreOfficeOpensEveryCopyAndSeesTheTranslations) {
  ASSERT_TRUE(converted_) << "LibreOffice could not convert a translated copy";
  for (const auto& s : *samples_) {
    SCOPED_TRACE(s.name);
    std::string base = translated_name(s.name);
    std::string flat_name = base;
    for (auto& c : flat_name) c = c == '.' ? '_' : c;
    std::string ext = s.name.ends_with(".pptx") || s.name.ends_with(".odp")   ? "fodp"
                      : s.name.ends_with(".xlsx") || s.name.ends_with(".ods") ? "fods"
                                                                              : "fodt";
    std::string flat = testing::read_bytes(dir_->file("check/" + flat_name + "." + ext));
    ASSERT_FALSE(flat.empty());
    std::size_t checked = 0;
    for (const auto& segment : s.document.segments) {
      // LibreOffice's flat export of a spreadsheet leaves cell comments out, of the source
      // as well; the comment is checked by reading the copy above.
      if (s.name == "calc.ods" && segment.text == "A note on the cell") continue;
      if (segment.text.find_first_of("<\n\t ") != std::string::npos &&
          segment.text.find(' ') != std::string::npos && !has_inline_tags(segment.text) &&
          segment.text.find('\n') == std::string::npos && !segment.text.starts_with(' ')) {
        // Plain one-line text reads back as it was written.
        EXPECT_NE(flat.find(translate(segment.text)), std::string::npos) << segment.text;
        EXPECT_EQ(flat.find(">" + segment.text + "<"), std::string::npos)
            << "still untranslated: " << segment.text;
        ++checked;
      }
    }
    EXPECT_GE(checked, 3u);
  }
}

}  // namespace
}  // namespace quorvel

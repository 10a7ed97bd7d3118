#include "translation/doc/xlsx.h"

#include <algorithm>

#include "translation/doc/package/paragraphs.h"
#include "translation/doc/package/relationships.h"

namespace quorvel {
namespace {

constexpr std::string_view STRING_ITEMS[] = {"si", "is"};
constexpr std::string_view COMMENT_TEXTS[] = {"text"};
// Phonetic guides belong to the text as it was; they stay as they are.
constexpr std::string_view MARKERS[] = {"rPh", "phoneticPr"};

// A string item is one <t>, or runs of <rPr> and <t>; a line feed is a character of the text.
constexpr ParagraphVocabulary STRINGS{
    .paragraphs = STRING_ITEMS,
    .run = "r",
    .text = "t",
    .markers = MARKERS,
    .preserve_space = true,
};

constexpr ParagraphVocabulary COMMENTS{
    .paragraphs = COMMENT_TEXTS,
    .run = "r",
    .text = "t",
    .markers = MARKERS,
    .preserve_space = true,
};

// A threaded comment's <text> is plain character data.
constexpr ParagraphVocabulary THREADED{
    .paragraphs = COMMENT_TEXTS,
};

// The parts named `stem`N.xml, shortest name first so that sheet2 comes before sheet10.
std::vector<std::size_t> numbered(const EntryReader& package, std::string_view stem) {
  std::vector<std::size_t> found;
  for (std::size_t i = 0; i < package.entries.size(); ++i) {
    const auto& name = package.entries[i].name;
    if (name.starts_with(stem) && name.ends_with(".xml") &&
        name.find('/', stem.size()) == std::string::npos) {
      found.push_back(i);
    }
  }
  std::sort(found.begin(), found.end(), [&](std::size_t a, std::size_t b) {
    const auto& x = package.entries[a].name;
    const auto& y = package.entries[b].name;
    return x.size() != y.size() ? x.size() < y.size() : x < y;
  });
  return found;
}

Result<std::vector<ChosenPart>> choose_parts(const EntryReader& package) {
  std::vector<ChosenPart> chosen;
  auto add = [&](std::size_t entry, const PartReader& reader) {
    for (const auto& part : chosen) {
      if (part.entry == entry) return;
    }
    chosen.push_back({entry, &reader});
  };
  std::size_t strings = package.find("xl/sharedStrings.xml");
  if (strings < package.entries.size()) add(strings, XLSX_STRINGS_PART);
  const auto sheets = numbered(package, "xl/worksheets/sheet");
  for (auto entry : sheets) add(entry, XLSX_STRINGS_PART);
  // Comments belong to their sheet, wherever the writer put them.
  for (auto sheet : sheets) {
    const std::string& name = package.entries[sheet].name;
    auto comments = related_entries(package, name, "/comments");
    if (!comments) return std::unexpected(comments.error());
    for (auto entry : *comments) add(entry, XLSX_COMMENTS_PART);
  }
  for (auto sheet : sheets) {
    auto threads = related_entries(package, package.entries[sheet].name, "/threadedComment");
    if (!threads) return std::unexpected(threads.error());
    for (auto entry : *threads) add(entry, XLSX_THREADED_PART);
  }
  return chosen;
}

}  // namespace

const PartReader XLSX_STRINGS_PART = ParagraphPart<STRINGS>::reader;
const PartReader XLSX_COMMENTS_PART = ParagraphPart<COMMENTS>::reader;
const PartReader XLSX_THREADED_PART = ParagraphPart<THREADED>::reader;
const PackageFormat XLSX_FORMAT{"xlsx", XLSX_LIMITS, choose_parts, {}};

}  // namespace quorvel

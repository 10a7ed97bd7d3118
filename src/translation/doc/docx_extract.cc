#include <fmt/core.h>

#include <algorithm>

#include "platform/text.h"
#include "translation/doc/docx.h"
#include "translation/doc/docx_paragraphs.h"
#include "translation/doc/limits.h"

namespace quorvel {
namespace {

bool is_numbered_part(const std::string& name, std::string_view prefix) {
  return name.starts_with(prefix) && name.ends_with(".xml");
}

const PartReader DOCX_PART{extract_part, rewrite_part};

// The parts that hold text, in reading order, each name once.
Result<std::vector<ChosenPart>> choose_parts(const EntryReader& package) {
  const auto& entries = package.entries;
  auto sorted_names = [&](std::string_view prefix) {
    std::vector<std::string> names;
    for (const auto& entry : entries) {
      if (is_numbered_part(entry.name, prefix)) names.push_back(entry.name);
    }
    std::sort(names.begin(), names.end());  // byte-wise: header10 before header2
    names.erase(std::unique(names.begin(), names.end()), names.end());
    return names;
  };

  std::vector<std::string> names{"word/document.xml"};
  for (auto& name : sorted_names("word/header")) names.push_back(std::move(name));
  for (auto& name : sorted_names("word/footer")) names.push_back(std::move(name));
  for (const char* name : {"word/footnotes.xml", "word/endnotes.xml", "word/comments.xml"}) {
    names.emplace_back(name);
  }

  std::vector<ChosenPart> chosen;
  for (const auto& name : names) {
    std::size_t index = package.find(name);
    if (index < entries.size()) chosen.push_back({index, &DOCX_PART});
  }
  return chosen;
}

}  // namespace

Result<std::vector<TextSlot>> extract_part(std::string_view xml, std::vector<Segment>& segments) {
  const std::size_t segments_before = segments.size();
  std::vector<TextSlot> slots;
  bool overflow = false;
  auto scanned = scan_paragraphs(xml, [&](DocxParagraph&& paragraph) {
    if (segments.size() == MAX_DOCUMENT_SEGMENTS) {
      overflow = true;
      return false;
    }
    const std::size_t segment = segments.size();
    const TagPolicy tags = paragraph.tags.empty() ? TagPolicy::none : TagPolicy::strip;
    segments.push_back(Segment{std::move(paragraph.text), tags});
    for (std::size_t i = 0; i < paragraph.text_slots.size(); ++i) {
      std::size_t position = paragraph.text_slots[i];
      if (slots.size() <= position) slots.resize(position + 1);
      slots[position] = {i == 0 ? SlotRole::carrier : SlotRole::cleared, segment};
    }
    return true;
  });
  if (!scanned || overflow) {
    segments.resize(segments_before);
    if (!scanned) return std::unexpected(scanned.error());
    return too_many_segments();
  }
  slots.resize(*scanned);
  return slots;
}

const PackageFormat DOCX_FORMAT{"docx", DOCX_LIMITS, choose_parts, {}};

Result<DocxDocument> extract_docx(const std::string& path) {
  return extract_package(path, DOCX_FORMAT);
}

Result<void> write_docx(const DocxDocument& document, const Translations& translations,
                        const std::string& output_path) {
  return write_package(document, translations, output_path);
}

}  // namespace quorvel

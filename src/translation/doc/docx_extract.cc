#include <fmt/core.h>

#include <algorithm>

#include "platform/text.h"
#include "translation/doc/docx.h"
#include "translation/doc/docx_paragraphs.h"
#include "translation/doc/docx_xml.h"
#include "translation/doc/docx_zip.h"
#include "translation/doc/limits.h"

namespace quorvel {
namespace {

bool is_numbered_part(const std::string& name, std::string_view prefix) {
  return name.starts_with(prefix) && name.ends_with(".xml");
}

// The entry indices of the parts that hold text, in reading order, each name once.
std::vector<std::size_t> choose_parts(const std::vector<ZipEntry>& entries) {
  auto first_named = [&](const std::string& name) {
    for (std::size_t i = 0; i < entries.size(); ++i) {
      if (entries[i].name == name) return i;
    }
    return entries.size();
  };
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

  std::vector<std::size_t> chosen;
  for (const auto& name : names) {
    std::size_t index = first_named(name);
    if (index < entries.size()) chosen.push_back(index);
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

Result<DocxDocument> extract_docx(const std::string& path) {
  auto archive = ZipArchive::open(path, fmt::format("opening {}", path), "reading docx zip");
  if (!archive) return std::unexpected(archive.error());
  auto entries = archive->entries();
  if (!entries) return std::unexpected(entries.error());

  auto chosen = choose_parts(*entries);
  std::uint64_t total = 0;
  for (auto index : chosen) total += (*entries)[index].size;
  if (total > MAX_DOCX_TEXT_BYTES) {
    return fail(ErrorKind::limit,
                fmt::format("reading docx zip: the text parts exceed the {} MiB limit",
                            MAX_DOCX_TEXT_BYTES / MIB));
  }

  DocxDocument document;
  document.source_path = path;
  for (auto index : chosen) {
    const auto& entry = (*entries)[index];
    auto xml = archive->read(index, entry.size);
    if (!xml) return std::unexpected(xml.error());
    auto slots = extract_part(*xml, document.segments);
    if (!slots && slots.error().kind == ErrorKind::limit) return std::unexpected(slots.error());
    if (!slots) {
      return fail(ErrorKind::format, fmt::format("parsing {}", entry.name), slots.error().message);
    }
    document.parts.push_back(DocxPart{entry.name, std::move(*slots)});
  }
  if (document.segments.empty()) {
    return fail(ErrorKind::format, "no translatable text found in document");
  }
  return document;
}

}  // namespace quorvel

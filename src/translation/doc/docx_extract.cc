#include <fmt/core.h>

#include <algorithm>

#include "platform/text.h"
#include "translation/doc/docx.h"
#include "translation/doc/docx_xml.h"
#include "translation/doc/docx_zip.h"
#include "translation/doc/limits.h"

namespace quorvel {
namespace {

// Builds the slot list of one part and its paragraphs' segments, event by event.
class PartExtractor : public XmlHandler {
 public:
  explicit PartExtractor(std::vector<Segment>& segments) : segments_(segments) {}

  void start(std::string_view name, ByteSpan, bool self_closing) override {
    if (overflow_) return;
    if (name == "w:t") {
      paragraph_slots_.push_back(slots_.size());
      slots_.push_back(TextSlot{});
      if (!self_closing) in_text_ = true;
    } else if (self_closing && !in_text_) {
      if (name == "w:br") text_ += '\n';
      if (name == "w:tab") text_ += '\t';
    }
  }

  void end(std::string_view name, ByteSpan) override {
    if (name == "w:t") in_text_ = false;
    if (name == "w:p") finish_paragraph();
  }

  // CDATA content arrives here too: it is text of the element, and leaving it out of the
  // segment would lose it when the element's content is replaced.
  void text(std::string_view decoded) override {
    if (in_text_ && !overflow_) text_ += decoded;
  }

  bool in_text() const override { return in_text_; }

  std::vector<TextSlot> finish() {
    finish_paragraph();  // text after the last paragraph end counts as a paragraph
    return std::move(slots_);
  }

  /// Set once the document has more segments than allowed; the rest of the part is then
  /// only parsed, not collected.
  bool overflow() const { return overflow_; }

 private:
  void finish_paragraph() {
    if (overflow_) return;
    if (!is_blank(text_) && !paragraph_slots_.empty()) {
      if (segments_.size() == MAX_DOCUMENT_SEGMENTS) {
        overflow_ = true;
        return;
      }
      std::size_t segment = segments_.size();
      segments_.push_back(Segment{std::move(text_)});
      for (std::size_t i = 0; i < paragraph_slots_.size(); ++i) {
        slots_[paragraph_slots_[i]] = {i == 0 ? SlotRole::carrier : SlotRole::cleared, segment};
      }
    }
    text_.clear();
    paragraph_slots_.clear();
  }

  std::vector<Segment>& segments_;
  std::vector<TextSlot> slots_;
  std::vector<std::size_t> paragraph_slots_;
  std::string text_;
  bool in_text_ = false;
  bool overflow_ = false;
};

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
  std::size_t segments_before = segments.size();
  PartExtractor extractor(segments);
  auto parsed = parse_xml(xml, extractor);
  auto slots = extractor.finish();
  if (!parsed || extractor.overflow()) {
    segments.resize(segments_before);
    if (!parsed) return std::unexpected(parsed.error());
    return too_many_segments();
  }
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

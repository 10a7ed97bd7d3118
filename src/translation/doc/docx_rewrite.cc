// Putting translations back into one XML part: the part's paragraphs are found again with
// the scanner extraction used, and only the bytes of translated paragraphs are replaced.

#include <fmt/core.h>

#include <algorithm>
#include <optional>

#include "platform/text.h"
#include "translation/doc/docx.h"
#include "translation/doc/docx_paragraphs.h"
#include "translation/inline_tags.h"

namespace quorvel {
namespace {

constexpr std::string_view PRESERVED_TEXT_TAG = "<w:t xml:space=\"preserve\">";

// `<w:t` with the source tag's attributes as written, except xml:space, then
// xml:space="preserve" so that leading and trailing spaces of the text survive.
std::string replacement_start_tag(std::string_view source_tag) {
  std::string tag = "<w:t";
  for (const auto& attribute : raw_attributes(source_tag)) {
    if (attribute.name == "xml:space") continue;
    tag += ' ';
    tag += attribute.name;
    tag += '=';
    tag += attribute.quoted_value;
  }
  tag += " xml:space=\"preserve\">";
  return tag;
}

// Text as run content: each line feed a <w:br/> and each tab a <w:tab/> between text
// elements, since Word shows those characters inside <w:t> as spaces. The first element
// opens with `start_tag` and is always written; text without breaks closes with `end_tag`.
void append_run_text(std::string& out, std::string_view start_tag, std::string_view text,
                     std::string_view end_tag) {
  if (text.find_first_of("\n\t") == std::string_view::npos) {
    out += start_tag;
    append_escaped(out, text);
    out += end_tag;
    return;
  }
  std::size_t pos = 0;
  for (bool first = true;; first = false) {
    std::size_t next = text.find_first_of("\n\t", pos);
    std::string_view piece = text.substr(pos, next == std::string_view::npos ? next : next - pos);
    if (first || !piece.empty()) {
      out += first ? start_tag : PRESERVED_TEXT_TAG;
      append_escaped(out, piece);
      out += "</w:t>";
    }
    if (next == std::string_view::npos) return;
    out += text[next] == '\n' ? "<w:br/>" : "<w:tab/>";
    pos = next + 1;
  }
}

struct Edit {
  ByteSpan span;
  std::string bytes;
};

class ParagraphWriter {
 public:
  ParagraphWriter(std::string_view xml, const DocxParagraph& paragraph, std::vector<Edit>& edits)
      : xml_(xml), paragraph_(paragraph), edits_(edits) {}

  // The whole translation in the first text element, the others emptied, the source's
  // breaks and tabs replaced by those of the translation.
  void plain(std::string_view translation) {
    const auto& elements = paragraph_.text_elements;
    if (!closed(elements.front())) return;  // nowhere to put the text: the paragraph stays
    for (std::size_t i = 0; i < elements.size(); ++i) {
      const auto& element = elements[i];
      std::string_view start = bytes(element.start);
      if (element.self_closing) {
        if (i != 0 || translation.empty()) continue;
        std::string out;
        append_run_text(out, replacement_start_tag(start), translation, "</w:t>");
        edits_.push_back({element.start, std::move(out)});
        continue;
      }
      if (!closed(element)) continue;
      std::string out;
      append_run_text(out, replacement_start_tag(start), i == 0 ? translation : "",
                      bytes(element.end));
      edits_.push_back({{element.start.begin, element.end.end}, std::move(out)});
    }
    for (const auto& b : paragraph_.breaks) edits_.push_back({b, {}});
  }

  // New runs in place of the paragraph's content, each span of the translation with the
  // formatting, hyperlink or field its tag stands for. An answer whose tags were dropped
  // goes into one run of the paragraph's own formatting, its fields after it.
  void tagged(std::string_view translation) {
    std::vector<InlinePiece> pieces;
    std::string stripped;
    if (keeps_inline_tags(paragraph_.text, translation)) {
      pieces = parse_inline_tags(translation);
    } else {
      stripped = strip_inline_tags(translation);
      pieces.push_back({InlineKind::text, stripped, 0});
      for (std::size_t i = 0; i < paragraph_.tags.size(); ++i) {
        if (paragraph_.tags[i].kind == DocxTagKind::object) {
          pieces.push_back({InlineKind::placeholder, {}, i + 1});
        }
      }
    }
    std::string out;
    std::vector<std::size_t> open;
    std::size_t link = 0;  // the hyperlink open in `out`
    auto switch_link = [&](std::size_t to) {
      if (to == link) return;
      if (link != 0) out += "</w:hyperlink>";
      if (to != 0) out += bytes(tag(to).markup);
      link = to;
    };
    for (const auto& piece : pieces) {
      switch (piece.kind) {
        case InlineKind::open:
          open.push_back(piece.id);
          break;
        case InlineKind::close:
          if (!open.empty()) open.pop_back();
          break;
        case InlineKind::placeholder:
          switch_link(0);
          out += bytes(tag(piece.id).markup);
          break;
        case InlineKind::text:
          if (piece.text.empty()) break;
          switch_link(innermost(open, DocxTagKind::link));
          out += "<w:r>";
          out += bytes(formatting(open, link));
          append_run_text(out, PRESERVED_TEXT_TAG, piece.text, "</w:t>");
          out += "</w:r>";
          break;
      }
    }
    switch_link(0);
    const auto& content = paragraph_.content;
    for (std::size_t i = 0; i < content.size(); ++i) {
      edits_.push_back({content[i], i == 0 ? std::move(out) : std::string()});
    }
  }

 private:
  std::string_view bytes(ByteSpan span) const {
    return xml_.substr(span.begin, span.end - span.begin);
  }

  const DocxTag& tag(std::size_t id) const { return paragraph_.tags[id - 1]; }

  // A paragraph can end inside a text element in hostile (well-formed) XML; such an element
  // has no end tag in the paragraph and is left alone.
  static bool closed(const TextElement& element) {
    return element.self_closing || element.end.end > element.start.end;
  }

  std::size_t innermost(const std::vector<std::size_t>& open, DocxTagKind kind) const {
    for (auto it = open.rbegin(); it != open.rend(); ++it) {
      if (tag(*it).kind == kind) return *it;
    }
    return 0;
  }

  ByteSpan formatting(const std::vector<std::size_t>& open, std::size_t link) const {
    if (std::size_t format = innermost(open, DocxTagKind::format)) return tag(format).markup;
    return link != 0 ? tag(link).formatting : paragraph_.formatting;
  }

  std::string_view xml_;
  const DocxParagraph& paragraph_;
  std::vector<Edit>& edits_;
};

std::unexpected<Error> source_changed(std::string what) {
  return fail(ErrorKind::format, what + "; the source changed after it was read");
}

}  // namespace

Result<std::string> rewrite_part(std::string_view xml, const std::vector<TextSlot>& slots,
                                 const std::vector<Segment>& segments,
                                 const Translations& translations) {
  std::vector<Edit> edits;
  bool changed = false;
  auto scanned = scan_paragraphs(xml, [&](DocxParagraph&& paragraph) {
    std::size_t carrier = paragraph.text_slots.front();
    TextSlot slot = carrier < slots.size() ? slots[carrier] : TextSlot{};
    if (slot.role != SlotRole::carrier) return true;  // not a segment: left as it is
    if (slot.segment >= segments.size() || slot.segment >= translations.size() ||
        segments[slot.segment].text != paragraph.text) {
      changed = true;
      return false;
    }
    const auto& translation = translations[slot.segment];
    // A paragraph kept in its language, or translated to itself, is not touched at all.
    if (!translation || *translation == paragraph.text) return true;
    ParagraphWriter writer(xml, paragraph, edits);
    if (paragraph.tags.empty()) {
      writer.plain(*translation);
    } else {
      writer.tagged(*translation);
    }
    return true;
  });
  if (!scanned) return std::unexpected(scanned.error());
  if (*scanned != slots.size()) {
    return source_changed(
        fmt::format("the part has {} text elements where {} were read", *scanned, slots.size()));
  }
  if (changed) return source_changed("the part no longer holds the text that was read");

  std::sort(edits.begin(), edits.end(),
            [](const Edit& a, const Edit& b) { return a.span.begin < b.span.begin; });
  std::string out;
  out.reserve(xml.size() + xml.size() / 4);
  std::size_t copied = 0;
  for (const auto& edit : edits) {
    // A text element nested in a replaced one (hostile input) goes with it.
    if (edit.span.begin < copied) continue;
    out.append(xml.substr(copied, edit.span.begin - copied));
    out += edit.bytes;
    copied = edit.span.end;
  }
  out.append(xml.substr(copied));
  return out;
}

}  // namespace quorvel

#include "translation/doc/plain_text.h"

#include <algorithm>

#include "platform/files.h"
#include "platform/text.h"
#include "translation/doc/limits.h"

namespace quorvel {
namespace {

bool is_fence_line(std::string_view line) {
  auto rest = trim_start(line);
  return rest.starts_with("```") || rest.starts_with("~~~");
}

class PlainParser {
 public:
  void line(std::string_view line) {
    if (is_fence_line(line)) {
      flush_paragraph();
      append_line(literal_, line);
      if (!in_fence_) {
        in_fence_ = true;
      } else {
        flush_literal();
        in_fence_ = false;
      }
    } else if (in_fence_) {
      append_line(literal_, line);
    } else if (!is_blank(line)) {
      append_line(paragraph_, line);
    } else {
      flush_paragraph();
      append_line(literal_, line);
      flush_literal();
    }
  }

  PlainDocument finish() {
    flush_paragraph();
    flush_literal();  // an unclosed fence runs to the end of the file
    return std::move(document_);
  }

  bool too_many_segments() const { return document_.segments.size() > MAX_DOCUMENT_SEGMENTS; }

 private:
  static void append_line(std::string& to, std::string_view line) {
    // Room for the line and its line feed at once: appending the line feed to a line of
    // hundreds of megabytes would otherwise double the buffer.
    const std::size_t needed = to.size() + line.size() + 1;
    if (needed > to.capacity()) to.reserve(std::max(needed, 2 * to.capacity()));
    to += line;
    to += '\n';
  }

  void flush_paragraph() {
    if (!is_blank(paragraph_)) {
      plain_text::SegmentRef ref;
      ref.segment = document_.segments.size();
      paragraph_.pop_back();  // every line ends with '\n'
      document_.segments.push_back(Segment{std::string(trim_end(paragraph_))});
      ref.source = std::move(paragraph_);
      document_.blocks.emplace_back(std::move(ref));
    }
    paragraph_ = std::string();
  }

  void flush_literal() { append_literal(document_, literal_); }

  PlainDocument document_;
  std::string paragraph_;
  std::string literal_;
  bool in_fence_ = false;
};

}  // namespace

void append_literal(PlainDocument& document, std::string& literal) {
  if (literal.empty()) return;
  auto* last =
      document.blocks.empty() ? nullptr : std::get_if<plain_text::Literal>(&document.blocks.back());
  if (last != nullptr) {
    last->text += literal;
  } else {
    document.blocks.emplace_back(std::in_place_type<plain_text::Literal>, std::move(literal));
  }
  literal.clear();
}

Result<PlainDocument> split_plain_text(std::string_view text) {
  PlainParser parser;
  std::size_t pos = 0;
  while (auto line = next_line(text, pos)) {
    parser.line(*line);
    if (parser.too_many_segments()) return too_many_segments();
  }
  auto document = parser.finish();
  if (document.segments.size() > MAX_DOCUMENT_SEGMENTS) return too_many_segments();
  if (document.segments.empty()) return fail(ErrorKind::format, "no translatable text found");
  return document;
}

Result<PlainDocument> parse_plain_text(const std::string& path) {
  auto text = read_text_file(path, MAX_TEXT_FILE_BYTES);
  if (!text) return std::unexpected(text.error());
  return split_plain_text(*text);
}

std::string render_plain_text(const PlainDocument& document, const Translations& translations) {
  // Room for the source's size: exact where paragraphs are kept (a kept paragraph may be
  // hundreds of megabytes, and growing by doubling would hold twice that), close otherwise.
  std::size_t source_size = 0;
  for (const auto& block : document.blocks) {
    if (const auto* literal = std::get_if<plain_text::Literal>(&block)) {
      source_size += literal->text.size();
    } else {
      const auto& ref = std::get<plain_text::SegmentRef>(block);
      source_size += ref.source.size() + (ref.line_end ? 1 : 0);
    }
  }
  std::string out;
  out.reserve(source_size);
  for (const auto& block : document.blocks) {
    if (const auto* literal = std::get_if<plain_text::Literal>(&block)) {
      out += literal->text;
      continue;
    }
    const auto& ref = std::get<plain_text::SegmentRef>(block);
    const auto& translation = translations[ref.segment];
    if (!translation || *translation == document.segments[ref.segment].text) {
      out += ref.source;  // kept: not a byte changes
    } else {
      std::string text(trim_end(*translation));
      if (!ref.markup.empty()) text = restore_inline_tags(text, ref.markup);
      for (char c : text) {
        if (c != '\n') {
          out += c;
        } else if (ref.single_line) {
          out += ' ';
        } else {
          out += '\n';
          out += ref.continuation;
        }
      }
    }
    if (ref.line_end) out += '\n';
  }
  return out;
}

Result<void> write_plain_text(const PlainDocument& document, const Translations& translations,
                              const std::string& output_path) {
  return write_file_atomic(output_path, render_plain_text(document, translations));
}

}  // namespace quorvel

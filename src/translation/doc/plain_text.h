#pragma once
// Plain-text and Markdown files: every paragraph of prose is one segment; blank lines and
// fenced code blocks are kept as literal text. Markdown also keeps its block markers and
// inline markup out of the text the model sees (markdown.cc).

#include <cstddef>
#include <string>
#include <variant>
#include <vector>

#include "platform/error.h"
#include "translation/inline_tags.h"
#include "translation/request.h"

namespace quorvel {

namespace plain_text {

/// Text copied to the output as stored; it already ends with its own line feeds.
struct Literal {
  std::string text;
};

/// A paragraph, or in Markdown the text of one block: rendered as its translation, or as
/// `source` byte for byte when it is kept or translated to itself.
struct SegmentRef {
  std::size_t segment = 0;
  std::string source;             // the bytes it stands for, without a final line feed
  std::vector<TagMarkup> markup;  // what the segment's inline tags stand for
  std::string continuation;       // written after each line feed of a translation
  bool single_line = false;       // a translation's line feeds become spaces (headings, cells)
  bool line_end = true;           // followed by one line feed
};

}  // namespace plain_text

using PlainBlock = std::variant<plain_text::Literal, plain_text::SegmentRef>;

struct PlainDocument {
  std::vector<PlainBlock> blocks;  // the whole file, in order
  std::vector<Segment> segments;   // the paragraphs, in order
};

/// Reads a UTF-8 text file and splits it into paragraphs, blank lines and fences. Fails
/// with "reading {path}" or, when there is no paragraph, "no translatable text found".
Result<PlainDocument> parse_plain_text(const std::string& path);

/// The parsing step alone, on text already read.
Result<PlainDocument> split_plain_text(std::string_view text);

/// Reads a Markdown file: headings, list items, block quotes and table cells are segments of
/// their own with their markers kept out of the text; inline markup becomes tags; front
/// matter, HTML blocks, fences, rules and link definitions are kept as they are. Fails like
/// parse_plain_text.
Result<PlainDocument> parse_markdown(const std::string& path);
Result<PlainDocument> split_markdown(std::string_view text);

/// The document's text with each paragraph replaced by its translation; expects one entry
/// of `translations` per segment.
std::string render_plain_text(const PlainDocument& document, const Translations& translations);

/// Writes the rendered text to `output_path` ("writing {path}" on failure). Reached
/// through write_document, which has checked the count of `translations`.
Result<void> write_plain_text(const PlainDocument& document, const Translations& translations,
                              const std::string& output_path);

}  // namespace quorvel

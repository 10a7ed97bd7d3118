#pragma once
// Plain-text and Markdown files: every paragraph of prose is one segment; blank lines and
// fenced code blocks are kept as literal text.

#include <cstddef>
#include <string>
#include <variant>
#include <vector>

#include "platform/error.h"
#include "translation/request.h"

namespace quorvel {

namespace plain_text {

/// Text copied to the output as stored; it already ends with its own line feeds.
struct Literal {
  std::string text;
};

/// A paragraph: rendered as its translation (or source text) and one line feed.
struct SegmentRef {
  std::size_t segment = 0;
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

/// The document's text with each paragraph replaced by its translation; expects one entry
/// of `translations` per segment.
std::string render_plain_text(const PlainDocument& document, const Translations& translations);

/// Writes the rendered text to `output_path` ("writing {path}" on failure). Reached
/// through write_document, which has checked the count of `translations`.
Result<void> write_plain_text(const PlainDocument& document, const Translations& translations,
                              const std::string& output_path);

}  // namespace quorvel

#pragma once
// Inline tags: how formatting, links and protected pieces inside a paragraph travel through
// the model. A span of text is wrapped in a numbered pair <g1>...</g1>; a piece the model must
// not see (a field, a code span, an image) is a self-closing placeholder <x2/>. Numbers are
// unique within one text, so each tag says exactly which source markup it stands for, and an
// answer can be checked tag by tag. Formats choose the numbers and keep the markup; everything
// else here is shared.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace quorvel {

enum class InlineKind { text, open, close, placeholder };

/// One piece of a tagged text: plain text, or a tag with its number (`text` then holds the
/// tag's own bytes).
struct InlinePiece {
  InlineKind kind = InlineKind::text;
  std::string_view text;
  std::size_t id = 0;
};

/// Tag numbers above this are not tags but text; no paragraph needs more.
constexpr std::size_t MAX_INLINE_TAG_ID = 99999;

std::string open_tag(std::size_t id);
std::string close_tag(std::size_t id);
std::string placeholder_tag(std::size_t id);

/// Splits a text into text and tags. Anything that is not exactly a tag of the form above is
/// text, so the split never fails; adjacent text is one piece.
std::vector<InlinePiece> parse_inline_tags(std::string_view text);

/// Whether the text holds anything that reads as a tag. A format sends text that already
/// does untagged, so that text of the document is never taken for a tag.
bool has_inline_tags(std::string_view text);

/// The text with every tag removed.
std::string strip_inline_tags(std::string_view text);

/// True when `answer` holds each tag of `source` exactly once, no other tag, every pair
/// opened before it is closed and properly nested. Order and nesting may differ from the
/// source: a translation may move a span.
bool keeps_inline_tags(std::string_view source, std::string_view answer);

/// What one tag number stands for in a format whose markup lives in the text itself: the
/// bytes written for the opening and the closing tag (a placeholder uses `open` only).
struct TagMarkup {
  std::string open;
  std::string close;
};

/// The answer with each tag n replaced by markup[n - 1]; expects an answer that keeps the
/// source's tags (a tag without markup stays as it is).
std::string restore_inline_tags(std::string_view answer, const std::vector<TagMarkup>& markup);

/// A text with inline tags made from markup found in it, and what each tag stands for.
struct TaggedText {
  std::string text;
  std::vector<TagMarkup> markup;  // tag n is markup[n - 1]
};

/// Builds a TaggedText piece by piece, numbering tags in the order they are opened.
class TagBuilder {
 public:
  void text(std::string_view text) { tagged_.text += text; }
  /// Opens a pair standing for `open` and `close`; returns its number for close().
  std::size_t open(std::string_view open, std::string_view close);
  void close(std::size_t id);
  void placeholder(std::string_view markup);

  /// The tagged text; `plain` untagged instead when no tag was made or the text itself held
  /// something that reads as a tag, so document text is never taken for one.
  TaggedText finish(std::string_view plain) &&;

 private:
  TaggedText tagged_;
  std::size_t tags_written_ = 0;
};

}  // namespace quorvel

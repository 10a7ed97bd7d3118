#pragma once

#include <optional>
#include <string>
#include <vector>

namespace quorvel {

/// What the translation core needs besides the text: the target tag exactly as the client
/// sent it, and the source tag once known (absent until detected; present-but-empty is
/// a distinct value).
struct TranslationRequest {
  std::string target;
  std::optional<std::string> source;
};

/// Whether a segment's text carries inline tags (translation/inline_tags.h), and what happens
/// when an answer does not bring them all back even after the retry.
enum class TagPolicy {
  none,      // plain text: nothing in it is read as a tag
  strip,     // the tags are dropped and the text used, formatting lost (a Word paragraph)
  required,  // the source is kept: the markup lives in the text and must not break
};

/// One unit of text to translate, taken from a document. Where its translation goes back
/// is recorded by the document, not here.
struct Segment {
  std::string text;
  TagPolicy tags = TagPolicy::none;
};

/// One entry per segment, same order: a translated text, or nothing when no reliable
/// translation was produced (the writer then puts the source text back).
using Translations = std::vector<std::optional<std::string>>;

}  // namespace quorvel

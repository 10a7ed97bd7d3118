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

/// One unit of text to translate, taken from a document. Where its translation goes back
/// is recorded by the document, not here.
struct Segment {
  std::string text;
};

/// One entry per segment, same order: a translated text, or nothing when no reliable
/// translation was produced (the writer then puts the source text back).
using Translations = std::vector<std::optional<std::string>>;

}  // namespace quorvel

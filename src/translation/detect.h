#pragma once
// Source-language detection: clients never name the source language, so it is guessed from
// the text. A guess that is not worth using comes back empty and callers fall back to "en".

#include <array>
#include <optional>
#include <string>
#include <string_view>

#include "translation/request.h"

namespace quorvel {

/// One language the detector may report: its English name and ISO 639-3 code as language
/// identifiers name it, and the tag prompts use for it.
struct DetectorLanguage {
  std::string_view name;
  std::string_view iso639_3;
  std::string_view tag;
};

/// The detector's allow-list, in table order. Every tag has a TranslateGemma row.
extern const std::array<DetectorLanguage, 48> DETECTOR_LANGUAGE_TAGS;

/// The tag of the text's language, or nothing when the text is too short to judge, is in a
/// language outside the allow-list, or the guess is too uncertain. Never fails.
std::optional<std::string> detect_source_language(std::string_view text);

/// The source tag prompts name: the request's own source when present (even when empty),
/// otherwise the tag detected from `text`, otherwise "en".
std::string source_tag_for(const TranslationRequest& request, std::string_view text);

}  // namespace quorvel

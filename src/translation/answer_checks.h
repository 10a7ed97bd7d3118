#pragma once
// What decides whether text goes to the model at all, how much it may answer, and whether
// an answer can be trusted. Pure functions of their inputs.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "translation/request.h"

namespace quorvel {

/// True for text the model must never see: no letters at all (numbers, dates, symbols,
/// blanks), or one lone web or e-mail address. Such text is passed through unchanged.
bool needs_no_translation(std::string_view text);

/// The most new tokens a translation of `text` may take: about four per word or per three
/// characters, plus slack, within [96, 3072].
uint32_t token_budget(std::string_view text);

/// The model's raw answer stripped of what it adds around a translation: a thought block,
/// rule lines before the text, and quotes the source did not have. May be empty.
std::string clean_output(std::string_view source, std::string_view output);

/// Accepts a cleaned answer only if its length is plausible for the source and it keeps
/// every web address, e-mail address and {placeholder} of the source verbatim.
bool is_reliable(std::string_view source, std::string_view candidate);

/// The text the model was shown for a segment, with any inline tags taken out: what decides
/// whether it needs translating and what the language is detected from.
std::string visible_text(const Segment& segment);

/// The cleaned answer when it can be used for the segment: reliable, and for a tagged
/// segment holding every tag exactly once, properly nested. On the last attempt a
/// segment whose tags may be stripped takes the answer without tags when only they fail.
std::optional<std::string> accept_answer(const Segment& segment, std::string_view answer,
                                         bool last_attempt);

}  // namespace quorvel

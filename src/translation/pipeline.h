#pragma once
// Translating texts with the model and deciding which answers to trust. Neither operation
// fails: engine errors and untrustworthy answers end as absent translations, and callers word
// the consequence.

#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "engine/generator.h"
#include "translation/answer_checks.h"
#include "translation/progress.h"
#include "translation/request.h"

namespace quorvel {

/// One text, for a request whose source may be absent (then detected from the text): up to
/// two attempts, sampled then greedy; the first accepted answer, or nothing.
/// With `progress`, reports it as one unit and stops when asked (then nothing comes back).
std::optional<std::string> translate_one(Generator& generator, const TranslationRequest& request,
                                         std::string_view text, Progress* progress = nullptr);

/// All segments of one document, one entry per segment in the same order. The source is
/// detected once from the leading segments; text that needs no translation comes back as it
/// is; each distinct trimmed text reaches the model once, in one batched pass, and answers
/// it rejects get one greedy retry. Prompts an engine error left unanswered are translated
/// one by one. With `progress`, reports settled segments and the token work inside each
/// prompt, offers the generator between prompts, and stops when asked: the entries are then
/// incomplete and must not be written.
Translations translate_segments(Generator& generator, const TranslationRequest& request,
                                std::span<const Segment> segments, Progress* progress = nullptr);

}  // namespace quorvel

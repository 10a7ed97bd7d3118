#pragma once
// The TranslateGemma prompt: one Gemma chat turn carrying the model's own translation
// instruction, with both languages named by English name and tag.

#include <string>
#include <string_view>

#include "translation/request.h"

namespace quorvel {

/// The complete prompt for translating `text` (trimmed here) as `request` asks. When the
/// request carries no source, the source is detected from `text`. Never fails.
///
/// Everything before the text depends only on the request and the source, so prompts of one
/// batch share that prefix and the engine decodes it once.
std::string build_prompt(const TranslationRequest& request, std::string_view text);

}  // namespace quorvel

#pragma once
// Markup inside subtitle text (<i>, <b>, <u>, <font ...>, WebVTT's <v Name>, <c.class>,
// <lang ...>, <ruby>, inline timestamps, {\an8}-style overrides): a pair that opens and closes
// becomes an inline tag pair, anything else a placeholder, and markup wrapping the whole text
// stays outside it.

#include <string>
#include <string_view>

#include "translation/inline_tags.h"

namespace quorvel {

struct SubtitleText {
  std::string prefix;       // markup wrapping the whole text: its openings
  std::string_view source;  // the text between, as in the file
  TaggedText tagged;        // that text as the model sees it
  std::string suffix;       // the closings
};

SubtitleText split_subtitle_markup(std::string_view text);

}  // namespace quorvel

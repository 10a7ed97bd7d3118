#pragma once
// Markdown inside one block (a paragraph, a heading, a list item, a table cell): emphasis and
// link text become inline tag pairs, so the model translates the words and keeps the marks
// around them; code spans, images, autolinks and inline HTML become placeholders, so the model
// never sees code or an address. A link's target travels in its closing markup.

#include <string_view>

#include "translation/inline_tags.h"

namespace quorvel {

/// The tagged form of one block's text; untagged when it holds no inline markup.
TaggedText tag_markdown_inline(std::string_view text);

}  // namespace quorvel

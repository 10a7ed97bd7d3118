#pragma once
// SubRip (SRT) and WebVTT subtitles, handled by one code path: each cue's text is one
// segment (each line of a dialogue one of its own, its dash kept out); numbers, identifiers,
// timing lines, headers, comments and blank lines are carried over byte for byte. Markup in
// the text travels as inline tags (subtitle_markup.h).

#include <cstddef>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "platform/error.h"
#include "translation/inline_tags.h"
#include "translation/request.h"

namespace quorvel {

namespace subtitles {

/// Text copied to the output unchanged; it already carries its own line feeds.
struct Literal {
  std::string text;
};

/// One segment of a cue: its whole text, or one line of a dialogue.
struct CueText {
  std::size_t segment = 0;  // index into the document's segments
  std::string prefix;       // kept outside the text: a dialogue dash, markup around it all
  std::string suffix;
  std::string source;             // the text between, as in the file
  std::vector<TagMarkup> markup;  // what the segment's inline tags stand for
};

struct Cue {
  std::string header;          // lines up to and including the timing line, no final line feed
  std::vector<CueText> texts;  // one, or one per line of a dialogue
  std::size_t line_count = 0;  // text lines of the cue in the file (1 or more)
  bool dialogue = false;       // every line starts with a dash and is a segment of its own
};

}  // namespace subtitles

using SubtitleItem = std::variant<subtitles::Literal, subtitles::Cue>;

struct SubtitleDocument {
  std::vector<SubtitleItem> items;  // the whole file, in order
  std::vector<Segment> segments;    // per cue (or dialogue line): its text without its markers
};

/// Reads a UTF-8 subtitle file. Fails with "reading {path}" or, when no block has a timing
/// line followed by text, "no subtitle cues found".
Result<SubtitleDocument> parse_subtitles(const std::string& path);

/// The parsing step alone, on text already read.
Result<SubtitleDocument> split_subtitles(std::string_view text);

/// Spreads a one-line translation over at most `max_lines` lines of similar width.
std::string reflow_cue_text(std::string_view text, std::size_t max_lines);

/// The output text; expects one entry of `translations` per segment.
std::string render_subtitles(const SubtitleDocument& document, const Translations& translations);

/// Writes the rendered text to `output_path` ("writing {path}" on failure). Reached
/// through write_document, which has checked the count of `translations`.
Result<void> write_subtitles(const SubtitleDocument& document, const Translations& translations,
                             const std::string& output_path);

}  // namespace quorvel

#pragma once
// SubRip (SRT) and WebVTT subtitles, handled by one code path: each cue's text is one
// segment; numbers, identifiers, timing lines, headers, comments and blank lines are
// carried over byte for byte.

#include <cstddef>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "platform/error.h"
#include "translation/request.h"

namespace quorvel {

namespace subtitles {

/// Text copied to the output unchanged; it already carries its own line feeds.
struct Literal {
  std::string text;
};

struct Cue {
  std::string header;          // lines up to and including the timing line, no final line feed
  std::size_t segment = 0;     // index into the document's segments
  std::size_t line_count = 0;  // text lines of the cue in the file (1 or more)
};

}  // namespace subtitles

using SubtitleItem = std::variant<subtitles::Literal, subtitles::Cue>;

struct SubtitleDocument {
  std::vector<SubtitleItem> items;  // the whole file, in order
  std::vector<Segment> segments;    // one per cue: its text lines joined by line feeds
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

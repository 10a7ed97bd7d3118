#include "translation/doc/subtitles.h"

#include <algorithm>

#include "platform/files.h"
#include "platform/text.h"
#include "translation/doc/limits.h"
#include "translation/doc/subtitle_markup.h"

namespace quorvel {
namespace {

// A block is a run of lines ended by a blank line, which belongs to no block; a blank line
// where a block would start makes an empty block. Blocks are found one at a time, as byte
// ranges, so that no list of all lines is ever built.
struct Block {
  std::string_view lines;  // the block's lines with their line ends
  std::size_t count = 0;
  std::size_t timing = 0;  // index of the first line with "-->"; `count` when there is none
};

Block next_block(std::string_view text, std::size_t& pos) {
  std::size_t begin = pos;
  std::size_t end = pos;
  Block block;
  bool has_timing = false;
  while (auto line = next_line(text, pos)) {
    if (is_blank(*line)) break;
    if (!has_timing && line->find("-->") != std::string_view::npos) {
      has_timing = true;
      block.timing = block.count;
    }
    ++block.count;
    end = pos;
  }
  if (!has_timing) block.timing = block.count;
  block.lines = text.substr(begin, end - begin);
  return block;
}

// Lines [first, last) of a block joined by single line feeds.
std::string join_lines(std::string_view lines, std::size_t first, std::size_t last) {
  std::string out;
  std::size_t pos = 0;
  for (std::size_t i = 0; i < last; ++i) {
    auto line = next_line(lines, pos);
    if (i < first) continue;
    if (i != first) out += '\n';
    out += *line;
  }
  return out;
}

// A translated cue must stay one block: a blank line inside it would end the cue early
// and leave the rest of its text as a block without timing.
std::string without_blank_lines(std::string_view text) {
  auto lines = split_lines(text);
  std::string out;
  for (auto line : lines) {
    if (is_blank(line)) continue;
    if (!out.empty()) out += '\n';
    out += line;
  }
  return out;
}

// A dialogue line: a dash (not the start of a longer run of them) and the spaces after it.
std::size_t dash_length(std::string_view line) {
  if (!line.starts_with('-') || line.starts_with("--")) return 0;
  std::size_t n = 1;
  while (n < line.size() && line[n] == ' ') ++n;
  return n;
}

bool is_dialogue(std::string_view text) {
  std::size_t lines = 0;
  std::size_t pos = 0;
  while (auto line = next_line(text, pos)) {
    if (dash_length(*line) == 0 || dash_length(*line) == line->size()) return false;
    ++lines;
  }
  return lines >= 2;
}

void add_text(SubtitleDocument& document, subtitles::Cue& cue, std::string_view dash,
              std::string_view text) {
  SubtitleText split = split_subtitle_markup(text);
  subtitles::CueText part;
  part.segment = document.segments.size();
  part.prefix = std::string(dash) + split.prefix;
  part.suffix = std::move(split.suffix);
  part.source = std::string(split.source);
  part.markup = std::move(split.tagged.markup);
  const TagPolicy policy = part.markup.empty() ? TagPolicy::none : TagPolicy::required;
  document.segments.push_back(Segment{std::move(split.tagged.text), policy});
  cue.texts.push_back(std::move(part));
}

// The translation of one text of a cue, shaped like the text it replaces; `max_lines` 0
// for a dialogue line, which stays one line.
std::string translated_text(std::string_view translation, const subtitles::CueText& part,
                            std::size_t line_count, bool dialogue) {
  auto text = std::string(trim(translation));
  if (dialogue) {
    for (auto& c : text) c = c == '\n' ? ' ' : c;
  } else if (text.find('\n') != std::string::npos) {
    text = without_blank_lines(text);
  } else if (line_count >= 2) {
    text = reflow_cue_text(text, std::min<std::size_t>(line_count, 3));
  }
  return part.markup.empty() ? text : restore_inline_tags(text, part.markup);
}

std::string cue_text(const subtitles::Cue& cue, const SubtitleDocument& document,
                     const Translations& translations) {
  std::string out;
  for (const auto& part : cue.texts) {
    if (!out.empty()) out += '\n';
    out += part.prefix;
    const auto& translation = translations[part.segment];
    if (!translation || *translation == document.segments[part.segment].text) {
      out += part.source;  // kept: not a byte changes
    } else {
      out += translated_text(*translation, part, cue.line_count, cue.dialogue);
    }
    out += part.suffix;
  }
  return out;
}

}  // namespace

Result<SubtitleDocument> split_subtitles(std::string_view text) {
  SubtitleDocument document;
  std::string literal;
  std::size_t pos = 0;
  while (pos < text.size()) {
    Block block = next_block(text, pos);
    if (block.timing + 1 >= block.count) {  // no timing line, or nothing after it
      literal += join_lines(block.lines, 0, block.count);
      literal += block.count == 0 ? "\n" : "\n\n";
      continue;
    }
    if (document.segments.size() == MAX_DOCUMENT_SEGMENTS) return too_many_segments();
    if (!literal.empty()) {
      document.items.push_back(subtitles::Literal{std::move(literal)});
      literal.clear();
    }
    subtitles::Cue cue;
    cue.header = join_lines(block.lines, 0, block.timing + 1);
    cue.line_count = block.count - block.timing - 1;
    std::string text = join_lines(block.lines, block.timing + 1, block.count);
    // A dialogue may sit inside markup around the whole cue (<i>- Hi\n- Bye</i>).
    SubtitleText whole = split_subtitle_markup(text);
    cue.dialogue = is_dialogue(whole.source);
    if (cue.dialogue) {
      std::size_t line_pos = 0;
      while (auto line = next_line(whole.source, line_pos)) {
        std::size_t dash = dash_length(*line);
        add_text(document, cue, line->substr(0, dash), line->substr(dash));
      }
      cue.texts.front().prefix.insert(0, whole.prefix);
      cue.texts.back().suffix += whole.suffix;
    } else {
      add_text(document, cue, {}, text);
    }
    if (document.segments.size() > MAX_DOCUMENT_SEGMENTS) return too_many_segments();
    document.items.push_back(std::move(cue));
  }
  if (!literal.empty()) document.items.push_back(subtitles::Literal{std::move(literal)});
  if (document.segments.empty()) return fail(ErrorKind::format, "no subtitle cues found");
  return document;
}

Result<SubtitleDocument> parse_subtitles(const std::string& path) {
  auto text = read_text_file(path, MAX_TEXT_FILE_BYTES);
  if (!text) return std::unexpected(text.error());
  return split_subtitles(*text);
}

std::string reflow_cue_text(std::string_view text, std::size_t max_lines) {
  auto words = split_words(text);
  if (words.size() < 2) return std::string(text);
  std::size_t limit = count_chars(text) / std::max<std::size_t>(max_lines, 1) + 1;
  std::string out;
  std::size_t line = 1;
  std::size_t width = 0;
  for (auto word : words) {
    std::size_t chars = count_chars(word);
    if (width != 0 && line < max_lines && width + chars + 1 > limit) {
      out += '\n';
      ++line;
      width = 0;
    } else if (width != 0) {
      out += ' ';
    }
    out += word;
    width += chars + 1;
  }
  return out;
}

std::string render_subtitles(const SubtitleDocument& document, const Translations& translations) {
  std::string out;
  for (const auto& item : document.items) {
    if (const auto* literal = std::get_if<subtitles::Literal>(&item)) {
      out += literal->text;
      continue;
    }
    const auto& cue = std::get<subtitles::Cue>(item);
    out += cue.header;
    out += '\n';
    out += cue_text(cue, document, translations);
    out += "\n\n";
  }
  return out;
}

Result<void> write_subtitles(const SubtitleDocument& document, const Translations& translations,
                             const std::string& output_path) {
  return write_file_atomic(output_path, render_subtitles(document, translations));
}

}  // namespace quorvel

#include "translation/doc/subtitles.h"

#include <algorithm>

#include "platform/files.h"
#include "platform/text.h"
#include "translation/doc/limits.h"

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

std::string cue_text(const subtitles::Cue& cue, const SubtitleDocument& document,
                     const Translations& translations) {
  const auto& translation = translations[cue.segment];
  if (!translation) return document.segments[cue.segment].text;
  auto text = trim(*translation);
  if (text.find('\n') != std::string_view::npos) return without_blank_lines(text);
  if (cue.line_count < 2) return std::string(text);
  return reflow_cue_text(text, std::min<std::size_t>(cue.line_count, 3));
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
    cue.segment = document.segments.size();
    cue.line_count = block.count - block.timing - 1;
    document.segments.push_back(Segment{join_lines(block.lines, block.timing + 1, block.count)});
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

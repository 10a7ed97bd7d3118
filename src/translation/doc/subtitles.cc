#include "translation/doc/subtitles.h"

#include <algorithm>

#include "platform/files.h"
#include "platform/text.h"
#include "translation/doc/limits.h"

namespace quorvel {
namespace {

using Lines = std::vector<std::string_view>;

// Blocks are runs of lines ended by a blank line, which belongs to no block; a blank line
// where a block would start makes an empty block.
std::vector<Lines> split_blocks(const Lines& lines) {
  std::vector<Lines> blocks;
  std::size_t i = 0;
  while (i < lines.size()) {
    Lines block;
    while (i < lines.size() && !is_blank(lines[i])) block.push_back(lines[i++]);
    ++i;  // the blank line that ended the block, or past the end
    blocks.push_back(std::move(block));
  }
  return blocks;
}

std::string join_lines(Lines::const_iterator first, Lines::const_iterator last) {
  std::string out;
  for (auto it = first; it != last; ++it) {
    if (it != first) out += '\n';
    out += *it;
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
  auto lines = split_lines(text);
  for (const auto& block : split_blocks(lines)) {
    auto timing = std::find_if(block.begin(), block.end(), [](std::string_view line) {
      return line.find("-->") != std::string_view::npos;
    });
    if (timing == block.end() || timing + 1 == block.end()) {
      for (auto line : block) {
        literal += line;
        literal += '\n';
      }
      literal += '\n';
      continue;
    }
    if (!literal.empty()) {
      document.items.push_back(subtitles::Literal{std::move(literal)});
      literal.clear();
    }
    subtitles::Cue cue;
    cue.header = join_lines(block.begin(), timing + 1);
    cue.segment = document.segments.size();
    cue.line_count = static_cast<std::size_t>(block.end() - (timing + 1));
    document.segments.push_back(Segment{join_lines(timing + 1, block.end())});
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

// Markdown blocks: the markers of headings, list items, block quotes and table rows are
// literal text around the segments, so the model sees only the words and what it answers
// cannot drop or mangle the structure.

#include <cctype>
#include <optional>
#include <string>
#include <vector>

#include "platform/files.h"
#include "platform/text.h"
#include "translation/doc/limits.h"
#include "translation/doc/markdown_inline.h"
#include "translation/doc/plain_text.h"

namespace quorvel {
namespace {

constexpr std::string_view HTML_BLOCK_TAGS[] = {
    "address",  "article", "aside",  "blockquote", "center", "details", "dialog", "div", "dl",
    "fieldset", "figure",  "footer", "form",       "h1",     "h2",      "h3",     "h4",  "h5",
    "h6",       "header",  "hr",     "html",       "iframe", "main",    "nav",    "ol",  "p",
    "picture",  "pre",     "script", "section",    "style",  "summary", "table",  "ul",  "video"};

bool is_fence_line(std::string_view line) {
  auto rest = trim_start(line);
  return rest.starts_with("```") || rest.starts_with("~~~");
}

bool starts_html_block(std::string_view line) {
  auto rest = trim_start(line);
  if (rest.starts_with("<!--")) return true;
  if (!rest.starts_with('<')) return false;
  rest.remove_prefix(rest.starts_with("</") ? 2 : 1);
  std::size_t n = 0;
  while (n < rest.size() && std::isalnum(static_cast<unsigned char>(rest[n]))) ++n;
  std::string name = ascii_lower(rest.substr(0, n));
  char after = n < rest.size() ? rest[n] : '>';
  if (after != ' ' && after != '>' && after != '/' && after != '\t') return false;
  for (auto tag : HTML_BLOCK_TAGS) {
    if (name == tag) return true;
  }
  return false;
}

// A rule (---, ***, ___) or a setext heading's underline (===, ---).
bool is_rule_line(std::string_view line) {
  auto rest = trim(line);
  if (rest.empty()) return false;
  char c = rest[0];
  if (c != '-' && c != '*' && c != '_' && c != '=') return false;
  std::size_t count = 0;
  for (char x : rest) {
    if (x == c) {
      ++count;
    } else if (x != ' ' && x != '\t') {
      return false;
    }
  }
  return count >= 3 || c == '=' || (c == '-' && count >= 2);
}

bool is_link_definition(std::string_view line) {
  auto rest = trim_start(line);
  return rest.starts_with('[') && rest.find("]:") != std::string_view::npos;
}

bool is_alignment_row(std::string_view line) {
  auto rest = trim(line);
  if (rest.find('|') == std::string_view::npos || rest.find('-') == std::string_view::npos) {
    return false;
  }
  for (char c : rest) {
    if (c != '|' && c != '-' && c != ':' && c != ' ' && c != '\t') return false;
  }
  return true;
}

// The pipes of a table row that separate cells: not escaped, not inside a code span.
std::vector<std::size_t> cell_pipes(std::string_view line) {
  std::vector<std::size_t> pipes;
  bool in_code = false;
  for (std::size_t i = 0; i < line.size(); ++i) {
    if (line[i] == '\\') {
      ++i;
    } else if (line[i] == '`') {
      in_code = !in_code;
    } else if (line[i] == '|' && !in_code) {
      pipes.push_back(i);
    }
  }
  return pipes;
}

// The markers at the start of a line: block quotes, then one list marker (with a task box).
struct BlockPrefix {
  std::size_t length = 0;  // the whole prefix, spaces after it included
  std::size_t quote = 0;   // the quote markers alone
  bool list = false;
};

BlockPrefix block_prefix(std::string_view line) {
  BlockPrefix prefix;
  std::size_t i = 0;
  auto skip_spaces = [&] {
    while (i < line.size() && line[i] == ' ') ++i;
  };
  skip_spaces();
  bool quoted = false;
  while (i < line.size() && line[i] == '>') {
    quoted = true;
    ++i;
    skip_spaces();
  }
  if (quoted) prefix.quote = i;
  std::size_t marker = i;
  if (i + 1 < line.size() && (line[i] == '-' || line[i] == '*' || line[i] == '+') &&
      line[i + 1] == ' ') {
    i += 2;
  } else {
    while (i < line.size() && i - marker < 9 && std::isdigit(static_cast<unsigned char>(line[i]))) {
      ++i;
    }
    if (i > marker && i + 1 < line.size() && (line[i] == '.' || line[i] == ')') &&
        line[i + 1] == ' ') {
      i += 2;
    } else {
      i = marker;
    }
  }
  if (i > marker) {
    prefix.list = true;
    std::string_view rest = line.substr(i);
    if (rest.starts_with("[ ] ") || rest.starts_with("[x] ") || rest.starts_with("[X] ")) i += 4;
    skip_spaces();
  }
  if (quoted || prefix.list) prefix.length = i;
  return prefix;
}

// Parses line by line, keeping a pending paragraph (possibly a list item or a quote) that
// following lines may continue.
class MarkdownParser {
 public:
  explicit MarkdownParser(std::string_view text) : text_(text) {}

  Result<PlainDocument> parse() {
    front_matter();
    while (auto current = next_line(text_, pos_)) {
      line(*current);
      if (document_.segments.size() > MAX_DOCUMENT_SEGMENTS) return too_many_segments();
    }
    flush_paragraph();
    flush_literal();
    if (document_.segments.size() > MAX_DOCUMENT_SEGMENTS) return too_many_segments();
    if (document_.segments.empty()) return fail(ErrorKind::format, "no translatable text found");
    return std::move(document_);
  }

 private:
  struct Pending {
    std::string prefix;
    std::string raw;   // the source bytes after the prefix
    std::string text;  // what the model sees: continuation lines without their markers
    std::string continuation;
    std::string quote;  // the quote markers of a quote-only paragraph, which its lines repeat
    bool open = false;
  };

  // YAML between two lines of three hyphens at the very top stays as it is.
  void front_matter() {
    std::size_t pos = 0;
    auto first = next_line(text_, pos);
    if (!first || *first != "---") return;
    while (auto line = next_line(text_, pos)) {
      if (*line == "---" || *line == "...") {
        std::size_t end = pos;
        pos = 0;
        while (pos < end) literal_line(*next_line(text_, pos));
        pos_ = end;
        return;
      }
    }
  }

  std::optional<std::string_view> peek() const {
    std::size_t pos = pos_;
    return next_line(text_, pos);
  }

  void line(std::string_view line) {
    if (is_fence_line(line)) {
      flush_paragraph();
      literal_line(line);
      in_fence_ = !in_fence_;
      return;
    }
    if (in_fence_ || (in_html_ && !is_blank(line))) return literal_line(line);
    if (is_blank(line)) {
      flush_paragraph();
      in_html_ = in_table_ = false;
      return literal_line(line);
    }
    if (starts_html_block(line) && !pending_.open) {
      in_html_ = true;
      return literal_line(line);
    }
    if (is_table_row(line)) {
      flush_paragraph();
      in_table_ = true;
      return is_alignment_row(line) ? literal_line(line) : table_row(line);
    }
    in_table_ = false;
    if (is_rule_line(line) || is_link_definition(line)) {
      flush_paragraph();
      return literal_line(line);
    }
    if (heading(line)) return;
    BlockPrefix prefix = block_prefix(line);
    std::string_view quote = line.substr(0, prefix.quote);
    if (prefix.length == 0 || (!prefix.list && pending_.open && !pending_.quote.empty() &&
                               trim(quote) == trim(pending_.quote))) {
      if (pending_.open) return continue_paragraph(line, prefix.length);
      if (prefix.length == 0) return start_paragraph("", line, "", "");
    }
    flush_paragraph();
    std::string continuation(quote);
    continuation.append(prefix.length - prefix.quote, ' ');
    start_paragraph(line.substr(0, prefix.length), line.substr(prefix.length), continuation,
                    prefix.list ? "" : quote);
  }

  bool is_table_row(std::string_view line) const {
    if (line.find('|') == std::string_view::npos) return false;
    if (in_table_ || trim_start(line).starts_with('|')) return true;
    auto next = peek();
    return next && is_alignment_row(*next);
  }

  bool heading(std::string_view line) {
    std::size_t i = 0;
    while (i < line.size() && i < 3 && line[i] == ' ') ++i;
    std::size_t hashes = i;
    while (i < line.size() && line[i] == '#') ++i;
    hashes = i - hashes;
    if (hashes == 0 || hashes > 6 || (i < line.size() && line[i] != ' ' && line[i] != '\t')) {
      return false;
    }
    flush_paragraph();
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
    std::string_view content = line.substr(i);
    // A closing run of hashes stays with the markers.
    std::string_view body = trim_end(content);
    std::size_t end = body.size();
    while (end > 0 && body[end - 1] == '#') --end;
    if (end < body.size() && (end == 0 || body[end - 1] == ' '))
      body = trim_end(body.substr(0, end));
    std::string suffix(content.substr(body.size()));
    suffix += '\n';
    emit(std::string(line.substr(0, i)), std::string(body), std::string(body), suffix, "", true);
    return true;
  }

  void table_row(std::string_view line) {
    std::size_t start = 0;
    for (std::size_t pipe : cell_pipes(line)) {
      cell(line.substr(start, pipe - start));
      literal_ += '|';
      start = pipe + 1;
    }
    cell(line.substr(start));
    literal_ += '\n';
  }

  void cell(std::string_view cell) {
    std::string_view content = trim(cell);
    if (content.empty()) {
      literal_ += cell;
      return;
    }
    std::size_t lead = static_cast<std::size_t>(content.data() - cell.data());
    std::string prefix(cell.substr(0, lead));
    std::string suffix(cell.substr(lead + content.size()));
    emit(prefix, std::string(content), std::string(content), suffix, "", true);
  }

  void start_paragraph(std::string_view prefix, std::string_view rest, std::string continuation,
                       std::string_view quote) {
    pending_ = Pending{std::string(prefix),     std::string(rest),  std::string(rest),
                       std::move(continuation), std::string(quote), true};
  }

  void continue_paragraph(std::string_view line, std::size_t marker_length) {
    pending_.raw += '\n';
    pending_.raw += line;
    pending_.text += '\n';
    pending_.text += trim_start(line.substr(marker_length));
  }

  void flush_paragraph() {
    if (!pending_.open) return;
    Pending p = std::move(pending_);
    pending_ = Pending{};
    emit(std::move(p.prefix), std::move(p.raw), std::move(p.text), "\n", std::move(p.continuation),
         false);
  }

  // Literal prefix, the segment, literal suffix. Markup that wraps the whole text (a bold
  // paragraph, a heading that is one link) goes with the prefix and suffix, not into a tag.
  void emit(std::string prefix, std::string raw, std::string text, std::string suffix,
            std::string continuation, bool single_line) {
    if (is_blank(text)) {
      literal_ += prefix + raw + suffix;
      return;
    }
    std::string_view raw_end = trim_end(raw);
    suffix.insert(0, raw.substr(raw_end.size()));
    raw.resize(raw_end.size());
    text.resize(trim_end(text).size());
    TaggedText tagged = tag_markdown_inline(text);
    if (wraps_whole(tagged) && raw.starts_with(tagged.markup[0].open) &&
        raw.ends_with(tagged.markup[0].close)) {
      const auto [open, close] = tagged.markup[0];
      prefix += open;
      suffix.insert(0, close);
      raw = raw.substr(open.size(), raw.size() - open.size() - close.size());
      text = text.substr(open.size(), text.size() - open.size() - close.size());
      tagged = tag_markdown_inline(text);
    }
    literal_ += prefix;
    flush_literal();
    plain_text::SegmentRef ref;
    ref.segment = document_.segments.size();
    ref.source = std::move(raw);
    ref.markup = std::move(tagged.markup);
    ref.continuation = std::move(continuation);
    ref.single_line = single_line;
    ref.line_end = false;
    const TagPolicy policy = ref.markup.empty() ? TagPolicy::none : TagPolicy::required;
    document_.blocks.emplace_back(std::move(ref));
    document_.segments.push_back(Segment{std::move(tagged.text), policy});
    literal_ += suffix;
  }

  static bool wraps_whole(const TaggedText& tagged) {
    return !tagged.markup.empty() && !tagged.markup[0].close.empty() &&
           tagged.text.starts_with(open_tag(1)) && tagged.text.ends_with(close_tag(1));
  }

  void literal_line(std::string_view line) {
    literal_ += line;
    literal_ += '\n';
  }

  void flush_literal() {
    if (literal_.empty()) return;
    auto* last = document_.blocks.empty()
                     ? nullptr
                     : std::get_if<plain_text::Literal>(&document_.blocks.back());
    if (last != nullptr) {
      last->text += literal_;
    } else {
      document_.blocks.emplace_back(std::in_place_type<plain_text::Literal>, std::move(literal_));
    }
    literal_.clear();
  }

  std::string_view text_;
  std::size_t pos_ = 0;  // the start of the next line
  PlainDocument document_;
  Pending pending_;
  std::string literal_;
  bool in_fence_ = false;
  bool in_html_ = false;
  bool in_table_ = false;
};

}  // namespace

Result<PlainDocument> split_markdown(std::string_view text) {
  return MarkdownParser(text).parse();
}

Result<PlainDocument> parse_markdown(const std::string& path) {
  auto text = read_text_file(path, MAX_TEXT_FILE_BYTES);
  if (!text) return std::unexpected(text.error());
  return split_markdown(*text);
}

}  // namespace quorvel

#include "translation/answer_checks.h"

#include <algorithm>
#include <vector>

#include "platform/text.h"
#include "translation/inline_tags.h"

namespace quorvel {

namespace {

constexpr uint64_t TOKEN_BUDGET_FLOOR = 96;
constexpr uint64_t TOKEN_BUDGET_CEILING = 3072;
constexpr uint64_t LENGTH_RATIO = 8;
constexpr uint64_t LENGTH_SLACK = 64;

// Some chat templates make the model open its answer with an empty thought block.
constexpr std::string_view THOUGHT_BLOCK = "<|channel>thought\n<channel|>";

// Characters that end a sentence or a parenthesis rather than an address.
constexpr std::string_view ADDRESS_TRAILERS = ",.!);?]";

bool is_ascii_punctuation(char c) {
  return (c >= '!' && c <= '/') || (c >= ':' && c <= '@') || (c >= '[' && c <= '`') ||
         (c >= '{' && c <= '~');
}

// A non-empty line of ASCII punctuation only: a rule, a fence, a row of dots.
bool is_punctuation_line(std::string_view line) {
  return !line.empty() && std::all_of(line.begin(), line.end(), is_ascii_punctuation);
}

bool has_alphabetic(std::string_view text) {
  std::size_t pos = 0;
  while (pos < text.size()) {
    auto c = next_char(text, pos);
    if (!c) {
      ++pos;
      continue;
    }
    if (is_alphabetic(*c)) return true;
  }
  return false;
}

bool is_web_address(std::string_view word) {
  return word.starts_with("http://") || word.starts_with("https://");
}

bool is_email_address(std::string_view word) {
  return word.find('@') != std::string_view::npos && word.find('.') != std::string_view::npos &&
         !word.starts_with('@');
}

std::string_view first_line(std::string_view text) {
  std::string_view line = text.substr(0, text.find('\n'));
  if (line.size() < text.size() && line.ends_with('\r')) line.remove_suffix(1);
  return line;
}

std::string_view strip_leading_rule_lines(std::string_view r) {
  for (;;) {
    std::size_t lf = r.find('\n');
    if (lf == std::string_view::npos) return r;
    if (!is_punctuation_line(trim(r.substr(0, lf)))) return r;
    r.remove_prefix(lf + 1);
  }
}

// Quotes the model put around its whole answer. Quotes at the ends count as wrapping only
// when none is left between them: `Klicken Sie auf "Speichern"` ends with the closing half of
// a pair, and taking it away would leave an unbalanced quote.
std::string_view strip_wrapping_quotes(std::string_view s) {
  std::size_t begin = s.find_first_not_of('"');
  if (begin == std::string_view::npos) return {};
  std::size_t end = s.find_last_not_of('"') + 1;
  std::string_view inner = s.substr(begin, end - begin);
  if (inner.find('"') != std::string_view::npos) return s;
  return trim(inner);
}

std::vector<std::string_view> protected_tokens(std::string_view source) {
  std::vector<std::string_view> tokens;
  for (std::string_view word : split_words(source)) {
    while (!word.empty() && ADDRESS_TRAILERS.find(word.back()) != std::string_view::npos) {
      word.remove_suffix(1);
    }
    if (word.empty()) continue;
    if (is_web_address(word) || is_email_address(word)) tokens.push_back(word);
  }
  std::size_t pos = 0;
  for (;;) {
    std::size_t open = source.find('{', pos);
    if (open == std::string_view::npos) break;
    std::size_t close = source.find('}', open + 1);
    if (close == std::string_view::npos) break;
    tokens.push_back(source.substr(open, close - open + 1));
    pos = close + 1;
  }
  return tokens;
}

}  // namespace

bool needs_no_translation(std::string_view text) {
  std::string_view t = trim(text);
  if (!has_alphabetic(t)) return true;
  if (count_words(t) > 1) return false;
  if (t.starts_with("http://") || t.starts_with("https://") || t.starts_with("www.")) return true;
  if (t.find('@') != std::string_view::npos) return is_email_address(t);
  return false;
}

uint32_t token_budget(std::string_view text) {
  const uint64_t words = count_words(text);
  const uint64_t chars = count_chars(text);
  const uint64_t budget = 4 * std::max(words, chars / 3) + 64;
  return static_cast<uint32_t>(std::clamp(budget, TOKEN_BUDGET_FLOOR, TOKEN_BUDGET_CEILING));
}

std::string clean_output(std::string_view source, std::string_view output) {
  std::string_view r = trim(output);
  if (r.starts_with(THOUGHT_BLOCK)) r.remove_prefix(THOUGHT_BLOCK.size());

  // A source that itself opens with a rule or a fence expects one in the answer too.
  std::string_view trimmed_source = trim(source);
  if (!is_punctuation_line(trim(first_line(trimmed_source)))) r = strip_leading_rule_lines(r);

  std::string_view s = trim(r);
  if (trimmed_source.starts_with('"') || trimmed_source.ends_with('"')) return std::string(s);
  return std::string(strip_wrapping_quotes(s));
}

bool is_reliable(std::string_view source, std::string_view candidate) {
  std::string_view t = trim(candidate);
  if (t.empty()) return false;

  const uint64_t ls = std::max<uint64_t>(count_chars(source), 1);
  const uint64_t lt = count_chars(t);
  if (ls > LENGTH_RATIO * lt || lt > LENGTH_RATIO * ls + LENGTH_SLACK) return false;

  for (std::string_view token : protected_tokens(source)) {
    if (t.find(token) == std::string_view::npos) return false;
  }
  return true;
}

std::string visible_text(const Segment& segment) {
  if (segment.tags == TagPolicy::none) return segment.text;
  return strip_inline_tags(segment.text);
}

std::optional<std::string> accept_answer(const Segment& segment, std::string_view answer,
                                         bool last_attempt) {
  std::string cleaned = clean_output(segment.text, answer);
  const bool tags_kept =
      segment.tags == TagPolicy::none || keeps_inline_tags(segment.text, cleaned);
  if (tags_kept && is_reliable(segment.text, cleaned)) return cleaned;
  if (segment.tags != TagPolicy::strip || !last_attempt) return std::nullopt;
  // The words alone are judged: lost tags also make an answer shorter than its source.
  std::string stripped(trim(strip_inline_tags(cleaned)));
  if (!is_reliable(strip_inline_tags(segment.text), stripped)) return std::nullopt;
  return stripped;
}

}  // namespace quorvel

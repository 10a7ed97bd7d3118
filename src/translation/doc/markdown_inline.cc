#include "translation/doc/markdown_inline.h"

#include <algorithm>
#include <cctype>
#include <string>

namespace quorvel {
namespace {

// Scanning steps one block may take, per byte: searches that would go beyond find nothing, so
// hostile input (thousands of unclosed brackets) costs linear time and then stays text.
constexpr std::size_t STEPS_PER_BYTE = 64;
constexpr std::size_t MAX_STEPS = 16u << 20;
constexpr std::size_t MAX_NESTING = 32;

struct Budget {
  std::size_t steps = 0;
  bool spend(std::size_t n = 1) {
    if (steps < n) {
      steps = 0;
      return false;
    }
    steps -= n;
    return true;
  }
};

bool is_space(char c) {
  return c == ' ' || c == '\t' || c == '\n';
}

bool is_word(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) != 0;
}

std::size_t run_length(std::string_view s, std::size_t at, char c) {
  std::size_t end = at;
  while (end < s.size() && s[end] == c) ++end;
  return end - at;
}

// The end of the code span opening at `at`, or npos: the next run of exactly as many
// backticks closes it.
std::size_t code_span_end(std::string_view s, std::size_t at, Budget& budget) {
  std::size_t n = run_length(s, at, '`');
  std::size_t pos = at + n;
  for (std::size_t from = pos; (pos = s.find('`', from)) != std::string_view::npos; from = pos) {
    if (!budget.spend(pos - from + 1)) return std::string_view::npos;
    std::size_t m = run_length(s, pos, '`');
    if (m == n) return pos + m;
    pos += m;
  }
  return std::string_view::npos;
}

// The position just past the bracket matching s[at] (`open`), skipping escapes and code
// spans; npos when it is not closed.
std::size_t matching(std::string_view s, std::size_t at, char open, char close, Budget& budget) {
  int depth = 0;
  for (std::size_t i = at; i < s.size(); ++i) {
    if (!budget.spend()) return std::string_view::npos;
    char c = s[i];
    if (c == '\\') {
      ++i;
    } else if (c == '`') {
      std::size_t end = code_span_end(s, i, budget);
      if (end != std::string_view::npos) i = end - 1;
    } else if (c == open) {
      ++depth;
    } else if (c == close && --depth == 0) {
      return i + 1;
    }
  }
  return std::string_view::npos;
}

// A link or image at s[at] ('['): the end of its label and of the whole link (inline target
// or reference), or nothing.
struct Link {
  std::size_t label_end = 0;  // just past ']'
  std::size_t end = 0;
};

bool find_link(std::string_view s, std::size_t at, Link& link, Budget& budget) {
  link.label_end = matching(s, at, '[', ']', budget);
  if (link.label_end == std::string_view::npos || link.label_end >= s.size()) return false;
  char next = s[link.label_end];
  if (next == '(') {
    link.end = matching(s, link.label_end, '(', ')', budget);
  } else if (next == '[') {
    link.end = matching(s, link.label_end, '[', ']', budget);
  } else {
    return false;
  }
  return link.end != std::string_view::npos;
}

// An autolink or an HTML tag at s[at] ('<'): the position past its '>', or npos.
std::size_t angle_end(std::string_view s, std::size_t at) {
  if (at + 1 >= s.size()) return std::string_view::npos;
  char c = s[at + 1];
  if (!std::isalpha(static_cast<unsigned char>(c)) && c != '/' && c != '!') {
    return std::string_view::npos;
  }
  // A tag or an address is short; looking no further keeps a line of '<' linear.
  std::size_t end = s.substr(0, at + 2048).find('>', at);
  if (end == std::string_view::npos) return end;
  std::string_view inside = s.substr(at + 1, end - at - 1);
  if (inside.find_first_of("<\n") != std::string_view::npos) return std::string_view::npos;
  return end + 1;
}

// The start of the delimiter run closing emphasis opened with `delimiter` before `from`.
std::size_t emphasis_close(std::string_view s, std::size_t from, std::string_view delimiter,
                           Budget& budget) {
  for (std::size_t i = from; i < s.size(); ++i) {
    if (!budget.spend()) return std::string_view::npos;
    char c = s[i];
    if (c == '\\') {
      ++i;
      continue;
    }
    if (c == '`') {
      std::size_t end = code_span_end(s, i, budget);
      if (end != std::string_view::npos) i = end - 1;
      continue;
    }
    if (c != delimiter[0]) continue;
    std::size_t n = run_length(s, i, c);
    const bool after_word = i + n < s.size() && is_word(s[i + n]);
    if (n == delimiter.size() && i > from && !is_space(s[i - 1]) && !(c == '_' && after_word)) {
      return i;
    }
    i += n - 1;
  }
  return std::string_view::npos;
}

class InlineTagger {
 public:
  InlineTagger(TagBuilder& builder, std::size_t size)
      : builder_(builder), budget_{std::min(STEPS_PER_BYTE * size + 4096, MAX_STEPS)} {}

  void run(std::string_view s) {
    if (depth_ == MAX_NESTING) {
      builder_.text(s);
      return;
    }
    ++depth_;
    tag(s);
    --depth_;
  }

 private:
  void tag(std::string_view s) {
    std::size_t text_start = 0;
    std::size_t i = 0;
    auto flush = [&](std::size_t upto) {
      if (upto > text_start) builder_.text(s.substr(text_start, upto - text_start));
    };
    while (i < s.size()) {
      const char c = s[i];
      std::size_t end = std::string_view::npos;
      Link link;
      if (c == '\\') {
        i += 2;
        continue;
      }
      if (c == '`' && (end = code_span_end(s, i, budget_)) != std::string_view::npos) {
        flush(i);
        builder_.placeholder(s.substr(i, end - i));
      } else if (c == '!' && i + 1 < s.size() && s[i + 1] == '[' &&
                 find_link(s, i + 1, link, budget_)) {
        end = link.end;
        flush(i);
        builder_.placeholder(s.substr(i, end - i));
      } else if (c == '[' && find_link(s, i, link, budget_)) {
        end = link.end;
        flush(i);
        std::size_t id = builder_.open("[", s.substr(link.label_end - 1, end - link.label_end + 1));
        run(s.substr(i + 1, link.label_end - 1 - i - 1));
        builder_.close(id);
      } else if (c == '<' && (end = angle_end(s, i)) != std::string_view::npos) {
        flush(i);
        builder_.placeholder(s.substr(i, end - i));
      } else if ((c == '*' || c == '_' || c == '~') && emphasis(s, i, flush, end)) {
        // emphasis() wrote the span
      } else {
        std::size_t n = (c == '*' || c == '_' || c == '~') ? run_length(s, i, c) : 1;
        i += n;
        continue;
      }
      i = end;
      text_start = end;
    }
    flush(s.size());
  }

  template <class Flush>
  bool emphasis(std::string_view s, std::size_t at, Flush& flush, std::size_t& end) {
    const char c = s[at];
    std::size_t n = run_length(s, at, c);
    if (n > 3 || (c == '~' && n != 2)) return false;
    if (at + n >= s.size() || is_space(s[at + n])) return false;  // not left-flanking
    if (c == '_' && at > 0 && is_word(s[at - 1])) return false;   // inside a word
    std::string_view delimiter = s.substr(at, n);
    std::size_t close = emphasis_close(s, at + n, delimiter, budget_);
    if (close == std::string_view::npos) return false;
    flush(at);
    std::size_t id = builder_.open(delimiter, delimiter);
    run(s.substr(at + n, close - at - n));
    builder_.close(id);
    end = close + n;
    return true;
  }

  TagBuilder& builder_;
  Budget budget_;
  std::size_t depth_ = 0;
};

}  // namespace

TaggedText tag_markdown_inline(std::string_view text) {
  TagBuilder builder;
  InlineTagger(builder, text.size()).run(text);
  return std::move(builder).finish(text);
}

}  // namespace quorvel

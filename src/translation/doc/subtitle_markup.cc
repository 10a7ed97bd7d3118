#include "translation/doc/subtitle_markup.h"

#include <cctype>
#include <unordered_map>
#include <vector>

namespace quorvel {
namespace {

// Markup is short; looking no further keeps a line of '<' linear.
constexpr std::size_t MAX_MARKUP_BYTES = 256;

enum class TokenKind { text, open, close, other };

struct Token {
  TokenKind kind = TokenKind::text;
  std::string_view bytes;
  std::string_view name;           // open and close: the element name
  std::size_t partner = SIZE_MAX;  // open: its close; close: its open
};

std::string_view element_name(std::string_view tag) {
  std::size_t begin = tag.starts_with("</") ? 2 : 1;
  std::size_t end = begin;
  while (end < tag.size() && std::isalnum(static_cast<unsigned char>(tag[end]))) ++end;
  return tag.substr(begin, end - begin);
}

// The markup at s[at] ('<' or '{'), or nothing.
std::string_view markup_at(std::string_view s, std::size_t at) {
  const char open = s[at];
  const char close = open == '<' ? '>' : '}';
  if (open == '{' && (at + 1 >= s.size() || s[at + 1] != '\\')) return {};
  if (open == '<') {
    if (at + 1 >= s.size()) return {};
    char c = s[at + 1];
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '/') return {};
  }
  std::size_t end = s.substr(0, at + MAX_MARKUP_BYTES).find(close, at);
  if (end == std::string_view::npos) return {};
  std::string_view markup = s.substr(at, end + 1 - at);
  if (markup.find_first_of("\n", 1) != std::string_view::npos ||
      markup.find(open, 1) != std::string_view::npos) {
    return {};
  }
  return markup;
}

std::vector<Token> tokenize(std::string_view s) {
  std::vector<Token> tokens;
  std::vector<std::size_t> open;  // unmatched opening tags
  std::unordered_map<std::string_view, std::vector<std::size_t>> by_name;
  std::size_t text_start = 0;
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (s[i] != '<' && s[i] != '{') continue;
    std::string_view markup = markup_at(s, i);
    if (markup.empty()) continue;
    if (i > text_start) tokens.push_back({TokenKind::text, s.substr(text_start, i - text_start)});
    Token token{TokenKind::other, markup};
    const bool angle = markup[0] == '<';
    const bool is_time = angle && std::isdigit(static_cast<unsigned char>(markup[1]));
    if (angle && !is_time) {
      token.name = element_name(markup);
      token.kind = markup[1] == '/' ? TokenKind::close : TokenKind::open;
    }
    if (token.kind == TokenKind::close) {
      // Closes the nearest opening of its name; openings it skips stay unmatched. Each name
      // has its own stack of positions in `open`, so no search is needed.
      auto named = by_name.find(token.name);
      if (named != by_name.end() && !named->second.empty()) {
        std::size_t at = named->second.back();
        while (open.size() > at + 1) {
          by_name[tokens[open.back()].name].pop_back();
          open.pop_back();
        }
        token.partner = open[at];
        tokens[open[at]].partner = tokens.size();
        named->second.pop_back();
        open.pop_back();
      }
    }
    if (token.kind == TokenKind::open) {
      by_name[token.name].push_back(open.size());
      open.push_back(tokens.size());
    }
    tokens.push_back(token);
    i += markup.size() - 1;
    text_start = i + 1;
  }
  if (text_start < s.size()) tokens.push_back({TokenKind::text, s.substr(text_start)});
  return tokens;
}

bool is_pair(const Token& token) {
  return token.partner != SIZE_MAX;
}

TaggedText tag_tokens(const std::vector<Token>& tokens, std::size_t first, std::size_t last,
                      std::string_view plain) {
  TagBuilder builder;
  std::vector<std::size_t> ids(tokens.size(), 0);
  for (std::size_t i = first; i < last; ++i) {
    const Token& token = tokens[i];
    if (token.kind == TokenKind::text) {
      builder.text(token.bytes);
    } else if (token.kind == TokenKind::open && is_pair(token)) {
      ids[i] = builder.open(token.bytes, tokens[token.partner].bytes);
    } else if (token.kind == TokenKind::close && is_pair(token)) {
      builder.close(ids[token.partner]);
    } else {
      builder.placeholder(token.bytes);
    }
  }
  return std::move(builder).finish(plain);
}

}  // namespace

SubtitleText split_subtitle_markup(std::string_view text) {
  std::vector<Token> tokens = tokenize(text);
  std::size_t first = 0;
  std::size_t last = tokens.size();
  SubtitleText out;
  // Pairs that wrap all that is left stay outside, outermost first, and so does leading
  // markup that applies to the rest: a voice never closed, a position override.
  for (;;) {
    const Token* lead = first < last ? &tokens[first] : nullptr;
    if (lead && lead->kind == TokenKind::open && lead->partner == last - 1 && last - first >= 2) {
      --last;
    } else if (!lead || is_pair(*lead) || lead->kind == TokenKind::text ||
               lead->kind == TokenKind::close ||
               (lead->kind == TokenKind::other && lead->bytes[0] == '<')) {
      break;
    }
    out.prefix += lead->bytes;
    ++first;
  }
  for (std::size_t i = last; i < tokens.size(); ++i) out.suffix += tokens[i].bytes;
  std::size_t begin = out.prefix.size();
  out.source = text.substr(begin, text.size() - begin - out.suffix.size());
  out.tagged = tag_tokens(tokens, first, last, out.source);
  return out;
}

}  // namespace quorvel

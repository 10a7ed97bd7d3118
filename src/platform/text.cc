#include "platform/text.h"

#include <unicode/uchar.h>
#include <unicode/utf8.h>

namespace quorvel {

bool is_white_space(char32_t c) { return u_isUWhiteSpace(static_cast<UChar32>(c)); }

bool is_alphabetic(char32_t c) {
  return u_hasBinaryProperty(static_cast<UChar32>(c), UCHAR_ALPHABETIC);
}

std::optional<char32_t> next_char(std::string_view s, std::size_t& pos) {
  if (pos >= s.size()) return std::nullopt;
  auto b = static_cast<unsigned char>(s[pos]);
  if (b < 0x80) {
    ++pos;
    return b;
  }
  int32_t i = static_cast<int32_t>(pos);
  const auto length = static_cast<int32_t>(s.size());
  UChar32 c = 0;
  U8_NEXT(reinterpret_cast<const uint8_t*>(s.data()), i, length, c);
  if (c < 0) return std::nullopt;
  pos = static_cast<std::size_t>(i);
  return static_cast<char32_t>(c);
}

bool is_valid_utf8(std::string_view s) {
  std::size_t pos = 0;
  while (pos < s.size()) {
    if (!next_char(s, pos)) return false;
  }
  return true;
}

std::string replace_invalid_utf8(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  std::size_t pos = 0;
  while (pos < s.size()) {
    std::size_t start = pos;
    if (next_char(s, pos)) {
      out.append(s, start, pos - start);
    } else {
      out += "\xEF\xBF\xBD";
      pos = start + 1;
    }
  }
  return out;
}

std::size_t count_chars(std::string_view s) {
  std::size_t count = 0;
  std::size_t pos = 0;
  while (pos < s.size()) {
    if (!next_char(s, pos)) ++pos;
    ++count;
  }
  return count;
}

namespace {

// Length of the white-space character that ends at byte `end`, or 0 if the last character
// is not white space. White space is at most 3 bytes long in UTF-8.
std::size_t white_space_before(std::string_view s, std::size_t end) {
  for (std::size_t len = 1; len <= 3 && len <= end; ++len) {
    auto b = static_cast<unsigned char>(s[end - len]);
    if ((b & 0xC0) == 0x80) continue;  // continuation byte: look further back
    std::size_t pos = end - len;
    auto c = next_char(s, pos);
    return (c && pos == end && is_white_space(*c)) ? len : 0;
  }
  return 0;
}

}  // namespace

std::string_view trim_start(std::string_view s) {
  std::size_t pos = 0;
  while (pos < s.size()) {
    std::size_t next = pos;
    auto c = next_char(s, next);
    if (!c || !is_white_space(*c)) break;
    pos = next;
  }
  return s.substr(pos);
}

std::string_view trim_end(std::string_view s) {
  std::size_t end = s.size();
  while (std::size_t len = white_space_before(s, end)) end -= len;
  return s.substr(0, end);
}

std::string_view trim(std::string_view s) { return trim_end(trim_start(s)); }

bool is_blank(std::string_view s) { return trim_start(s).empty(); }

std::vector<std::string_view> split_lines(std::string_view text) {
  std::vector<std::string_view> lines;
  std::size_t pos = 0;
  while (auto line = next_line(text, pos)) lines.push_back(*line);
  return lines;
}

std::optional<std::string_view> next_line(std::string_view text, std::size_t& pos) {
  if (pos >= text.size()) return std::nullopt;
  std::size_t lf = text.find('\n', pos);
  if (lf == std::string_view::npos) {
    std::string_view line = text.substr(pos);
    pos = text.size();
    return line;
  }
  std::string_view line = text.substr(pos, lf - pos);
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  pos = lf + 1;
  return line;
}

std::vector<std::string_view> split_words(std::string_view s) {
  std::vector<std::string_view> words;
  std::size_t pos = 0;
  std::size_t word_start = std::string_view::npos;
  while (pos < s.size()) {
    std::size_t here = pos;
    auto c = next_char(s, pos);
    if (!c) {
      pos = here + 1;  // an invalid byte is part of a word
      if (word_start == std::string_view::npos) word_start = here;
      continue;
    }
    if (is_white_space(*c)) {
      if (word_start != std::string_view::npos)
        words.push_back(s.substr(word_start, here - word_start));
      word_start = std::string_view::npos;
    } else if (word_start == std::string_view::npos) {
      word_start = here;
    }
  }
  if (word_start != std::string_view::npos) words.push_back(s.substr(word_start));
  return words;
}

std::size_t count_words(std::string_view s) {
  std::size_t words = 0;
  bool in_word = false;
  std::size_t pos = 0;
  while (pos < s.size()) {
    auto c = next_char(s, pos);
    if (!c) ++pos;  // an invalid byte is part of a word
    bool space = c && is_white_space(*c);
    if (!space && !in_word) ++words;
    in_word = !space;
  }
  return words;
}

namespace {
char lower(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}
}  // namespace

std::string ascii_lower(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = lower(c);
  return out;
}

bool equals_ascii_ci(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

bool starts_with_ascii_ci(std::string_view s, std::string_view prefix) {
  return s.size() >= prefix.size() && equals_ascii_ci(s.substr(0, prefix.size()), prefix);
}

}  // namespace quorvel

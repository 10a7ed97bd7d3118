#include "platform/text.h"

namespace quorvel {

std::optional<char32_t> next_char(std::string_view s, std::size_t& pos) {
  if (pos >= s.size()) return std::nullopt;
  auto b = static_cast<unsigned char>(s[pos]);
  if (b < 0x80) {
    ++pos;
    return b;
  }
  // Well-formed sequences only: no overlong forms, no surrogates, nothing past U+10FFFF.
  std::size_t length = 0;
  char32_t c = 0;
  unsigned char low = 0x80;
  unsigned char high = 0xBF;
  if (b >= 0xC2 && b <= 0xDF) {
    length = 2;
    c = b & 0x1F;
  } else if (b >= 0xE0 && b <= 0xEF) {
    length = 3;
    c = b & 0x0F;
    if (b == 0xE0) low = 0xA0;
    if (b == 0xED) high = 0x9F;
  } else if (b >= 0xF0 && b <= 0xF4) {
    length = 4;
    c = b & 0x07;
    if (b == 0xF0) low = 0x90;
    if (b == 0xF4) high = 0x8F;
  } else {
    return std::nullopt;
  }
  if (s.size() - pos < length) return std::nullopt;
  for (std::size_t k = 1; k < length; ++k) {
    auto next = static_cast<unsigned char>(s[pos + k]);
    if (next < (k == 1 ? low : 0x80) || next > (k == 1 ? high : 0xBF)) return std::nullopt;
    c = (c << 6) | (next & 0x3F);
  }
  pos += length;
  return c;
}

void append_utf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
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

std::string_view trim(std::string_view s) {
  return trim_end(trim_start(s));
}

bool is_blank(std::string_view s) {
  return trim_start(s).empty();
}

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

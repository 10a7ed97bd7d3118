#pragma once
// UTF-8 text helpers shared by every subsystem. White space is the Unicode White_Space
// property; a "character" is a Unicode scalar value.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/unicode.h"

namespace quorvel {

bool is_valid_utf8(std::string_view s);

/// Decodes the character starting at byte `pos` and advances `pos` past it. Returns nothing
/// at the end or on an invalid sequence (then `pos` is unchanged).
std::optional<char32_t> next_char(std::string_view s, std::size_t& pos);

/// Appends the UTF-8 form of the scalar value `c`.
void append_utf8(std::string& out, char32_t c);

/// Calls `fn(c)` for each character in order; bytes that are not UTF-8 are skipped.
template <class Fn>
void for_each_char(std::string_view s, Fn&& fn) {
  std::size_t pos = 0;
  while (pos < s.size()) {
    if (auto c = next_char(s, pos)) {
      fn(*c);
    } else {
      ++pos;
    }
  }
}

/// The text with every byte that is not UTF-8 replaced by U+FFFD.
std::string replace_invalid_utf8(std::string_view s);

/// Number of Unicode scalar values; an invalid byte counts as one.
std::size_t count_chars(std::string_view s);

std::string_view trim(std::string_view s);
std::string_view trim_start(std::string_view s);
std::string_view trim_end(std::string_view s);
bool is_blank(std::string_view s);

/// Lines cut at each line feed, with one carriage return before it removed. A final piece
/// without a line feed is a line; a final line feed adds no empty line.
std::vector<std::string_view> split_lines(std::string_view text);

/// The line of split_lines that starts at byte `pos`, advancing `pos` past its line feed;
/// nothing at the end of the text. For walking large texts without a list of all lines.
std::optional<std::string_view> next_line(std::string_view text, std::size_t& pos);

/// The non-empty pieces between runs of white space.
std::vector<std::string_view> split_words(std::string_view s);

/// split_words(s).size(), without building the list.
std::size_t count_words(std::string_view s);

bool starts_with_ascii_ci(std::string_view s, std::string_view prefix);
std::string ascii_lower(std::string_view s);
bool equals_ascii_ci(std::string_view a, std::string_view b);

}  // namespace quorvel

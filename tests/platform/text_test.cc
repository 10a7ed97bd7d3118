#include "platform/text.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace quorvel {
namespace {

// next_line walks a text the way split_lines cuts it: LF ends a line, one CR before it is
// dropped, a lone CR is text, and a final LF adds no empty line.
TEST(Text, NextLineWalksTheLinesOfSplitLines) {
  struct Case {
    std::string text;
    std::vector<std::string> lines;
  };
  const Case cases[] = {
      {"", {}},
      {"\n", {""}},
      {"a", {"a"}},
      {"a\n", {"a"}},
      {"a\r\nb\r\n\r\n", {"a", "b", ""}},
      {"a\r\r\nb\rc", {"a\r", "b\rc"}},
      {"no final line feed\r", {"no final line feed\r"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    std::vector<std::string> walked;
    std::size_t pos = 0;
    while (auto line = next_line(c.text, pos)) walked.emplace_back(*line);
    EXPECT_EQ(walked, c.lines);
    EXPECT_EQ(pos, c.text.size());
    std::vector<std::string> split;
    for (auto line : split_lines(c.text)) split.emplace_back(line);
    EXPECT_EQ(split, c.lines);
  }
}

TEST(Text, CountWordsAgreesWithSplitWords) {
  const std::string cases[] = {
      "",
      "   ",
      "one",
      " two  words ",
      "tab\tand\nline",
      "a\u3000b\u00A0c",
      "caf\xE9 bad byte",
      "\xFF",
      "x\u2028",
  };
  const std::size_t expected[] = {0, 0, 1, 2, 3, 3, 3, 1, 1};
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    SCOPED_TRACE(cases[i]);
    EXPECT_EQ(count_words(cases[i]), expected[i]);
    EXPECT_EQ(split_words(cases[i]).size(), expected[i]);
  }
}

// Only well-formed UTF-8 decodes: overlong forms, surrogates, code points past U+10FFFF and
// cut sequences are invalid and leave the position where it was.
TEST(Text, NextCharTakesWellFormedUtf8Only) {
  struct Case {
    std::string bytes;
    std::optional<char32_t> decoded;
  };
  const Case cases[] = {
      {"A", U'A'},
      {"\xC3\xA9", U'\u00E9'},
      {"\xE2\x82\xAC", U'\u20AC'},
      {"\xEF\xBF\xBF", U'\uFFFF'},
      {"\xF0\x9F\x98\x80", U'\U0001F600'},
      {"\xF4\x8F\xBF\xBF", U'\U0010FFFF'},
      {"\xC0\x80", std::nullopt},          // overlong NUL
      {"\xC1\xBF", std::nullopt},          // overlong
      {"\xE0\x9F\xBF", std::nullopt},      // overlong three-byte form
      {"\xF0\x8F\xBF\xBF", std::nullopt},  // overlong four-byte form
      {"\xED\xA0\x80", std::nullopt},      // surrogate
      {"\xF4\x90\x80\x80", std::nullopt},  // past U+10FFFF
      {"\xF5\x80\x80\x80", std::nullopt},
      {"\xE2\x82", std::nullopt},  // cut short
      {"\x80", std::nullopt},      // continuation byte alone
      {"\xC3"
       "A",
       std::nullopt},  // a lead byte without its continuation
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.bytes));
    std::size_t pos = 0;
    EXPECT_EQ(next_char(c.bytes, pos), c.decoded);
    EXPECT_EQ(pos, c.decoded ? c.bytes.size() : 0);
    if (c.decoded) {
      std::string encoded;
      append_utf8(encoded, *c.decoded);
      EXPECT_EQ(encoded, c.bytes);
    }
  }
}

}  // namespace
}  // namespace quorvel

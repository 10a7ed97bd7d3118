#include "platform/text.h"

#include <gtest/gtest.h>

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

}  // namespace
}  // namespace quorvel

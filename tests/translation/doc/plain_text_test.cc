#include "translation/doc/plain_text.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/temp_dir.h"

namespace quorvel {
namespace {

std::vector<std::string> texts(const PlainDocument& document) {
  std::vector<std::string> out;
  for (const auto& segment : document.segments) out.push_back(segment.text);
  return out;
}

// Each paragraph "translated" to itself in brackets, so the output shows where it went.
Translations bracketed(const PlainDocument& document) {
  Translations out;
  for (const auto& segment : document.segments) out.push_back("[" + segment.text + "]");
  return out;
}

struct SplitCase {
  const char* name;
  std::string input;
  std::vector<std::string> segments;
  std::string translated;  // the output with bracketed translations
};

TEST(PlainText, SplitsParagraphsAndKeepsEverythingElse) {
  const SplitCase cases[] = {
      {"heading joins its text; no final line feed",
       "# Title\nBody line\n\nSecond",
       {"# Title\nBody line", "Second"},
       "[# Title\nBody line]\n\n[Second]\n"},
      {"CRLF in, LF out", "a\r\nb\r\n\r\nc\r\n", {"a\nb", "c"}, "[a\nb]\n\n[c]\n"},
      {"line of spaces is a literal", "a\n   \nb\n", {"a", "b"}, "[a]\n   \n[b]\n"},
      {"blank lines reproduced", "a\n\n\n\nb\n", {"a", "b"}, "[a]\n\n\n\n[b]\n"},
      {"fence with blank lines, ended paragraph",
       "intro\n```cpp\ncode\n\n  more\n```\nafter\n",
       {"intro", "after"},
       "[intro]\n```cpp\ncode\n\n  more\n```\n[after]\n"},
      {"indented fence closed by tildes",
       "  ```python\nx = 1\n~~~~\ntext\n",
       {"text"},
       "  ```python\nx = 1\n~~~~\n[text]\n"},
      {"unclosed fence runs to the end",
       "para\n```\ncode\n\nrest",
       {"para"},
       "[para]\n```\ncode\n\nrest\n"},
      {"trailing white space dropped, leading kept",
       "  indented \t\nnext\u3000\n",
       {"  indented \t\nnext"},
       "[  indented \t\nnext]\n"},
      {"front matter is a paragraph",
       "---\ntitle: x\n---\nText\n\nMore\n",
       {"---\ntitle: x\n---\nText", "More"},
       "[---\ntitle: x\n---\nText]\n\n[More]\n"},
      {"byte-order mark and lone CR are text",
       "\xEF\xBB\xBFHi\ra\n",
       {"\xEF\xBB\xBFHi\ra"},
       "[\xEF\xBB\xBFHi\ra]\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto document = split_plain_text(c.input);
    ASSERT_TRUE(document) << document.error().message;
    EXPECT_EQ(texts(*document), c.segments);
    EXPECT_EQ(render_plain_text(*document, bracketed(*document)), c.translated);
  }
}

TEST(PlainText, AKeptParagraphKeepsItsBytesAndATranslationLosesTrailingSpace) {
  auto document = split_plain_text("One  \nline \t\n\nTwo\n\nThree \n");
  ASSERT_TRUE(document);
  // The third is passed through unchanged: the same as kept.
  EXPECT_EQ(render_plain_text(*document, {std::nullopt, " Deux \n\n", "Three"}),
            "One  \nline \t\n\n Deux\n\nThree \n");
}

TEST(PlainText, NoParagraphIsAnError) {
  for (std::string input : {"", "\n \n\t\n", "```\ncode\n```\n", "```\nunclosed"}) {
    auto document = split_plain_text(input);
    ASSERT_FALSE(document) << input;
    EXPECT_EQ(document.error().message, "no translatable text found");
  }
}

TEST(PlainText, ReadsAndWritesFiles) {
  testing::TempDir dir;
  std::string path = dir.file("notes.md");
  testing::write_bytes(path, "Hello\r\n\r\n```\nx\n```\r\n");
  auto document = parse_plain_text(path);
  ASSERT_TRUE(document);
  // Writing over the input replaces it only with the complete translation.
  ASSERT_TRUE(write_plain_text(*document, {"Bonjour"}, path));
  EXPECT_EQ(testing::read_bytes(path), "Bonjour\n\n```\nx\n```\n");
  EXPECT_EQ(dir.list(), std::vector<std::string>{"notes.md"});

  auto missing = parse_plain_text(dir.file("none.txt"));
  ASSERT_FALSE(missing);
  EXPECT_EQ(missing.error().message, "reading " + dir.file("none.txt"));

  testing::write_bytes(dir.file("latin1.txt"), "caf\xE9\n");
  auto latin1 = parse_plain_text(dir.file("latin1.txt"));
  ASSERT_FALSE(latin1);
  EXPECT_EQ(latin1.error().message, "reading " + dir.file("latin1.txt"));
  EXPECT_EQ(latin1.error().cause, "stream did not contain valid UTF-8");

  auto unwritable = write_plain_text(*document, {"x"}, dir.file("no/such/dir.txt"));
  ASSERT_FALSE(unwritable);
  EXPECT_EQ(unwritable.error().message, "writing " + dir.file("no/such/dir.txt"));
}

}  // namespace
}  // namespace quorvel

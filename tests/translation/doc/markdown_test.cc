// Markdown: block markers stay outside the segments, inline markup travels as tags, and what
// the model must not touch never reaches it.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fakes/fake_generator.h"
#include "support/temp_dir.h"
#include "translation/doc/plain_text.h"
#include "translation/inline_tags.h"
#include "translation/pipeline.h"

namespace quorvel {
namespace {

// Words upper-cased, tags kept: a model that keeps the markup.
std::string shout(std::string_view text) {
  std::string out;
  for (const auto& piece : parse_inline_tags(text)) {
    for (char c : piece.text) {
      out += piece.kind == InlineKind::text && c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c;
    }
  }
  return out;
}

struct Case {
  const char* name;
  std::string input;
  std::vector<std::string> segments;
  std::string translated;
};

TEST(Markdown, StructureStaysOutOfTheSegments) {
  const Case cases[] = {
      {"headings, closing hashes and setext underlines",
       "## Benchmarks ##\n# Build\n\nSetext title\n============\n",
       {"Benchmarks", "Build", "Setext title"},
       "## BENCHMARKS ##\n# BUILD\n\nSETEXT TITLE\n============\n"},
      {"numbered and bulleted items, a task box, a continuation line",
       "1. First step\n2. Second step\n   goes on\n- [x] Done item\n",
       {"First step", "Second step\ngoes on", "Done item"},
       "1. FIRST STEP\n2. SECOND STEP\n   GOES ON\n- [x] DONE ITEM\n"},
      {"a block quote continues on its own markers",
       "> Quoted line\n> that continues.\n> - quoted item\n",
       {"Quoted line\nthat continues.", "quoted item"},
       "> QUOTED LINE\n> THAT CONTINUES.\n> - QUOTED ITEM\n"},
      {"table cells, alignment row kept, escaped pipe and code span in a cell",
       "| Name | Value |\n|:-----|------:|\n| `a|b` | The \\| pipe |\n",
       {"Name", "Value", "<x1/>", "The \\| pipe"},
       "| NAME | VALUE |\n|:-----|------:|\n| `a|b` | THE \\| PIPE |\n"},
      {"emphasis and link text tagged; targets, images and code protected",
       "Use **vcpkg** from [the site](https://example.org/vcpkg/ \"t\"), run `make`, "
       "see ![logo](l.png) or <https://x.org>.\n",
       {"Use <g1>vcpkg</g1> from <g2>the site</g2>, run <x3/>, see <x4/> or <x5/>."},
       "USE **VCPKG** FROM [THE SITE](https://example.org/vcpkg/ \"t\"), RUN `make`, "
       "SEE ![logo](l.png) OR <https://x.org>.\n"},
      {"markup wrapping a whole block is no tag",
       "**A bold paragraph.**\n# [Home](https://x.org)\n",
       {"A bold paragraph.", "Home"},
       "**A BOLD PARAGRAPH.**\n# [HOME](https://x.org)\n"},
      {"front matter, HTML blocks, rules, link definitions and fences stay",
       "---\ntitle: Sample\n---\n\n<div align=\"center\">\n  <b>Logo</b>\n</div>\n\n***\n"
       "[vcpkg]: https://x.org\n```\ncode\n```\nText <g1> here\n",
       {"Text <x1/> here"},
       "---\ntitle: Sample\n---\n\n<div align=\"center\">\n  <b>Logo</b>\n</div>\n\n***\n"
       "[vcpkg]: https://x.org\n```\ncode\n```\nTEXT <g1> HERE\n"},
      {"unmatched markers are text",
       "2 * 3 = 6 and a_b_c [not a link]\n",
       {"2 * 3 = 6 and a_b_c [not a link]"},
       "2 * 3 = 6 AND A_B_C [NOT A LINK]\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto document = split_markdown(c.input);
    ASSERT_TRUE(document) << document.error().message;
    std::vector<std::string> texts;
    Translations translations;
    for (const auto& segment : document->segments) {
      texts.push_back(segment.text);
      translations.push_back(shout(segment.text));
    }
    EXPECT_EQ(texts, c.segments);
    EXPECT_EQ(render_plain_text(*document, translations), c.translated);
    // Every segment kept: the file comes back byte for byte.
    EXPECT_EQ(render_plain_text(*document, Translations(texts.size())), c.input);
  }
}

TEST(Markdown, AnswerThatLosesALinkTargetKeepsTheParagraph) {
  auto document = split_markdown("See [the guide](https://x.org/guide) first.\n\nPlain text.\n");
  ASSERT_TRUE(document);
  FakeGenerator generator(FakeGenerator::tags_lost("de"));
  auto translations = translate_segments(generator, {"de", "en"}, document->segments);
  EXPECT_EQ(render_plain_text(*document, translations),
            "See [the guide](https://x.org/guide) first.\n\n[de] Plain text.\n");
  EXPECT_EQ(generator.calls().size(), 3u);  // the tagged paragraph got its one retry
}

TEST(Markdown, ReadFromAFile) {
  testing::TempDir dir;
  testing::write_bytes(dir.file("a.md"), "# Title\r\n\r\n- item\r\n");
  auto document = parse_markdown(dir.file("a.md"));
  ASSERT_TRUE(document);
  EXPECT_EQ(render_plain_text(*document, {"Titel", "Punkt"}), "# Titel\n\n- Punkt\n");
  auto empty = split_markdown("---\na: b\n---\n\n```\nx\n```\n");
  ASSERT_FALSE(empty);
  EXPECT_EQ(empty.error().message, "no translatable text found");
}

}  // namespace
}  // namespace quorvel

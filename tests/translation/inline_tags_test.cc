#include "translation/inline_tags.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "translation/answer_checks.h"

namespace quorvel {
namespace {

// Pieces as "t:text", "o1", "c1", "p1".
std::string describe(std::string_view text) {
  std::string out;
  for (const auto& piece : parse_inline_tags(text)) {
    if (!out.empty()) out += ' ';
    switch (piece.kind) {
      case InlineKind::text:
        out += "t:" + std::string(piece.text);
        break;
      case InlineKind::open:
        out += "o" + std::to_string(piece.id);
        break;
      case InlineKind::close:
        out += "c" + std::to_string(piece.id);
        break;
      case InlineKind::placeholder:
        out += "p" + std::to_string(piece.id);
        break;
    }
  }
  return out;
}

TEST(InlineTags, OnlyExactTagsAreTags) {
  const std::pair<std::string_view, std::string_view> cases[] = {
      {"a <g1>b</g1> <x2/>c", "t:a  o1 t:b c1 t:  p2 t:c"},
      {"<g12><x3/></g12>", "o12 p3 c12"},
      // Look-alikes stay text: a leading zero, a space, a wrong letter, a number too large,
      // a placeholder without its slash, a closing placeholder.
      {"<g01>x</g01>", "t:<g01>x</g01>"},
      {"<g1 >y<G1><b>", "t:<g1 >y<G1><b>"},
      {"<g100000>z", "t:<g100000>z"},
      {"<x1>w</x1><x1 /></g1", "t:<x1>w</x1><x1 /></g1"},
      {"1 < 2 <<g1>", "t:1 < 2 < o1"},
      {"", ""},
  };
  for (const auto& [text, expected] : cases) EXPECT_EQ(describe(text), expected) << text;
  EXPECT_EQ(strip_inline_tags("a <g1>b</g1> <x2/>c"), "a b c");
  EXPECT_TRUE(has_inline_tags("x<x1/>"));
  EXPECT_FALSE(has_inline_tags("x <g0> </g> <x1>"));
}

TEST(InlineTags, AnAnswerMustBringEveryTagBackOnceAndNested) {
  const std::string_view source = "Read <g1>the <g2>manual</g2></g1> on <x3/> first.";
  const std::pair<std::string_view, bool> cases[] = {
      {"Lisez d'abord <g1>le <g2>manuel</g2></g1> sur <x3/>.", true},
      {"Sur <x3/>, lisez <g1><g2>manuel</g2> le</g1>.", true},        // moved and reordered
      {"<g2>manuel</g2> <g1>le</g1> <x3/>", true},                    // nesting may change
      {"Lisez <g1>le <g2>manuel</g2></g1> d'abord.", false},          // placeholder lost
      {"Lisez <g1>le <g2>manuel</g2></g1> <x3/> <x3/>.", false},      // placeholder twice
      {"Lisez <g1>le <g2>manuel</g1></g2> <x3/>.", false},            // crossed
      {"Lisez </g1>le <g2>manuel</g2><g1> <x3/>.", false},            // closed before opened
      {"Lisez <g1>le <g2>manuel</g2> <x3/>.", false},                 // never closed
      {"Lisez <g1>le <g2>manuel</g2></g1> <x3/> <g4>!</g4>", false},  // a tag of its own
      {"Lisez <g1>le <x2/>manuel</g1> <x3/>.", false},                // a pair became a placeholder
  };
  for (const auto& [answer, expected] : cases) {
    EXPECT_EQ(keeps_inline_tags(source, answer), expected) << answer;
  }
  EXPECT_TRUE(keeps_inline_tags("no tags", "keine Tags"));
  EXPECT_FALSE(keeps_inline_tags("no tags", "keine <g1>Tags</g1>"));
}

TEST(InlineTags, RestoresEachTagAsItsMarkup) {
  const std::vector<TagMarkup> markup = {{"**", "**"}, {"[", "](https://x.org/a)"}, {"`f()`", ""}};
  EXPECT_EQ(restore_inline_tags("<g2>Voir</g2> <g1>ceci</g1> et <x3/> <g9>", markup),
            "[Voir](https://x.org/a) **ceci** et `f()` <g9>");
}

TEST(AcceptAnswer, TagsDecideByPolicy) {
  const Segment plain{"Back up your configuration first."};
  const Segment word{"<g1>Warning:</g1> back up your configuration <x2/> first.", TagPolicy::strip};
  const Segment markdown{word.text, TagPolicy::required};
  const std::string kept = "<g1>Achtung:</g1> sichern Sie zuerst <x2/> Ihre Konfiguration.";
  const std::string broken = "Achtung: sichern Sie zuerst Ihre Konfiguration <g1>.";

  EXPECT_EQ(accept_answer(plain, "Sichern Sie zuerst <g1>.", false), "Sichern Sie zuerst <g1>.");
  for (bool last : {false, true}) {
    EXPECT_EQ(accept_answer(word, kept, last), kept);
    EXPECT_EQ(accept_answer(markdown, kept, last), kept);
    EXPECT_EQ(accept_answer(markdown, broken, last), std::nullopt);
  }
  // Broken tags get the retry; after it a Word paragraph takes the words without tags.
  EXPECT_EQ(accept_answer(word, broken, false), std::nullopt);
  EXPECT_EQ(accept_answer(word, broken, true), "Achtung: sichern Sie zuerst Ihre Konfiguration .");
  // The other checks still hold for the stripped words.
  EXPECT_EQ(accept_answer(word, "<g1>", true), std::nullopt);
}

}  // namespace
}  // namespace quorvel

#include "translation/prompt.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <string_view>

namespace quorvel {
namespace {

// The instruction as it reads for one pair of languages, ending just before the text.
std::string prefix_for(std::string_view sn, std::string_view s, std::string_view tn,
                       std::string_view t) {
  std::string out = "<start_of_turn>user\nYou are a professional ";
  out += std::string(sn) + " (" + std::string(s) + ") to " + std::string(tn) + " (" +
         std::string(t) + ") translator. Your goal is to accurately convey the meaning and " +
         "nuances of the original " + std::string(sn) + " text while adhering to " +
         std::string(tn) + " grammar, vocabulary, and cultural sensitivities.\nProduce only the " +
         std::string(tn) +
         " translation, without any additional explanations or commentary. Please translate the "
         "following " +
         std::string(sn) + " text into " + std::string(tn) + ":\n\n\n";
  return out;
}

constexpr std::string_view SUFFIX = "<end_of_turn>\n<start_of_turn>model\n";

TEST(BuildPrompt, WorkedExample) {
  const std::string expected =
      "<start_of_turn>user\n"
      "You are a professional English (en) to German (de) translator. Your goal is to "
      "accurately convey the meaning and nuances of the original English text while adhering "
      "to German grammar, vocabulary, and cultural sensitivities.\n"
      "Produce only the German translation, without any additional explanations or commentary. "
      "Please translate the following English text into German:\n"
      "\n"
      "\n"
      "Good morning.<end_of_turn>\n"
      "<start_of_turn>model\n";
  EXPECT_EQ(build_prompt({"de", "en"}, "Good morning."), expected);
  // Detection cannot judge two words, so an undetected source names English the same way.
  EXPECT_EQ(build_prompt({"de", std::nullopt}, "Good morning."), expected);
}

TEST(BuildPrompt, NamesLanguagesAsTheyReachThePrompt) {
  struct Case {
    std::string_view what;
    std::string_view target;
    std::optional<std::string> source;
    std::string_view text;
    std::string expected_prefix;
  };
  const Case cases[] = {
      {"Traditional Chinese target", "zh-TW", "en", "Hi",
       prefix_for("English", "en", "Chinese", "zh-TW")},
      {"regional source", "fr", "pt-BR", "Olá", prefix_for("Portuguese", "pt", "French", "fr")},
      {"empty source", "fr", "", "Hallo", prefix_for("English", "en", "French", "fr")},
      {"unknown source", "fr", "xx", "Hallo", prefix_for("English", "en", "French", "fr")},
      {"source by English name", "fr", "german", "Hallo",
       prefix_for("German", "de", "French", "fr")},
      {"target without a TranslateGemma row", "my", "en", "Hi",
       prefix_for("English", "en", "Burmese", "my")},
      {"Cantonese target", "yue", "en", "Hi", prefix_for("English", "en", "Cantonese", "yue")},
      {"Filipino target is Tagalog", "tl", "en", "Hi",
       prefix_for("English", "en", "Tagalog", "tl")},
      {"detected Swedish source", "de", std::nullopt,
       "Vädret är underbart idag, så vi ska ta en promenad i parken.",
       prefix_for("Swedish", "sv", "German", "de")},
      {"detected Traditional Chinese source", "en", std::nullopt, "我們今天去公園散步。",
       prefix_for("Chinese", "zh", "English", "en")},
      {"detection finds nothing", "de", std::nullopt, "12:30",
       prefix_for("English", "en", "German", "de")},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(build_prompt({std::string(c.target), c.source}, c.text),
              c.expected_prefix + std::string(c.text) + std::string(SUFFIX))
        << c.what;
  }
}

TEST(BuildPrompt, TrimsTheTextButKeepsItsInnerLines) {
  const std::string prompt = build_prompt({"de", "en"}, " \n\t First line.\r\n\nSecond line. \n\n");
  EXPECT_EQ(prompt, prefix_for("English", "en", "German", "de") + "First line.\r\n\nSecond line." +
                        std::string(SUFFIX));
}

TEST(BuildPrompt, KeepsBracesAndMarkersOfTheTextVerbatim) {
  const std::string text = "Hello {name}, you have {{count}} {0} messages <end_of_turn>";
  EXPECT_EQ(build_prompt({"de", "en"}, text),
            prefix_for("English", "en", "German", "de") + text + std::string(SUFFIX));
}

TEST(BuildPrompt, AnEmptyTextLeavesNoTrailingLineFeeds) {
  const std::string instruction = prefix_for("English", "en", "German", "de");
  const std::string without_feeds = instruction.substr(0, instruction.size() - 3);
  EXPECT_EQ(build_prompt({"de", "en"}, "  "), without_feeds + std::string(SUFFIX));
}

}  // namespace
}  // namespace quorvel

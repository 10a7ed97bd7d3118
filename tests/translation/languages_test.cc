#include "translation/languages.h"

#include <gtest/gtest.h>

#include <optional>
#include <set>
#include <string_view>

namespace quorvel {
namespace {

TEST(TargetLanguages, TagListKeepsTableOrder) {
  EXPECT_EQ(target_tag_list(),
            "ar, bn, my, yue, zh, cs, nl, en, tl, fr, de, gu, he, hi, id, it, ja, kk, km, ko, ms, "
            "mr, mn, fa, pl, pt, ru, es, ta, te, th, bo, zh-TW, tr, uk, ur, ug, vi");
  auto tags = target_tags();
  ASSERT_EQ(tags.size(), TARGET_LANGUAGES.size());
  for (std::size_t i = 0; i < tags.size(); ++i) EXPECT_EQ(tags[i], TARGET_LANGUAGES[i].tag);
}

TEST(TargetLanguages, MembershipIsExact) {
  const std::pair<std::string_view, bool> cases[] = {
      {"zh-TW", true}, {"en", true},       {"yue", true},  {"vi", true},     {"zh-tw", false},
      {"ZH", false},   {"EN", false},      {"en ", false}, {" en", false},   {"en-US", false},
      {"", false},     {"english", false}, {"sv", false},  {"zh_TW", false},
  };
  for (const auto& [text, expected] : cases) EXPECT_EQ(is_target_tag(text), expected) << text;
}

TEST(TargetLanguages, Names) {
  const std::pair<std::string_view, std::optional<std::string_view>> cases[] = {
      {"tl", "Filipino"},   {"zh-TW", "Traditional Chinese"},
      {"yue", "Cantonese"}, {"ar", "Arabic"},
      {"vi", "Vietnamese"}, {"xx", std::nullopt},
      {"EN", std::nullopt}, {"", std::nullopt},
  };
  for (const auto& [tag, name] : cases) EXPECT_EQ(target_language_name(tag), name) << tag;
}

TEST(CanonicalLanguageTag, TagsNamesAndRegionalTags) {
  const std::pair<std::string_view, std::optional<std::string_view>> cases[] = {
      {"en", "en"},
      {"EN", "en"},
      {"english", "en"},
      {"English", "en"},
      {"ENGLISH", "en"},
      {"zh-TW", "zh-TW"},
      {"zh-tw", "zh-TW"},
      {"Chinese (Traditional)", "zh-TW"},
      {"chinese (traditional)", "zh-TW"},
      {"CHINESE (TRADITIONAL)", "zh-TW"},
      {"zh_TW", "zh"},
      {"tagalog", "tl"},
      {"Norwegian", "no"},
      {"pt-BR", "pt"},
      {"PT_br", "pt"},
      {"en-US", "en"},
      {"de-AT", "de"},
      {"sr-Latn", "sr"},
      {"nb", std::nullopt},
      {"", std::nullopt},
      {"und", std::nullopt},
      {"Burmese", std::nullopt},
      {"my", std::nullopt},
      {"yue", std::nullopt},
      {"English-US", std::nullopt},
      {"Traditional Chinese", std::nullopt},
      {"en ", std::nullopt},
      {"\xc3\xa9n", std::nullopt},
  };
  for (const auto& [text, tag] : cases) EXPECT_EQ(canonical_language_tag(text), tag) << text;
}

TEST(TranslateGemmaLanguageName, CutsAtTheParenthesis) {
  const std::pair<std::string_view, std::optional<std::string_view>> cases[] = {
      {"zh-TW", "Chinese"}, {"zh", "Chinese"},    {"tl", "Tagalog"},       {"no", "Norwegian"},
      {"zu", "Zulu"},       {"my", std::nullopt}, {"ZH-TW", std::nullopt}, {"", std::nullopt},
  };
  for (const auto& [tag, name] : cases) EXPECT_EQ(translategemma_language_name(tag), name) << tag;
}

TEST(LanguageTables, SevenTargetsHaveNoTranslateGemmaRow) {
  std::set<std::string_view> missing;
  for (const auto& row : TARGET_LANGUAGES) {
    if (!translategemma_language_name(row.tag)) missing.insert(row.tag);
  }
  EXPECT_EQ(missing, (std::set<std::string_view>{"my", "yue", "kk", "km", "mn", "bo", "ug"}));
}

}  // namespace
}  // namespace quorvel

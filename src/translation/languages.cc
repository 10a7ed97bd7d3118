#include "translation/languages.h"

#include "platform/text.h"

namespace quorvel {

const std::array<Language, 38> TARGET_LANGUAGES = {{
    {"ar", "Arabic"},     {"bn", "Bengali"},    {"my", "Burmese"},   {"yue", "Cantonese"},
    {"zh", "Chinese"},    {"cs", "Czech"},      {"nl", "Dutch"},     {"en", "English"},
    {"tl", "Filipino"},   {"fr", "French"},     {"de", "German"},    {"gu", "Gujarati"},
    {"he", "Hebrew"},     {"hi", "Hindi"},      {"id", "Indonesian"}, {"it", "Italian"},
    {"ja", "Japanese"},   {"kk", "Kazakh"},     {"km", "Khmer"},     {"ko", "Korean"},
    {"ms", "Malay"},      {"mr", "Marathi"},    {"mn", "Mongolian"}, {"fa", "Persian"},
    {"pl", "Polish"},     {"pt", "Portuguese"}, {"ru", "Russian"},   {"es", "Spanish"},
    {"ta", "Tamil"},      {"te", "Telugu"},     {"th", "Thai"},      {"bo", "Tibetan"},
    {"zh-TW", "Traditional Chinese"},           {"tr", "Turkish"},   {"uk", "Ukrainian"},
    {"ur", "Urdu"},       {"ug", "Uyghur"},     {"vi", "Vietnamese"},
}};

const std::array<Language, 53> TRANSLATEGEMMA_LANGUAGES = {{
    {"ar", "Arabic"},     {"bn", "Bengali"},    {"bg", "Bulgarian"}, {"ca", "Catalan"},
    {"zh", "Chinese"},    {"zh-TW", "Chinese (Traditional)"},       {"hr", "Croatian"},
    {"cs", "Czech"},      {"da", "Danish"},     {"nl", "Dutch"},     {"en", "English"},
    {"et", "Estonian"},   {"fi", "Finnish"},    {"fr", "French"},    {"de", "German"},
    {"el", "Greek"},      {"gu", "Gujarati"},   {"he", "Hebrew"},    {"hi", "Hindi"},
    {"hu", "Hungarian"},  {"is", "Icelandic"},  {"id", "Indonesian"}, {"it", "Italian"},
    {"ja", "Japanese"},   {"kn", "Kannada"},    {"ko", "Korean"},    {"lv", "Latvian"},
    {"lt", "Lithuanian"}, {"ms", "Malay"},      {"ml", "Malayalam"}, {"mr", "Marathi"},
    {"no", "Norwegian"},  {"fa", "Persian"},    {"pl", "Polish"},    {"pt", "Portuguese"},
    {"pa", "Punjabi"},    {"ro", "Romanian"},   {"ru", "Russian"},   {"sr", "Serbian"},
    {"sk", "Slovak"},     {"sl", "Slovenian"},  {"es", "Spanish"},   {"sw", "Swahili"},
    {"sv", "Swedish"},    {"tl", "Tagalog"},    {"ta", "Tamil"},     {"te", "Telugu"},
    {"th", "Thai"},       {"tr", "Turkish"},    {"uk", "Ukrainian"}, {"ur", "Urdu"},
    {"vi", "Vietnamese"}, {"zu", "Zulu"},
}};

std::vector<std::string_view> target_tags() {
  std::vector<std::string_view> tags;
  for (const auto& row : TARGET_LANGUAGES) tags.push_back(row.tag);
  return tags;
}

std::string target_tag_list() {
  std::string list;
  for (const auto& row : TARGET_LANGUAGES) {
    if (!list.empty()) list += ", ";
    list += row.tag;
  }
  return list;
}

bool is_target_tag(std::string_view text) { return target_language_name(text).has_value(); }

std::optional<std::string_view> target_language_name(std::string_view tag) {
  for (const auto& row : TARGET_LANGUAGES) {
    if (row.tag == tag) return row.name;
  }
  return std::nullopt;
}

std::optional<std::string_view> canonical_language_tag(std::string_view text) {
  for (const auto& row : TRANSLATEGEMMA_LANGUAGES) {
    if (equals_ascii_ci(text, row.tag) || equals_ascii_ci(text, row.name)) return row.tag;
  }
  std::string_view primary = text.substr(0, text.find_first_of("-_"));
  for (const auto& row : TRANSLATEGEMMA_LANGUAGES) {
    if (equals_ascii_ci(primary, row.tag)) return row.tag;
  }
  return std::nullopt;
}

std::optional<std::string_view> translategemma_language_name(std::string_view tag) {
  for (const auto& row : TRANSLATEGEMMA_LANGUAGES) {
    if (row.tag == tag) return row.name.substr(0, row.name.find(" ("));
  }
  return std::nullopt;
}

}  // namespace quorvel

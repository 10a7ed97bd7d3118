#pragma once
// The fixed language tables and their lookups. Every lookup scans in table order and takes
// the first matching row.

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quorvel {

struct Language {
  std::string_view tag;
  std::string_view name;
};

/// Languages a client may translate into, in the order clients are shown.
extern const std::array<Language, 38> TARGET_LANGUAGES;
/// Languages the TranslateGemma prompt names, as source or target.
extern const std::array<Language, 53> TRANSLATEGEMMA_LANGUAGES;

std::vector<std::string_view> target_tags();
/// The target tags separated by ", ".
std::string target_tag_list();
/// Exact, byte-for-byte membership.
bool is_target_tag(std::string_view text);
std::optional<std::string_view> target_language_name(std::string_view tag);
/// A TranslateGemma tag for a tag in any letter case, an English name, or a regional tag.
std::optional<std::string_view> canonical_language_tag(std::string_view text);
/// The TranslateGemma name, cut before " (" (so zh-TW is "Chinese").
std::optional<std::string_view> translategemma_language_name(std::string_view tag);

}  // namespace quorvel

#pragma once
// Evidence for source-language detection that statistics miss on short texts: which letters a
// Cyrillic alphabet has, and the everyday words, word endings and letters of each language.

#include <optional>
#include <span>
#include <string_view>

namespace quorvel {

/// Whether the Cyrillic text uses letters that `tag`'s alphabet lacks (Serbian has no й щ ъ ь
/// ю я ы э ё, Russian no і ї є ґ, Ukrainian no ё ъ ы э). A stray letter in a long text, such
/// as a quoted foreign name, does not count.
bool lacks_letters_of(std::string_view tag, std::string_view text);

/// The Cyrillic language (ru, uk, bg, sr) the text's letters point to, for when statistics
/// name none: letters only one of them writes decide, then everyday words among the
/// alphabets that fit, and Russian when neither does.
std::string_view cyrillic_language_by_letters(std::string_view text);

/// Languages close enough to share most of their everyday words.
using LanguageGroup = std::span<const std::string_view>;

/// How far ahead a language's words must be: `minimum` points (a word only it uses counts
/// one), and `margin` more than any language outside its group.
struct VoteBar {
  double minimum = 1.0;
  double margin = 0.5;
};
/// For overriding a statistical answer.
inline constexpr VoteBar CLEAR_VOTE{1.0, 0.5};
/// For when statistics have no answer: a lean is better than none.
inline constexpr VoteBar LEANING_VOTE{0.5, 0.25};

/// The language among `among` whose everyday words, word endings and letters the text uses
/// clearly more than any other's, or nothing when no language stands out. A language only
/// needs to stand out from those outside its own group in `kin`: a tie among relatives still
/// says which family the text is in.
std::optional<std::string_view> language_by_words(std::string_view text,
                                                  std::span<const std::string_view> among,
                                                  std::span<const LanguageGroup> kin = {},
                                                  VoteBar bar = CLEAR_VOTE);

}  // namespace quorvel

#pragma once
// Evidence for source-language detection that statistics miss on short texts: which letters a
// Cyrillic alphabet has, and the everyday words of languages written in Latin letters.

#include <optional>
#include <span>
#include <string_view>

namespace quorvel {

/// Whether the Cyrillic text uses letters that `tag`'s alphabet lacks (Serbian has no й щ ъ ь
/// ю я ы э ё, Russian no і ї є ґ, Ukrainian no ё ъ ы э). A stray letter in a long text, such
/// as a quoted foreign name, does not count.
bool lacks_letters_of(std::string_view tag, std::string_view text);

/// The Cyrillic language (ru, uk, bg, sr) the text's letters point to, for when statistics
/// name none: letters only one of them writes decide, Russian when none does.
std::string_view cyrillic_language_by_letters(std::string_view text);

/// The language among `among` (Latin-script tags) whose common words and letters the text
/// uses clearly more than any other's, or nothing when no language stands out.
std::optional<std::string_view> language_by_words(std::string_view text,
                                                  std::span<const std::string_view> among);

}  // namespace quorvel

#include <unicode/uchar.h>
#include <unicode/uscript.h>

#include "platform/unicode.h"

namespace quorvel {

static_assert(static_cast<int>(Script::common) == USCRIPT_COMMON &&
              static_cast<int>(Script::inherited) == USCRIPT_INHERITED &&
              static_cast<int>(Script::arabic) == USCRIPT_ARABIC &&
              static_cast<int>(Script::bengali) == USCRIPT_BENGALI &&
              static_cast<int>(Script::cyrillic) == USCRIPT_CYRILLIC &&
              static_cast<int>(Script::devanagari) == USCRIPT_DEVANAGARI &&
              static_cast<int>(Script::greek) == USCRIPT_GREEK &&
              static_cast<int>(Script::gujarati) == USCRIPT_GUJARATI &&
              static_cast<int>(Script::gurmukhi) == USCRIPT_GURMUKHI &&
              static_cast<int>(Script::han) == USCRIPT_HAN &&
              static_cast<int>(Script::hangul) == USCRIPT_HANGUL &&
              static_cast<int>(Script::hebrew) == USCRIPT_HEBREW &&
              static_cast<int>(Script::hiragana) == USCRIPT_HIRAGANA &&
              static_cast<int>(Script::kannada) == USCRIPT_KANNADA &&
              static_cast<int>(Script::katakana) == USCRIPT_KATAKANA &&
              static_cast<int>(Script::latin) == USCRIPT_LATIN &&
              static_cast<int>(Script::malayalam) == USCRIPT_MALAYALAM &&
              static_cast<int>(Script::tamil) == USCRIPT_TAMIL &&
              static_cast<int>(Script::telugu) == USCRIPT_TELUGU &&
              static_cast<int>(Script::thai) == USCRIPT_THAI &&
              static_cast<int>(Script::unknown) == USCRIPT_UNKNOWN);

bool is_white_space(char32_t c) {
  return u_isUWhiteSpace(static_cast<UChar32>(c));
}

bool is_alphabetic(char32_t c) {
  return u_hasBinaryProperty(static_cast<UChar32>(c), UCHAR_ALPHABETIC);
}

char32_t to_lower(char32_t c) {
  return static_cast<char32_t>(u_tolower(static_cast<UChar32>(c)));
}

Script script_of(char32_t c) {
  UErrorCode status = U_ZERO_ERROR;
  UScriptCode script = uscript_getScript(static_cast<UChar32>(c), &status);
  return U_FAILURE(status) ? Script::unknown : static_cast<Script>(script);
}

}  // namespace quorvel

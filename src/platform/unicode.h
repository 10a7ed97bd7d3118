#pragma once
// The few Unicode character properties the program asks about. Linux reads them from ICU;
// builds without ICU (Windows) from tables generated from it (unicode_tables.inc).

namespace quorvel {

/// The White_Space property.
bool is_white_space(char32_t c);
/// The Alphabetic property.
bool is_alphabetic(char32_t c);
/// The simple lowercase mapping; `c` itself when it has none.
char32_t to_lower(char32_t c);

/// Scripts by ICU's numbering (UScriptCode), so that the two sources agree on every value.
/// Only the scripts the program names are listed; script_of returns any other as its number.
enum class Script : int {
  common = 0,
  inherited = 1,
  arabic = 2,
  bengali = 4,
  cyrillic = 8,
  devanagari = 10,
  greek = 14,
  gujarati = 15,
  gurmukhi = 16,
  han = 17,
  hangul = 18,
  hebrew = 19,
  hiragana = 20,
  kannada = 21,
  katakana = 22,
  latin = 25,
  malayalam = 26,
  tamil = 35,
  telugu = 36,
  thai = 38,
  unknown = 103,
};

/// The Script property of `c`; unassigned code points are Script::unknown.
Script script_of(char32_t c);

}  // namespace quorvel

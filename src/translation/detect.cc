#include "translation/detect.h"

#include <algorithm>
#include <map>
#include <span>
#include <utility>
#include <vector>

#include "platform/text.h"
#include "translation/detect_evidence.h"

// CLD2's header needs these two before it.
// clang-format off
#include <cstdio>
#include <cld2/public/encodings.h>
#include <cld2/public/compact_lang_det.h>
// clang-format on

namespace quorvel {

const std::array<DetectorLanguage, 48> DETECTOR_LANGUAGE_TAGS = {{
    {"English", "eng", "en"},
    {"Russian", "rus", "ru"},
    {"Mandarin Chinese", "cmn", "zh"},
    {"Spanish", "spa", "es"},
    {"Portuguese", "por", "pt"},
    {"Italian", "ita", "it"},
    {"Bengali", "ben", "bn"},
    {"French", "fra", "fr"},
    {"German", "deu", "de"},
    {"Ukrainian", "ukr", "uk"},
    {"Arabic", "ara", "ar"},
    {"Hindi", "hin", "hi"},
    {"Japanese", "jpn", "ja"},
    {"Hebrew", "heb", "he"},
    {"Polish", "pol", "pl"},
    {"Korean", "kor", "ko"},
    {"Norwegian Bokmål", "nob", "no"},
    {"Danish", "dan", "da"},
    {"Swedish", "swe", "sv"},
    {"Finnish", "fin", "fi"},
    {"Turkish", "tur", "tr"},
    {"Dutch", "nld", "nl"},
    {"Hungarian", "hun", "hu"},
    {"Czech", "ces", "cs"},
    {"Greek", "ell", "el"},
    {"Bulgarian", "bul", "bg"},
    {"Marathi", "mar", "mr"},
    {"Kannada", "kan", "kn"},
    {"Romanian", "ron", "ro"},
    {"Slovenian", "slv", "sl"},
    {"Croatian", "hrv", "hr"},
    {"Serbian", "srp", "sr"},
    {"Lithuanian", "lit", "lt"},
    {"Latvian", "lav", "lv"},
    {"Estonian", "est", "et"},
    {"Tamil", "tam", "ta"},
    {"Vietnamese", "vie", "vi"},
    {"Urdu", "urd", "ur"},
    {"Thai", "tha", "th"},
    {"Gujarati", "guj", "gu"},
    {"Punjabi", "pan", "pa"},
    {"Indonesian", "ind", "id"},
    {"Telugu", "tel", "te"},
    {"Persian", "pes", "fa"},
    {"Malayalam", "mal", "ml"},
    {"Zulu", "zul", "zu"},
    {"Slovak", "slk", "sk"},
    {"Catalan", "cat", "ca"},
}};

namespace {

constexpr std::size_t MINIMUM_WORDS = 3;
constexpr double MINIMUM_CONFIDENCE = 0.15;

// Detection only needs a sample; a bound keeps a giant paragraph from costing unbounded time
// and keeps lengths within CLD2's int.
constexpr std::size_t MAX_DETECTION_BYTES = std::size_t{1} << 20;
constexpr std::size_t EVIDENCE_SAMPLE_BYTES = 4096;

// CLD2 spells these languages its own way. It also tells apart close relatives that are
// not on the allow-list (Bosnian, Malay, Afrikaans, Xhosa, Luxembourgish, ...) and then
// gives no allowed candidate at all; the nearest allowed relative names the source far
// better than the English fallback.
constexpr std::pair<std::string_view, std::string_view> CLD2_CODE_ALIASES[] = {
    {"iw", "he"}, {"zh-Hant", "zh"}, {"nn", "no"}, {"bs", "hr"}, {"ms", "id"},
    {"af", "nl"}, {"xh", "zu"},      {"ss", "zu"}, {"lb", "de"}, {"su", "id"},
    {"jw", "id"}, {"oc", "ca"},      {"is", "no"}, {"fo", "no"},
};

// Languages CLD2 confuses with each other on short texts; their everyday words tell them
// apart better.
constexpr std::string_view NORDIC[] = {"da", "no", "sv"};
constexpr std::string_view SOUTH_SLAVIC[] = {"hr", "sr"};
constexpr std::string_view CZECHOSLOVAK[] = {"cs", "sk"};
constexpr std::string_view ROMANCE[] = {"es", "pt", "ca", "it", "fr"};
constexpr LanguageGroup CLOSE_RELATIVES[] = {NORDIC, SOUTH_SLAVIC, CZECHOSLOVAK, ROMANCE};

// Languages written in Latin letters that word evidence can name when CLD2 cannot score a
// text (it then answers English).
constexpr std::string_view LATIN_LANGUAGES[] = {
    "en", "es", "pt", "it", "fr", "de", "pl", "no", "da", "sv", "fi", "tr", "nl",
    "hu", "cs", "sk", "ro", "sl", "hr", "lt", "lv", "et", "vi", "id", "zu", "ca",
};

// Scripts written without spaces between words: such texts are worth identifying however
// few "words" they have.
bool is_unspaced_script_char(char32_t c) {
  return (c >= 0x3040 && c <= 0x30FF) || (c >= 0x3400 && c <= 0x4DBF) ||
         (c >= 0x4E00 && c <= 0x9FFF) || (c >= 0xAC00 && c <= 0xD7AF);
}

std::string_view cut_at_char_boundary(std::string_view s, std::size_t max_bytes) {
  if (s.size() <= max_bytes) return s;
  std::size_t end = max_bytes;
  while (end > 0 && (static_cast<unsigned char>(s[end]) & 0xC0) == 0x80) --end;
  return s.substr(0, end);
}

struct ScriptCensus {
  std::map<Script, std::size_t> counts;  // letters per script, Common and Inherited left out
  std::size_t letters = 0;
  bool has_kana = false;
  bool has_unspaced = false;
};

ScriptCensus take_census(std::string_view text) {
  ScriptCensus census;
  for_each_char(text, [&census](char32_t c) {
    if (is_unspaced_script_char(c)) census.has_unspaced = true;
    Script script = script_of(c);
    if (script == Script::common || script == Script::inherited || script == Script::unknown) {
      return;
    }
    if (script == Script::hiragana || script == Script::katakana) census.has_kana = true;
    ++census.counts[script];
    ++census.letters;
  });
  return census;
}

// The script the text is written in. Latin letters give way to another script that has at
// least two letters and a tenth of all: messages in other scripts quote option names, commands
// and file names in Latin letters, which then outnumber the words around them.
std::optional<Script> main_script(const ScriptCensus& census) {
  std::optional<Script> best;
  std::optional<Script> best_other;
  std::size_t best_count = 0;
  std::size_t best_other_count = 0;
  for (const auto& [script, count] : census.counts) {
    if (count > best_count) {
      best = script;
      best_count = count;
    }
    if (script != Script::latin && count > best_other_count) {
      best_other = script;
      best_other_count = count;
    }
  }
  if (best_other && best_other_count >= 2 && best_other_count * 10 >= census.letters) {
    return best_other;
  }
  return best;
}

// Scripts that belong to one language of the allow-list decide the language alone: the
// statistics have nothing to add, and CLD2 misses very short CJK and Hangul texts.
std::optional<std::string_view> language_of_script(Script script, bool has_kana) {
  switch (script) {
    case Script::hangul:
      return "ko";
    case Script::hiragana:
    case Script::katakana:
      return "ja";
    case Script::han:
      return has_kana ? "ja" : "zh";
    case Script::hebrew:
      return "he";
    case Script::greek:
      return "el";
    case Script::thai:
      return "th";
    case Script::gujarati:
      return "gu";
    case Script::tamil:
      return "ta";
    case Script::telugu:
      return "te";
    case Script::kannada:
      return "kn";
    case Script::malayalam:
      return "ml";
    case Script::gurmukhi:
      return "pa";
    case Script::bengali:
      return "bn";
    default:
      return std::nullopt;
  }
}

// Thai is written without spaces between words, like CJK.
bool is_unspaced_script(Script script) {
  return script == Script::thai || script == Script::han || script == Script::hiragana ||
         script == Script::katakana;
}

// Whether `tag`'s language is written in `script` (only for the scripts several languages
// of the allow-list share; Serbian is written in both Cyrillic and Latin letters).
bool writes_script(std::string_view tag, Script script) {
  static constexpr std::pair<std::string_view, Script> OWN_SCRIPTS[] = {
      {"ru", Script::cyrillic}, {"uk", Script::cyrillic},   {"bg", Script::cyrillic},
      {"sr", Script::cyrillic}, {"ar", Script::arabic},     {"ur", Script::arabic},
      {"fa", Script::arabic},   {"hi", Script::devanagari}, {"mr", Script::devanagari},
  };
  if (tag == "sr" && script == Script::latin) return true;
  bool listed = false;
  for (const auto& [language, own] : OWN_SCRIPTS) {
    if (language != tag) continue;
    if (own == script) return true;
    listed = true;
  }
  if (listed) return false;
  for (auto latin : LATIN_LANGUAGES) {
    if (latin == tag) return script == Script::latin;
  }
  return false;
}

std::optional<std::string_view> allowed_tag(CLD2::Language language) {
  std::string_view code = CLD2::LanguageCode(language);
  for (const auto& [alias, tag] : CLD2_CODE_ALIASES) {
    if (code == alias) code = tag;
  }
  for (const auto& row : DETECTOR_LANGUAGE_TAGS) {
    if (row.tag == code) return row.tag;
  }
  return std::nullopt;
}

struct Guess {
  std::string_view tag;
  double confidence = 0;
};

// CLD2's candidates on the allow-list, best first; a candidate's confidence is the share of
// the text CLD2 gives it.
std::vector<Guess> identify_statistically(std::string_view text, int flags) {
  CLD2::CLDHints hints{nullptr, nullptr, CLD2::UNKNOWN_ENCODING, CLD2::UNKNOWN_LANGUAGE};
  // CLD2 leaves these untouched when it rejects the text (a control character, say).
  CLD2::Language languages[3] = {CLD2::UNKNOWN_LANGUAGE, CLD2::UNKNOWN_LANGUAGE,
                                 CLD2::UNKNOWN_LANGUAGE};
  int percents[3] = {0, 0, 0};
  double scores[3] = {0, 0, 0};
  int text_bytes = 0;
  bool reliable = false;
  int valid_prefix_bytes = 0;
  CLD2::ExtDetectLanguageSummaryCheckUTF8(text.data(), static_cast<int>(text.size()), true, &hints,
                                          flags, languages, percents, scores, nullptr, &text_bytes,
                                          &reliable, &valid_prefix_bytes);
  std::vector<Guess> guesses;
  for (int i = 0; i < 3; ++i) {
    if (auto tag = allowed_tag(languages[i])) guesses.push_back({*tag, percents[i] / 100.0});
  }
  return guesses;
}

// Whether the text holds a few letters of a script that only `tag`'s language writes.
bool has_own_script_of(std::string_view tag, const ScriptCensus& census) {
  for (const auto& [script, count] : census.counts) {
    if (count >= 2 && language_of_script(script, census.has_kana) == tag) return true;
  }
  return false;
}

// Candidates whose language is not written in the text's script go (English for the Latin
// option names in a Russian message), unless a script of their own shows in the text (a
// Japanese usage line naming its options in Latin letters); so do Cyrillic languages whose
// alphabet lacks the text's letters.
std::vector<Guess> plausible(std::vector<Guess> guesses, std::string_view text, Script script,
                             const ScriptCensus& census) {
  std::erase_if(guesses, [&](const Guess& g) {
    if (script == Script::cyrillic && lacks_letters_of(g.tag, text)) return true;
    return !writes_script(g.tag, script) && !has_own_script_of(g.tag, census);
  });
  return guesses;
}

// Whether CLD2's English is only its best-effort default: asked for a reliable answer, it
// then has none. On short messages that is rarely so for English and often for the rest.
bool english_by_default(std::string_view text) {
  return identify_statistically(text, 0).empty();
}

// For Latin text: CLD2 answers English when it cannot score a text at all, and mixes up
// close relatives; a clear majority of one language's everyday words overrides it.
std::optional<std::string_view> second_opinion(std::string_view text,
                                               std::optional<std::string_view> statistical) {
  std::optional<std::string_view> opinion = statistical;
  if (!statistical || *statistical == "en") {
    VoteBar bar = statistical && !english_by_default(text) ? CLEAR_VOTE : LEANING_VOTE;
    opinion = language_by_words(text, LATIN_LANGUAGES, CLOSE_RELATIVES, bar);
    if (!opinion) return std::nullopt;
  }
  for (auto group : CLOSE_RELATIVES) {
    if (std::find(group.begin(), group.end(), *opinion) == group.end()) continue;
    return language_by_words(text, group).value_or(*opinion);
  }
  return opinion;
}

std::optional<std::string_view> identify(std::string_view text, Script script,
                                         const ScriptCensus& census) {
  // Letters and words only make up for what statistics miss on short texts; on a long one
  // its beginning is evidence enough.
  std::string_view sample = cut_at_char_boundary(text, EVIDENCE_SAMPLE_BYTES);
  auto guesses =
      plausible(identify_statistically(text, CLD2::kCLDFlagBestEffort), sample, script, census);
  std::optional<std::string_view> statistical;
  if (!guesses.empty() && guesses.front().confidence >= MINIMUM_CONFIDENCE) {
    statistical = guesses.front().tag;
  }
  if (script == Script::cyrillic && !statistical) return cyrillic_language_by_letters(sample);
  if (script == Script::latin) {
    if (auto words = second_opinion(sample, statistical)) return words;
  }
  return statistical;
}

}  // namespace

std::optional<std::string> detect_source_language(std::string_view text) {
  std::string_view t = cut_at_char_boundary(trim(text), MAX_DETECTION_BYTES);
  ScriptCensus census = take_census(t);
  auto script = main_script(census);
  if (!script) return std::nullopt;
  bool unspaced = census.has_unspaced || is_unspaced_script(*script);
  if (!unspaced && count_words(t) < MINIMUM_WORDS) return std::nullopt;

  if (auto tag = language_of_script(*script, census.has_kana)) return std::string(*tag);
  if (auto tag = identify(t, *script, census)) return std::string(*tag);
  return std::nullopt;
}

std::string source_tag_for(const TranslationRequest& request, std::string_view text) {
  if (request.source) return *request.source;
  if (auto tag = detect_source_language(text)) return *tag;
  return "en";
}

}  // namespace quorvel

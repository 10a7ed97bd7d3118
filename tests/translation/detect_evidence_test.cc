#include "translation/detect_evidence.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <string_view>

namespace quorvel {
namespace {

TEST(LacksLettersOf, OneLetterRulesAShortTextOutButNotALongOne) {
  EXPECT_TRUE(lacks_letters_of("sr", "Файл є надто великим"));  // є
  EXPECT_TRUE(lacks_letters_of("ru", "Файл є надто великим"));
  EXPECT_FALSE(lacks_letters_of("uk", "Файл є надто великим"));
  EXPECT_TRUE(lacks_letters_of("uk", "Выберите приложение"));  // ы
  EXPECT_FALSE(lacks_letters_of("sr", "Управник скорашњих ставки"));
  EXPECT_FALSE(lacks_letters_of("de", "Выберите приложение"));  // no alphabet known: no verdict

  // A Russian paragraph quoting one Ukrainian place name keeps Russian.
  std::string russian;
  for (int i = 0; i < 10; ++i) russian += "Сегодня прекрасная погода, поэтому мы пойдём гулять. ";
  russian += "Київ";
  EXPECT_FALSE(lacks_letters_of("ru", russian));
}

TEST(CyrillicLanguageByLetters, OwnLettersThenWordsThenRussian) {
  const struct {
    std::string_view text;
    std::string_view tag;
  } cases[] = {
      {"Нова пошта у скриньці", "uk"},               // і
      {"Вам пришла почта!", "ru"},                   // ы
      {"Търсене на дума или фраза", "bg"},           // ъ
      {"Управник скорашњих ставки", "sr"},           // њ
      {"Моля, запазете промените си, преди", "bg"},  // no own letter; си, преди
      {"Параметр", "ru"},                            // nothing decides
  };
  for (const auto& c : cases) {
    EXPECT_EQ(cyrillic_language_by_letters(c.text), c.tag) << c.text;
  }
}

constexpr std::string_view ROMANCE_AND_ENGLISH[] = {"en", "es", "pt", "ca", "fr", "it"};
constexpr std::string_view NORDIC[] = {"da", "no", "sv"};

TEST(LanguageByWords, NamesTheLanguageWhoseWordsStandOut) {
  const struct {
    std::string_view text;
    std::optional<std::string_view> tag;
  } cases[] = {
      {"Mostrar la barra lateral", std::nullopt},  // la: several languages
      {"No se puede abrir el archivo", "es"},     {"Não foi possível abrir o ficheiro", "pt"},
      {"Impossible d'ouvrir le fichier", "fr"},   {"Open the file in a new window", "en"},
      {"Zorp quibble flanx", std::nullopt},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(language_by_words(c.text, ROMANCE_AND_ENGLISH), c.tag) << c.text;
  }
}

TEST(LanguageByWords, TellsRelativesApartByTheirOwnSpellings) {
  EXPECT_EQ(language_by_words("Kunne ikke åbne filen: ugyldig værdi", NORDIC), "da");
  EXPECT_EQ(language_by_words("Kunne ikke åpne filen: ugyldig verdi", NORDIC), "no");
  EXPECT_EQ(language_by_words("Versjonen av informasjonen", NORDIC), "no");  // -sjon
  EXPECT_EQ(language_by_words("Versionen af informationen", NORDIC), "da");  // af, -tion
}

TEST(LanguageByWords, ATieAmongKinStillBeatsOutsiders) {
  // "ikke" and "til" are Danish and Norwegian alike: neither stands out from the other, but
  // the pair does from English.
  constexpr std::string_view among[] = {"en", "da", "no"};
  constexpr std::string_view pair[] = {"da", "no"};
  const LanguageGroup kin[] = {pair};
  std::string_view text = "ikke til stand";
  EXPECT_EQ(language_by_words(text, among), std::nullopt);
  auto got = language_by_words(text, among, kin);
  ASSERT_TRUE(got.has_value());
  EXPECT_NE(*got, "en");
}

TEST(LanguageByWords, ALeaningBarTakesWhatAClearOneRefuses) {
  constexpr std::string_view es_en[] = {"es", "en"};
  std::string_view letter_only = "Señal débil";  // ñ, but no listed word
  EXPECT_EQ(language_by_words(letter_only, es_en, {}, CLEAR_VOTE), std::nullopt);
  EXPECT_EQ(language_by_words(letter_only, es_en, {}, LEANING_VOTE), "es");
  EXPECT_EQ(language_by_words("Señal débil del archivo", es_en, {}, CLEAR_VOTE), "es");
}

}  // namespace
}  // namespace quorvel

#include "translation/answer_checks.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>

namespace quorvel {
namespace {

std::string repeat(std::string_view piece, std::size_t times) {
  std::string out;
  for (std::size_t i = 0; i < times; ++i) out += piece;
  return out;
}

TEST(NeedsNoTranslation, PassesThroughTextWithoutLettersAndLoneAddresses) {
  const std::pair<std::string_view, bool> cases[] = {
      {"", true},
      {" \t\n", true},
      {"12:30", true},
      {"2024-01-15", true},
      {"— 42 % ★ €", true},
      {"https://example.com/page", true},
      {"  http://example.org/a?b=c  ", true},
      {"www.example.com", true},
      {"user@example.com", true},
      {"@handle.name", false},
      {"user@localhost", false},
      {"Hello", false},
      {"é", false},
      {"日本", false},
      {"Hello world", false},
      {"https://example.com is the address", false},
      {"see www.example.com", false},
  };
  for (const auto& [text, expected] : cases)
    EXPECT_EQ(needs_no_translation(text), expected) << text;
}

TEST(TokenBudget, GrowsWithWordsOrCharactersWithinBounds) {
  const std::pair<std::string, uint32_t> cases[] = {
      {"", 96},
      {"one two three", 96},
      // 30 words in 150 characters: 4 * max(30, 50) + 64.
      {repeat("abcd ", 30), 264},
      // Characters, not bytes: 30 two-byte letters give 4 * 10 + 64, floored at 96 ...
      {repeat("é", 30), 104},
      // ... and 60 of them 4 * 20 + 64.
      {repeat("é", 60), 144},
      // Words win over characters when they are short: 100 one-letter words in 200 characters.
      {repeat("a ", 100), 464},
      {repeat("x", 20000), 3072},
  };
  for (const auto& [text, expected] : cases) {
    EXPECT_EQ(token_budget(text), expected) << text.substr(0, 20) << "... (" << text.size() << ")";
  }
}

TEST(CleanOutput, StripsWhatTheModelAddsAroundTheTranslation) {
  struct Case {
    std::string_view what;
    std::string_view source;
    std::string_view output;
    std::string_view expected;
  };
  const Case cases[] = {
      {"surrounding blanks", "Hello", "  \n Hallo \n", "Hallo"},
      {"blank answer", "Hello", " \n ", ""},
      {"thought block", "Hello", "<|channel>thought\n<channel|>Hallo", "Hallo"},
      {"thought block then blank lines", "Hello", "<|channel>thought\n<channel|>\n\nHallo",
       "Hallo"},
      {"thought block after blanks", "Hello", "\n <|channel>thought\n<channel|>Hallo", "Hallo"},
      {"leading rule line", "Hello", "---\nHallo", "Hallo"},
      {"several rule lines", "Hello", "***\n  ---  \r\nHallo\nWelt", "Hallo\nWelt"},
      {"a rule alone stays", "Hello", "---", "---"},
      {"a blank line ends the stripping", "Hello", "---\n\n===\nHallo", "===\nHallo"},
      {"source opening with a rule keeps the answer's", "---\nHello", "---\nHallo", "---\nHallo"},
      {"source opening with a code fence", "```\ncode\n```", "```\nCode\n```", "```\nCode\n```"},
      {"source opening with a number", "1. Item", "---\n1. Punkt", "1. Punkt"},
      {"wrapping quotes", "Hello", "\"Hallo\"", "Hallo"},
      {"doubled wrapping quotes with blanks", "Hello", "\"\" Hallo \"\"", "Hallo"},
      {"a lone opening quote", "Hello", "\"Hallo", "Hallo"},
      {"only quotes", "Hello", "\"\"", ""},
      {"quoted source keeps quotes", "\"Hello\"", "\"Hallo\"", "\"Hallo\""},
      {"source ending with a quote", "Say \"hi\"", "\"Sag \"hallo\"\"", "\"Sag \"hallo\"\""},
      {"quoted word at the end stays balanced", "Click Save", "Klicken Sie auf \"Speichern\"",
       "Klicken Sie auf \"Speichern\""},
      {"quoted words at both ends stay balanced", "Open File and Save",
       "\"Datei\" öffnen und \"Speichern\"", "\"Datei\" öffnen und \"Speichern\""},
  };
  for (const auto& c : cases) EXPECT_EQ(clean_output(c.source, c.output), c.expected) << c.what;
}

TEST(IsReliable, LengthMustFitTheSource) {
  const std::string source = repeat("a", 100);
  struct Case {
    std::string_view what;
    std::string source;
    std::string candidate;
    bool expected;
  };
  // Cyrillic letters are two bytes each, so a byte count would decide these differently.
  const Case cases[] = {
      {"empty", source, "", false},
      {"blank", source, " \n\t", false},
      {"12 characters for 100", source, repeat("я", 12), false},
      {"13 characters for 100", source, repeat("я", 13), true},
      {"864 characters for 100", source, repeat("я", 864), true},
      {"865 characters for 100", source, repeat("я", 865), false},
      {"blanks around the answer do not count", source, "  " + repeat("я", 13) + "\n", true},
      {"empty source allows 72", "", repeat("x", 72), true},
      {"empty source rejects 73", "", repeat("x", 73), false},
  };
  for (const auto& c : cases) EXPECT_EQ(is_reliable(c.source, c.candidate), c.expected) << c.what;
}

TEST(IsReliable, AddressesAndPlaceholdersMustSurvive) {
  struct Case {
    std::string_view what;
    std::string_view source;
    std::string_view candidate;
    bool expected;
  };
  const Case cases[] = {
      {"address ending a sentence, kept", "Read more at https://example.com/docs.",
       "Mehr unter https://example.com/docs.", true},
      {"address ending a sentence, stop dropped", "Read more at https://example.com/docs.",
       "Mehr unter https://example.com/docs", true},
      {"address changed", "Read more at https://example.com/docs.",
       "Mehr unter https://beispiel.de/docs.", false},
      {"address in parentheses", "Details (see http://example.org/a).",
       "Einzelheiten (siehe http://example.org/a).", true},
      {"address followed by a colon keeps it", "Open https://example.com: it works",
       "Öffnen Sie https://example.com, es geht", false},
      {"e-mail address", "Write to info@example.com today.",
       "Schreiben Sie heute an info@example.com.", true},
      {"e-mail address lost", "Write to info@example.com today.", "Schreiben Sie uns heute.",
       false},
      {"a handle is not an address", "Follow @quorvel.app for news",
       "Folgen Sie uns für Neuigkeiten", true},
      {"placeholder kept", "Hello {user}, welcome back", "Hallo {user}, willkommen zurück", true},
      {"placeholder translated", "Hello {user}, welcome back",
       "Hallo {Benutzer}, willkommen zurück", false},
      {"double braces", "You have {{count}} new messages", "Sie haben {{count}} neue Nachrichten",
       true},
      {"double braces need only the first closing brace", "You have {{count}} new messages",
       "Sie haben {{count} neue Nachrichten", true},
      {"double braces lost", "You have {{count}} new messages",
       "Sie haben {count}} neue Nachrichten", false},
      {"second placeholder lost", "{a} and {b} are set", "{a} und b sind gesetzt", false},
      {"opening brace without a closing one", "Type { to start a block",
       "Tippen Sie {, um einen Block zu beginnen", true},
  };
  for (const auto& c : cases) EXPECT_EQ(is_reliable(c.source, c.candidate), c.expected) << c.what;
}

}  // namespace
}  // namespace quorvel

#include "translation/doc/subtitles.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/temp_dir.h"

namespace quorvel {
namespace {

std::vector<std::string> texts(const SubtitleDocument& document) {
  std::vector<std::string> out;
  for (const auto& segment : document.segments) out.push_back(segment.text);
  return out;
}

Translations absent(const SubtitleDocument& document) {
  return Translations(document.segments.size());
}

TEST(Subtitles, SrtRoundTripEndsEveryCueWithABlankLine) {
  std::string srt =
      "1\n00:00:01,000 --> 00:00:02,000\nHello there\n\n"
      "2\n00:00:03,000 --> 00:00:04,500\nTwo\n<i>lines</i>\n";
  auto document = split_subtitles(srt);
  ASSERT_TRUE(document) << document.error().message;
  EXPECT_EQ(texts(*document), (std::vector<std::string>{"Hello there", "Two\n<g1>lines</g1>"}));
  EXPECT_EQ(render_subtitles(*document, absent(*document)), srt + "\n");
  EXPECT_EQ(render_subtitles(*document, {"Bonjour", "Deux\n<g1>lignes</g1>"}),
            "1\n00:00:01,000 --> 00:00:02,000\nBonjour\n\n"
            "2\n00:00:03,000 --> 00:00:04,500\nDeux\n<i>lignes</i>\n\n");
}

TEST(Subtitles, KeepsHeadersCommentsOddBlocksAndBlankLinesLiterally) {
  std::string vtt =
      "WEBVTT - test\r\nKind: captions\r\n\r\n"
      "NOTE a comment\r\n\r\n"
      "STYLE\r\n::cue { color: red }\r\n\r\n"
      "intro\r\n00:01.000 --> 00:02.000 align:start position:10%\r\n Spaced text \r\n\r\n\r\n\r\n"
      "7\r\nno timing here\r\n\r\n"
      "00:03.000 --> 00:04.000\r\n\r\n"  // a timing line without text is no cue
      "99\r\n00:05.000 --> 00:06.000\r\narrow --> in text\r\n";
  auto document = split_subtitles(vtt);
  ASSERT_TRUE(document);
  EXPECT_EQ(texts(*document), (std::vector<std::string>{" Spaced text ", "arrow --> in text"}));
  EXPECT_EQ(render_subtitles(*document, {"Texte", "flèche"}),
            "WEBVTT - test\nKind: captions\n\n"
            "NOTE a comment\n\n"
            "STYLE\n::cue { color: red }\n\n"
            "intro\n00:01.000 --> 00:02.000 align:start position:10%\nTexte\n\n\n\n"
            "7\nno timing here\n\n"
            "00:03.000 --> 00:04.000\n\n"
            "99\n00:05.000 --> 00:06.000\nflèche\n\n");
}

TEST(Subtitles, CueTextFollowsTheCueShape) {
  struct Case {
    const char* name;
    std::string cue_lines;
    std::optional<std::string> translation;
    std::string written;
  };
  const Case cases[] = {
      {"two lines re-broken evenly", "a\nb", "one two three four", "one two\nthree four"},
      {"five lines become at most three", "1\n2\n3\n4\n5", "aa bb cc dd ee ff",
       "aa bb\ncc dd\nee ff"},
      {"given line feeds are kept after trimming", "a\nb", "  x\ny\nz \n", "x\ny\nz"},
      {"one-line cue never re-broken", "a", "a very long translated line indeed",
       "a very long translated line indeed"},
      {"single word stays whole", "a\nb", "Donaudampfschifffahrt", "Donaudampfschifffahrt"},
      {"absent keeps the source as it is", " a \nb", std::nullopt, " a \nb"},
      {"blank lines in a translation would split the cue", "a\nb", "x\n\n \ny", "x\ny"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto document = split_subtitles("1\n00:00:01,000 --> 00:00:02,000\n" + c.cue_lines + "\n");
    ASSERT_TRUE(document);
    EXPECT_EQ(render_subtitles(*document, {c.translation}),
              "1\n00:00:01,000 --> 00:00:02,000\n" + c.written + "\n\n");
  }
}

TEST(Subtitles, ReflowBreaksBeforeAWordThatWouldPassTheLimit) {
  EXPECT_EQ(reflow_cue_text("one two three four", 2), "one two\nthree four");  // limit 10
  EXPECT_EQ(reflow_cue_text("a  b   c", 2), "a b\nc");  // runs of spaces become one
  EXPECT_EQ(reflow_cue_text("ééé ééé ééé ééé", 2), "ééé ééé\nééé ééé");  // characters, not bytes
  EXPECT_EQ(reflow_cue_text("w1 w2 w3 w4 w5 w6 w7 w8 w9", 2), "w1 w2 w3 w4\nw5 w6 w7 w8 w9");
  EXPECT_EQ(reflow_cue_text("tiny enormouslylongwordhere x y", 2),
            "tiny\nenormouslylongwordhere x y");  // the last line takes the rest
  EXPECT_EQ(reflow_cue_text("alone", 3), "alone");
}

TEST(Subtitles, NoCueIsAnError) {
  for (std::string input : {"", "WEBVTT\n\nNOTE only\n", "1\n00:00:01,000 --> 00:00:02,000\n"}) {
    auto document = split_subtitles(input);
    ASSERT_FALSE(document);
    EXPECT_EQ(document.error().message, "no subtitle cues found");
  }
}

TEST(Subtitles, ReadsAndWritesFiles) {
  testing::TempDir dir;
  std::string path = dir.file("talk.srt");
  testing::write_bytes(path, "1\r\n00:00:01,000 --> 00:00:02,000\r\nHi\r\n");
  auto document = parse_subtitles(path);
  ASSERT_TRUE(document);
  ASSERT_TRUE(write_subtitles(*document, {"Salut"}, path));
  EXPECT_EQ(testing::read_bytes(path), "1\n00:00:01,000 --> 00:00:02,000\nSalut\n\n");

  testing::write_bytes(dir.file("bad.vtt"), "WEBVTT\n\n00:01.000 --> 00:02.000\n\xFF\n");
  auto bad = parse_subtitles(dir.file("bad.vtt"));
  ASSERT_FALSE(bad);
  EXPECT_EQ(bad.error().message, "reading " + dir.file("bad.vtt"));
}

TEST(Subtitles, MarkupTravelsAsTagsAndDialogueLinesKeepTheirDashes) {
  struct Case {
    const char* name;
    std::string cue_lines;
    std::vector<std::string> segments;
    std::vector<std::string> translations;
    std::string written;
  };
  const Case cases[] = {
      {"markup around the whole cue stays outside",
       "<i>Whole cue\nin italics</i>",
       {"Whole cue\nin italics"},
       {"Ganzer Satz\nkursiv"},
       "<i>Ganzer Satz\nkursiv</i>"},
      {"dialogue lines are segments of their own",
       "- Hello.\n-<b>Hi</b> there.",
       {"Hello.", "<g1>Hi</g1> there."},
       {"Hallo.", "Und <g1>hallo</g1>\nauch."},
       "- Hallo.\n-Und <b>hallo</b> auch."},
      {"a dialogue inside markup around the whole cue",
       "<i>- Where?\n- <b>Here</b>.</i>",
       {"Where?", "<g1>Here</g1>."},
       {"Wo?", "<g1>Hier</g1>."},
       "<i>- Wo?\n- <b>Hier</b>.</i>"},
      {"a voice never closed and an override lead the cue; timestamps are placeholders",
       "{\\an8}<v Anna>Never <00:00:01.000>drink <c.loud>the</c> water",
       {"Never <x1/>drink <g2>the</g2> water"},
       {"Trink <g2>das</g2> Wasser <x1/>nie"},
       "{\\an8}<v Anna>Trink <c.loud>das</c> Wasser <00:00:01.000>nie"},
      {"font, underline and language spans; a stray closing tag is a placeholder",
       "<font color=\"#ff0000\">Red</font> and <u>under</u> <lang en>word</lang></b>",
       {"<g1>Red</g1> and <g2>under</g2> <g3>word</g3><x4/>"},
       {"<g2>Unter</g2> und <g1>rot</g1> <g3>Wort</g3><x4/>"},
       "<u>Unter</u> und <font color=\"#ff0000\">rot</font> <lang en>Wort</lang></b>"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto document = split_subtitles("1\n00:00:01,000 --> 00:00:02,000\n" + c.cue_lines + "\n");
    ASSERT_TRUE(document);
    EXPECT_EQ(texts(*document), c.segments);
    Translations translations(c.translations.begin(), c.translations.end());
    EXPECT_EQ(render_subtitles(*document, translations),
              "1\n00:00:01,000 --> 00:00:02,000\n" + c.written + "\n\n");
    EXPECT_EQ(render_subtitles(*document, absent(*document)),
              "1\n00:00:01,000 --> 00:00:02,000\n" + c.cue_lines + "\n\n");
  }
}

}  // namespace
}  // namespace quorvel

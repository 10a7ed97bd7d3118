#include "translation/pipeline.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "fakes/fake_generator.h"
#include "translation/prompt.h"

namespace quorvel {
namespace {

std::vector<Segment> segments_of(std::initializer_list<std::string_view> texts) {
  std::vector<Segment> out;
  for (auto text : texts) out.push_back({std::string(text)});
  return out;
}

std::string tagged(std::string_view text) {
  return "[xx] " + std::string(text);
}

// Answers that the checks reject while sampling for the given texts, and accept when greedy.
FakeGenerator::Answer rejected_while_sampling(std::set<std::string> texts) {
  return [texts](std::string_view text, const SamplingParams& params) {
    if (params.temperature > 0 && texts.contains(std::string(text))) return std::string(" ");
    return tagged(text);
  };
}

// What one recorded call was: the text, whether greedy, and whether batched.
struct Step {
  std::string text;
  float temperature;
  bool batched;
  bool operator==(const Step&) const = default;
};

std::vector<Step> steps(const FakeGenerator& generator) {
  std::vector<Step> out;
  for (const auto& call : generator.calls()) {
    out.push_back(
        {std::string(FakeGenerator::text_of(call.prompt)), call.params.temperature, call.batched});
  }
  return out;
}

void PrintTo(const Step& step, std::ostream* os) {
  *os << "{" << step.text << ", " << step.temperature << (step.batched ? ", batched}" : "}");
}

const TranslationRequest TO_GERMAN{"de", "en"};

TEST(TranslateOne, AttemptsSampledThenGreedy) {
  struct Case {
    std::string_view what;
    FakeGenerator::Answer answer;
    std::size_t fail_at;  // 0: no engine error
    std::optional<std::string> expected;
    std::vector<float> temperatures;
  };
  const std::string text = "Good morning, dear friends.";
  const Case cases[] = {
      {"first answer accepted", FakeGenerator::tagged("xx"), 0, tagged(text), {0.2f}},
      {"rejected, then greedy accepted",
       rejected_while_sampling({text}),
       0,
       tagged(text),
       {0.2f, 0.0f}},
      {"engine error, then greedy accepted",
       FakeGenerator::tagged("xx"),
       1,
       tagged(text),
       {0.2f, 0.0f}},
      {"both rejected",
       [](std::string_view, const SamplingParams&) { return std::string(); },
       0,
       std::nullopt,
       {0.2f, 0.0f}},
      {"answer is cleaned before it is checked",
       [](std::string_view, const SamplingParams&) {
         return std::string("<|channel>thought\n<channel|>\"Guten Morgen, liebe Freunde.\"\n");
       },
       0,
       "Guten Morgen, liebe Freunde.",
       {0.2f}},
  };
  for (const auto& c : cases) {
    FakeGenerator generator(c.answer);
    if (c.fail_at) generator.fail_at(c.fail_at);
    EXPECT_EQ(translate_one(generator, TO_GERMAN, text), c.expected) << c.what;
    std::vector<float> temperatures;
    for (const auto& call : generator.calls()) {
      temperatures.push_back(call.params.temperature);
      EXPECT_EQ(call.prompt, build_prompt(TO_GERMAN, text)) << c.what;
      EXPECT_EQ(call.max_new_tokens, token_budget(text)) << c.what;
      EXPECT_EQ(call.params.top_k, 64) << c.what;
      EXPECT_FLOAT_EQ(call.params.top_p, 0.95f) << c.what;
      EXPECT_EQ(call.params.seed, 24301u) << c.what;
      EXPECT_FALSE(call.batched) << c.what;
    }
    EXPECT_EQ(temperatures, c.temperatures) << c.what;
  }
}

TEST(TranslateOne, PassesThroughWithoutTheModel) {
  FakeGenerator generator;
  EXPECT_EQ(translate_one(generator, TO_GERMAN, " https://example.com/a "),
            " https://example.com/a ");
  EXPECT_EQ(translate_one(generator, TO_GERMAN, "12.05.2024"), "12.05.2024");
  EXPECT_TRUE(generator.calls().empty());
}

TEST(TranslateOne, DetectsTheSourceFromTheTextWhenTheRequestHasNone) {
  FakeGenerator generator;
  const std::string text = "Il fait très beau aujourd'hui, alors nous allons au parc.";
  ASSERT_TRUE(translate_one(generator, {"de", std::nullopt}, text));
  ASSERT_EQ(generator.calls().size(), 1u);
  EXPECT_TRUE(generator.calls()[0].prompt.find("professional French (fr) to German (de)") !=
              std::string::npos);
}

TEST(TranslateSegments, TextThatNeedsNoTranslationNeverReachesTheModel) {
  FakeGenerator generator;
  auto segments =
      segments_of({"", "  ", "12:30", " https://example.com ", "info@example.com", "— 3 %"});
  Translations got = translate_segments(generator, TO_GERMAN, segments);
  ASSERT_EQ(got.size(), segments.size());
  for (std::size_t i = 0; i < segments.size(); ++i) EXPECT_EQ(got[i], segments[i].text);
  EXPECT_TRUE(generator.calls().empty());
  EXPECT_EQ(generator.batch_calls(), 0u);
}

// A paragraph the model would refuse unread keeps its text without any prompt being built:
// the prompt would be one more copy of a paragraph that may be hundreds of megabytes.
TEST(TranslateSegments, AParagraphPastThePromptLimitKeepsItsTextWithoutAPrompt) {
  class Limited final : public FakeGenerator {
   public:
    std::optional<std::size_t> prompt_bytes_limit() const override { return 1000; }
  } generator;
  const std::string long_text(1000, 'a');
  auto segments = segments_of({"Short enough.", long_text});
  Translations got = translate_segments(generator, TO_GERMAN, segments);
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(got[0], tagged("Short enough."));
  EXPECT_EQ(got[1], std::nullopt);
  EXPECT_EQ(generator.texts(), std::vector<std::string>{"Short enough."});
  EXPECT_EQ(translate_one(generator, TO_GERMAN, long_text), std::nullopt);
  EXPECT_EQ(generator.calls().size(), 1u);
}

TEST(TranslateSegments, EqualTrimmedTextsAreTranslatedOnce) {
  FakeGenerator generator;
  auto segments = segments_of(
      {"Hello there", "  Hello there\n", "42", "Other text", "Hello there", "Other text "});
  Translations got = translate_segments(generator, TO_GERMAN, segments);
  EXPECT_EQ(got, (Translations{tagged("Hello there"), tagged("Hello there"), "42",
                               tagged("Other text"), tagged("Hello there"), tagged("Other text")}));
  EXPECT_EQ(steps(generator),
            (std::vector<Step>{{"Hello there", 0.2f, true}, {"Other text", 0.2f, true}}));
  EXPECT_EQ(generator.batch_calls(), 1u);
  for (const auto& call : generator.calls()) {
    EXPECT_EQ(call.max_new_tokens, token_budget(FakeGenerator::text_of(call.prompt)));
    EXPECT_EQ(call.params.top_k, 64);
    EXPECT_FLOAT_EQ(call.params.top_p, 0.95f);
    EXPECT_EQ(call.params.seed, 24301u);
  }
}

TEST(TranslateSegments, RejectedAnswersGetOneGreedyRetry) {
  FakeGenerator generator(rejected_while_sampling({"Second one", "Fourth one"}));
  auto segments = segments_of({"First one", "Second one", "Third one", "Fourth one", "Second one"});
  Translations got = translate_segments(generator, TO_GERMAN, segments);
  EXPECT_EQ(got, (Translations{tagged("First one"), tagged("Second one"), tagged("Third one"),
                               tagged("Fourth one"), tagged("Second one")}));
  EXPECT_EQ(steps(generator), (std::vector<Step>{
                                  {"First one", 0.2f, true},
                                  {"Second one", 0.2f, true},
                                  {"Third one", 0.2f, true},
                                  {"Fourth one", 0.2f, true},
                                  {"Second one", 0.0f, true},
                                  {"Fourth one", 0.0f, true},
                              }));
  EXPECT_EQ(generator.batch_calls(), 2u);
}

TEST(TranslateSegments, BrokenTagsGetTheRetryThenFollowTheSegmentsPolicy) {
  const std::string text = "Read <g1>the manual</g1> on <x2/> first.";
  const Segment segments[] = {
      {text, TagPolicy::strip}, {text + " ", TagPolicy::required}, {"Plain <g1> text"}};
  // Sampled answers lose the tags, greedy ones keep them: the retry settles both.
  FakeGenerator healed([](std::string_view t, const SamplingParams& params) {
    return params.temperature > 0 ? "[xx] " + strip_inline_tags(t) : tagged(t);
  });
  EXPECT_EQ(translate_segments(healed, TO_GERMAN, segments),
            (Translations{tagged(text), tagged(text), "[xx] Plain  text"}));

  // Lost twice: a Word paragraph takes the words, Markdown-like markup keeps its source.
  FakeGenerator broken(FakeGenerator::tags_lost("xx"));
  EXPECT_EQ(translate_segments(broken, TO_GERMAN, segments),
            (Translations{"[xx] Read the manual on  first.", std::nullopt, "[xx] Plain  text"}));
  EXPECT_EQ(broken.calls().size(), 5u);  // one retry each, no extra generation
}

TEST(TranslateSegments, TextsRejectedTwiceAndTheirDuplicatesKeepNoTranslation) {
  FakeGenerator generator([](std::string_view text, const SamplingParams&) {
    return text == "Keep me" ? std::string("\"\"") : tagged(text);
  });
  auto segments = segments_of({"Keep me", "Translate me", " Keep me "});
  Translations got = translate_segments(generator, TO_GERMAN, segments);
  EXPECT_EQ(got, (Translations{std::nullopt, tagged("Translate me"), std::nullopt}));
  EXPECT_EQ(steps(generator),
            (std::vector<Step>{
                {"Keep me", 0.2f, true}, {"Translate me", 0.2f, true}, {"Keep me", 0.0f, true}}));
}

TEST(TranslateSegments, AnEngineErrorLeavesTheRestToSingleTranslations) {
  const auto segments = segments_of({"One", "Two", "Three", "Four", "Five"});

  // The batch fails on its third prompt; the first two answers stand, and the rest are
  // translated one by one, each with both attempts.
  FakeGenerator recovering(rejected_while_sampling({"Three", "Four", "Five"}));
  recovering.fail_at(3);
  EXPECT_EQ(translate_segments(recovering, TO_GERMAN, segments),
            (Translations{tagged("One"), tagged("Two"), tagged("Three"), tagged("Four"),
                          tagged("Five")}));
  EXPECT_EQ(steps(recovering), (std::vector<Step>{
                                   {"One", 0.2f, true},
                                   {"Two", 0.2f, true},
                                   {"Three", 0.2f, true},
                                   {"Three", 0.2f, false},
                                   {"Three", 0.0f, false},
                                   {"Four", 0.2f, false},
                                   {"Four", 0.0f, false},
                                   {"Five", 0.2f, false},
                                   {"Five", 0.0f, false},
                               }));
  EXPECT_EQ(recovering.batch_calls(), 1u);

  // An engine that stays broken costs each unanswered text its two attempts, then gives up.
  FakeGenerator broken;
  broken.fail_from(3);
  EXPECT_EQ(translate_segments(broken, TO_GERMAN, segments),
            (Translations{tagged("One"), tagged("Two"), std::nullopt, std::nullopt, std::nullopt}));
  EXPECT_EQ(broken.calls().size(), 3u + 3 * 2);
}

TEST(TranslateSegments, AnEngineErrorInTheRetryPassFallsBackToo) {
  FakeGenerator generator(rejected_while_sampling({"Alpha text", "Beta text"}));
  generator.fail_at(3);  // the retry of Alpha text
  auto segments = segments_of({"Alpha text", "Beta text"});
  EXPECT_EQ(translate_segments(generator, TO_GERMAN, segments),
            (Translations{tagged("Alpha text"), tagged("Beta text")}));
  EXPECT_EQ(steps(generator), (std::vector<Step>{
                                  {"Alpha text", 0.2f, true},
                                  {"Beta text", 0.2f, true},
                                  {"Alpha text", 0.0f, true},
                                  {"Alpha text", 0.2f, false},
                                  {"Alpha text", 0.0f, false},
                                  {"Beta text", 0.2f, false},
                                  {"Beta text", 0.0f, false},
                              }));
}

std::string source_named_in(const FakeGenerator& generator) {
  const std::string& prompt = generator.calls().at(0).prompt;
  const std::string_view lead = "You are a professional ";
  std::size_t start = prompt.find(lead) + lead.size();
  return prompt.substr(start, prompt.find(" to ", start) - start);
}

TEST(TranslateSegments, DetectsTheSourceOnceFromTheLeadingSegments) {
  const std::string german = "Heute ist das Wetter wunderschön, deshalb gehen wir spazieren.";
  std::string numbers;  // no letters: passed through, but part of the sample
  while (numbers.size() < 4100) numbers += "1234 ";
  const std::string filler_3999 = numbers.substr(0, 3999);
  const std::string filler_4000 = numbers.substr(0, 4000);

  struct Case {
    std::string_view what;
    std::optional<std::string> source;
    std::vector<std::string> texts;
    std::string expected;
  };
  const Case cases[] = {
      {"German throughout", std::nullopt, {german, german + " Morgen auch.", "Ja"}, "German (de)"},
      {"the request's source wins", "fr", {german}, "French (fr)"},
      {"the sample stops at the segment that reaches 4000 bytes",
       std::nullopt,
       {filler_4000, german, german + " Wirklich."},
       "English (en)"},
      {"a segment just short of 4000 bytes lets the next one in",
       std::nullopt,
       {filler_3999, german},
       "German (de)"},
  };
  for (const auto& c : cases) {
    FakeGenerator generator;
    std::vector<Segment> segments;
    for (const auto& text : c.texts) segments.push_back({text});
    translate_segments(generator, {"pl", c.source}, segments);
    ASSERT_FALSE(generator.calls().empty()) << c.what;
    EXPECT_EQ(source_named_in(generator), c.expected) << c.what;
    for (const auto& call : generator.calls()) {
      EXPECT_TRUE(call.prompt.find(c.expected + " to Polish (pl)") != std::string::npos) << c.what;
    }
  }
}

TEST(TranslateSegments, NoSegmentsNoWork) {
  FakeGenerator generator;
  EXPECT_TRUE(translate_segments(generator, {"de", std::nullopt}, {}).empty());
  EXPECT_EQ(generator.batch_calls(), 0u);
}

}  // namespace
}  // namespace quorvel

namespace quorvel {
namespace {

// Records what the pipeline reports and stops it on cue.
class RecordingProgress final : public Progress {
 public:
  void update(double done, std::size_t total) override {
    values.push_back(done);
    totals.insert(total);
  }
  void at_boundary(Generator& generator) override {
    ++boundaries;
    if (on_boundary) on_boundary(generator);
  }
  std::stop_token stop_token() const override { return stop.get_token(); }

  std::vector<double> values;
  std::set<std::size_t> totals;
  int boundaries = 0;
  std::function<void(Generator&)> on_boundary;
  std::stop_source stop;
};

TEST(PipelineProgress, CountsSettledSegmentsWithDuplicatesAndPassThroughs) {
  FakeGenerator generator;
  RecordingProgress progress;
  auto segments = segments_of(
      {"Hello there, friend.", "12:30", "Hello there, friend.", "Good night, everyone."});
  auto translations = translate_segments(generator, {"fr", "en"}, segments, &progress);
  ASSERT_EQ(translations.size(), 4u);
  EXPECT_EQ(progress.totals, std::set<std::size_t>{4});
  // The pass-through first, then the first text with its duplicate, then the last.
  ASSERT_FALSE(progress.values.empty());
  EXPECT_EQ(progress.values.back(), 4.0);
  EXPECT_NE(std::find(progress.values.begin(), progress.values.end(), 3.0), progress.values.end());
  EXPECT_EQ(progress.boundaries, 2);  // after each of the two prompts
}

TEST(PipelineProgress, AStopEndsTheRunBeforeTheNextPrompt) {
  FakeGenerator generator;
  RecordingProgress progress;
  progress.on_boundary = [&](Generator&) { progress.stop.request_stop(); };
  auto segments = segments_of({"First paragraph here.", "Second one follows.", "Third and last."});
  translate_segments(generator, {"fr", "en"}, segments, &progress);
  // The first answer came; then nothing more reached the model, not even one by one.
  EXPECT_EQ(generator.texts(), std::vector<std::string>{"First paragraph here."});
}

TEST(PipelineProgress, ShortWorkAtABoundaryUsesTheSameGeneratorBetweenTwoPrompts) {
  FakeGenerator generator;
  RecordingProgress progress;
  bool ran = false;
  progress.on_boundary = [&](Generator& at_hand) {
    if (ran) return;
    ran = true;
    EXPECT_EQ(translate_one(at_hand, {"de", "en"}, "Good evening, everyone."),
              "[xx] Good evening, everyone.");
  };
  auto segments = segments_of({"First paragraph here.", "Second one follows."});
  auto translations = translate_segments(generator, {"fr", "en"}, segments, &progress);
  EXPECT_EQ(translations[1], "[xx] Second one follows.");
  EXPECT_EQ(generator.texts(),
            (std::vector<std::string>{"First paragraph here.", "Good evening, everyone.",
                                      "Second one follows."}));
}

}  // namespace
}  // namespace quorvel

#include "engine/llama_generator.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <future>
#include <stop_token>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "engine/real_engine.h"

namespace quorvel {
namespace {

using testing::RealEngineTest;

const SamplingParams GREEDY{0.0f, 64, 0.95f, 24301};
const SamplingParams SAMPLED{0.2f, 64, 0.95f, 24301};

const std::string INSTRUCTION = "<start_of_turn>user\nTranslate into French:\n\n\n";

// A prompt in the shape the translation core builds, ending with the model's turn marker.
std::string chat_prompt(const std::string& text) {
  return INSTRUCTION + text + "<end_of_turn>\n<start_of_turn>model\n";
}

// With the byte-level test vocabulary every byte is one token, apart from the turn markers,
// and the tokenizer puts the start token in front.
uint64_t tokens_in(std::string_view prompt) {
  uint64_t count = 1;
  while (!prompt.empty()) {
    std::size_t skip = 1;
    for (std::string_view marker : {"<start_of_turn>", "<end_of_turn>"}) {
      if (prompt.starts_with(marker)) skip = marker.size();
    }
    prompt.remove_prefix(skip);
    ++count;
  }
  return count;
}

std::string prompt_of_tokens(std::size_t tokens) {
  std::string text;
  for (std::size_t i = 0; i + 1 < tokens; ++i) text += static_cast<char>('a' + i % 26);
  return text;
}

class GenerationTest : public RealEngineTest {};

TEST_F(GenerationTest, SamePromptTwiceDecodesOnlyItsLastToken) {
  QUORVEL_LOAD_MODEL("tiny.gguf");
  auto ctx = new_context();
  const std::string prompt = chat_prompt("Good morning.");

  auto first = ctx->generate(prompt, 12, GREEDY);
  ASSERT_TRUE(first) << first.error().message;
  const uint64_t n = ctx->prompt_tokens().size();
  EXPECT_EQ(ctx->counters.prompt_tokens_decoded, n);
  EXPECT_EQ(ctx->counters.prompt_tokens_reused, 0u);

  auto second = ctx->generate(prompt, 12, GREEDY);
  ASSERT_TRUE(second) << second.error().message;
  EXPECT_EQ(ctx->counters.prompt_tokens_decoded, n + 1);
  EXPECT_EQ(ctx->counters.prompt_tokens_reused, n - 1);
  EXPECT_EQ(*second, *first);  // the generated tokens left in memory were removed
}

// Whatever part of the memory a prompt keeps, it continues exactly as on a fresh context.
TEST_F(GenerationTest, KeptPrefixGivesTheSameAnswerAsAFreshContext) {
  QUORVEL_LOAD_MODEL("tiny.gguf");
  struct Case {
    std::string before, prompt;
    uint64_t reused;  // tokens kept from `before`
  };
  const std::vector<Case> cases = {
      // Only the start token is shared.
      {"zzz", "abc", 1},
      // The instruction and the first words are shared.
      {chat_prompt("The cat sat on the mat."), chat_prompt("The cat sat on the hat."),
       tokens_in(INSTRUCTION + "The cat sat on the ")},
      // The new prompt is a strict prefix of the old one.
      {chat_prompt("Hello") + "more", chat_prompt("Hello"), tokens_in(chat_prompt("Hello")) - 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.prompt);
    auto fresh = new_context();
    auto expected = fresh->generate(c.prompt, 16, GREEDY);
    ASSERT_TRUE(expected) << expected.error().message;

    auto ctx = new_context();
    ASSERT_TRUE(ctx->generate(c.before, 16, GREEDY));
    const uint64_t decoded_before = ctx->counters.prompt_tokens_decoded;
    auto answer = ctx->generate(c.prompt, 16, GREEDY);
    ASSERT_TRUE(answer) << answer.error().message;
    EXPECT_EQ(*answer, *expected);
    EXPECT_EQ(ctx->counters.prompt_tokens_reused, c.reused);
    EXPECT_EQ(ctx->counters.prompt_tokens_decoded - decoded_before,
              fresh->prompt_tokens().size() - c.reused);
  }
}

TEST_F(GenerationTest, WithoutPrefixReuseEveryPromptIsDecodedInFull) {
  QUORVEL_LOAD_MODEL("tiny.gguf");
  auto ctx = new_context();
  ctx->reuse_prefix = false;
  const std::string prompt = chat_prompt("Good morning.");
  auto first = ctx->generate(prompt, 8, GREEDY);
  auto second = ctx->generate(prompt, 8, GREEDY);
  ASSERT_TRUE(first && second);
  EXPECT_EQ(*first, *second);
  EXPECT_EQ(ctx->counters.prompt_tokens_decoded, 2 * ctx->prompt_tokens().size());
  EXPECT_EQ(ctx->counters.prompt_tokens_reused, 0u);
}

// The sliding-window layers forget positions older than their window, so a long prompt can
// only be continued from scratch; a full-size window memory keeps everything.
TEST_F(GenerationTest, LongPromptIsKeptOnlyWithAFullSlidingWindowMemory) {
  QUORVEL_LOAD_MODEL("tiny.gguf");
  const std::string prompt = prompt_of_tokens(3000);
  for (bool swa_full : {false, true}) {
    SCOPED_TRACE(swa_full ? "swa_full" : "default window memory");
    ContextSettings settings = test_settings();
    settings.swa_full = swa_full;
    settings.parallel = 1;  // one sequence: a window memory of the window's size
    auto ctx = new_context(settings);
    auto first = ctx->generate(prompt, 4, GREEDY);
    auto second = ctx->generate(prompt, 4, GREEDY);
    ASSERT_TRUE(first && second);
    EXPECT_EQ(*first, *second);
    EXPECT_EQ(ctx->counters.prompt_tokens_decoded, swa_full ? 3001u : 6000u);
  }
}

TEST_F(GenerationTest, OutputStopsAtTheTokenBudget) {
  QUORVEL_LOAD_MODEL("tiny.gguf");
  auto ctx = new_context();
  // The tiny model writes one lowercase letter per token and never ends by itself.
  for (uint32_t budget : {0u, 1u, 7u}) {
    auto text = ctx->generate(chat_prompt("Hi"), budget, GREEDY);
    ASSERT_TRUE(text) << text.error().message;
    EXPECT_EQ(text->size(), budget);
  }
  EXPECT_EQ(ctx->counters.tokens_generated, 8u);
}

TEST_F(GenerationTest, PromptMustLeaveMoreThanEightPositions) {
  QUORVEL_LOAD_MODEL("tiny.gguf");
  auto ctx = new_context();
  const uint32_t c = ctx->context_length();
  ASSERT_EQ(c, 8192u);

  auto fits = ctx->generate(prompt_of_tokens(c - 9), 100, GREEDY);
  ASSERT_TRUE(fits) << fits.error().message;
  EXPECT_EQ(fits->size(), 1u);  // room for exactly one generated token
  EXPECT_EQ(ctx->counters.tokens_generated, 1u);
  const std::vector<llama_token> kept = ctx->prompt_tokens();

  auto too_long = ctx->generate(prompt_of_tokens(c - 8), 100, GREEDY);
  ASSERT_FALSE(too_long);
  EXPECT_EQ(too_long.error().message, "prompt too long: 8184 tokens for a 8192 token context");
  EXPECT_EQ(ctx->prompt_tokens(), kept);
}

TEST_F(GenerationTest, RejectedPromptsLeaveTheMemoryAlone) {
  QUORVEL_LOAD_MODEL("tiny.gguf");
  auto ctx = new_context();
  ASSERT_TRUE(ctx->generate(chat_prompt("Hello"), 4, GREEDY));
  const std::vector<llama_token> kept = ctx->prompt_tokens();
  const uint64_t decoded = ctx->counters.prompt_tokens_decoded;

  auto nul = ctx->generate(std::string("Hel\0lo", 6), 4, GREEDY);
  ASSERT_FALSE(nul);
  EXPECT_EQ(nul.error().message, "prompt contains NUL byte");
  EXPECT_EQ(ctx->prompt_tokens(), kept);

  // The memory still holds the earlier prompt: running it again decodes one token.
  ASSERT_TRUE(ctx->generate(chat_prompt("Hello"), 4, GREEDY));
  EXPECT_EQ(ctx->counters.prompt_tokens_decoded, decoded + 1);
}

TEST_F(GenerationTest, GreedyIgnoresTheSamplerSettingsAndSamplingRestartsFromTheSeed) {
  QUORVEL_LOAD_MODEL("tiny.gguf");
  auto ctx = new_context();
  const std::string prompt = chat_prompt("Good morning.");
  auto greedy = ctx->generate(prompt, 24, GREEDY);
  auto greedy_other = ctx->generate(prompt, 24, SamplingParams{0.0f, 1, 0.1f, 7});
  ASSERT_TRUE(greedy && greedy_other);
  EXPECT_EQ(*greedy, *greedy_other);

  const SamplingParams hot{1.0f, 64, 0.95f, 24301};
  auto sampled = ctx->generate(prompt, 24, hot);
  auto sampled_again = ctx->generate(prompt, 24, hot);
  auto other_seed = ctx->generate(prompt, 24, SamplingParams{1.0f, 64, 0.95f, 1});
  ASSERT_TRUE(sampled && sampled_again && other_seed);
  EXPECT_EQ(*sampled, *sampled_again);
  EXPECT_NE(*sampled, *other_seed);
  EXPECT_NE(*sampled, *greedy);
}

TEST_F(GenerationTest, GenerateManyReportsEachResultOnceInOrderWithOneSequence) {
  QUORVEL_LOAD_MODEL("tiny.gguf");
  const std::vector<PromptRequest> prompts = {
      {chat_prompt("one"), 3}, {chat_prompt("two"), 0}, {chat_prompt("three"), 5}};
  for (int32_t parallel : {1, 4}) {
    SCOPED_TRACE(parallel);
    ContextSettings settings = test_settings();
    settings.parallel = parallel;
    auto ctx = new_context(settings);
    std::vector<std::pair<std::size_t, std::string>> reported;
    auto results = ctx->generate_many(prompts, GREEDY, [&](std::size_t i, const std::string& t) {
      reported.emplace_back(i, t);
      return true;
    });
    ASSERT_TRUE(results) << results.error().message;
    ASSERT_EQ(results->size(), 3u);
    EXPECT_EQ((*results)[0].size(), 3u);
    EXPECT_EQ((*results)[1], "");  // no budget: empty, and still reported
    EXPECT_EQ((*results)[2].size(), 5u);
    ASSERT_EQ(reported.size(), 3u);
    // Several sequences hand answers over as they finish; one does so in list order.
    if (parallel > 1) std::sort(reported.begin(), reported.end());
    for (std::size_t i = 0; i < 3; ++i) {
      EXPECT_EQ(reported[i].first, i);
      EXPECT_EQ(reported[i].second, (*results)[i]);
    }
    // Each prompt after the first kept or copied the instruction they share; "three" also
    // the "t" of "two", which it waited for.
    EXPECT_EQ(ctx->counters.prompt_tokens_reused, 2 * tokens_in(INSTRUCTION) + 1);
  }
}

TEST_F(GenerationTest, GenerateManyStopsWhereTheCallerOrAnErrorSays) {
  QUORVEL_LOAD_MODEL("tiny.gguf");
  auto ctx = new_context();
  int calls = 0;
  auto stop_after_first = [&](std::size_t, const std::string&) { return ++calls < 1; };
  auto stopped =
      ctx->generate_many({{chat_prompt("a"), 2}, {chat_prompt("b"), 2}, {chat_prompt("c"), 2}},
                         GREEDY, stop_after_first);
  ASSERT_TRUE(stopped) << stopped.error().message;
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(stopped->size(), 3u);
  EXPECT_EQ((*stopped)[0].size(), 2u);
  EXPECT_EQ((*stopped)[1], "");
  EXPECT_EQ((*stopped)[2], "");

  calls = 0;
  auto count = [&](std::size_t, const std::string&) { return ++calls > 0; };
  auto failed = ctx->generate_many(
      {{chat_prompt("a"), 2}, {std::string("b\0", 2), 2}, {chat_prompt("c"), 2}}, GREEDY, count);
  ASSERT_FALSE(failed);
  EXPECT_EQ(failed.error().message, "prompt contains NUL byte");
  EXPECT_EQ(calls, 1);

  const GenerationCounters before = ctx->counters;
  auto none = ctx->generate_many({}, GREEDY, count);
  ASSERT_TRUE(none);
  EXPECT_TRUE(none->empty());
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(ctx->counters.prompt_tokens_decoded, before.prompt_tokens_decoded);
}

// The way a cancelled tool call stops: another thread requests the stop while the prompt
// decodes on the runtime's own worker threads. Under ThreadSanitizer this also checks the
// hand-over of the stop token to the abort hook.
TEST_F(GenerationTest, StopFromAnotherThreadEndsADecodeOnSeveralThreads) {
  QUORVEL_LOAD_MODEL("tiny.gguf");
  ContextSettings settings = test_settings();
  settings.threads = 2;
  auto ctx = new_context(settings);
  const std::string prompt = chat_prompt(prompt_of_tokens(2000));

  std::stop_source source;
  std::promise<void> decoding;
  std::future<void> decoding_started = decoding.get_future();
  bool told = false;  // the generating thread's only
  GenerationControl control;
  control.stop = source.get_token();
  control.on_tokens = [&](std::size_t, uint64_t, uint64_t) {
    if (!std::exchange(told, true)) decoding.set_value();
  };
  std::jthread stopper([&] {
    decoding_started.wait_for(std::chrono::seconds(60));
    source.request_stop();
  });
  auto stopped = ctx->generate(prompt, 4, GREEDY, control);
  stopper.join();
  ASSERT_FALSE(stopped);
  EXPECT_EQ(stopped.error().kind, ErrorKind::cancelled);
  EXPECT_LT(ctx->counters.prompt_tokens_decoded, tokens_in(prompt));
  EXPECT_TRUE(ctx->prompt_tokens().empty());

  // The stop belonged to that call: the context answers the next one as a fresh one does.
  const std::string next = chat_prompt("Good morning.");
  auto expected = new_context(settings)->generate(next, 6, GREEDY);
  auto again = ctx->generate(next, 6, GREEDY);
  ASSERT_TRUE(expected && again);
  EXPECT_EQ(*again, *expected);
}

TEST_F(GenerationTest, ConstantModelAnswersItsSentenceGreedyAndSampled) {
  QUORVEL_LOAD_MODEL("constant.gguf");
  auto ctx = new_context();
  for (const SamplingParams& params : {GREEDY, SAMPLED}) {
    SCOPED_TRACE(params.temperature);
    auto one = ctx->generate(chat_prompt("Hello world."), 256, params);
    ASSERT_TRUE(one) << one.error().message;
    EXPECT_EQ(*one, "Bonjour le monde.");
    auto many = ctx->generate_many(
        {{chat_prompt("Good morning."), 256}, {chat_prompt("Thanks"), 256}}, params, nullptr);
    ASSERT_TRUE(many) << many.error().message;
    EXPECT_EQ(*many, (std::vector<std::string>{"Bonjour le monde.", "Bonjour le monde."}));
  }
}

TEST_F(GenerationTest, InvalidUtf8FailsAndOverlongPiecesAreDropped) {
  QUORVEL_LOAD_MODEL("quirks.gguf");
  auto ctx = new_context();
  // After "!" the model writes a 600-byte piece, then "ok".
  auto dropped = ctx->generate(chat_prompt("Hi") + "!", 16, GREEDY);
  ASSERT_TRUE(dropped) << dropped.error().message;
  EXPECT_EQ(*dropped, "ok");

  // After a line feed it writes a lone UTF-8 lead byte and ends.
  auto invalid = ctx->generate(chat_prompt("Hi"), 16, GREEDY);
  ASSERT_FALSE(invalid);
  EXPECT_EQ(invalid.error().message, "model produced invalid UTF-8 at end of output");
  EXPECT_EQ(ctx->prompt_tokens().size(), tokens_in(chat_prompt("Hi")));  // the new prompt
}

// The runtime's abort hook makes a decode fail on cue: before the prompt is in memory, or once
// it is and output is being generated.
class FailingDecodeTest : public GenerationTest {
 protected:
  struct Abort {
    const EngineContext* ctx = nullptr;
    bool during_prompt = false;
    uint64_t decoded_before = 0;
  };

  static bool should_abort(void* data) {
    auto* abort = static_cast<Abort*>(data);
    if (abort->ctx == nullptr) return false;
    bool prompt_done = abort->ctx->counters.prompt_tokens_decoded > abort->decoded_before;
    return abort->during_prompt ? !prompt_done : prompt_done;
  }

  void arm(EngineContext& ctx, Abort& abort) {
    auto set_abort = find_symbol(engine().api().llama, "llama_set_abort_callback");
    ASSERT_TRUE(set_abort);
    abort.ctx = &ctx;
    abort.decoded_before = ctx.counters.prompt_tokens_decoded;
    reinterpret_cast<void (*)(llama_context*, ggml_abort_callback, void*)> (*set_abort)(
        ctx.context(), &should_abort, &abort);
  }
};

TEST_F(FailingDecodeTest, FailureOnThePromptClearsTheMemory) {
  QUORVEL_LOAD_MODEL("tiny.gguf");
  auto ctx = new_context();
  const std::string prompt = chat_prompt("Good morning.");
  auto expected = ctx->generate(prompt, 6, GREEDY);
  ASSERT_TRUE(expected) << expected.error().message;

  Abort abort{nullptr, true, 0};
  ASSERT_NO_FATAL_FAILURE(arm(*ctx, abort));
  auto failed = ctx->generate(chat_prompt("Good evening."), 6, GREEDY);
  ASSERT_FALSE(failed);
  EXPECT_EQ(failed.error().message, "llama_decode failed on prompt (rc 2)");
  EXPECT_TRUE(ctx->prompt_tokens().empty());

  // Nothing of the old memory is trusted: the next prompt is decoded in full.
  abort.ctx = nullptr;
  const uint64_t decoded = ctx->counters.prompt_tokens_decoded;
  auto again = ctx->generate(prompt, 6, GREEDY);
  ASSERT_TRUE(again) << again.error().message;
  EXPECT_EQ(*again, *expected);
  EXPECT_EQ(ctx->counters.prompt_tokens_decoded - decoded, tokens_in(prompt));
}

TEST_F(FailingDecodeTest, FailureWhileGeneratingKeepsThePromptRecord) {
  QUORVEL_LOAD_MODEL("tiny.gguf");
  auto ctx = new_context();
  const std::string prompt = chat_prompt("Good morning.");
  auto expected = new_context()->generate(prompt, 6, GREEDY);
  ASSERT_TRUE(expected) << expected.error().message;

  Abort abort{nullptr, false, 0};
  ASSERT_NO_FATAL_FAILURE(arm(*ctx, abort));
  auto failed = ctx->generate(prompt, 6, GREEDY);
  ASSERT_FALSE(failed);
  EXPECT_EQ(failed.error().message, "llama_decode failed (rc 2)");
  EXPECT_EQ(ctx->prompt_tokens().size(), tokens_in(prompt));

  abort.ctx = nullptr;
  const uint64_t decoded = ctx->counters.prompt_tokens_decoded;
  auto again = ctx->generate(prompt, 6, GREEDY);
  ASSERT_TRUE(again) << again.error().message;
  EXPECT_EQ(*again, *expected);
  EXPECT_EQ(ctx->counters.prompt_tokens_decoded - decoded, 1u);
}

}  // namespace
}  // namespace quorvel

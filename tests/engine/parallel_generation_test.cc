// Prompts decoded together on several sequences must answer as one sequence does, whatever
// shares their batches, waits for memory, or runs from inside a result callback.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/llama_generator.h"
#include "engine/real_engine.h"

namespace quorvel {
namespace {

using testing::RealEngineTest;

const SamplingParams GREEDY{0.0f, 64, 0.95f, 24301};

std::string chat_prompt(const std::string& text) {
  return "<start_of_turn>user\nTranslate into French:\n\n\n" + text +
         "<end_of_turn>\n<start_of_turn>model\n";
}

// About `bytes` tokens with the byte-level test vocabulary, distinct for each `seed`.
std::string long_text(std::size_t bytes, char seed) {
  std::string text;
  for (std::size_t i = 0; i < bytes; ++i) text += static_cast<char>('a' + (seed + i * 7) % 26);
  return text;
}

class ParallelGenerationTest : public RealEngineTest {
 protected:
  std::unique_ptr<EngineContext> context(int32_t parallel) {
    ContextSettings settings = test_settings();
    settings.parallel = parallel;
    auto ctx = new_context(settings);
    if (ctx) {
      EXPECT_EQ(ctx->sequences(), parallel);
    }
    return ctx;
  }

  std::vector<std::string> answers(EngineContext& ctx, const std::vector<PromptRequest>& prompts,
                                   const OnResult& on_result = nullptr) {
    auto results = ctx.generate_many(prompts, GREEDY, on_result);
    EXPECT_TRUE(results) << results.error().message;
    return results ? *results : std::vector<std::string>{};
  }
};

const std::vector<PromptRequest> SHORT_PROMPTS = {{chat_prompt("Good morning."), 12},
                                                  {chat_prompt("The cat sleeps on the mat."), 20},
                                                  {chat_prompt("Open the file, then save it."), 6},
                                                  {chat_prompt("Yes"), 0},
                                                  {chat_prompt("Where is the station?"), 16},
                                                  {chat_prompt("Goodbye and thank you."), 9},
                                                  {chat_prompt("Good morning."), 12}};

TEST_F(ParallelGenerationTest, GreedyAnswersEqualThoseOfOneSequenceInFewerDecodes) {
  for (const char* model : {"tiny.gguf", "constant.gguf"}) {
    SCOPED_TRACE(model);
    QUORVEL_LOAD_MODEL(model);
    auto one = context(1);
    auto four = context(4);
    const auto expected = answers(*one, SHORT_PROMPTS);
    EXPECT_EQ(answers(*four, SHORT_PROMPTS), expected);
    EXPECT_LT(four->counters.decodes, one->counters.decodes);
    // The shared instruction is copied, not decoded again.
    EXPECT_LE(four->counters.prompt_tokens_decoded, one->counters.prompt_tokens_decoded);
  }
}

// Three prompts of ~3,000 tokens cannot all sit in the 8,192-position cache: the third waits
// for room, and one that needs nearly the whole cache runs once the others are done.
TEST_F(ParallelGenerationTest, PromptsThatDoNotFitBesideEachOtherTakeTurns) {
  QUORVEL_LOAD_MODEL("tiny.gguf");
  const std::vector<PromptRequest> prompts = {{chat_prompt(long_text(3000, 0)), 8},
                                              {chat_prompt(long_text(3000, 1)), 8},
                                              {chat_prompt("Short."), 8},
                                              {chat_prompt(long_text(3000, 2)), 8},
                                              {chat_prompt(long_text(8100, 3)), 20}};
  auto one = context(1);
  auto four = context(4);
  const auto expected = answers(*one, prompts);
  ASSERT_EQ(expected.size(), prompts.size());
  EXPECT_EQ(answers(*four, prompts), expected);
}

// A result callback may run a call of its own (a short text between two document segments);
// the prompts in flight wait, or go back to the queue when the call needs their memory.
TEST_F(ParallelGenerationTest, CallInsideAResultCallbackLeavesTheOthersIntact) {
  QUORVEL_LOAD_MODEL("tiny.gguf");
  struct Case {
    const char* name;
    std::string inner_prompt;
    bool restarts;
  };
  const std::vector<Case> cases = {
      {"beside the others", chat_prompt("A short text."), false},
      {"needing their memory", chat_prompt(long_text(7000, 5)), true},
  };
  const std::vector<PromptRequest> prompts = {{chat_prompt(long_text(2500, 0)), 10},
                                              {chat_prompt(long_text(2500, 1)), 10},
                                              {chat_prompt(long_text(2500, 2)), 10},
                                              {chat_prompt("Good evening."), 10}};
  auto reference = context(1);
  const auto expected = answers(*reference, prompts);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto alone = context(1)->generate(c.inner_prompt, 10, GREEDY);
    ASSERT_TRUE(alone) << alone.error().message;

    auto ctx = context(3);
    std::vector<std::string> inner;
    auto results = answers(*ctx, prompts, [&](std::size_t, const std::string&) {
      if (inner.empty()) {
        auto answer = ctx->generate(c.inner_prompt, 10, GREEDY);
        inner.push_back(answer ? *answer : answer.error().message);
      }
      return true;
    });
    EXPECT_EQ(results, expected);
    EXPECT_EQ(inner, std::vector<std::string>{*alone});
    EXPECT_EQ(ctx->counters.prompts_restarted > 0, c.restarts);
  }
}

TEST_F(ParallelGenerationTest, ResetContextAnswersAsAFreshOne) {
  QUORVEL_LOAD_MODEL("tiny.gguf");
  auto used = context(4);
  answers(*used, SHORT_PROMPTS);
  used->reset();
  EXPECT_TRUE(used->prompt_tokens().empty());
  const uint64_t decoded = used->counters.prompt_tokens_decoded;
  auto again = used->generate(SHORT_PROMPTS[1].prompt, 20, GREEDY);
  auto fresh = context(4)->generate(SHORT_PROMPTS[1].prompt, 20, GREEDY);
  ASSERT_TRUE(again && fresh);
  EXPECT_EQ(*again, *fresh);
  EXPECT_EQ(used->counters.prompt_tokens_decoded - decoded, used->prompt_tokens().size());
}

}  // namespace
}  // namespace quorvel

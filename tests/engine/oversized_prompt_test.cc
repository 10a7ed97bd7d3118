#include <fmt/core.h>
#include <gtest/gtest.h>

#include <string>

#include "engine/llama_generator.h"
#include "engine/real_engine.h"

namespace quorvel {
namespace {

using testing::RealEngineTest;

class OversizedPromptTest : public RealEngineTest {};

std::string words_of(std::size_t bytes) {
  std::string text;
  while (text.size() < bytes) text += "ab ";
  text.resize(bytes);
  return text;
}

// A hostile document can make one paragraph hundreds of megabytes long. A prompt that could
// not fit even if every token were the vocabulary's longest is refused from its byte count,
// before the tokenizer spends minutes and gigabytes counting it.
TEST_F(OversizedPromptTest, RefusedFromItsSizeBeforeTokenizing) {
  QUORVEL_LOAD_MODEL("tiny.gguf");
  auto ctx = new_context();
  const uint32_t c = ctx->context_length();
  const SamplingParams greedy{0.0f, 64, 0.95f, 24301};
  // The byte-level test vocabulary: the longest piece is the turn marker <start_of_turn>.
  const std::size_t longest = engine().longest_piece();
  EXPECT_EQ(longest, 15u);

  // Just below the byte bound the tokenizer still runs and counts (one token per byte here).
  std::string below = words_of(longest * c - 1);
  auto counted = ctx->generate(below, 16, greedy);
  ASSERT_FALSE(counted);
  EXPECT_EQ(counted.error().message, fmt::format("prompt too long: {} tokens for a 8192 token "
                                                 "context",
                                                 below.size() + 1));

  for (std::size_t bytes : {longest * c, std::size_t{256} << 20}) {
    auto refused = ctx->generate(words_of(bytes), 16, greedy);
    ASSERT_FALSE(refused);
    EXPECT_EQ(refused.error().message,
              fmt::format("prompt too long: {} bytes for a 8192 token context", bytes));
  }
  EXPECT_TRUE(ctx->prompt_tokens().empty());

  // The context is still usable afterwards.
  EXPECT_TRUE(
      ctx->generate("<start_of_turn>user\nHi<end_of_turn>\n<start_of_turn>model\n", 4, greedy));
}

}  // namespace
}  // namespace quorvel

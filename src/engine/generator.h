#pragma once
// The one seam between the translation pipeline and the inference engine. The llama.cpp
// context implements it; tests plug in a scripted fake.

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/error.h"

namespace quorvel {

struct SamplingParams {
  float temperature = 0.0f;  // 0 or less selects greedy decoding
  int32_t top_k = 64;
  float top_p = 0.95f;
  uint32_t seed = 24301;
};

struct PromptRequest {
  std::string prompt;
  uint32_t max_new_tokens = 0;
};

/// Called after each answered prompt with its index and text; returns whether to go on.
using OnResult = std::function<bool(std::size_t index, const std::string& text)>;

class Generator {
 public:
  virtual ~Generator() = default;

  /// One prompt, one continuation.
  virtual Result<std::string> generate(std::string_view prompt, uint32_t max_new_tokens,
                                       const SamplingParams& params) = 0;

  /// Prompts one after another; one entry per prompt (empty where not run). The first
  /// failing prompt ends the call with its error, and all results are then discarded.
  virtual Result<std::vector<std::string>> generate_many(const std::vector<PromptRequest>& prompts,
                                                         const SamplingParams& params,
                                                         const OnResult& on_result) = 0;
};

}  // namespace quorvel

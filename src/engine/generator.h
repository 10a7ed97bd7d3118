#pragma once
// The one seam between the translation pipeline and the inference engine. The llama.cpp
// context implements it; tests plug in a scripted fake.

#include <cstdint>
#include <functional>
#include <optional>
#include <stop_token>
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

/// How the caller of one generation call follows it and stops it. Both members may be
/// empty. Called on the generating thread.
struct GenerationControl {
  /// Once stop is requested, the call ends within one decode step with an error of kind
  /// `cancelled` (generate_many discards its results as for any other error).
  std::stop_token stop;
  /// Work inside the prompt at `index` (0 for generate): `done` of `total` token steps,
  /// where the total is the prompt's tokens plus its token budget and reused prompt
  /// tokens count as done. Not called for prompts answered without the model.
  std::function<void(std::size_t index, uint64_t done, uint64_t total)> on_tokens;
};

inline const GenerationControl NO_CONTROL{};

class Generator {
 public:
  virtual ~Generator() = default;

  /// One prompt, one continuation.
  virtual Result<std::string> generate(std::string_view prompt, uint32_t max_new_tokens,
                                       const SamplingParams& params,
                                       const GenerationControl& control = NO_CONTROL) = 0;

  /// Prompts one after another; one entry per prompt (empty where not run). The first
  /// failing prompt ends the call with its error, and all results are then discarded.
  virtual Result<std::vector<std::string>> generate_many(
      const std::vector<PromptRequest>& prompts, const SamplingParams& params,
      const OnResult& on_result, const GenerationControl& control = NO_CONTROL) = 0;

  /// Once an engine is gone for good (no remote server answers any more), the error that
  /// every later call would end with: a job then fails with it instead of keeping its text
  /// untranslated. Nothing for an engine that can still answer.
  virtual std::optional<Error> lasting_failure() const { return std::nullopt; }

  /// Prompts of this many bytes or more are refused without being read: they could not fit
  /// even if every token were the vocabulary's longest. Nothing when the generator cannot tell.
  virtual std::optional<std::size_t> prompt_bytes_limit() const { return std::nullopt; }
};

/// Passes every call on to another generator: the base of wrappers that own what they wrap.
class ForwardingGenerator : public Generator {
 public:
  /// `target` may be a member of the derived class, not yet made: it is only used by calls.
  explicit ForwardingGenerator(Generator& target) : target_(target) {}

  Result<std::string> generate(std::string_view prompt, uint32_t max_new_tokens,
                               const SamplingParams& params,
                               const GenerationControl& control = NO_CONTROL) override {
    return target_.generate(prompt, max_new_tokens, params, control);
  }
  Result<std::vector<std::string>> generate_many(
      const std::vector<PromptRequest>& prompts, const SamplingParams& params,
      const OnResult& on_result, const GenerationControl& control = NO_CONTROL) override {
    return target_.generate_many(prompts, params, on_result, control);
  }
  std::optional<Error> lasting_failure() const override { return target_.lasting_failure(); }
  std::optional<std::size_t> prompt_bytes_limit() const override {
    return target_.prompt_bytes_limit();
  }

 private:
  Generator& target_;
};

}  // namespace quorvel

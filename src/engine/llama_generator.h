#pragma once
// Generation on a llama context: prompts run one after another on sequence 0, and each keeps
// the part of the context's memory that matches its leading tokens, so the instruction text
// that consecutive translation prompts share is decoded once per tool call.

#include <cstdint>
#include <memory>
#include <stop_token>
#include <string>
#include <string_view>
#include <vector>

#include "engine/generator.h"
#include "engine/llama_api.h"

namespace quorvel {

class Engine;

/// What a context has done so far; benchmarks and tests read it to see prefix reuse work.
struct GenerationCounters {
  uint64_t prompt_tokens_decoded = 0;  // prompt tokens run through the model
  uint64_t prompt_tokens_reused = 0;   // prompt tokens kept from the previous prompt
  uint64_t tokens_generated = 0;       // sampled tokens added to an output (end marker excluded)
};

/// The stop token of the call running on a context, read by the runtime's abort hook while
/// a decode computes. Made before the context, whose parameters point at it.
struct AbortWatch {
  std::stop_token stop;
  static bool should_abort(void* watch) {
    return static_cast<const AbortWatch*>(watch)->stop.stop_requested();
  }
};

/// One llama context for one tool call. Borrows the Engine, which must outlive it; owns the
/// context and frees it when dropped. One thread at a time may call it.
class EngineContext final : public Generator {
 public:
  /// `watch` is the abort hook's data given to the context's parameters, if any.
  EngineContext(const Engine& engine, llama_context* ctx, int32_t n_batch,
                std::unique_ptr<AbortWatch> watch = nullptr);
  EngineContext(const EngineContext&) = delete;
  EngineContext& operator=(const EngineContext&) = delete;
  ~EngineContext() override;

  Result<std::string> generate(std::string_view prompt, uint32_t max_new_tokens,
                               const SamplingParams& params,
                               const GenerationControl& control = NO_CONTROL) override;

  Result<std::vector<std::string>> generate_many(
      const std::vector<PromptRequest>& prompts, const SamplingParams& params,
      const OnResult& on_result, const GenerationControl& control = NO_CONTROL) override;

  /// Positions available to one sequence (prompt, output and a margin of 8).
  uint32_t context_length() const;
  llama_context* context() const { return ctx_; }
  /// The tokens of the last prompt placed in sequence 0 (not the generated ones after them).
  const std::vector<llama_token>& prompt_tokens() const { return prompt_tokens_; }

  GenerationCounters counters;
  /// Benchmarks turn this off to measure what prefix reuse saves; every prompt is then
  /// decoded from an empty memory.
  bool reuse_prefix = true;

 private:
  // What one pass reports to and checks with its caller.
  struct Pass {
    const GenerationControl& control;
    std::size_t index;
    uint64_t total = 0;  // prompt tokens plus budget
    void report(uint64_t done) const {
      if (control.on_tokens) control.on_tokens(index, done, total);
    }
  };

  Result<std::string> run_pass(std::string_view prompt, uint32_t max_new_tokens,
                               const SamplingParams& params, const GenerationControl& control,
                               std::size_t index);
  Result<std::vector<llama_token>> tokenize(std::string_view prompt) const;
  int32_t keep_common_prefix(const std::vector<llama_token>& tokens);
  Result<void> decode_prompt(int32_t from, const Pass& pass);
  Result<std::string> sample_output(llama_sampler* chain, int64_t budget, const Pass& pass);
  void clear_memory();

  const Engine& engine_;
  const LlamaApi& api_;
  llama_context* ctx_;
  int32_t n_batch_;
  std::unique_ptr<AbortWatch> watch_;
  // Sequence 0's prompt; empty exactly when nothing was decoded since the context was made
  // or its memory last cleared.
  std::vector<llama_token> prompt_tokens_;
};

}  // namespace quorvel

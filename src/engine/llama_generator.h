#pragma once
// Generation on a llama context. The context has one or more sequences; the prompts of a
// call are decoded together, up to one per sequence (continuous batching: each decode carries
// the next token of every sequence that is generating plus prompt chunks of those still
// reading their prompt, and a finished sequence takes the next prompt). A prompt starts from
// the longest run of leading tokens any sequence holds in memory, copied when it is another
// sequence's, so the instruction text that translation prompts share is decoded once.

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
  uint64_t prompt_tokens_reused = 0;   // prompt tokens kept or copied from memory
  uint64_t tokens_generated = 0;       // sampled tokens added to an output (end marker excluded)
  uint64_t decodes = 0;                // llama_decode calls
  uint64_t prompts_restarted = 0;      // prompts sent back to wait, to make room for a call
};

/// The stop token of the call running on a context, read by the runtime's abort hook while
/// a decode computes. Made before the context, whose parameters point at it.
struct AbortWatch {
  std::stop_token stop;
  static bool should_abort(void* watch) {
    return static_cast<const AbortWatch*>(watch)->stop.stop_requested();
  }
};

/// One llama context. Borrows the Engine, which must outlive it; owns the context and frees
/// it when dropped. One thread at a time may call it; a call may be made from inside an
/// `on_result` of a running generate_many (the running prompts then wait for it).
class EngineContext final : public Generator {
 public:
  /// `watch` is the abort hook's data given to the context's parameters, if any. `sequences`
  /// is the context's n_seq_max: how many prompts are decoded together.
  EngineContext(const Engine& engine, llama_context* ctx, int32_t n_batch,
                std::unique_ptr<AbortWatch> watch = nullptr, int32_t sequences = 1);
  EngineContext(const EngineContext&) = delete;
  EngineContext& operator=(const EngineContext&) = delete;
  ~EngineContext() override;

  Result<std::string> generate(std::string_view prompt, uint32_t max_new_tokens,
                               const SamplingParams& params,
                               const GenerationControl& control = NO_CONTROL) override;

  /// Results reach `on_result` as each prompt finishes, not necessarily in list order. An
  /// error of one prompt (refused or its output invalid) lets the prompts already running
  /// finish and starts no other.
  Result<std::vector<std::string>> generate_many(
      const std::vector<PromptRequest>& prompts, const SamplingParams& params,
      const OnResult& on_result, const GenerationControl& control = NO_CONTROL) override;

  std::optional<std::size_t> prompt_bytes_limit() const override;

  /// Empties the memory (zeroing it only when something is there), so that the next call
  /// starts as on a fresh context.
  void reset();

  /// Positions available to one sequence (prompt, output and a margin of 8).
  uint32_t context_length() const;
  /// How many prompts are decoded together at most.
  int32_t sequences() const;
  llama_context* context() const { return ctx_; }
  /// The tokens of the last prompt placed in sequence 0 (not the generated ones after them).
  const std::vector<llama_token>& prompt_tokens() const;

  GenerationCounters counters;
  /// Benchmarks turn this off to measure what prefix reuse saves; every prompt is then
  /// decoded from an empty memory.
  bool reuse_prefix = true;

 private:
  struct Job;
  struct Sequence;
  struct Run;

  Result<std::string> run_one(std::string_view prompt, uint32_t max_new_tokens,
                              const SamplingParams& params, const GenerationControl& control,
                              std::size_t index);
  Result<Job> prepare(std::string_view prompt, uint32_t max_new_tokens,
                      const SamplingParams& params, const GenerationControl& control,
                      std::size_t index, Run& run) const;
  Result<std::vector<llama_token>> tokenize(std::string_view prompt) const;
  Result<void> run(Run& run);
  void admit(Run& run);
  bool place(Job& job, bool may_evict);
  void evict_for(int64_t need);
  Result<void> step(Run& run);
  void release(Sequence& sequence);
  void forget(Sequence& sequence);
  void clear_all(bool zero);
  int64_t reserved_by_others(const Sequence& target) const;

  const Engine& engine_;
  const LlamaApi& api_;
  llama_context* ctx_;
  int32_t n_batch_;
  std::unique_ptr<AbortWatch> watch_;
  llama_batch batch_;
  std::vector<Sequence> sequences_;
  // The calls running, outermost first: an inner one pauses the sequences of the others.
  std::vector<Run*> runs_;
  uint64_t admissions_ = 0;
};

}  // namespace quorvel

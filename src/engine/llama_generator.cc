#include "engine/llama_generator.h"

#include <fmt/format.h>

#include <algorithm>
#include <climits>

#include "engine/model.h"
#include "platform/text.h"

namespace quorvel {

namespace {

// Free positions every prompt must leave in the context.
constexpr int64_t CONTEXT_MARGIN = 8;
constexpr int32_t PIECE_BUFFER = 512;

Error engine_error(std::string message) {
  return Error{ErrorKind::engine, std::move(message), {}};
}

Error cancelled_error() {
  return Error{ErrorKind::cancelled, "cancelled", {}};
}

// A decode that the abort hook stopped returns 2; only a requested stop explains it then.
bool stopped(const GenerationControl& control) {
  return control.stop.stop_requested();
}

// The sampler chain of one pass, freed on every way out of the pass.
class SamplerChain {
 public:
  SamplerChain(const LlamaApi& api, const SamplingParams& params)
      : api_(api), chain_(api.llama_sampler_chain_init(api.llama_sampler_chain_default_params())) {
    if (chain_ == nullptr) return;
    if (params.temperature <= 0.0f) {
      api.llama_sampler_chain_add(chain_, api.llama_sampler_init_greedy());
      return;
    }
    api.llama_sampler_chain_add(chain_, api.llama_sampler_init_top_k(params.top_k));
    api.llama_sampler_chain_add(chain_, api.llama_sampler_init_top_p(params.top_p, 1));
    api.llama_sampler_chain_add(chain_, api.llama_sampler_init_temp(params.temperature));
    // A new chain per pass: every pass draws the same random sequence from the seed.
    api.llama_sampler_chain_add(chain_, api.llama_sampler_init_dist(params.seed));
  }
  SamplerChain(const SamplerChain&) = delete;
  SamplerChain& operator=(const SamplerChain&) = delete;
  ~SamplerChain() {
    if (chain_ != nullptr) api_.llama_sampler_free(chain_);
  }

  llama_sampler* get() const { return chain_; }

 private:
  const LlamaApi& api_;
  llama_sampler* chain_;
};

}  // namespace

EngineContext::EngineContext(const Engine& engine, llama_context* ctx, int32_t n_batch,
                             std::unique_ptr<AbortWatch> watch)
    : engine_(engine), api_(engine.api()), ctx_(ctx), n_batch_(n_batch), watch_(std::move(watch)) {}

EngineContext::~EngineContext() {
  api_.llama_free(ctx_);
}

uint32_t EngineContext::context_length() const {
  return api_.llama_n_ctx_seq(ctx_);
}

Result<std::string> EngineContext::generate(std::string_view prompt, uint32_t max_new_tokens,
                                            const SamplingParams& params,
                                            const GenerationControl& control) {
  return run_pass(prompt, max_new_tokens, params, control, 0);
}

Result<std::vector<std::string>> EngineContext::generate_many(
    const std::vector<PromptRequest>& prompts, const SamplingParams& params,
    const OnResult& on_result, const GenerationControl& control) {
  std::vector<std::string> results(prompts.size());
  for (std::size_t i = 0; i < prompts.size(); ++i) {
    auto text = run_pass(prompts[i].prompt, prompts[i].max_new_tokens, params, control, i);
    if (!text) return std::unexpected(text.error());
    bool go_on = on_result ? on_result(i, *text) : true;
    results[i] = std::move(*text);
    if (!go_on) break;
  }
  return results;
}

Result<std::vector<llama_token>> EngineContext::tokenize(std::string_view prompt) const {
  constexpr const char* too_small = "tokenization failed (buffer too small?)";
  // A prompt never has more tokens than bytes, plus the few specials the tokenizer adds.
  if (prompt.size() > static_cast<std::size_t>(INT32_MAX - 16)) {
    return std::unexpected(engine_error(too_small));
  }
  const auto length = static_cast<int32_t>(prompt.size());
  std::vector<llama_token> tokens(static_cast<std::size_t>(length) + 16);
  int32_t count = api_.llama_tokenize(engine_.vocab(), prompt.data(), length, tokens.data(),
                                      static_cast<int32_t>(tokens.size()), true, true);
  if (count < 0) return std::unexpected(engine_error(too_small));
  tokens.resize(static_cast<std::size_t>(count));
  return tokens;
}

// Keeps the part of sequence 0 that matches the leading `tokens` and returns its length K;
// the memory then holds exactly positions [0, K).
int32_t EngineContext::keep_common_prefix(const std::vector<llama_token>& tokens) {
  const auto n = static_cast<int32_t>(tokens.size());
  int32_t k = 0;
  if (reuse_prefix) {
    auto mismatch =
        std::mismatch(prompt_tokens_.begin(), prompt_tokens_.end(), tokens.begin(), tokens.end());
    k = static_cast<int32_t>(mismatch.second - tokens.begin());
  }
  // The last prompt token is always decoded again: sampling needs its fresh logits.
  if (k == n) k = n - 1;

  llama_memory_t mem = api_.llama_get_memory(ctx_);
  if (k == 0) {
    clear_memory();
  } else {
    api_.llama_memory_seq_keep(mem, 0);
    api_.llama_memory_seq_rm(mem, 0, k, -1);
    // A sliding-window memory may have dropped early positions already; a sequence that no
    // longer starts at 0 cannot be continued, so start over.
    if (api_.llama_memory_seq_pos_min(mem, 0) > 0) {
      clear_memory();
      k = 0;
    }
  }
  prompt_tokens_ = tokens;
  return k;
}

// A memory with no prompt recorded holds nothing and its buffers are zero already; zeroing
// 8192 positions again would cost tens of milliseconds at the start of every call.
void EngineContext::clear_memory() {
  if (prompt_tokens_.empty()) return;
  api_.llama_memory_clear(api_.llama_get_memory(ctx_), true);
}

Result<void> EngineContext::decode_prompt(int32_t from, const Pass& pass) {
  const auto n = static_cast<int32_t>(prompt_tokens_.size());
  pass.report(static_cast<uint64_t>(from));
  for (int32_t pos = from; pos < n;) {
    int32_t chunk = std::min(n_batch_, n - pos);
    int32_t rc =
        stopped(pass.control)
            ? 2
            : api_.llama_decode(ctx_, api_.llama_batch_get_one(prompt_tokens_.data() + pos, chunk));
    if (rc != 0) {
      // The memory no longer matches any recorded prompt.
      clear_memory();
      prompt_tokens_.clear();
      if (stopped(pass.control)) return std::unexpected(cancelled_error());
      return std::unexpected(
          engine_error(fmt::format("llama_decode failed on prompt (rc {})", rc)));
    }
    counters.prompt_tokens_decoded += static_cast<uint64_t>(chunk);
    pos += chunk;
    pass.report(static_cast<uint64_t>(pos));
  }
  return {};
}

Result<std::string> EngineContext::sample_output(llama_sampler* chain, int64_t budget,
                                                 const Pass& pass) {
  std::string output;
  char piece[PIECE_BUFFER];
  const uint64_t prompt_tokens = prompt_tokens_.size();
  for (int64_t i = 0; i < budget; ++i) {
    if (stopped(pass.control)) return std::unexpected(cancelled_error());
    llama_token token = api_.llama_sampler_sample(chain, ctx_, -1);
    if (api_.llama_vocab_is_eog(engine_.vocab(), token)) break;
    // A piece longer than the buffer gives a negative length and adds nothing.
    int32_t n = api_.llama_token_to_piece(engine_.vocab(), token, piece, PIECE_BUFFER, 0, false);
    if (n > 0) output.append(piece, static_cast<std::size_t>(n));
    int32_t rc = api_.llama_decode(ctx_, api_.llama_batch_get_one(&token, 1));
    if (rc != 0) {
      if (stopped(pass.control)) return std::unexpected(cancelled_error());
      return std::unexpected(engine_error(fmt::format("llama_decode failed (rc {})", rc)));
    }
    ++counters.tokens_generated;
    pass.report(prompt_tokens + static_cast<uint64_t>(i) + 1);
  }
  return output;
}

Result<std::string> EngineContext::run_pass(std::string_view prompt, uint32_t max_new_tokens,
                                            const SamplingParams& params,
                                            const GenerationControl& control, std::size_t index) {
  if (stopped(control)) return std::unexpected(cancelled_error());
  // The abort hook reads this call's token while a decode computes; it is set here, before
  // any decode, on the one thread that uses the context.
  if (watch_) watch_->stop = control.stop;
  if (prompt.find('\0') != std::string_view::npos) {
    return std::unexpected(engine_error("prompt contains NUL byte"));
  }
  // A prompt that cannot fit even if every token were the vocabulary's longest is refused
  // from its size: the tokenizer takes time quadratic in the length of a word and tens of
  // bytes of memory per byte, which a hostile paragraph of megabytes would turn into
  // minutes and gigabytes.
  if (prompt.size() / engine_.longest_piece() >= context_length()) {
    return std::unexpected(engine_error(fmt::format(
        "prompt too long: {} bytes for a {} token context", prompt.size(), context_length())));
  }
  auto tokens = tokenize(prompt);
  if (!tokens) return std::unexpected(tokens.error());
  // Only a model without start-of-sequence token turns an empty prompt into no tokens, and
  // then there is nothing to continue from.
  if (tokens->empty()) return std::unexpected(engine_error("prompt produced no tokens"));
  const auto n = static_cast<int64_t>(tokens->size());
  const auto c = static_cast<int64_t>(context_length());
  if (n + CONTEXT_MARGIN >= c) {
    return std::unexpected(
        engine_error(fmt::format("prompt too long: {} tokens for a {} token context", n, c)));
  }

  // The chain comes first so that its failure leaves the memory and prompt record alone.
  SamplerChain chain(api_, params);
  if (chain.get() == nullptr)
    return std::unexpected(engine_error("failed to create sampler chain"));
  int32_t k = keep_common_prefix(*tokens);
  counters.prompt_tokens_reused += static_cast<uint64_t>(k);
  int64_t budget = std::min<int64_t>(c - n - CONTEXT_MARGIN, max_new_tokens);
  const Pass pass{control, index, static_cast<uint64_t>(n + budget)};
  if (auto decoded = decode_prompt(k, pass); !decoded) return std::unexpected(decoded.error());

  auto output = sample_output(chain.get(), budget, pass);
  if (!output) return output;
  if (!is_valid_utf8(*output)) {
    return std::unexpected(engine_error("model produced invalid UTF-8 at end of output"));
  }
  return output;
}

}  // namespace quorvel

#include "engine/llama_generator.h"

#include <fmt/format.h>

#include <algorithm>
#include <climits>
#include <deque>
#include <functional>
#include <optional>
#include <span>

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

// The sampler chain of one prompt.
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
    // A new chain per prompt: every prompt draws the same random sequence from the seed.
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

int32_t common_prefix(std::span<const llama_token> a, std::span<const llama_token> b) {
  auto mismatch = std::mismatch(a.begin(), a.end(), b.begin(), b.end());
  return static_cast<int32_t>(mismatch.first - a.begin());
}

}  // namespace

// One prompt of a call, tokenized and checked.
struct EngineContext::Job {
  std::size_t index = 0;
  std::vector<llama_token> tokens;
  int64_t budget = 0;  // tokens it may generate
  std::unique_ptr<SamplerChain> chain;
  Run* run = nullptr;

  int32_t size() const { return static_cast<int32_t>(tokens.size()); }
  uint64_t total() const { return static_cast<uint64_t>(size() + budget); }
};

// One generate or generate_many call.
struct EngineContext::Run {
  const GenerationControl& control;
  // Makes the job of the prompt at an index.
  std::function<Result<Job>(std::size_t index)> prepare;
  // Hands a finished prompt's text over; false ends the run.
  std::function<bool(std::size_t index, std::string text)> deliver;
  std::deque<std::size_t> queue;  // prompts not started, in order
  std::optional<Job> waiting;     // the queue's front, prepared
  std::optional<Error> error;     // the first prompt that failed; nothing starts after it
  bool closed = false;            // no prompt starts any more
  bool unwanted = false;          // the caller wants no more answers

  bool stopped() const { return control.stop.stop_requested(); }
};

// One sequence id of the context and the prompt it is working on, if any.
struct EngineContext::Sequence {
  llama_seq_id id = 0;
  // Prompt tokens in memory from position 0; after them the memory may hold `extra` more
  // cells (generated tokens), dropped when the sequence takes its next prompt.
  std::vector<llama_token> held;
  int64_t extra = 0;

  std::optional<Job> job;
  uint64_t admitted = 0;            // admission order: earlier prompts read first
  int32_t decoded = 0;              // the job's prompt tokens in memory
  std::optional<llama_token> next;  // sampled and still to be decoded, at `position`
  int32_t position = 0;
  int64_t produced = 0;
  std::string output;
  int32_t logits_at = -1;  // the batch row whose logits this sequence samples from

  bool busy() const { return job.has_value(); }
  bool serves(const Run& run) const { return busy() && job->run == &run; }
  bool reading() const { return busy() && decoded < job->size(); }
  // Cells of the cache this sequence may come to fill.
  int64_t reserved() const {
    return busy() ? job->size() + job->budget : static_cast<int64_t>(held.size()) + extra;
  }
  void report(uint64_t done) const {
    const auto& control = job->run->control;
    if (control.on_tokens) control.on_tokens(job->index, done, job->total());
  }
};

EngineContext::EngineContext(const Engine& engine, llama_context* ctx, int32_t n_batch,
                             std::unique_ptr<AbortWatch> watch, int32_t sequences)
    : engine_(engine),
      api_(engine.api()),
      ctx_(ctx),
      n_batch_(n_batch),
      watch_(std::move(watch)),
      batch_(api_.llama_batch_init(n_batch, 0, 1)),
      sequences_(static_cast<std::size_t>(std::max(1, sequences))) {
  for (std::size_t i = 0; i < sequences_.size(); ++i) {
    sequences_[i].id = static_cast<llama_seq_id>(i);
  }
}

EngineContext::~EngineContext() {
  api_.llama_batch_free(batch_);
  api_.llama_free(ctx_);
}

uint32_t EngineContext::context_length() const {
  return api_.llama_n_ctx_seq(ctx_);
}

int32_t EngineContext::sequences() const {
  return static_cast<int32_t>(sequences_.size());
}

const std::vector<llama_token>& EngineContext::prompt_tokens() const {
  return sequences_.front().held;
}

// Between calls only the cells' bookkeeping is cleared: what earlier calls computed stays in
// the buffers as finite numbers that no attention reads again, and zeroing them would take
// tens of milliseconds.
void EngineContext::reset() {
  if (runs_.empty()) clear_all(false);
}

// A memory with nothing recorded holds nothing and its buffers are zero already; zeroing
// 8192 positions again would cost tens of milliseconds at the start of every call.
void EngineContext::clear_all(bool zero) {
  bool holds = std::any_of(sequences_.begin(), sequences_.end(),
                           [](const Sequence& s) { return !s.held.empty() || s.extra > 0; });
  if (holds) api_.llama_memory_clear(api_.llama_get_memory(ctx_), zero);
  for (auto& s : sequences_) {
    s.held.clear();
    s.extra = 0;
  }
}

// Drops what one sequence holds; when it is the only one holding anything, the whole memory
// is cleared as on a fresh context.
void EngineContext::forget(Sequence& sequence) {
  bool others = std::any_of(sequences_.begin(), sequences_.end(), [&](const Sequence& s) {
    return &s != &sequence && (!s.held.empty() || s.extra > 0 || s.busy());
  });
  if (!others) {
    clear_all(true);
    return;
  }
  api_.llama_memory_seq_rm(api_.llama_get_memory(ctx_), sequence.id, -1, -1);
  sequence.held.clear();
  sequence.extra = 0;
}

Result<std::string> EngineContext::generate(std::string_view prompt, uint32_t max_new_tokens,
                                            const SamplingParams& params,
                                            const GenerationControl& control) {
  return run_one(prompt, max_new_tokens, params, control, 0);
}

Result<std::string> EngineContext::run_one(std::string_view prompt, uint32_t max_new_tokens,
                                           const SamplingParams& params,
                                           const GenerationControl& control, std::size_t index) {
  std::optional<std::string> answer;
  Run run{control, {}, [&](std::size_t, std::string text) {
            answer = std::move(text);
            return true;
          }};
  // A refused prompt fails before the memory is touched.
  auto job = prepare(prompt, max_new_tokens, params, control, index, run);
  if (!job) return std::unexpected(job.error());
  run.queue.push_back(index);
  run.waiting = std::move(*job);
  if (auto ran = this->run(run); !ran) return std::unexpected(ran.error());
  if (!answer) return std::unexpected(cancelled_error());
  return std::move(*answer);
}

Result<std::vector<std::string>> EngineContext::generate_many(
    const std::vector<PromptRequest>& prompts, const SamplingParams& params,
    const OnResult& on_result, const GenerationControl& control) {
  std::vector<std::string> results(prompts.size());
  if (prompts.empty()) return results;
  Run run{control,
          [&](std::size_t i) {
            return prepare(prompts[i].prompt, prompts[i].max_new_tokens, params, control, i, run);
          },
          [&](std::size_t i, std::string text) {
            bool go_on = on_result ? on_result(i, text) : true;
            results[i] = std::move(text);
            return go_on;
          }};
  for (std::size_t i = 0; i < prompts.size(); ++i) run.queue.push_back(i);
  if (auto ran = this->run(run); !ran) return std::unexpected(ran.error());
  return results;
}

std::optional<std::size_t> EngineContext::prompt_bytes_limit() const {
  return engine_.longest_piece() * context_length();
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

Result<EngineContext::Job> EngineContext::prepare(std::string_view prompt, uint32_t max_new_tokens,
                                                  const SamplingParams& params,
                                                  const GenerationControl& control,
                                                  std::size_t index, Run& run) const {
  if (control.stop.stop_requested()) return std::unexpected(cancelled_error());
  if (prompt.find('\0') != std::string_view::npos) {
    return std::unexpected(engine_error("prompt contains NUL byte"));
  }
  // A prompt that cannot fit even if every token were the vocabulary's longest is refused
  // from its size: the tokenizer takes time quadratic in the length of a word and tens of
  // bytes of memory per byte, which a hostile paragraph of megabytes would turn into
  // minutes and gigabytes.
  if (prompt.size() >= *prompt_bytes_limit()) {
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
  auto chain = std::make_unique<SamplerChain>(api_, params);
  if (chain->get() == nullptr) {
    return std::unexpected(engine_error("failed to create sampler chain"));
  }
  Job job;
  job.index = index;
  job.tokens = std::move(*tokens);
  job.budget = std::min<int64_t>(c - n - CONTEXT_MARGIN, max_new_tokens);
  job.chain = std::move(chain);
  job.run = &run;
  return job;
}

Result<void> EngineContext::run(Run& run) {
  runs_.push_back(&run);
  auto mine = [&](const Sequence& s) { return s.serves(run); };
  Result<void> outcome;
  while (true) {
    if (!run.closed) admit(run);
    if (run.stopped()) {
      outcome = std::unexpected(cancelled_error());
      break;
    }
    if (std::none_of(sequences_.begin(), sequences_.end(), mine)) break;
    if (auto stepped = step(run); !stepped) {
      outcome = std::unexpected(stepped.error());
      break;
    }
  }
  // Whatever ends the run, its sequences let go of their prompts.
  for (auto& s : sequences_) {
    if (mine(s)) release(s);
  }
  runs_.pop_back();
  if (outcome && run.error) return std::unexpected(*run.error);
  return outcome;
}

// Starts the run's next prompts on idle sequences while the memory has room for them.
void EngineContext::admit(Run& run) {
  while (!run.closed && !run.queue.empty()) {
    bool alone = std::none_of(sequences_.begin(), sequences_.end(),
                              [&](const Sequence& s) { return s.serves(run); });
    bool idle = std::any_of(sequences_.begin(), sequences_.end(),
                            [](const Sequence& s) { return !s.busy(); });
    if (!idle && !alone) break;
    if (!run.waiting) {
      auto job = run.prepare(run.queue.front());
      if (!job) {
        run.error = job.error();
        run.closed = true;
        break;
      }
      run.waiting = std::move(*job);
    }
    if (!idle) evict_for(run.waiting->size() + run.waiting->budget);
    if (!place(*run.waiting, alone)) break;
    run.waiting.reset();
    run.queue.pop_front();
  }
}

// Puts `job` on an idle sequence, starting from the longest prefix of its tokens that any
// sequence holds. False when it should wait: for memory, or for a prompt of its own call
// that is still being read and would give it a longer prefix. `may_evict` lets it push the
// prompts of outer calls out of memory (they start again later).
bool EngineContext::place(Job& job, bool may_evict) {
  const int32_t n = job.size();
  Sequence* source = nullptr;
  int32_t k = 0;
  if (reuse_prefix) {
    for (auto& s : sequences_) {
      std::span<const llama_token> have = s.held;
      if (s.busy()) {
        const int32_t whole = common_prefix(s.job->tokens, job.tokens);
        if (s.reading() && s.job->run == job.run && whole > s.decoded) return false;
        have = std::span(s.job->tokens).first(static_cast<std::size_t>(s.decoded));
      }
      const int32_t common = common_prefix(have, job.tokens);
      if (common > k) {
        k = common;
        source = &s;
      }
    }
  }
  // The last prompt token is always decoded again: sampling needs its fresh logits.
  if (k == n) k = n - 1;
  if (k == 0) source = nullptr;

  const int64_t capacity = api_.llama_n_ctx(ctx_);
  const int64_t need = n + job.budget;
  int64_t busy = 0;
  for (const auto& s : sequences_) busy += s.busy() ? s.reserved() : 0;
  if (busy + need > capacity) {
    if (!may_evict) return false;
    evict_for(need);
    return place(job, false);
  }

  Sequence* target = source != nullptr && !source->busy() ? source : nullptr;
  for (auto& s : sequences_) {
    if (target == source && target != nullptr) break;
    if (!s.busy() && (target == nullptr || s.reserved() < target->reserved())) target = &s;
  }
  llama_memory_t mem = api_.llama_get_memory(ctx_);
  if (source == nullptr) {
    k = 0;
    if (!target->held.empty() || target->extra > 0) forget(*target);
  } else if (source == target) {
    api_.llama_memory_seq_rm(mem, target->id, k, -1);
  } else {
    if (!target->held.empty() || target->extra > 0) {
      api_.llama_memory_seq_rm(mem, target->id, -1, -1);
    }
    api_.llama_memory_seq_cp(mem, source->id, target->id, 0, k);
  }
  target->held.assign(job.tokens.begin(), job.tokens.begin() + k);
  target->extra = 0;
  // A sliding-window memory may have dropped early positions already; a sequence that no
  // longer starts at 0 cannot be continued, so start over.
  if (k > 0 && api_.llama_memory_seq_pos_min(mem, target->id) > 0) {
    forget(*target);
    k = 0;
  }
  // Idle sequences give their memory back while the new prompt would not fit beside them.
  int64_t total = need;
  for (const auto& s : sequences_) total += &s == target ? 0 : s.reserved();
  for (auto& s : sequences_) {
    if (total <= capacity) break;
    if (&s == target || s.busy() || s.reserved() == 0) continue;
    total -= s.reserved();
    forget(s);
  }

  counters.prompt_tokens_reused += static_cast<uint64_t>(k);
  target->job = std::move(job);
  target->admitted = ++admissions_;
  target->decoded = k;
  target->next.reset();
  target->position = 0;
  target->produced = 0;
  target->output.clear();
  target->report(static_cast<uint64_t>(k));
  return true;
}

// Frees an idle sequence and room for a prompt of `need` cells by sending the latest prompts
// of outer calls back to their queues.
void EngineContext::evict_for(int64_t need) {
  const int64_t capacity = api_.llama_n_ctx(ctx_);
  while (true) {
    int64_t busy = need;
    bool idle = false;
    Sequence* latest = nullptr;
    for (auto& s : sequences_) {
      idle = idle || !s.busy();
      if (!s.busy()) continue;
      busy += s.reserved();
      if (latest == nullptr || s.admitted > latest->admitted) latest = &s;
    }
    if ((busy <= capacity && idle) || latest == nullptr) return;
    Run& owner = *latest->job->run;
    owner.queue.push_front(latest->job->index);
    owner.waiting.reset();
    release(*latest);
    ++counters.prompts_restarted;
  }
}

// Ends a sequence's prompt: its tokens stay recorded with the output after them, unless the
// prompt was only partly read, which is forgotten.
void EngineContext::release(Sequence& sequence) {
  const bool half_read = sequence.reading();
  sequence.held = std::move(sequence.job->tokens);
  sequence.extra = sequence.produced;
  sequence.job.reset();
  if (half_read) forget(sequence);
}

// One decode for the run's sequences: the next token of each one generating, then prompt
// chunks of those reading, earliest first; then sampling and handing over finished answers.
Result<void> EngineContext::step(Run& run) {
  batch_.n_tokens = 0;
  auto add = [&](llama_token token, int32_t position, llama_seq_id seq, bool logits) {
    const int32_t row = batch_.n_tokens++;
    batch_.token[row] = token;
    batch_.pos[row] = position;
    batch_.n_seq_id[row] = 1;
    batch_.seq_id[row][0] = seq;
    batch_.logits[row] = logits ? 1 : 0;
    return row;
  };
  std::vector<Sequence*> generating;
  std::vector<std::pair<Sequence*, int32_t>> reading;
  for (auto& s : sequences_) {
    s.logits_at = -1;
    if (!s.serves(run)) continue;
    if (s.next) {
      s.logits_at = add(*s.next, s.position, s.id, true);
      generating.push_back(&s);
    } else if (s.reading()) {
      reading.emplace_back(&s, 0);
    }
  }
  std::sort(reading.begin(), reading.end(),
            [](const auto& a, const auto& b) { return a.first->admitted < b.first->admitted; });
  for (auto& [s, chunk] : reading) {
    chunk = std::min(n_batch_ - batch_.n_tokens, s->job->size() - s->decoded);
    for (int32_t i = 0; i < chunk; ++i) {
      const int32_t position = s->decoded + i;
      const int32_t row = add(s->job->tokens[static_cast<std::size_t>(position)], position, s->id,
                              position + 1 == s->job->size());
      if (position + 1 == s->job->size()) s->logits_at = row;
    }
  }

  // The abort hook reads the stop of the call decoding now.
  if (watch_) watch_->stop = run.control.stop;
  const int32_t rc = run.stopped() ? 2 : api_.llama_decode(ctx_, batch_);
  ++counters.decodes;
  if (rc != 0) {
    if (run.stopped()) return std::unexpected(cancelled_error());
    const bool on_prompt =
        std::any_of(reading.begin(), reading.end(), [](const auto& r) { return r.second > 0; });
    return std::unexpected(
        engine_error(on_prompt ? fmt::format("llama_decode failed on prompt (rc {})", rc)
                               : fmt::format("llama_decode failed (rc {})", rc)));
  }
  for (auto& [s, chunk] : reading) {
    if (chunk == 0) continue;
    s->decoded += chunk;
    counters.prompt_tokens_decoded += static_cast<uint64_t>(chunk);
    s->report(static_cast<uint64_t>(s->decoded));
  }
  for (Sequence* s : generating) s->next.reset();

  // Sample every sequence with fresh logits before handing anything over: a receiver may
  // run a call of its own on this context.
  std::vector<Sequence*> finished;
  char piece[PIECE_BUFFER];
  for (auto& s : sequences_) {
    if (s.logits_at < 0) continue;
    Job& job = *s.job;
    if (s.produced < job.budget) {
      llama_token token = api_.llama_sampler_sample(job.chain->get(), ctx_, s.logits_at);
      if (!api_.llama_vocab_is_eog(engine_.vocab(), token)) {
        // A piece longer than the buffer gives a negative length and adds nothing.
        int32_t n =
            api_.llama_token_to_piece(engine_.vocab(), token, piece, PIECE_BUFFER, 0, false);
        if (n > 0) s.output.append(piece, static_cast<std::size_t>(n));
        s.position = job.size() + static_cast<int32_t>(s.produced);
        ++s.produced;
        ++counters.tokens_generated;
        s.report(static_cast<uint64_t>(job.size() + s.produced));
        if (s.produced < job.budget) {
          s.next = token;
          continue;
        }
      }
    }
    finished.push_back(&s);
  }

  for (Sequence* s : finished) {
    // An answer handed over before may have ended the run, or a call made on receiving it
    // may have sent this prompt back to the queue.
    if (!s->serves(run)) continue;
    const std::size_t index = s->job->index;
    std::string output = std::move(s->output);
    release(*s);
    if (run.unwanted) continue;
    if (!is_valid_utf8(output)) {
      if (!run.error) run.error = engine_error("model produced invalid UTF-8 at end of output");
      run.closed = true;
      continue;
    }
    if (!run.deliver(index, std::move(output))) {
      run.closed = run.unwanted = true;
      for (auto& other : sequences_) {
        if (other.serves(run)) release(other);
      }
    }
  }
  return {};
}

}  // namespace quorvel

// Engine benchmarks on the real llama.cpp engine. Each mode prints one JSON object on stdout;
// bench/run.py runs them, alternates them with llama-bench and builds the report.
//
//   engine_bench speed MODEL THREADS PROMPT_TOKENS GEN_TOKENS REPS [pp|tg]
//       Prompt processing and generation speed of EngineContext::generate, the path every
//       translation takes. Per repetition: a PROMPT_TOKENS-token translation prompt decoded
//       from an empty memory (prompt tokens/s), then GEN_TOKENS tokens generated after the
//       same prompt, sampled as the first translation attempt does and greedily as the retry
//       does (generated tokens/s); "pp" or "tg" measures only one of the two. Also the times
//       of binding, model load and context creation, and of sampling one token.
//
//   engine_bench reuse MODEL PARAGRAPHS GEN_TOKENS
//       A document of PARAGRAPHS paragraphs run through generate_many as the pipeline does,
//       on a fresh context with prefix reuse and again without: prompt tokens submitted and
//       decoded, and the time of each run.
//
//   engine_bench remote URLS PARAGRAPHS GEN_TOKENS
//       The same document through the remote engine: URLS as TRANSLATE_LLM_URL takes them
//       (llama-server processes started by bench/remote.sh); the time of the run and the
//       prompts each server took.
//
//   engine_bench paired MODEL THREADS PROMPT_TOKENS GEN_TOKENS REPS
//       Where a gap to llama-bench comes from, with the machine's minute-to-minute noise
//       taken out: in one process and in quick alternation, our generate path against
//       llama-bench's own loops (bare decodes of the same tokens, no sampling) on a context
//       made as the server makes it, and the same loops on a context made as llama-bench
//       makes it (just large enough, no full-size sliding-window cache). Per repetition
//       the prompt and generation speed of each, and the ratios within the repetition.
//
//   engine_bench parallel MODEL PARALLEL GEN_TOKENS PARAGRAPHS
//       Prompts decoded together. Aggregate generation speed: PARALLEL paragraphs answered
//       at once, GEN_TOKENS tokens each, timed against the same prompts with no output so
//       that reading the prompts is taken off. Then a document of PARAGRAPHS paragraphs
//       through generate_many as the pipeline runs it, each answer as long as its paragraph
//       in tokens (a random-weight model never stops by itself), greedy: its time, the
//       decodes and the answers, to compare between runs. PARAGRAPHS 0 skips it.
//
//   engine_bench memory MODEL
//       Resident memory (current and peak, with the mapped model file's share) after loading
//       the model, after making the context, and after one call of four paragraphs; the time
//       of making the context and of emptying it for the next call.
//
// The engine is the fetched one in .cache/engine/lib unless TRANSLATE_LLM_DIR names another.

#include <fmt/core.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "engine/llama_api.h"
#include "engine/model.h"
#include "engine/remote/remote_generator.h"
#include "engine/remote/settings.h"
#include "platform/env.h"
#include "platform/system.h"
#include "translation/prompt.h"

namespace {

using namespace quorvel;
using json = nlohmann::json;
using Clock = std::chrono::steady_clock;

// The sampling of the pipeline's first attempt and of its greedy retry.
constexpr SamplingParams SAMPLED{0.2f, 64, 0.95f, 24301};
constexpr SamplingParams GREEDY{0.0f, 64, 0.95f, 24301};

const TranslationRequest ENGLISH_TO_FRENCH{"fr", "en"};

const char* const SENTENCES[] = {
    "The quarterly report shows steady growth in every region.",
    "Please send the signed contract back before Friday.",
    "Our office will be closed on the public holiday.",
    "The new version fixes the crash when saving large files.",
    "Thank you for your patience while we review your request.",
    "Costs stayed flat while revenue rose by twelve percent.",
    "The meeting has been moved to the large conference room.",
    "Remember to back up your files before the upgrade.",
    "Delivery usually takes three to five working days.",
    "The museum is open every day except Monday.",
    "Several customers asked whether the warranty covers accidental damage.",
    "A second survey will follow in the spring to confirm these results.",
    "The board approved the budget after a long discussion about hiring.",
    "Water levels in the northern reservoirs are lower than last year.",
    "Each team lead should review the schedule and report any conflicts.",
    "The library extended its opening hours during the examination period.",
    "Our engineers traced the outage to a faulty network switch.",
    "Visitors must register at the front desk and wear a badge at all times.",
    "The recipe calls for fresh herbs, olive oil and a pinch of salt.",
    "Train services between the two cities resume on Monday morning.",
    "The committee will publish its findings at the end of the month.",
    "Please keep your receipt in case you need to return the item.",
};

double seconds_since(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

[[noreturn]] void die(const std::string& what, const Error& error) {
  fmt::print(stderr, "engine_bench: {}: {}\n", what, error.message);
  std::exit(1);
}

struct LoadedEngine {
  Engine engine;
  double bind_seconds;
  double load_seconds;
};

LoadedEngine load(const std::string& model_path) {
  const char* dir = std::getenv("TRANSLATE_LLM_DIR");
  std::string engine_dir = dir != nullptr ? dir : QUORVEL_SOURCE_DIR "/.cache/engine/lib";
  auto start = Clock::now();
  auto api = bind_runtime(engine_dir);
  if (!api) die("binding " + engine_dir, api.error());
  double bind_seconds = seconds_since(start);
  start = Clock::now();
  auto engine = load_model(*api, model_path, gpu_layers_for(engine_dir));
  if (!engine) die("loading", engine.error());
  return {std::move(*engine), bind_seconds, seconds_since(start)};
}

std::vector<llama_token> tokens_of(const Engine& engine, const std::string& text) {
  std::vector<llama_token> tokens(text.size() + 16);
  int32_t n =
      engine.api().llama_tokenize(engine.vocab(), text.data(), static_cast<int32_t>(text.size()),
                                  tokens.data(), static_cast<int32_t>(tokens.size()), true, true);
  tokens.resize(n < 0 ? 0 : static_cast<std::size_t>(n));
  return tokens;
}

std::size_t token_count(const Engine& engine, const std::string& text) {
  return tokens_of(engine, text).size();
}

// The longest translation prompt over a passage of SENTENCES that has at most `tokens`
// tokens; the passage is cut by bytes, so the prompt usually has exactly `tokens`.
std::string prompt_of_length(const Engine& engine, std::size_t tokens) {
  std::string passage;
  for (std::size_t i = 0; passage.size() < tokens * 8; ++i) {
    passage += SENTENCES[i % std::size(SENTENCES)];
    passage += ' ';
  }
  std::size_t low = 0, high = passage.size();
  while (low < high) {
    std::size_t mid = (low + high + 1) / 2;
    if (token_count(engine, build_prompt(ENGLISH_TO_FRENCH, passage.substr(0, mid))) <= tokens)
      low = mid;
    else
      high = mid - 1;
  }
  return build_prompt(ENGLISH_TO_FRENCH, passage.substr(0, low));
}

// A context as a tool call makes it (the tuning variables apply), with `threads` threads
// when that is above 0.
std::unique_ptr<EngineContext> new_context(const Engine& engine, int32_t threads) {
  ContextSettings settings = context_settings(&env_var, logical_processor_count());
  if (threads > 0) settings.threads = threads;
  auto ctx = create_context(engine, settings);
  if (!ctx) die("context", ctx.error());
  return std::move(*ctx);
}

double timed_generate(EngineContext& ctx, const std::string& prompt, uint32_t max_new_tokens,
                      const SamplingParams& params) {
  auto start = Clock::now();
  auto text = ctx.generate(prompt, max_new_tokens, params);
  double seconds = seconds_since(start);
  if (!text) die("generation", text.error());
  return seconds;
}

// Generated tokens per second after `prompt`, which must be in the context's memory. The
// pass re-decodes the prompt's last token before generating (prefix reuse keeps the rest),
// so the time of a pass that generates nothing is taken off.
double generation_speed(EngineContext& ctx, const std::string& prompt, uint32_t gen,
                        const SamplingParams& params) {
  ctx.reuse_prefix = true;
  double overhead = timed_generate(ctx, prompt, 0, params);
  uint64_t before = ctx.counters.tokens_generated;
  double seconds = timed_generate(ctx, prompt, gen, params);
  return static_cast<double>(ctx.counters.tokens_generated - before) / (seconds - overhead);
}

// Milliseconds one llama_sampler_sample call takes on the context's current logits, with
// the sampler chain a generation pass builds: the per-token cost the engine adds to the
// model's own decode, which llama-bench does not pay.
double sampling_ms(const Engine& engine, EngineContext& ctx, const SamplingParams& params) {
  const LlamaApi& api = engine.api();
  llama_sampler* chain = api.llama_sampler_chain_init(api.llama_sampler_chain_default_params());
  if (params.temperature <= 0.0f) {
    api.llama_sampler_chain_add(chain, api.llama_sampler_init_greedy());
  } else {
    api.llama_sampler_chain_add(chain, api.llama_sampler_init_top_k(params.top_k));
    api.llama_sampler_chain_add(chain, api.llama_sampler_init_top_p(params.top_p, 1));
    api.llama_sampler_chain_add(chain, api.llama_sampler_init_temp(params.temperature));
    api.llama_sampler_chain_add(chain, api.llama_sampler_init_dist(params.seed));
  }
  constexpr int CALLS = 200;
  auto start = Clock::now();
  for (int i = 0; i < CALLS; ++i) api.llama_sampler_sample(chain, ctx.context(), -1);
  double ms = seconds_since(start) * 1e3 / CALLS;
  api.llama_sampler_free(chain);
  return ms;
}

struct SpeedTests {
  bool prompt = true;      // prompt processing from an empty memory
  bool generation = true;  // generation after the prompt
};

int speed(const std::string& model, int32_t threads, std::size_t prompt_tokens, uint32_t gen,
          int reps, SpeedTests tests) {
  LoadedEngine loaded = load(model);
  std::string prompt = prompt_of_length(loaded.engine, prompt_tokens);
  auto start = Clock::now();
  auto ctx = new_context(loaded.engine, threads);
  double context_seconds = seconds_since(start);

  // Warm-up, as llama-bench warms up before measuring: the whole prompt, and a few tokens
  // when generation is measured.
  ctx->reuse_prefix = false;
  timed_generate(*ctx, prompt, tests.generation ? 4 : 0, SAMPLED);

  json pp = json::array(), tg_sampled = json::array(), tg_greedy = json::array();
  for (int rep = 0; rep < reps; ++rep) {
    if (tests.prompt) {
      ctx->reuse_prefix = false;
      uint64_t before = ctx->counters.prompt_tokens_decoded;
      double seconds = timed_generate(*ctx, prompt, 0, SAMPLED);
      pp.push_back(static_cast<double>(ctx->counters.prompt_tokens_decoded - before) / seconds);
    }
    if (tests.generation) {
      tg_sampled.push_back(generation_speed(*ctx, prompt, gen, SAMPLED));
      tg_greedy.push_back(generation_speed(*ctx, prompt, gen, GREEDY));
    }
  }
  json out = {{"mode", "speed"},
              {"threads", threads},
              {"prompt_tokens", token_count(loaded.engine, prompt)},
              {"gen_tokens", gen},
              {"bind_ms", loaded.bind_seconds * 1e3},
              {"load_ms", loaded.load_seconds * 1e3},
              {"context_ms", context_seconds * 1e3},
              {"pp_ts", pp},
              {"tg_sampled_ts", tg_sampled},
              {"tg_greedy_ts", tg_greedy}};
  if (tests.generation) {
    // The context's logits are those of the last generated token.
    out["sample_ms_sampled"] = sampling_ms(loaded.engine, *ctx, SAMPLED);
    out["sample_ms_greedy"] = sampling_ms(loaded.engine, *ctx, GREEDY);
  }
  fmt::print("{}\n", out.dump());
  return 0;
}

// --- our path against llama-bench's loops, in one process --------------------------------------

// llama-bench's prompt test: an emptied memory, the tokens in batches, then a wait for the
// result. Tokens per second.
double bare_prompt(const LlamaApi& api, llama_context* ctx, std::vector<llama_token>& tokens) {
  api.llama_memory_clear(api.llama_get_memory(ctx), false);
  auto start = Clock::now();
  for (std::size_t pos = 0; pos < tokens.size(); pos += PROMPT_BATCH) {
    auto chunk = static_cast<int32_t>(std::min<std::size_t>(PROMPT_BATCH, tokens.size() - pos));
    if (api.llama_decode(ctx, api.llama_batch_get_one(tokens.data() + pos, chunk)) != 0)
      die("decode", Error{ErrorKind::engine, "llama_decode failed", {}});
  }
  api.llama_get_logits_ith(ctx, -1);
  return static_cast<double>(tokens.size()) / seconds_since(start);
}

// llama-bench's generation test after whatever the memory holds: one token at a time, no
// sampling; the tokens fed back are the prompt's, so any vocabulary has them. Tokens per
// second.
double bare_generation(const LlamaApi& api, llama_context* ctx,
                       const std::vector<llama_token>& tokens, uint32_t gen) {
  auto start = Clock::now();
  for (uint32_t i = 0; i < gen; ++i) {
    llama_token token = tokens[i % tokens.size()];
    if (api.llama_decode(ctx, api.llama_batch_get_one(&token, 1)) != 0)
      die("decode", Error{ErrorKind::engine, "llama_decode failed", {}});
    api.llama_get_logits_ith(ctx, -1);
  }
  return gen / seconds_since(start);
}

// A context with llama-bench's settings: room for the test and no more, and sliding-window
// layers that keep only their window.
std::unique_ptr<EngineContext> bench_style_context(const Engine& engine, int32_t threads,
                                                   uint32_t positions) {
  const LlamaApi& api = engine.api();
  llama_context_params params = api.llama_context_default_params();
  params.n_ctx = positions;
  params.n_batch = PROMPT_BATCH;
  params.n_threads = threads;
  params.n_threads_batch = threads;
  params.swa_full = false;
  llama_context* ctx = api.llama_init_from_model(engine.model(), params);
  if (ctx == nullptr) die("context", Error{ErrorKind::engine, "failed to create context", {}});
  return std::make_unique<EngineContext>(engine, ctx, static_cast<int32_t>(PROMPT_BATCH));
}

int paired(const std::string& model, int32_t threads, std::size_t prompt_tokens, uint32_t gen,
           int reps) {
  LoadedEngine loaded = load(model);
  const LlamaApi& api = loaded.engine.api();
  std::string prompt = prompt_of_length(loaded.engine, prompt_tokens);
  std::vector<llama_token> tokens = tokens_of(loaded.engine, prompt);
  auto ours = new_context(loaded.engine, threads);
  auto server = new_context(loaded.engine, threads);  // only its llama_context is used
  auto bench =
      bench_style_context(loaded.engine, threads, static_cast<uint32_t>(tokens.size()) + gen + 16);

  // Warm-up of all three.
  ours->reuse_prefix = false;
  timed_generate(*ours, prompt, 4, SAMPLED);
  for (auto* ctx : {server->context(), bench->context()}) {
    bare_prompt(api, ctx, tokens);
    bare_generation(api, ctx, tokens, 4);
  }

  json runs = json::array();
  for (int rep = 0; rep < reps; ++rep) {
    json run;
    ours->reuse_prefix = false;
    uint64_t before = ours->counters.prompt_tokens_decoded;
    double seconds = timed_generate(*ours, prompt, 0, SAMPLED);
    run["ours_pp"] = static_cast<double>(ours->counters.prompt_tokens_decoded - before) / seconds;
    run["server_pp"] = bare_prompt(api, server->context(), tokens);
    run["bench_pp"] = bare_prompt(api, bench->context(), tokens);
    run["ours_tg"] = generation_speed(*ours, prompt, gen, SAMPLED);
    run["server_tg"] = bare_generation(api, server->context(), tokens, gen);
    run["bench_tg"] = bare_generation(api, bench->context(), tokens, gen);
    for (const char* test : {"pp", "tg"}) {
      double o = run[fmt::format("ours_{}", test)], sv = run[fmt::format("server_{}", test)],
             b = run[fmt::format("bench_{}", test)];
      // ours / bare on the same context: what our path adds; bare server / bare bench: what
      // the server's context settings cost.
      run[fmt::format("path_ratio_{}", test)] = o / sv;
      run[fmt::format("context_ratio_{}", test)] = sv / b;
      run[fmt::format("ratio_{}", test)] = o / b;
    }
    fmt::print(stderr, "paired {}: {}\n", rep + 1, run.dump());
    runs.push_back(run);
  }
  json out = {{"mode", "paired"},
              {"threads", threads},
              {"prompt_tokens", tokens.size()},
              {"gen_tokens", gen},
              {"runs", runs}};
  fmt::print("{}\n", out.dump());
  return 0;
}

// Distinct paragraphs of two to four sentences, as a report's body text would be.
std::vector<std::string> paragraphs(std::size_t count) {
  std::vector<std::string> out;
  const std::size_t n = std::size(SENTENCES);
  for (std::size_t i = 0; i < count; ++i) {
    std::string paragraph;
    std::size_t sentences = 2 + i % 3;
    for (std::size_t s = 0; s < sentences; ++s) {
      if (s) paragraph += ' ';
      paragraph += SENTENCES[(i * 7 + s * 5 + i / n) % n];
    }
    out.push_back(std::move(paragraph));
  }
  return out;
}

int reuse(const std::string& model, std::size_t count, uint32_t gen) {
  LoadedEngine loaded = load(model);
  std::vector<PromptRequest> prompts;
  std::size_t submitted = 0;
  for (const auto& paragraph : paragraphs(count)) {
    prompts.push_back({build_prompt(ENGLISH_TO_FRENCH, paragraph), gen});
    submitted += token_count(loaded.engine, prompts.back().prompt);
  }
  json out = {{"mode", "reuse"},
              {"paragraphs", count},
              {"gen_tokens", gen},
              {"prompt_tokens_submitted", submitted}};
  for (bool reuse_prefix : {true, false}) {
    auto ctx = new_context(loaded.engine, 0);
    ctx->reuse_prefix = reuse_prefix;
    auto start = Clock::now();
    auto results = ctx->generate_many(prompts, SAMPLED, nullptr);
    double seconds = seconds_since(start);
    if (!results) die("generation", results.error());
    const char* key = reuse_prefix ? "on" : "off";
    out[key] = {{"seconds", seconds},
                {"prompt_tokens_decoded", ctx->counters.prompt_tokens_decoded},
                {"prompt_tokens_reused", ctx->counters.prompt_tokens_reused},
                {"tokens_generated", ctx->counters.tokens_generated}};
  }
  fmt::print("{}\n", out.dump());
  return 0;
}

int remote(const std::string& urls, std::size_t count, uint32_t gen) {
  auto settings = read_remote_settings([&](const char* name) -> std::optional<std::string> {
    if (std::string_view(name) == "TRANSLATE_LLM_URL") return urls;
    return env_var(name);
  });
  if (!settings || !*settings) die("settings", settings ? Error{} : settings.error());
  ServerPool pool(std::move(**settings));
  if (auto described = describe_servers(pool); !described) die("servers", described.error());
  std::vector<PromptRequest> prompts;
  for (const auto& paragraph : paragraphs(count)) {
    prompts.push_back({build_prompt(ENGLISH_TO_FRENCH, paragraph), gen});
  }
  RemoteGenerator generator(pool);
  auto start = Clock::now();
  auto results = generator.generate_many(prompts, SAMPLED, nullptr);
  double seconds = seconds_since(start);
  if (!results) die("generation", results.error());
  json slots = json::array();
  for (const auto& server : pool.servers()) slots.push_back(server.slots);
  json out = {{"mode", "remote"},  {"urls", urls},       {"paragraphs", count},
              {"gen_tokens", gen}, {"seconds", seconds}, {"slots", slots}};
  fmt::print("{}\n", out.dump());
  return 0;
}

std::vector<PromptRequest> document_prompts(const Engine& engine, std::size_t count) {
  std::vector<PromptRequest> prompts;
  for (const auto& paragraph : paragraphs(count)) {
    const auto answer_tokens = static_cast<uint32_t>(token_count(engine, paragraph));
    prompts.push_back({build_prompt(ENGLISH_TO_FRENCH, paragraph), answer_tokens});
  }
  return prompts;
}

json timed_many(EngineContext& ctx, const std::vector<PromptRequest>& prompts,
                const SamplingParams& params, std::vector<std::string>* answers = nullptr) {
  ctx.reset();
  const GenerationCounters before = ctx.counters;
  auto start = Clock::now();
  auto results = ctx.generate_many(prompts, params, nullptr);
  double seconds = seconds_since(start);
  if (!results) die("generation", results.error());
  if (answers) *answers = *results;
  return {
      {"seconds", seconds},
      {"decodes", ctx.counters.decodes - before.decodes},
      {"prompt_tokens_decoded", ctx.counters.prompt_tokens_decoded - before.prompt_tokens_decoded},
      {"tokens_generated", ctx.counters.tokens_generated - before.tokens_generated}};
}

int parallel(const std::string& model, int32_t parallel, uint32_t gen, std::size_t count) {
  LoadedEngine loaded = load(model);
  ContextSettings settings = context_settings(&env_var, logical_processor_count());
  settings.parallel = parallel;
  auto made = create_context(loaded.engine, settings);
  if (!made) die("context", made.error());
  EngineContext& ctx = **made;

  std::vector<PromptRequest> wave =
      document_prompts(loaded.engine, static_cast<std::size_t>(parallel));
  // The first decodes after loading fault the mapped weights in.
  timed_many(ctx, {{wave.front().prompt, 2}}, GREEDY);
  for (auto& prompt : wave) prompt.max_new_tokens = 0;
  json reading = timed_many(ctx, wave, GREEDY);
  for (auto& prompt : wave) prompt.max_new_tokens = gen;
  json answering = timed_many(ctx, wave, GREEDY);
  const double generating = answering["seconds"].get<double>() - reading["seconds"].get<double>();
  json out = {{"mode", "parallel"},
              {"parallel", parallel},
              {"threads", settings.threads},
              {"gen_tokens", gen},
              {"reading", reading},
              {"answering", answering},
              {"generation_tps", static_cast<double>(parallel) * gen / generating}};
  if (count > 0) {
    // Greedy, so that the answers can be compared with those of another run.
    std::vector<std::string> answers;
    out["document"] = timed_many(ctx, document_prompts(loaded.engine, count), GREEDY, &answers);
    out["document"]["answers"] = answers;
  }
  fmt::print("{}\n", out.dump());
  return 0;
}

// Lines of /proc/self/status, in KiB: resident now, its peak, and the file-backed part.
json resident_memory() {
  json out;
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    for (const char* key : {"VmRSS", "VmHWM", "RssFile", "RssAnon"}) {
      if (line.starts_with(std::string(key) + ":")) {
        out[key] = std::stoll(line.substr(std::strlen(key) + 1));
      }
    }
  }
  return out;
}

int memory(const std::string& model) {
  LoadedEngine loaded = load(model);
  json out = {{"mode", "memory"}, {"loaded", resident_memory()}};
  auto start = Clock::now();
  auto ctx = new_context(loaded.engine, 0);
  out["context_seconds"] = seconds_since(start);
  out["context"] = resident_memory();
  out["parallel"] = ctx->sequences();
  const auto prompts = document_prompts(loaded.engine, 4);
  out["first_call"] = timed_many(*ctx, prompts, GREEDY);
  out["call"] = resident_memory();
  // A later call on the kept context starts by emptying it.
  start = Clock::now();
  ctx->reset();
  out["reset_seconds"] = seconds_since(start);
  fmt::print("{}\n", out.dump());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  bool known_tests = args.size() == 6 || (args.size() == 7 && (args[6] == "pp" || args[6] == "tg"));
  if (known_tests && args[0] == "speed") {
    SpeedTests tests;
    if (args.size() == 7) tests = {args[6] == "pp", args[6] == "tg"};
    return speed(args[1], std::atoi(args[2].c_str()), std::stoul(args[3]),
                 static_cast<uint32_t>(std::stoul(args[4])), std::atoi(args[5].c_str()), tests);
  }
  if (args.size() == 6 && args[0] == "paired") {
    return paired(args[1], std::atoi(args[2].c_str()), std::stoul(args[3]),
                  static_cast<uint32_t>(std::stoul(args[4])), std::atoi(args[5].c_str()));
  }
  if (args.size() == 4 && args[0] == "remote") {
    return remote(args[1], std::stoul(args[2]), static_cast<uint32_t>(std::stoul(args[3])));
  }
  if (args.size() == 5 && args[0] == "parallel") {
    return parallel(args[1], std::atoi(args[2].c_str()), static_cast<uint32_t>(std::stoul(args[3])),
                    std::stoul(args[4]));
  }
  if (args.size() == 2 && args[0] == "memory") return memory(args[1]);
  if (args.size() == 4 && args[0] == "reuse") {
    return reuse(args[1], std::stoul(args[2]), static_cast<uint32_t>(std::stoul(args[3])));
  }
  fmt::print(stderr,
             "usage: engine_bench speed MODEL THREADS PROMPT_TOKENS GEN_TOKENS REPS [pp|tg]\n"
             "       engine_bench reuse MODEL PARAGRAPHS GEN_TOKENS\n"
             "       engine_bench remote URLS PARAGRAPHS GEN_TOKENS\n"
             "       engine_bench paired MODEL THREADS PROMPT_TOKENS GEN_TOKENS REPS\n"
             "       engine_bench parallel MODEL PARALLEL GEN_TOKENS PARAGRAPHS\n"
             "       engine_bench memory MODEL\n");
  return 2;
}

// Engine start-up and prefix reuse on the real llama.cpp engine.
//
//   engine_bench [ENGINE_DIR [MODEL [PROMPTS]]]
//
// Times the binding of ENGINE_DIR, the loading of MODEL and the creation of a context, then
// runs PROMPTS translation prompts (default 10) that share their instruction through
// generate_many, once with prefix reuse and once without, and prints the prompt tokens
// decoded and reused and the time of each run. Defaults: the fetched engine and the tiny
// test model in .cache/.

#include <fmt/core.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <vector>

#include "engine/llama_api.h"
#include "engine/model.h"

namespace {

using namespace quorvel;
using Clock = std::chrono::steady_clock;

double ms_since(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

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
};

// The instruction that every prompt of an English to French job shares.
std::string translation_prompt(const std::string& text) {
  return "<start_of_turn>user\nYou are a professional English (en) to French (fr) translator. "
         "Your goal is to accurately convey the meaning and nuances of the original English "
         "text while adhering to French grammar, vocabulary, and cultural sensitivities.\n"
         "Produce only the French translation, without any additional explanations or "
         "commentary. Please translate the following English text into French:\n\n\n" +
         text + "<end_of_turn>\n<start_of_turn>model\n";
}

int run(const std::string& engine_dir, const std::string& model_path, int prompt_count) {
  auto start = Clock::now();
  auto api = bind_runtime(engine_dir);
  if (!api) return fmt::print(stderr, "binding: {}\n", api.error().message), 1;
  double bind_ms = ms_since(start);

  start = Clock::now();
  auto engine = load_model(*api, model_path, gpu_layers_for(engine_dir));
  if (!engine) return fmt::print(stderr, "loading: {}\n", engine.error().message), 1;
  double load_ms = ms_since(start);

  fmt::print("binding {}: {:.1f} ms\n", engine_dir, bind_ms);
  fmt::print("model load {}: {:.1f} ms\n", model_path, load_ms);

  std::vector<PromptRequest> prompts;
  for (int i = 0; i < prompt_count; ++i) {
    prompts.push_back({translation_prompt(SENTENCES[i % std::size(SENTENCES)]), 32});
  }
  const SamplingParams params{0.2f, 64, 0.95f, 24301};
  for (bool reuse : {true, false}) {
    start = Clock::now();
    auto ctx = create_context(*engine);
    if (!ctx) return fmt::print(stderr, "context: {}\n", ctx.error().message), 1;
    double context_ms = ms_since(start);
    (*ctx)->reuse_prefix = reuse;
    start = Clock::now();
    auto results = (*ctx)->generate_many(prompts, params, nullptr);
    if (!results) return fmt::print(stderr, "generation: {}\n", results.error().message), 1;
    double run_ms = ms_since(start);
    const GenerationCounters& c = (*ctx)->counters;
    fmt::print(
        "{} prompts, prefix reuse {}: context {:.1f} ms; prompt tokens decoded {}, reused {}; "
        "tokens generated {}; generation {:.1f} ms\n",
        prompt_count, reuse ? "on " : "off", context_ms, c.prompt_tokens_decoded,
        c.prompt_tokens_reused, c.tokens_generated, run_ms);
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::string engine_dir = argc > 1 ? argv[1] : QUORVEL_SOURCE_DIR "/.cache/engine/lib";
  std::string model = argc > 2 ? argv[2] : QUORVEL_SOURCE_DIR "/.cache/models/tiny.gguf";
  int prompts = argc > 3 ? std::atoi(argv[3]) : 10;
  return run(engine_dir, model, prompts > 0 ? prompts : 10);
}

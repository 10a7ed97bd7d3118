#include "engine/model.h"

#include <fmt/format.h>

#include <algorithm>
#include <utility>

#include "platform/env.h"
#include "platform/paths.h"
#include "platform/system.h"

namespace quorvel {

namespace fs = std::filesystem;

namespace {

// One pass over the vocabulary, special tokens included since prompts spell them out.
std::size_t find_longest_piece(const LlamaApi& api, const llama_vocab* vocab) {
  std::size_t longest = 1;
  char piece[256];
  const int32_t count = api.llama_vocab_n_tokens(vocab);
  for (llama_token token = 0; token < count; ++token) {
    // A piece that does not fit the buffer gives its length negated.
    int32_t n = api.llama_token_to_piece(vocab, token, piece, sizeof piece, 0, true);
    longest = std::max(longest, static_cast<std::size_t>(n < 0 ? -static_cast<int64_t>(n) : n));
  }
  return longest;
}

}  // namespace

Engine::Engine(std::shared_ptr<const LlamaApi> api, llama_model* model)
    : api_(std::move(api)), model_(model), vocab_(api_->llama_model_get_vocab(model)) {
  longest_piece_ = find_longest_piece(*api_, vocab_);
}

Engine::Engine(Engine&& other) noexcept
    : api_(std::move(other.api_)),
      model_(std::exchange(other.model_, nullptr)),
      vocab_(std::exchange(other.vocab_, nullptr)),
      longest_piece_(other.longest_piece_),
      offloaded_(other.offloaded_) {}

Engine& Engine::operator=(Engine&& other) noexcept {
  if (this != &other) {
    if (model_ != nullptr) api_->llama_model_free(model_);
    api_ = std::move(other.api_);
    model_ = std::exchange(other.model_, nullptr);
    vocab_ = std::exchange(other.vocab_, nullptr);
    longest_piece_ = other.longest_piece_;
    offloaded_ = other.offloaded_;
  }
  return *this;
}

Engine::~Engine() {
  if (model_ != nullptr) api_->llama_model_free(model_);
}

int32_t gpu_layers_for(const fs::path& engine_dir) {
  // Vulkan and Metal as on every platform; CUDA and ROCm builds exist on Linux only, and
  // without offload they would run on the CPU alone.
  for (const char* gpu : {"ggml-vulkan", "ggml-metal", "ggml-cuda", "ggml-hip"}) {
    if (library_file(engine_dir, gpu)) return -1;
  }
  return 0;
}

Result<Engine> load_model(std::shared_ptr<const LlamaApi> api, const fs::path& model_path,
                          int32_t gpu_layers) {
  const std::string native = path_to_utf8(model_path);
  if (native.find('\0') != std::string::npos) {
    return fail(ErrorKind::engine, "model path contains NUL");
  }
  llama_model_params params = api->llama_model_default_params();
  params.devices = nullptr;
  params.n_gpu_layers = gpu_layers;
  params.use_extra_bufts = true;  // lets the CPU backend repack weights for faster kernels
  // Read, not mapped: the CPU backend repacks most weights into buffers of its own, and the
  // mapped file's pages it read them from would stay resident beside the copies (1.5 GiB of
  // a 2.3 GiB model).
  params.load_mode = LLAMA_LOAD_MODE_NONE;
  llama_model* model = api->llama_model_load_from_file(native.c_str(), params);
  if (model == nullptr) {
    return fail(ErrorKind::engine,
                fmt::format("failed to load model {}", path_to_utf8(model_path)));
  }
  Engine engine(std::move(api), model);
  engine.set_offloaded(gpu_layers != 0);
  return engine;
}

std::optional<int32_t> parse_strict_int32(std::string_view text) {
  bool negative = false;
  if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
    negative = text.front() == '-';
    text.remove_prefix(1);
  }
  if (text.empty()) return std::nullopt;
  // Magnitudes up to 2^31 fit; the bound is checked digit by digit, so any number of leading
  // zeros is fine and no intermediate value overflows.
  constexpr int64_t limit = int64_t{1} << 31;
  int64_t magnitude = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    magnitude = magnitude * 10 + (c - '0');
    if (magnitude > limit) return std::nullopt;
  }
  int64_t value = negative ? -magnitude : magnitude;
  if (value > INT32_MAX) return std::nullopt;
  return static_cast<int32_t>(value);
}

int32_t default_thread_count(unsigned processors) {
  int64_t p = processors == 0 ? 8 : processors;
  return static_cast<int32_t>(
      std::min<int64_t>(16, std::min<int64_t>(p, std::max<int64_t>(4, p / 2))));
}

int32_t default_parallel(bool offloaded) {
  return offloaded ? 8 : 4;
}

ContextSettings context_settings(const EnvLookup& env, unsigned processors) {
  ContextSettings settings;
  settings.threads = default_thread_count(processors);
  if (auto value = env("AMBREL_THREADS")) {
    if (auto threads = parse_strict_int32(*value); threads && *threads > 0) {
      settings.threads = *threads;
    }
  }
  if (auto value = env("AMBREL_FLASH_ATTN")) {
    if (auto flash = parse_strict_int32(*value)) {
      settings.flash_attn_type =
          *flash > 0 ? LLAMA_FLASH_ATTN_TYPE_ENABLED : LLAMA_FLASH_ATTN_TYPE_DISABLED;
    }
  }
  if (auto value = env("AMBREL_SWA_FULL"); value && (*value == "0" || *value == "1")) {
    settings.swa_full = *value == "1";
  }
  if (auto value = env("AMBREL_PARALLEL")) {
    if (auto parallel = parse_strict_int32(*value); parallel && *parallel > 0) {
      settings.parallel = std::min(*parallel, MAX_PARALLEL);
    }
  }
  return settings;
}

Result<std::unique_ptr<EngineContext>> create_context(const Engine& engine) {
  return create_context(engine, context_settings(&env_var, logical_processor_count()));
}

Result<std::unique_ptr<EngineContext>> create_context(const Engine& engine,
                                                      const ContextSettings& settings) {
  const LlamaApi& api = engine.api();
  llama_context_params params = api.llama_context_default_params();
  params.n_ctx = CONTEXT_POSITIONS;
  params.n_batch = PROMPT_BATCH;
  params.n_threads = settings.threads;
  params.n_threads_batch = settings.threads;
  if (settings.flash_attn_type) {
    params.flash_attn_type = static_cast<llama_flash_attn_type>(*settings.flash_attn_type);
  }
  // The sliding-window layers keep only their window per sequence unless asked for more: the
  // library's full-size default costs as much memory as the full-attention layers would.
  params.swa_full = settings.swa_full.value_or(false);
  const int32_t parallel = settings.parallel.value_or(default_parallel(engine.offloaded()));
  if (parallel > 1) {
    // One cache for all sequences: each may use the whole context, and the instruction
    // prefix copied between them takes its cells once.
    params.n_seq_max = static_cast<uint32_t>(parallel);
    params.kv_unified = true;
  }
  // A requested stop ends a running decode between two graph nodes: one 512-token prompt
  // chunk takes tens of seconds on a small CPU.
  auto watch = std::make_unique<AbortWatch>();
  params.abort_callback = &AbortWatch::should_abort;
  params.abort_callback_data = watch.get();
  llama_context* ctx = api.llama_init_from_model(engine.model(), params);
  if (ctx == nullptr) return fail(ErrorKind::engine, "failed to create llama context");
  return std::make_unique<EngineContext>(engine, ctx, static_cast<int32_t>(PROMPT_BATCH),
                                         std::move(watch), parallel);
}

}  // namespace quorvel

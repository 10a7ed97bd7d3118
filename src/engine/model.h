#pragma once
// The loaded model (`Engine`) and the creation of the per-call context that generates with it.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "engine/llama_api.h"
#include "engine/llama_generator.h"
#include "platform/error.h"

namespace quorvel {

/// A model loaded through a bound runtime, with its vocabulary. Owns the model: dropping
/// the Engine frees it and then drops the runtime reference (the libraries stay loaded).
class Engine {
 public:
  Engine(std::shared_ptr<const LlamaApi> api, llama_model* model);
  Engine(Engine&& other) noexcept;
  Engine& operator=(Engine&& other) noexcept;
  Engine(const Engine&) = delete;
  Engine& operator=(const Engine&) = delete;
  ~Engine();

  const LlamaApi& api() const { return *api_; }
  const std::shared_ptr<const LlamaApi>& shared_api() const { return api_; }
  llama_model* model() const { return model_; }
  const llama_vocab* vocab() const { return vocab_; }
  /// The most text bytes one token of the vocabulary stands for (at least 1), so a prompt
  /// of more than this many bytes per context position cannot fit that context.
  std::size_t longest_piece() const { return longest_piece_; }
  /// Whether layers were offloaded to a GPU.
  bool offloaded() const { return offloaded_; }
  void set_offloaded(bool offloaded) { offloaded_ = offloaded; }

 private:
  std::shared_ptr<const LlamaApi> api_;
  llama_model* model_ = nullptr;
  const llama_vocab* vocab_ = nullptr;
  std::size_t longest_piece_ = 1;
  bool offloaded_ = false;
};

/// -1 (every layer on the GPU) when the engine directory holds a GPU backend library
/// (ggml-vulkan, ggml-metal, ggml-cuda or ggml-hip), else 0. No device is queried.
int32_t gpu_layers_for(const std::filesystem::path& engine_dir);

/// Loads the GGUF model at `model_path` with `gpu_layers` layers offloaded. Fails with
/// "model path contains NUL" or "failed to load model {path}".
Result<Engine> load_model(std::shared_ptr<const LlamaApi> api,
                          const std::filesystem::path& model_path, int32_t gpu_layers);

inline constexpr uint32_t CONTEXT_POSITIONS = 8192;
inline constexpr uint32_t PROMPT_BATCH = 512;

/// Looks an environment variable up: nothing when unset.
using EnvLookup = std::function<std::optional<std::string>(const char* name)>;

/// The context parameters that the tuning variables and the machine decide.
struct ContextSettings {
  int32_t threads = 4;                     // n_threads and n_threads_batch
  std::optional<int32_t> flash_attn_type;  // nothing: the library's own choice
  std::optional<bool> swa_full;            // nothing: off, only each window kept
  std::optional<int32_t> parallel;         // prompts decoded together; nothing: the default
};

/// A decimal signed 32-bit integer: an optional single "+" or "-", then one or more ASCII
/// digits and nothing else, within range. Nothing for any other text.
std::optional<int32_t> parse_strict_int32(std::string_view text);

/// Half the logical processors, at least 4 but never more than there are, at most 16; a
/// machine that reports 0 processors counts as 8.
int32_t default_thread_count(unsigned processors);

/// Most prompts decoded together, whatever `AMBREL_PARALLEL` asks.
inline constexpr int32_t MAX_PARALLEL = 64;

/// Prompts decoded together by default: several sequences share each read of the weights.
int32_t default_parallel(bool offloaded);

/// Reads `AMBREL_THREADS`, `AMBREL_FLASH_ATTN`, `AMBREL_SWA_FULL` and `AMBREL_PARALLEL` through
/// `env`; invalid values are ignored.
ContextSettings context_settings(const EnvLookup& env, unsigned processors);

/// A fresh context of 8192 positions for one tool call, tuned from the real environment and
/// processor count. Fails with "failed to create llama context".
Result<std::unique_ptr<EngineContext>> create_context(const Engine& engine);

/// The same with the settings given.
Result<std::unique_ptr<EngineContext>> create_context(const Engine& engine,
                                                      const ContextSettings& settings);

}  // namespace quorvel

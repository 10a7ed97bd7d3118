#include "cli/doctor_command.h"

#include <fmt/core.h>

#include <filesystem>
#include <string>
#include <vector>

#include "engine/discovery.h"
#include "engine/gguf_header.h"
#include "engine/llama_api.h"
#include "engine/model.h"
#include "platform/env.h"
#include "platform/paths.h"
#include "platform/system.h"
#include "translation/memory.h"

namespace quorvel {

namespace fs = std::filesystem;

namespace {

// A loaded model takes about this many times its file: the weights (read, most of them
// repacked for the CPU kernels) and the context of four sequences (measured: 3,217 MiB peak
// for a 2,383 MiB file).
constexpr double MEMORY_PER_MODEL_BYTE = 1.4;

std::string gib(uint64_t bytes) {
  return fmt::format("{:.1f} GiB", static_cast<double>(bytes) / (1ull << 30));
}

void say(std::FILE* out, const char* part, const std::string& text) {
  std::fprintf(out, "%-9s %s\n", part, text.c_str());
}

// The CPU variant ggml chose: the one of its CPU libraries that binding the engine mapped in.
std::string cpu_variant() {
  for (const auto& path : loaded_libraries()) {
    std::string name = path_to_utf8(path_from_utf8(path).filename());
    if (name.starts_with("libggml-cpu-")) return name.substr(12, name.size() - 12 - 3);
  }
  return "unknown";
}

std::string gpu_backends(const fs::path& engine_dir) {
  std::string found;
  for (const char* gpu : {"ggml-vulkan", "ggml-cuda", "ggml-hip", "ggml-metal"}) {
    if (library_file(engine_dir, gpu)) found += std::string(found.empty() ? "" : ", ") + (gpu + 5);
  }
  return found.empty() ? "none (CPU only)" : found;
}

bool check_engine(std::FILE* out, const SearchRoots& roots) {
  auto dir = locate_engine_dir(roots);
  if (!dir) {
    say(out, "engine",
        fmt::format("missing: {} Run `bash scripts/fetch-engine.sh` and build, or set "
                    "TRANSLATE_LLM_DIR to a folder with libllama.so.",
                    dir.error().message));
    return false;
  }
  auto api = bind_runtime(*dir);
  if (!api) {
    say(out, "engine", fmt::format("{} cannot be used: {}", dir->string(), api.error().message));
    return false;
  }
  say(out, "engine",
      fmt::format("{} (CPU variant {}; GPU: {})", dir->string(), cpu_variant(),
                  gpu_backends(*dir)));
  return true;
}

std::optional<uint64_t> check_model(std::FILE* out, const SearchRoots& roots) {
  auto model = locate_model_file(roots);
  std::error_code error;
  if (!model || !fs::is_regular_file(*model, error)) {
    auto place = installed_model_path();
    say(out, "model",
        fmt::format("{}. Get {} (TranslateGemma 4B, about 2.5 GB) from a GGUF model hub with "
                    "`quorvel model pull <address>`, or put it at {}, or name any GGUF file with "
                    "TRANSLATE_LLM_MODEL.",
                    model ? fmt::format("{} does not exist", model->string())
                          : std::string("not installed"),
                    MODEL_FILE_NAME, place ? place->string() : std::string("<data folder>")));
    return std::nullopt;
  }
  const uint64_t size = fs::file_size(*model, error);
  auto header = read_gguf_header(model->string());
  if (!header) {
    say(out, "model", fmt::format("{}: {}", model->string(), header.error().message));
    return std::nullopt;
  }
  say(out, "model",
      fmt::format("{} ({}, {}, GGUF v{}, {} tensors)", model->string(), gib(size),
                  header->architecture.empty() ? "unknown architecture" : header->architecture,
                  header->version, header->tensor_count));
  return size;
}

}  // namespace

int run_doctor(std::FILE* out) {
  const SearchRoots roots = search_roots(executable_path());
  const bool engine = check_engine(out, roots);
  const auto model_size = check_model(out, roots);
  const auto available = available_memory();
  if (model_size) {
    const auto needed =
        static_cast<uint64_t>(static_cast<double>(*model_size) * MEMORY_PER_MODEL_BYTE);
    std::string text = fmt::format("about {} needed while translating", gib(needed));
    if (available) {
      text += fmt::format(", {} available", gib(*available));
      if (*available < needed) text += "; close other programs or use a smaller model";
    }
    say(out, "memory", text);
  } else if (available) {
    say(out, "memory", fmt::format("{} available", gib(*available)));
  }
  const auto settings = context_settings(&env_var, logical_processor_count());
  say(out, "threads",
      fmt::format("{} of {} processors (AMBREL_THREADS sets it), {} prompts at once "
                  "(AMBREL_PARALLEL sets it)",
                  settings.threads, logical_processor_count(),
                  settings.parallel.value_or(default_parallel(false))));
  auto memory = memory_file(&env_var);
  std::error_code error;
  say(out, "resume",
      memory ? fmt::format(
                   "translation memory {}{}", memory->string(),
                   fs::exists(*memory, error)
                       ? fmt::format(" ({:.1f} MiB)",
                                     static_cast<double>(fs::file_size(*memory, error)) / (1 << 20))
                       : std::string(" (not made yet)"))
             : std::string("translation memory off (TRANSLATE_MEMORY=off)"));
  return engine && model_size ? 0 : 1;
}

}  // namespace quorvel

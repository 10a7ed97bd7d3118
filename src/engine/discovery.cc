#include "engine/discovery.h"

#include <fmt/format.h>

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "engine/llama_api.h"
#include "platform/env.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "platform/text.h"

namespace quorvel {

namespace fs = std::filesystem;

namespace {

bool holds_engine(const fs::path& dir) {
  return library_file(dir, "llama").has_value();
}

// A path for the log line: bytes that are not UTF-8 are shown as U+FFFD.
std::string display_path(const fs::path& path) {
  return replace_invalid_utf8(path_to_utf8(path));
}

}  // namespace

SearchRoots search_roots(const std::optional<fs::path>& executable) {
  SearchRoots roots;
  if (!executable || !executable->has_parent_path()) return roots;
  roots.executable_dir = executable->parent_path();
  for (fs::path dir = *roots.executable_dir;; dir = dir.parent_path()) {
    if (is_regular_file_at(dir / "Cargo.toml") && is_directory_at(dir / "crates")) {
      if (dir.has_parent_path() && dir.parent_path() != dir) {
        roots.dev_root = dir.parent_path() / "Kestrune" / "spike" / "llm";
      }
      break;
    }
    if (!dir.has_parent_path() || dir.parent_path() == dir) break;
  }
  return roots;
}

Result<fs::path> locate_engine_dir(const SearchRoots& roots) {
  if (auto dir = env_var("TRANSLATE_LLM_DIR")) return path_from_utf8(*dir);
  std::vector<fs::path> candidates;
  if (roots.executable_dir) {
    candidates.push_back(*roots.executable_dir / "resources" / "engine");
    candidates.push_back(*roots.executable_dir / "../Frameworks");
  }
  if (roots.dev_root) {
    candidates.push_back(*roots.dev_root / "vulkan");
    candidates.push_back(*roots.dev_root / "cpu");
  }
  for (const auto& dir : candidates) {
    if (holds_engine(dir)) return dir;
  }
  return fail(ErrorKind::not_found,
              "no translation engine found. Reinstalling Quorvel Translate fixes this.");
}

std::optional<fs::path> installed_model_path() {
  auto data = user_data_dir();
  if (!data) return std::nullopt;
  return *data / "com.quorvel.translate" / "models" / MODEL_FILE_NAME;
}

Result<fs::path> locate_model_file(const SearchRoots& roots) {
  if (auto model = env_var("TRANSLATE_LLM_MODEL")) return path_from_utf8(*model);
  if (auto installed = installed_model_path(); installed && path_exists(*installed)) {
    return *installed;
  }
  if (roots.dev_root) {
    fs::path dev_model = *roots.dev_root / MODEL_FILE_NAME;
    if (path_exists(dev_model)) return dev_model;
  }
  return fail(ErrorKind::not_found,
              "no translation model is installed. Open the Quorvel Translate app once and "
              "download the model, then retry.");
}

Result<const Engine*> ensure_engine(EngineSlot& slot) {
  return ensure_engine(slot, EngineSearch{executable_path(), stderr});
}

Result<const Engine*> ensure_engine(EngineSlot& slot, const EngineSearch& search) {
  if (slot.engine) return slot.engine.get();

  SearchRoots roots = search_roots(search.executable);
  auto engine_dir = locate_engine_dir(roots);
  if (!engine_dir) return std::unexpected(engine_dir.error());
  auto model_file = locate_model_file(roots);
  if (!model_file) return std::unexpected(model_file.error());
  int32_t gpu_layers = gpu_layers_for(*engine_dir);

  std::string line = fmt::format("[corvane] engine {} model {}\n", display_path(*engine_dir),
                                 display_path(*model_file));
  std::fwrite(line.data(), 1, line.size(), search.log);
  std::fflush(search.log);

  auto api = bind_runtime(*engine_dir);
  if (!api) return std::unexpected(api.error());
  auto engine = load_model(std::move(*api), *model_file, gpu_layers);
  if (!engine) return std::unexpected(engine.error());
  slot.engine = std::make_unique<Engine>(std::move(*engine));
  auto runtime = library_file(*engine_dir, "llama");
  slot.identity = fmt::format("model {}\nruntime {}", file_fingerprint(model_file->string()),
                              runtime ? file_fingerprint(runtime->string()) : std::string());
  return slot.engine.get();
}

}  // namespace quorvel

#pragma once
// Finding the engine directory and the model file, and loading the Engine once per process.

#include <cstdio>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "engine/model.h"
#include "platform/error.h"

namespace quorvel {

/// Holds the Engine once the first translation loaded it; empty until then and after a
/// failed attempt. Owned by the tool handler for the life of the server.
struct EngineSlot {
  std::unique_ptr<Engine> engine;
  /// What the engine's answers depend on, besides the prompt and sampling: the model file and
  /// the runtime library, each as a cheap fingerprint. Set with `engine`.
  std::string identity;
};

/// The directories the search starts from, worked out from the executable's path.
struct SearchRoots {
  std::optional<std::filesystem::path> executable_dir;
  /// Parent of a development checkout (holding "Cargo.toml" and "crates") /
  /// "Kestrune/spike/llm".
  std::optional<std::filesystem::path> dev_root;
};

SearchRoots search_roots(const std::optional<std::filesystem::path>& executable);

/// `TRANSLATE_LLM_DIR` as given; else <exe dir>/resources/engine, <exe dir>/../Frameworks,
/// <dev root>/vulkan, <dev root>/cpu: the first that holds the llama library.
Result<std::filesystem::path> locate_engine_dir(const SearchRoots& roots);

/// The default model's file name.
inline constexpr const char* MODEL_FILE_NAME = "translategemma-4b-it-Q4_K_M.gguf";

/// Where the default model belongs: the per-user data directory's
/// "com.quorvel.translate/models/" + MODEL_FILE_NAME; nothing without such a directory.
std::optional<std::filesystem::path> installed_model_path();

/// `TRANSLATE_LLM_MODEL` as given; else the default model in the per-user data directory,
/// else in the development root, whichever exists first.
Result<std::filesystem::path> locate_model_file(const SearchRoots& roots);

/// Where the search starts and where the start-up line goes.
struct EngineSearch {
  std::optional<std::filesystem::path> executable;
  std::FILE* log = stderr;
};

/// The slot's Engine, loading it first if the slot is empty: locate the engine directory,
/// then the model, write "[corvane] engine {} model {}", bind the runtime, load the model.
/// Uses the running executable's path and the process environment.
Result<const Engine*> ensure_engine(EngineSlot& slot);

/// The same, searching from the given executable path.
Result<const Engine*> ensure_engine(EngineSlot& slot, const EngineSearch& search);

}  // namespace quorvel

#include "engine/llama_api.h"

#include <fmt/format.h>

#include <array>
#include <string>
#include <utility>

#include "engine/runtime_cache.h"
#include "platform/env.h"
#include "platform/paths.h"

namespace quorvel {

namespace fs = std::filesystem;

static_assert(std::size(LLAMA_ENTRY_POINTS) == 45, "the engine needs exactly 45 entry points");

namespace {

constexpr const char* LIBRARY_NAMES[] = {"ggml", "ggml-base", "llama"};

Error engine_error(std::string message, std::string cause = {}) {
  return Error{ErrorKind::engine, std::move(message), std::move(cause)};
}

void discard_log(ggml_log_level, const char*, void*) {}

using LogSetter = void (*)(ggml_log_callback, void*);

void try_silence(LibraryHandle library, const char* setter_name) {
  auto setter = find_symbol(library, setter_name);
  if (setter) reinterpret_cast<LogSetter> (*setter)(&discard_log, nullptr);
}

// The runtime logs every load and decode step on standard error. Keep that for whoever asked
// for it with AMBREL_LOG (any value, even empty); stay quiet otherwise. Missing setters are
// skipped: only the log is at stake.
void silence_runtime_logs(const std::array<LoadedLibrary, 3>& libraries) {
  if (env_var("AMBREL_LOG")) return;
  try_silence(libraries[2].get(), "llama_log_set");
  try_silence(libraries[1].get(), "ggml_log_set");
  try_silence(libraries[0].get(), "ggml_log_set");
}

// Loads ggml, ggml-base and llama in that order. On failure the ones already loaded are
// released by the array's destructor (in reverse order: llama, ggml-base, ggml).
std::expected<std::array<LoadedLibrary, 3>, Error> load_libraries(const fs::path& dir) {
  std::array<LoadedLibrary, 3> libraries;
  for (std::size_t i = 0; i < libraries.size(); ++i) {
    auto file = library_file(dir, LIBRARY_NAMES[i]);
    if (!file) {
      return std::unexpected(engine_error(fmt::format(
          "{} not found in {}", library_file_name(LIBRARY_NAMES[i]), path_to_utf8(dir))));
    }
    auto handle = load_library(*file);
    if (!handle) {
      return std::unexpected(
          engine_error(fmt::format("failed to load {}: {}", file->string(), handle.error().message),
                       handle.error().message));
    }
    libraries[i] = LoadedLibrary(*handle);
  }
  return libraries;
}

Error missing_symbol(const char* name, const Error& lookup) {
  return engine_error(fmt::format("missing symbol {}: {}", name, lookup.message), lookup.message);
}

// Every backend library in the directory (CPU variants, GPU backends) registers itself.
std::expected<void, Error> register_backends(LibraryHandle ggml, const fs::path& dir) {
  auto load_all = find_symbol(ggml, "ggml_backend_load_all_from_path");
  if (!load_all) {
    return std::unexpected(missing_symbol("ggml_backend_load_all_from_path", load_all.error()));
  }
  const std::string native = path_to_utf8(dir);
  if (native.find('\0') != std::string::npos) {
    return std::unexpected(engine_error("dll dir contains NUL"));
  }
  reinterpret_cast<void (*)(const char*)> (*load_all)(native.c_str());
  return {};
}

std::expected<void, Error> resolve_entry_points(LlamaApi& api) {
  auto handle_of = [&api](RuntimeLibrary library) {
    switch (library) {
      case RuntimeLibrary::ggml:
        return api.ggml;
      case RuntimeLibrary::ggml_base:
        return api.ggml_base;
      case RuntimeLibrary::llama:
        break;
    }
    return api.llama;
  };
#define QUORVEL_RESOLVE_ENTRY_POINT(name, library)                                \
  {                                                                               \
    auto address = find_symbol(handle_of(RuntimeLibrary::library), #name);        \
    if (!address) return std::unexpected(missing_symbol(#name, address.error())); \
    api.name = reinterpret_cast<decltype(api.name)>(*address);                    \
  }
  QUORVEL_LLAMA_ENTRY_POINTS(QUORVEL_RESOLVE_ENTRY_POINT)
#undef QUORVEL_RESOLVE_ENTRY_POINT
  return {};
}

// Steps after canonicalisation, run with the cache locked.
Result<std::shared_ptr<const LlamaApi>> bind_directory(const fs::path& dir) {
  auto libraries = load_libraries(dir);
  if (!libraries) return std::unexpected(libraries.error());
  silence_runtime_logs(*libraries);
  if (auto registered = register_backends((*libraries)[0].get(), dir); !registered) {
    return std::unexpected(registered.error());
  }
  auto api = std::make_shared<LlamaApi>();
  api->ggml = (*libraries)[0].get();
  api->ggml_base = (*libraries)[1].get();
  api->llama = (*libraries)[2].get();
  if (auto resolved = resolve_entry_points(*api); !resolved) {
    return std::unexpected(resolved.error());
  }
  api->llama_backend_init();
  // Bound for good: the libraries stay loaded until the process ends.
  for (auto& library : *libraries) library.release();
  return api;
}

}  // namespace

std::optional<fs::path> library_file(const fs::path& directory, std::string_view name) {
  fs::path file = directory / library_file_name(name);
  if (!path_exists(file)) return std::nullopt;
  return file;
}

Result<std::shared_ptr<const LlamaApi>> bind_runtime(const fs::path& engine_dir) {
  auto canonical = canonical_path(engine_dir);
  if (!canonical)
    return fail(ErrorKind::engine, canonical.error().message, canonical.error().cause);

  RuntimeCache& cache = runtime_cache();
  std::lock_guard lock(cache.mutex);
  if (auto found = cache.entries.find(path_to_utf8(*canonical)); found != cache.entries.end()) {
    return found->second;
  }
  auto api = bind_directory(*canonical);
  if (!api) return std::unexpected(api.error());
  cache.entries.emplace(path_to_utf8(*canonical), *api);
  return api;
}

}  // namespace quorvel

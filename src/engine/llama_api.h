#pragma once
// The llama.cpp runtime, bound at run time from an engine directory: one table of typed entry
// points plus the library handles. Engine code calls llama only through this table.

#include <filesystem>
#include <memory>
#include <optional>
#include <string_view>

#include "platform/dynlib.h"
#include "platform/error.h"

#if !defined(QUORVEL_HAVE_LLAMA_HEADERS)
#error "llama.cpp headers are missing: run scripts/fetch-engine.sh, then configure the build again"
#endif
#include <llama.h>

namespace quorvel {

/// The three engine libraries, in load order.
enum class RuntimeLibrary { ggml, ggml_base, llama };

// Every entry point the engine needs, in table order, with the library that exports it. A
// binding fails when any of them is missing, also the ones this program never calls: an
// engine directory that lacks one is not the build the program was written for.
#define QUORVEL_LLAMA_ENTRY_POINTS(X)          \
  X(llama_backend_init, llama)                 \
  X(llama_supports_gpu_offload, llama)         \
  X(ggml_backend_dev_count, ggml)              \
  X(ggml_backend_dev_get, ggml)                \
  X(ggml_backend_dev_type, ggml_base)          \
  X(ggml_backend_dev_backend_reg, ggml_base)   \
  X(ggml_backend_reg_name, ggml_base)          \
  X(ggml_backend_dev_description, ggml_base)   \
  X(ggml_backend_dev_memory, ggml_base)        \
  X(ggml_backend_load, ggml)                   \
  X(llama_model_default_params, llama)         \
  X(llama_model_load_from_file, llama)         \
  X(llama_model_free, llama)                   \
  X(llama_context_default_params, llama)       \
  X(llama_init_from_model, llama)              \
  X(llama_free, llama)                         \
  X(llama_n_ctx, llama)                        \
  X(llama_n_ctx_seq, llama)                    \
  X(llama_model_get_vocab, llama)              \
  X(llama_model_n_embd, llama)                 \
  X(llama_vocab_n_tokens, llama)               \
  X(llama_get_logits_ith, llama)               \
  X(llama_tokenize, llama)                     \
  X(llama_token_to_piece, llama)               \
  X(llama_vocab_is_eog, llama)                 \
  X(llama_batch_get_one, llama)                \
  X(llama_decode, llama)                       \
  X(llama_get_memory, llama)                   \
  X(llama_memory_clear, llama)                 \
  X(llama_memory_seq_rm, llama)                \
  X(llama_memory_seq_cp, llama)                \
  X(llama_memory_seq_keep, llama)              \
  X(llama_memory_seq_pos_min, llama)           \
  X(llama_batch_init, llama)                   \
  X(llama_batch_free, llama)                   \
  X(llama_sampler_chain_default_params, llama) \
  X(llama_sampler_chain_init, llama)           \
  X(llama_sampler_chain_add, llama)            \
  X(llama_sampler_init_top_k, llama)           \
  X(llama_sampler_init_top_p, llama)           \
  X(llama_sampler_init_temp, llama)            \
  X(llama_sampler_init_dist, llama)            \
  X(llama_sampler_init_greedy, llama)          \
  X(llama_sampler_sample, llama)               \
  X(llama_sampler_free, llama)

struct EntryPoint {
  const char* name;
  RuntimeLibrary library;
};

/// The entry-point table above as data, for listing and tests.
inline constexpr EntryPoint LLAMA_ENTRY_POINTS[] = {
#define QUORVEL_ENTRY_POINT_ROW(name, library) {#name, RuntimeLibrary::library},
    QUORVEL_LLAMA_ENTRY_POINTS(QUORVEL_ENTRY_POINT_ROW)
#undef QUORVEL_ENTRY_POINT_ROW
};

/// A bound runtime. Built once per engine directory, never changed afterwards and never
/// unloaded: the process-wide runtime cache keeps every binding alive until the process ends.
struct LlamaApi {
#define QUORVEL_ENTRY_POINT_FIELD(name, library) decltype(&::name) name = nullptr;
  QUORVEL_LLAMA_ENTRY_POINTS(QUORVEL_ENTRY_POINT_FIELD)
#undef QUORVEL_ENTRY_POINT_FIELD

  LibraryHandle ggml = nullptr;
  LibraryHandle ggml_base = nullptr;
  LibraryHandle llama = nullptr;
};

/// `directory`/<file name of library `name`> if a metadata query on it succeeds (any kind of
/// entry); nothing otherwise.
std::optional<std::filesystem::path> library_file(const std::filesystem::path& directory,
                                                  std::string_view name);

/// Binds the engine libraries of `engine_dir` (as located, not yet canonical), or returns
/// the binding made earlier for the same canonical directory. Loads ggml, ggml-base and
/// llama, silences their log unless `AMBREL_LOG` is set, registers every backend library of
/// the directory, resolves the entry points and initialises the backend. A failed binding
/// releases what it loaded and leaves the cache unchanged.
Result<std::shared_ptr<const LlamaApi>> bind_runtime(const std::filesystem::path& engine_dir);

}  // namespace quorvel

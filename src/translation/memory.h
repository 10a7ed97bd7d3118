#pragma once
// The translation memory: every finished raw answer of the model, kept in a SQLite file under
// a hash of everything it depends on, so that a call retried after a time-out, a cancel or a
// crash goes on where it stopped, and text repeated across documents reaches the model once.
// It sits in front of the real generator as one more Generator; the answer checks run on a
// remembered answer as on a fresh one.

#include <array>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "engine/generator.h"

struct sqlite3;

namespace quorvel {

/// Stored answers beyond this many bytes make the least recently used ones go.
inline constexpr uint64_t MEMORY_MAX_BYTES = 256ull << 20;
inline constexpr const char* MEMORY_FILE_NAME = "memory.sqlite3";
/// The folder the memory has by default, inside the user's cache folder.
inline constexpr const char* MEMORY_FOLDER_NAME = "com.quorvel.translate";

/// The memory's file from `TRANSLATE_MEMORY` ("off": none; another value: the folder to keep
/// it in), else `$XDG_CACHE_HOME` (when absolute) or `$HOME/.cache`, each with
/// "com.quorvel.translate"; nothing when it is off or no folder can be named.
std::optional<std::filesystem::path> memory_file(
    const std::function<std::optional<std::string>(const char*)>& env);

/// The key of one answer: the engine (model and runtime), the exact prompt, the token budget
/// and the sampling settings.
using MemoryKey = std::array<unsigned char, 16>;
MemoryKey memory_key(std::string_view identity, std::string_view prompt, uint32_t max_new_tokens,
                     const SamplingParams& params);

/// One open memory file. Several processes may share it (write-ahead log, busy time-out).
/// A storage error turns it off for the rest of its life, with one line on `log`; it never
/// fails a translation. One thread at a time.
class TranslationMemory {
 public:
  /// Opens or creates the file (folder 0700, file 0600: it holds document text; an existing
  /// file, and an existing folder named MEMORY_FOLDER_NAME, are narrowed to that). A damaged
  /// file, found here or on first use, is moved aside and a new one started. Nothing when it
  /// cannot be used (one line on `log` says why).
  static std::unique_ptr<TranslationMemory> open(const std::filesystem::path& file,
                                                 std::FILE* log = stderr,
                                                 uint64_t max_bytes = MEMORY_MAX_BYTES);
  TranslationMemory(const TranslationMemory&) = delete;
  TranslationMemory& operator=(const TranslationMemory&) = delete;
  ~TranslationMemory();

  std::optional<std::string> find(const MemoryKey& key);
  void store(const MemoryKey& key, std::string_view answer);

 private:
  TranslationMemory(sqlite3* db, std::filesystem::path file, std::FILE* log, uint64_t max_bytes);
  bool check(int rc, const char* what);
  void start_afresh();
  void evict();
  int64_t stamp();

  sqlite3* db_;
  std::filesystem::path file_;
  std::FILE* log_;
  uint64_t max_bytes_;
  uint64_t stored_bytes_ = 0;  // an estimate between evictions; other processes add too
  int64_t last_stamp_ = 0;
  bool off_ = false;
  bool started_afresh_ = false;  // a damaged file is replaced once per process at most
};

/// Answers from the memory where it has them, from `inner` otherwise, and keeps every new
/// answer as soon as it is finished. `memory` may be null: then it only passes calls on.
class MemoryGenerator final : public Generator {
 public:
  MemoryGenerator(Generator& inner, TranslationMemory* memory, std::string identity)
      : inner_(inner), memory_(memory), identity_(std::move(identity)) {}

  Result<std::string> generate(std::string_view prompt, uint32_t max_new_tokens,
                               const SamplingParams& params,
                               const GenerationControl& control = NO_CONTROL) override;

  /// Remembered answers reach `on_result` first, then the others as the inner generator
  /// finishes them, each with its own index. A stop request ends the call as `cancelled`
  /// even where every answer is remembered, as it would the model's.
  Result<std::vector<std::string>> generate_many(
      const std::vector<PromptRequest>& prompts, const SamplingParams& params,
      const OnResult& on_result, const GenerationControl& control = NO_CONTROL) override;

  std::optional<Error> lasting_failure() const override { return inner_.lasting_failure(); }
  std::optional<std::size_t> prompt_bytes_limit() const override {
    return inner_.prompt_bytes_limit();
  }

 private:
  Generator& inner_;
  TranslationMemory* memory_;
  std::string identity_;
};

}  // namespace quorvel

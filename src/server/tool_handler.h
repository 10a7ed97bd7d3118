#pragma once
// Carries out the offered tools in two steps: `prepare` does every check that needs no
// engine (on the thread that reads requests), `run` translates (on the one thread that owns
// the engine). The engine slot is the only state kept between calls.

#include <functional>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>
#include <variant>

#include "platform/error.h"
#include "translation/jobs.h"
#include "translation/local_backend.h"
#include "translation/progress.h"
#include "translation/request.h"

namespace quorvel {

struct ToolResult {
  bool is_error = false;
  std::string text;  // the result text, or the error message
};

/// A tool call whose arguments and input passed every check that needs no engine.
struct PreparedCall {
  std::variant<FileJob, TextJob> job;

  /// Units of progress: the document's segments, or 1 for a text.
  std::size_t units() const;
  bool is_text() const { return std::holds_alternative<TextJob>(job); }
};

class ToolHandler {
 public:
  /// The named tool's checks; "translate_text" or else "translate_file".
  Result<PreparedCall> prepare(std::string_view name, const nlohmann::json& arguments);

  /// Loads the engine on first use, makes this call's context and runs the job on it. One
  /// thread at a time.
  Result<std::string> run(const PreparedCall& call, Progress& progress);

  /// Both steps at once, with no progress and no way to stop; every failure comes back as a
  /// result with is_error set.
  ToolResult call(std::string_view name, const nlohmann::json& arguments);

  /// The engine and the translation memory, used only once a call's own checks have passed.
  LocalBackend backend;
  /// Set when translations go to llama.cpp servers instead (TRANSLATE_LLM_URL).
  std::unique_ptr<Backend> remote;
  /// Makes the generator one call runs on. Empty: the backend's. Tests put a scripted
  /// generator here.
  std::function<Result<std::unique_ptr<Generator>>()> generator_source;
};

/// Runs a prepared call on a generator that is already at hand.
Result<std::string> run_prepared(const PreparedCall& call, Generator& generator,
                                 Progress& progress);

/// The request for the "to" argument shared by both tools.
Result<TranslationRequest> validate_target(const nlohmann::json& arguments);

}  // namespace quorvel

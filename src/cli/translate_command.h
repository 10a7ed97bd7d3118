#pragma once
// `quorvel translate` and `quorvel text`: the same jobs the server runs, for a terminal.

#include <cstdio>
#include <optional>
#include <stop_token>
#include <string>
#include <vector>

#include "translation/local_backend.h"

namespace quorvel {

struct TranslateOptions {
  std::vector<std::string> paths;  // files and folders
  std::string to;
  std::optional<std::string> output;  // the output file for one input file, else a folder
  bool recursive = false;
  bool force = false;  // translate even when the output is newer than the input
};

/// One input and where its translation goes.
struct PlannedFile {
  std::string input;
  std::string output;
};

struct TranslationPlan {
  std::vector<PlannedFile> files;
  std::vector<std::string> errors;  // one line per path that cannot be translated
};

/// Expands folders into their supported files (sub-folders too with `recursive`), leaving
/// out this target's own earlier outputs, and names each output as the server does, or
/// under the `output` folder with the same sub-folders.
TranslationPlan plan_translation(const TranslateOptions& options);

/// Exit statuses: 0 done, 1 some file failed, 2 bad arguments, 130 stopped by the user.
inline constexpr int EXIT_FAILED = 1;
inline constexpr int EXIT_USAGE = 2;
inline constexpr int EXIT_STOPPED = 130;

/// Translates every planned file, one after another, with a progress bar on `err`. Outputs
/// that are newer than their input are skipped unless `force`.
int run_translate(const TranslateOptions& options, Backend& backend, std::stop_token stop,
                  std::FILE* out, std::FILE* err, bool terminal);

/// Translates `text` (standard input when absent) and prints the translation on `out`.
int run_text(const std::optional<std::string>& text, const std::string& to, Backend& backend,
             std::stop_token stop, std::FILE* out, std::FILE* err);

}  // namespace quorvel

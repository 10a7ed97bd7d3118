#pragma once
// "Translate this file" and "translate this text" as jobs that any front end can run: each
// is prepared first (every check that needs no model, the document parsed), then run on a
// generator with a Progress. The MCP tool handlers word their arguments into these.

#include <optional>
#include <string>
#include <string_view>

#include "engine/generator.h"
#include "platform/error.h"
#include "translation/doc/document.h"
#include "translation/progress.h"
#include "translation/request.h"

namespace quorvel {

struct FileJob {
  std::string path;  // the input as given
  TranslationRequest request;
  Document document;
  std::string output_path;
};

struct TextJob {
  std::string text;  // exactly as sent
  TranslationRequest request;
};

/// "file not found: {}" unless `path` names an existing regular file (links followed).
Result<void> check_input_file(const std::string& path);

/// "unknown language tag: {}. Use one of: {}" unless `tag` is one of the target tags, exactly.
Result<void> check_target_tag(const std::string& tag);

/// The checks of a text before its target: not empty, at most 12000 characters.
Result<void> check_text(const std::string& text);

/// Chooses the parser from the extension, parses the input and checks that the output
/// (`output_path`, or the default beside the input) can be written, so that no error waits
/// until after the translation.
Result<FileJob> prepare_file_job(const std::string& path, TranslationRequest request,
                                 const std::optional<std::string>& output_path);

/// Translates and writes the document; the result text names the output. A stop asked for
/// through `progress` ends it with an error of kind `cancelled` and nothing written.
Result<std::string> run_file_job(const FileJob& job, Generator& generator, Progress& progress);

/// The translation alone, or "could not produce a reliable translation for that text".
Result<std::string> run_text_job(const TextJob& job, Generator& generator, Progress& progress);

/// Whether files with this (lower-cased) extension can be translated.
bool is_supported_extension(std::string_view extension);

/// The input path with "<target>." put before its last extension.
std::string default_output_path(const std::string& path, const std::string& target);

/// The extension of the final path component, ASCII lower-cased; empty when there is none.
std::string file_extension(const std::string& path);

}  // namespace quorvel

#include "translation/jobs.h"

#include <fmt/core.h>

#include "platform/files.h"
#include "platform/paths.h"
#include "platform/text.h"
#include "translation/doc/formats.h"
#include "translation/languages.h"
#include "translation/pipeline.h"

namespace quorvel {

namespace {

constexpr std::size_t MAX_TEXT_CHARS = 12000;

std::string result_text(const Translations& translations, const std::string& target,
                        const std::string& output_path) {
  std::size_t kept = 0;
  for (const auto& entry : translations) kept += entry ? 0 : 1;
  auto name = target_language_name(target);
  std::string text = fmt::format("Translated {} paragraphs to {}. Wrote:\n{}", translations.size(),
                                 name ? *name : std::string_view(target), output_path);
  if (kept != 0) {
    text += fmt::format(
        "\nNote: {} paragraph(s) were kept in the original language because a reliable "
        "translation could not be produced.",
        kept);
  }
  return text;
}

// Byte offset of the dot that starts the extension of the final component, or npos.
std::size_t extension_dot(const std::string& path) {
  std::size_t name_start = path.rfind('/');
  name_start = name_start == std::string::npos ? 0 : name_start + 1;
  std::string_view name = std::string_view(path).substr(name_start);
  if (name == "..") return std::string::npos;
  std::size_t dot = name.rfind('.');
  if (dot == std::string_view::npos || dot == 0) return std::string::npos;
  return name_start + dot;
}

std::unexpected<Error> cancelled() {
  return fail(ErrorKind::cancelled, "cancelled");
}

}  // namespace

bool is_supported_extension(std::string_view extension) {
  return format_for_extension(extension) != nullptr;
}

std::string file_extension(const std::string& path) {
  std::size_t dot = extension_dot(path);
  return dot == std::string::npos ? std::string() : ascii_lower(path.substr(dot + 1));
}

std::string default_output_path(const std::string& path, const std::string& target) {
  std::size_t dot = extension_dot(path);
  if (dot == std::string::npos) return path + "." + target;
  return path.substr(0, dot) + "." + target + path.substr(dot);
}

Result<void> check_input_file(const std::string& path) {
  // Only regular files: a directory, a pipe or a device cannot be translated and a pipe
  // would block the server forever. A path with a NUL byte names no file.
  if (!has_nul_byte(path) && is_regular_file_at(path_from_utf8(path))) return {};
  return fail(ErrorKind::not_found, fmt::format("file not found: {}", path));
}

Result<void> check_target_tag(const std::string& tag) {
  if (is_target_tag(tag)) return {};
  return fail(ErrorKind::invalid_argument,
              fmt::format("unknown language tag: {}. Use one of: {}", tag, target_tag_list()));
}

Result<void> check_text(const std::string& text) {
  if (trim(text).empty()) return fail(ErrorKind::invalid_argument, "text is empty");
  if (count_chars(text) > MAX_TEXT_CHARS) {
    return fail(ErrorKind::invalid_argument,
                "text too long for translate_text; write it to a file and use translate_file");
  }
  return {};
}

Result<FileJob> prepare_file_job(const std::string& path, TranslationRequest request,
                                 const std::optional<std::string>& output_path) {
  std::string extension = file_extension(path);
  const FileFormat* format = format_for_extension(extension);
  if (!format) {
    return fail(ErrorKind::invalid_argument, fmt::format("unsupported file type: .{}", extension));
  }
  // The document is read before the engine is touched, so a broken or empty file is reported
  // without loading a model.
  auto document = format->parse(path);
  if (!document) return std::unexpected(document.error());
  std::string output = output_path ? *output_path : default_output_path(path, request.target);
  if (auto writable = check_writable(output); !writable) {
    return fail(ErrorKind::io,
                fmt::format("cannot write {}: {}", output, writable.error().message));
  }
  return FileJob{path, std::move(request), std::move(*document), std::move(output)};
}

Result<std::string> run_file_job(const FileJob& job, Generator& generator, Progress& progress) {
  Translations translations =
      translate_segments(generator, job.request, document_segments(job.document), &progress);
  if (progress.stop_token().stop_requested()) return cancelled();
  // With no engine left, the kept paragraphs would be most of the document: write nothing.
  if (auto lost = generator.lasting_failure()) return std::unexpected(*lost);
  auto written = write_document(job.document, translations, job.output_path);
  if (!written) return std::unexpected(written.error());
  return result_text(translations, job.request.target, job.output_path);
}

Result<std::string> run_text_job(const TextJob& job, Generator& generator, Progress& progress) {
  auto translation = translate_one(generator, job.request, job.text, &progress);
  if (progress.stop_token().stop_requested()) return cancelled();
  if (auto lost = generator.lasting_failure()) return std::unexpected(*lost);
  if (!translation) {
    return fail(ErrorKind::engine, "could not produce a reliable translation for that text");
  }
  return std::move(*translation);
}

}  // namespace quorvel

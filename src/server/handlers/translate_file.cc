#include <fmt/core.h>
#include <sys/stat.h>

#include "platform/files.h"
#include "platform/text.h"
#include "server/handlers/arguments.h"
#include "server/handlers/handlers.h"
#include "translation/doc/document.h"
#include "translation/languages.h"
#include "translation/pipeline.h"

namespace quorvel {

namespace {

template <class Parsed>
Result<Document> as_document(Result<Parsed> parsed) {
  if (!parsed) return std::unexpected(parsed.error());
  return Document(std::move(*parsed));
}

struct DocumentKind {
  std::string_view extension;
  Result<Document> (*parse)(const std::string& path);
};

constexpr DocumentKind DOCUMENT_KINDS[] = {
    {"docx", [](const std::string& p) { return as_document(extract_docx(p)); }},
    {"srt", [](const std::string& p) { return as_document(parse_subtitles(p)); }},
    {"vtt", [](const std::string& p) { return as_document(parse_subtitles(p)); }},
    {"txt", [](const std::string& p) { return as_document(parse_plain_text(p)); }},
    {"md", [](const std::string& p) { return as_document(parse_plain_text(p)); }},
    {"markdown", [](const std::string& p) { return as_document(parse_plain_text(p)); }},
};

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

bool is_regular_file(const std::string& path) {
  struct stat info {};
  // Only regular files: a directory, a pipe or a device cannot be translated and a pipe
  // would block the server forever. A path with a NUL byte names no file.
  return !has_nul_byte(path) && ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
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

}  // namespace

std::string file_extension(const std::string& path) {
  std::size_t dot = extension_dot(path);
  return dot == std::string::npos ? std::string() : ascii_lower(path.substr(dot + 1));
}

std::string default_output_path(const std::string& path, const std::string& target) {
  std::size_t dot = extension_dot(path);
  if (dot == std::string::npos) return path + "." + target;
  return path.substr(0, dot) + "." + target + path.substr(dot);
}

Result<std::string> handle_translate_file(ToolHandler& handler, const nlohmann::json& arguments) {
  const std::string* path = string_argument(arguments, "path");
  if (!path) return fail(ErrorKind::invalid_argument, "missing required argument: path");
  if (!is_regular_file(*path)) {
    return fail(ErrorKind::not_found, fmt::format("file not found: {}", *path));
  }
  auto request = validate_target(arguments);
  if (!request) return std::unexpected(request.error());
  std::string extension = file_extension(*path);
  const DocumentKind* kind = nullptr;
  for (const auto& known : DOCUMENT_KINDS) {
    if (known.extension == extension) kind = &known;
  }
  if (!kind) {
    return fail(ErrorKind::invalid_argument, fmt::format("unsupported file type: .{}", extension));
  }
  // The document is read before the engine is touched, so a broken or empty file is reported
  // without loading a model.
  auto document = kind->parse(*path);
  if (!document) return std::unexpected(document.error());
  auto context = handler.obtain_context();
  if (!context) return std::unexpected(context.error());
  Translations translations = translate_segments(**context, *request, document_segments(*document));
  const std::string* given_output = string_argument(arguments, "output_path");
  std::string output_path =
      given_output ? *given_output : default_output_path(*path, request->target);
  auto written = write_document(*document, translations, output_path);
  if (!written) return std::unexpected(written.error());
  return result_text(translations, request->target, output_path);
}

}  // namespace quorvel

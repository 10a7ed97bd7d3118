#include <fmt/core.h>
#include <sys/stat.h>

#include "platform/text.h"
#include "server/handlers/arguments.h"
#include "server/handlers/handlers.h"

namespace quorvel {

namespace {

constexpr std::string_view SUPPORTED_EXTENSIONS[] = {"docx", "srt", "vtt", "txt", "md", "markdown"};

bool is_regular_file(const std::string& path) {
  struct stat info {};
  // Only regular files: a directory, a pipe or a device cannot be translated and a pipe
  // would block the server forever.
  return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
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
  (void)handler;
  const std::string* path = string_argument(arguments, "path");
  if (!path) return fail(ErrorKind::invalid_argument, "missing required argument: path");
  if (!is_regular_file(*path)) {
    return fail(ErrorKind::not_found, fmt::format("file not found: {}", *path));
  }
  auto request = validate_target(arguments);
  if (!request) return std::unexpected(request.error());
  std::string extension = file_extension(*path);
  bool supported = false;
  for (auto known : SUPPORTED_EXTENSIONS) supported = supported || extension == known;
  if (!supported) {
    return fail(ErrorKind::invalid_argument, fmt::format("unsupported file type: .{}", extension));
  }
  // Documents and the inference engine are not part of this build yet.
  return fail(ErrorKind::not_found,
              "no translation engine found. Reinstalling Quorvel Translate fixes this.");
}

}  // namespace quorvel
